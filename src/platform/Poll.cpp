#include "platform/Poll.h"

namespace salvage {

void PauseGate::pause() {
    std::lock_guard l(mutex_);
    paused_ = true;
}

void PauseGate::resume() {
    {
        std::lock_guard l(mutex_);
        paused_ = false;
    }
    cv_.notify_all();
}

void PauseGate::waitWhilePaused() {
    if (!paused_.load()) return;
    std::unique_lock l(mutex_);
    if (paused_) ++holds_;
    cv_.wait(l, [this] { return !paused_.load(); });
}

}  // namespace salvage
