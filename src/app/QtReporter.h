#pragma once
// The core's Reporter for the wizard. Status and progress reach the GUI
// thread as queued signals; a message or question from a worker is shown on
// the GUI thread and blocks the worker until the user has answered it.
//
// A worker that asks while the GUI thread is itself waiting for that worker
// (a page being closed joins its job) would wait forever: release() answers
// every pending and later question with No and drops later messages, so the
// join can complete.
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/Reporter.h"

namespace salvage::ui {
class JobProgress;
}

namespace salvage::app {

class QtReporter : public QObject, public salvage::Reporter {
    Q_OBJECT
public:
    // Boxes are shown over `dialogParent`. The reporter must be created on
    // the GUI thread.
    explicit QtReporter(QWidget* dialogParent = nullptr, QObject* parent = nullptr);
    ~QtReporter() override;

    void setStatus(const std::u16string& text) override;
    void setProgressRange(std::int64_t minimum, std::int64_t maximum) override;
    void setProgressPosition(std::int64_t position) override;
    void message(const std::u16string& text, const std::u16string& caption, MessageIcon icon) override;
    bool ask(const std::u16string& text, const std::u16string& caption) override;

    // The GUI thread is about to wait for the workers: stop blocking them.
    void release();
    // Blocking messages again, for the next job.
    void rearm();

signals:
    void statusChanged(const QString& text);
    void progressRangeChanged(qint64 minimum, qint64 maximum);
    void progressPositionChanged(qint64 position);
    // The same position with the time the worker reported it (ui::steadyMs),
    // for rates that queueing delays do not skew.
    void progressStamped(qint64 position, qint64 stamp);

private:
    struct Request;
    bool onGuiThread() const;
    // Runs `show` on the GUI thread and waits for it; false when released.
    bool runBlocking(const std::shared_ptr<Request>& request);

    QPointer<QWidget> dialogParent_;
    std::mutex mutex_;
    std::condition_variable answered_;
    bool released_ = false;
};

// Feeds the reporter's range and stamped positions to `progress`.
void connectProgress(QtReporter& reporter, ui::JobProgress& progress);

}  // namespace salvage::app
