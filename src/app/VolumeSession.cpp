#include "app/VolumeSession.h"

#include "app/GuiQueue.h"

#include "app/QtReporter.h"

namespace salvage::app {

VolumeSession::VolumeSession(QWidget* dialogParent, const VolumeRecord& volume)
    : volume_(volume), reporter_(new QtReporter(dialogParent, this)) {
    controller_ = std::make_unique<ScanController>(*reporter_, tree_, list_);
    controller_->onJobFinished = [this](JobKind kind) {
        // On the worker: the GUI thread hears of it through the event loop.
        postToGui(this, [this, kind] { emit jobEnded(int(kind)); });
    };
}

VolumeSession::~VolumeSession() {
    stopAndWait();
    controller_.reset();
}

void VolumeSession::stopAndWait() {
    if (controller_->busy()) {
        controller_->stopAll();
        controller_->pauseGate().resume();
        // A worker waiting for a box must not hold the GUI thread's join.
        reporter_->release();
    }
    controller_->wait();
    reporter_->rearm();
}

}  // namespace salvage::app
