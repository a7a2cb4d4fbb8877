#include "app/WorkerJob.h"

#include "app/GuiQueue.h"

#include "app/QtReporter.h"

namespace salvage::app {

WorkerJob::WorkerJob(QtReporter* reporter, QObject* parent) : QObject(parent), reporter_(reporter) {}

WorkerJob::~WorkerJob() { stopAndWait(); }

bool WorkerJob::start(std::function<void()> work, std::function<void()> stop) {
    if (running_) return false;
    if (thread_.joinable()) thread_.join();
    if (reporter_) reporter_->rearm();
    stop_ = std::move(stop);
    running_ = true;
    thread_ = std::jthread([this, work = std::move(work)] {
        work();
        // Queued to this object: dropped if the job object is gone.
        postToGui(this, [this] {
            if (!running_) return;
            running_ = false;
            if (thread_.joinable()) thread_.join();
            emit finished();
        });
    });
    return true;
}

void WorkerJob::requestStop() {
    if (running_ && stop_) stop_();
}

void WorkerJob::stopAndWait() {
    if (!thread_.joinable()) return;
    if (stop_) stop_();
    // A paused job must reach its next poll point to see the stop.
    gate_.resume();
    if (reporter_) reporter_->release();
    thread_.join();
    running_ = false;
}

}  // namespace salvage::app
