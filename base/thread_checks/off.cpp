#include "base/thread_owner.h"

// Linked into the shipped programs: the checks cost one test of this
// constant and never fire.
const bool kThreadChecks = false;
