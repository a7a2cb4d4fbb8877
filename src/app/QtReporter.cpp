#include "app/QtReporter.h"

#include "app/GuiQueue.h"

#include <QThread>

#include "app/DialogService.h"
#include "ui/JobProgress.h"

namespace salvage::app {

namespace {
BoxIcon toBox(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Information: return BoxIcon::Information;
        case MessageIcon::Question: return BoxIcon::Question;
        case MessageIcon::Warning:
        case MessageIcon::Error: return BoxIcon::Warning;
    }
    return BoxIcon::None;
}
}  // namespace

struct QtReporter::Request {
    bool isQuestion = false;
    QString text;
    QString caption;
    BoxIcon icon = BoxIcon::None;
    // Guarded by the reporter's mutex.
    bool done = false;
    bool answer = false;
};

QtReporter::QtReporter(QWidget* dialogParent, QObject* parent) : QObject(parent), dialogParent_(dialogParent) {}

QtReporter::~QtReporter() { release(); }

bool QtReporter::onGuiThread() const { return QThread::currentThread() == thread(); }

void QtReporter::setStatus(const std::u16string& text) {
    const QString t = QString::fromStdU16String(text);
    if (onGuiThread()) {
        emit statusChanged(t);
        return;
    }
    postToGui(this, [this, t] { emit statusChanged(t); });
}

void QtReporter::setProgressRange(std::int64_t minimum, std::int64_t maximum) {
    if (onGuiThread()) {
        emit progressRangeChanged(minimum, maximum);
        return;
    }
    postToGui(this, [this, minimum, maximum] { emit progressRangeChanged(minimum, maximum); });
}

void QtReporter::setProgressPosition(std::int64_t position) {
    const qint64 stamp = ui::steadyMs();
    if (onGuiThread()) {
        emit progressPositionChanged(position);
        emit progressStamped(position, stamp);
        return;
    }
    postToGui(this, [this, position, stamp] {
        emit progressPositionChanged(position);
        emit progressStamped(position, stamp);
    });
}

void QtReporter::message(const std::u16string& text, const std::u16string& caption, MessageIcon icon) {
    auto request = std::make_shared<Request>();
    request->text = QString::fromStdU16String(text);
    request->caption = QString::fromStdU16String(caption);
    // The core's boxes without a caption of their own are the plain ones,
    // shown without an icon.
    request->icon = caption.empty() ? BoxIcon::None : toBox(icon);
    if (onGuiThread()) {
        dialogs().message(dialogParent_, request->text, request->caption, request->icon);
        return;
    }
    runBlocking(request);
}

bool QtReporter::ask(const std::u16string& text, const std::u16string& caption) {
    auto request = std::make_shared<Request>();
    request->isQuestion = true;
    request->text = QString::fromStdU16String(text);
    request->caption = QString::fromStdU16String(caption);
    if (onGuiThread()) return dialogs().ask(dialogParent_, request->text, request->caption);
    return runBlocking(request) && request->answer;
}

bool QtReporter::runBlocking(const std::shared_ptr<Request>& request) {
    {
        std::lock_guard lock(mutex_);
        if (released_) return false;
    }
    postToGui(this, [this, request] {
            {
                std::lock_guard lock(mutex_);
                if (released_ || request->done) return;
            }
            bool answer = false;
            if (request->isQuestion)
                answer = dialogs().ask(dialogParent_, request->text, request->caption);
            else
                dialogs().message(dialogParent_, request->text, request->caption, request->icon);
            std::lock_guard lock(mutex_);
            request->done = true;
            request->answer = answer;
            answered_.notify_all();
        });
    std::unique_lock lock(mutex_);
    answered_.wait(lock, [&] { return request->done || released_; });
    return request->done;
}

void QtReporter::release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    answered_.notify_all();
}

void QtReporter::rearm() {
    std::lock_guard lock(mutex_);
    released_ = false;
}

void connectProgress(QtReporter& reporter, ui::JobProgress& progress) {
    QObject::connect(&reporter, &QtReporter::progressRangeChanged, &progress, &ui::JobProgress::setRange);
    QObject::connect(&reporter, &QtReporter::progressStamped, &progress,
                     [p = &progress](qint64 position, qint64 stamp) { p->setPosition(position, stamp); });
}

}  // namespace salvage::app
