#pragma once
// Cooperative stop and pause for long jobs. A job polls at its poll points
// (per chunk, record or entry): the pause gate holds it there while paused,
// and the stop flag tells it to end its loops early. Stop does not release a
// paused job; only Resume does, as a suspended thread would stay suspended.
#include <atomic>
#include <condition_variable>
#include <mutex>

namespace salvage {

class PauseGate {
public:
    void pause();
    void resume();
    bool isPaused() const { return paused_.load(); }
    // Blocks while the gate is paused. Returns at once otherwise.
    void waitWhilePaused();
    // How many times a job has been held at the gate; lets tests wait for a
    // job to reach a poll point without sleeping.
    unsigned holds() const { return holds_.load(); }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::atomic<bool> paused_{false};
    std::atomic<unsigned> holds_{0};
};

// Base of every object that runs a long job: parsers, scanners, the carving
// engine. `stopRequested` is the flag the Stop button sets.
class Pollable {
public:
    std::atomic<bool> stopRequested{false};
    PauseGate* pauseGate = nullptr;

    // One poll point: waits while paused, then answers whether to stop.
    bool pollStop() {
        if (pauseGate) pauseGate->waitWhilePaused();
        return stopRequested.load(std::memory_order_relaxed);
    }
};

}  // namespace salvage
