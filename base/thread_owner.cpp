#include "base/thread_owner.h"

#include <cstdio>
#include <cstdlib>

void ThreadOwnerViolation(const char* what) noexcept {
    std::fprintf(stderr, "%s was used by a thread that does not hold it\n", what);
    std::fflush(stderr);
    std::abort();
}
