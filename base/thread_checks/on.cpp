#include "base/thread_owner.h"

// Linked into the test programs, and into every program of a build
// configured with -DQV_THREAD_CHECKS=ON.
const bool kThreadChecks = true;
