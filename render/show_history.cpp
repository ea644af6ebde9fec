#include "render/show_history.h"

#include <algorithm>

TPictureRequest TShowHistory::Forward(std::int32_t steps) const {
    const std::int64_t target = static_cast<std::int64_t>(pos_) + std::max(steps, 1);
    if (target >= static_cast<std::int64_t>(shown_.size())) return {};
    return {shown_[static_cast<std::size_t>(target)], static_cast<std::int32_t>(target)};
}

TPictureRequest TShowHistory::Back(std::int32_t steps) const {
    if (pos_ <= 0) return {};
    const std::int32_t target = std::max<std::int32_t>(0, pos_ - std::max(steps, 1));
    return {shown_[static_cast<std::size_t>(target)], target};
}

void TShowHistory::Launched(const TPictureRequest& asked, bool byOrder, std::int32_t index) {
    if (index < 0) return;
    const bool known = !byOrder && asked.Position >= 0 && asked.Position < static_cast<std::int32_t>(shown_.size()) &&
                       shown_[static_cast<std::size_t>(asked.Position)] == index;
    if (known) {
        pos_ = asked.Position;
        return;
    }
    shown_.insert(shown_.begin() + (pos_ + 1), index);
    ++pos_;
    Trim();
}

void TShowHistory::Upcoming(std::int32_t index) {
    if (index < 0) return;
    shown_.push_back(index);
    Trim();
}

void TShowHistory::Forget(std::int32_t index) {
    std::int32_t kept = 0;
    std::int32_t pos = -1;
    for (std::int32_t i = 0; i < static_cast<std::int32_t>(shown_.size()); ++i) {
        const std::int32_t v = shown_[static_cast<std::size_t>(i)];
        if (v == index) continue;
        shown_[static_cast<std::size_t>(kept)] = v;
        if (i <= pos_) pos = kept;
        ++kept;
    }
    shown_.resize(static_cast<std::size_t>(kept));
    pos_ = pos;
}

std::int32_t TShowHistory::OnScreen() const {
    return pos_ >= 0 ? shown_[static_cast<std::size_t>(pos_)] : -1;
}

void TShowHistory::Trim() {
    // The oldest go first; the ones ahead of the screen are kept while
    // there is room behind it.
    while (shown_.size() > kept_ && pos_ > 0) {
        shown_.pop_front();
        --pos_;
    }
    while (shown_.size() > kept_) shown_.pop_back();
}
