#pragma once
// Runs one core job on one worker thread and tells the page, on the GUI
// thread, when it has ended. No QObject is touched from the worker: the job
// talks to the page only through its reporter.
#include <QObject>
#include <QPointer>
#include <functional>
#include <thread>

#include "platform/Poll.h"

namespace salvage::app {

class QtReporter;

class WorkerJob : public QObject {
    Q_OBJECT
public:
    // `reporter` is released before the job is joined, so that a question
    // asked by the worker cannot hold the waiting GUI thread.
    explicit WorkerJob(QtReporter* reporter = nullptr, QObject* parent = nullptr);
    // Stops the job (the stop action, Resume) and waits for it.
    ~WorkerJob() override;

    // Starts `work` on a new thread; false when a job is already running.
    // `stop` sets the job's own stop flag; it runs on the GUI thread.
    bool start(std::function<void()> work, std::function<void()> stop = {});
    bool isRunning() const { return running_; }

    void requestStop();
    void pause() { gate_.pause(); }
    void resume() { gate_.resume(); }
    PauseGate& pauseGate() { return gate_; }

    // Stops the job and joins it. Safe to call when nothing runs.
    void stopAndWait();

signals:
    // On the GUI thread, after the work has returned.
    void finished();

private:
    QPointer<QtReporter> reporter_;
    PauseGate gate_;
    std::function<void()> stop_;
    std::jthread thread_;
    bool running_ = false;
};

}  // namespace salvage::app
