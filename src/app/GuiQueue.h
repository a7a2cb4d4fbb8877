#pragma once
// Hands calls from worker threads to the GUI thread. The calls wait in one
// queue guarded by a standard mutex, and the GUI thread is woken by one
// queued call per batch. The race detector sees that handover (it cannot
// see inside Qt's own event queue, whose libraries are not instrumented),
// and a worker that reports thousands of statuses costs one event a batch.
#include <QObject>
#include <QPointer>
#include <deque>
#include <functional>
#include <mutex>

namespace salvage::app {

// Runs `call` on the GUI thread, in the order posted, unless `context` is
// gone by then. Safe from any thread; from the GUI thread it still waits
// for the event loop.
void postToGui(QObject* context, std::function<void()> call);

class GuiQueue : public QObject {
    Q_OBJECT
public:
    static GuiQueue& instance();
    void post(QObject* context, std::function<void()> call);

private slots:
    void drain();

private:
    GuiQueue() = default;
    struct Call {
        QPointer<QObject> context;
        std::function<void()> run;
    };
    std::mutex mutex_;
    std::deque<Call> calls_;
    bool wakePending_ = false;
};

}  // namespace salvage::app
