#pragma once
// The catalogue's order of paths and names lives below every subsystem, so
// that the plug-in host sorts its libraries the same way.
#include "base/compare.h"
