#include "app/GuiQueue.h"

#include <QCoreApplication>

namespace salvage::app {

GuiQueue& GuiQueue::instance() {
    // Made once, on whichever thread asks first, and handed to the GUI
    // thread; it lives as long as the process.
    static GuiQueue* queue = [] {
        auto* q = new GuiQueue;
        if (auto* app = QCoreApplication::instance()) q->moveToThread(app->thread());
        return q;
    }();
    return *queue;
}

void GuiQueue::post(QObject* context, std::function<void()> call) {
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        calls_.push_back({QPointer<QObject>(context), std::move(call)});
        wake = !wakePending_;
        wakePending_ = true;
    }
    // By name: the wake-up carries nothing of ours across threads.
    if (wake) QMetaObject::invokeMethod(this, "drain", Qt::QueuedConnection);
}

void GuiQueue::drain() {
    // One call at a time, so that a call opening a modal box (whose event
    // loop drains too) keeps the order; only the calls waiting now, so that
    // a busy worker cannot keep the GUI thread from painting.
    std::size_t waiting = 0;
    {
        std::lock_guard lock(mutex_);
        waiting = calls_.size();
    }
    for (; waiting > 0; --waiting) {
        Call c;
        {
            std::lock_guard lock(mutex_);
            if (calls_.empty()) break;
            c = std::move(calls_.front());
            calls_.pop_front();
        }
        if (c.context) c.run();
    }
    std::lock_guard lock(mutex_);
    if (calls_.empty())
        wakePending_ = false;
    else
        QMetaObject::invokeMethod(this, "drain", Qt::QueuedConnection);
}

void postToGui(QObject* context, std::function<void()> call) {
    GuiQueue::instance().post(context, std::move(call));
}

}  // namespace salvage::app
