#include "base/thread_owner.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {

// A thread's name belongs to the thread itself: it is set once by the
// thread's own code and read in messages about it, from any object.
thread_local const char* threadName = nullptr;
// Process-wide: a test seam set only by in-process tests, read by every
// owner check on any thread.
std::atomic<TThreadViolationHandler> violationHandler{nullptr};

std::string Describe(const char* name, std::thread::id id) {
    std::ostringstream text;
    if (name)
        text << "the " << name << " thread";
    else
        text << "a thread";
    text << " (id " << id << ")";
    return text.str();
}

}  // namespace

void NameThisThread(const char* name) noexcept { threadName = name; }

void SetThreadViolationHandler(TThreadViolationHandler handler) noexcept { violationHandler = handler; }

void TThreadOwner::Claim() noexcept {
    // The name first: a check that sees the new holder finds its name too,
    // or at worst the previous holder's, never a torn value.
    ownerName_.store(threadName);
    owner_.store(std::this_thread::get_id());
}

void TThreadOwner::Violation(const char* what) const noexcept {
    const std::thread::id owner = owner_.load();
    std::string message = std::string(what) + " was used by a thread that does not hold it: " +
                          Describe(threadName, std::this_thread::get_id()) + " touched it while " +
                          Describe(ownerName_.load(), owner) + " holds it";
    if (const TThreadViolationHandler handler = violationHandler.load()) {
        handler(message);
        return;
    }
    std::fprintf(stderr, "%s\n", message.c_str());
    std::fflush(stderr);
    std::abort();
}
