#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>

// The pictures a run has put on the screen, for the keys that step back and
// forth through them. Like a browser's history: stepping back and then on
// again goes through the same pictures; past the newest one the show's
// order chooses. The render thread owns it.

// Pictures kept for stepping back.
constexpr std::size_t kHistoryKept = 100;

// What the loader is asked for next.
struct TPictureRequest {
    std::int32_t Index = -1;     // a picture of the history (global index); -1: the order's next
    std::int32_t Position = -1;  // its place in the history, for Launched
    bool ByOrder() const { return Index < 0; }
};

class TShowHistory {
public:
    explicit TShowHistory(std::size_t kept = kHistoryKept) : kept_(kept < 2 ? 2 : kept) {}

    // `steps` (1 or more) pictures on from the one on screen: a picture of
    // the history, or the order's next once past its newest.
    TPictureRequest Forward(std::int32_t steps = 1) const;
    // `steps` (1 or more) pictures back; the oldest kept one when there are
    // fewer. Index -1 when there is nothing before the picture on screen.
    TPictureRequest Back(std::int32_t steps = 1) const;

    // A picture went on the screen as asked. `byOrder`: the order chose it
    // (also when a picture of the history could not be prepared); it then
    // follows the one on screen. A message (index -1) changes nothing.
    void Launched(const TPictureRequest& asked, bool byOrder, std::int32_t index);
    // The order prepared `index` but it was not shown (the user stepped
    // elsewhere meanwhile): it comes after the newest picture, so that it
    // is not lost from the order.
    void Upcoming(std::int32_t index);
    // A hidden picture leaves the history; stepping on then goes to what
    // followed it, stepping back to what came before.
    void Forget(std::int32_t index);

    // The picture on screen as the history knows it; -1 before the first.
    std::int32_t OnScreen() const;
    std::size_t Size() const { return shown_.size(); }

private:
    void Trim();

    std::size_t kept_;
    std::deque<std::int32_t> shown_;  // oldest first
    std::int32_t pos_ = -1;           // the picture on screen; -1: before the first
};
