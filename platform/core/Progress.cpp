#include "platform/core/Progress.h"

#include <algorithm>
#include <atomic>

void TRunProgress::Plan(int32_t passes, int32_t rows) {
    passes_ = std::max(passes, 0);
    rows_ = std::max(rows, 1);
}

void TRunProgress::SetPosition(int32_t position) {
    if (position <= 0) {
        if (position_ > 0) ++done_;
        position_ = 0;
    } else {
        position_ = position;
    }
    int64_t value;
    if (passes_ > 0) {
        // Passes may step a few rows more or fewer than planned: each one
        // counts for its share, no more.
        const int64_t rows = int64_t(std::min(done_, passes_)) * rows_ + std::min(position_, rows_);
        value = from_ + (int64_t(to_) - from_) * rows / (int64_t(passes_) * rows_);
    } else {
        value = int64_t(from_) + position_;
    }
    value = std::clamp<int64_t>(value, from_, to_);
    if (value > shown_) {
        shown_ = static_cast<int32_t>(value);
        bar_.SetPosition(shown_);
    } else {
        progress::Pulse();  // the bar stands, the windows may still want painting
    }
}

void TRunProgress::Finish() {
    if (to_ > shown_) shown_ = to_;
    bar_.SetPosition(shown_);
}

namespace progress {

namespace {
std::atomic<void (*)()> installed{nullptr};

thread_local int holding = 0;
thread_local bool held = false;
}  // namespace

void SetPulse(void (*pulse)()) { installed.store(pulse, std::memory_order_release); }

void Pulse() {
    if (holding > 0) {
        held = true;
        return;
    }
    if (void (*pulse)() = installed.load(std::memory_order_acquire)) pulse();
}

TPulseLater::TPulseLater() { ++holding; }

TPulseLater::~TPulseLater() {
    if (--holding > 0 || !held) return;
    held = false;
    Pulse();
}

}  // namespace progress
