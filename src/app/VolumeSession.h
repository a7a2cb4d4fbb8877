#pragma once
// What the volume page works on: the browse tree, the file list, the scan
// controller with its parser, and the reporter its jobs talk through. The
// advanced-input page makes one for its candidate search and hands it to
// the volume page, so the parse in the Advanced mode reuses the parser that
// found the candidates.
#include <QObject>
#include <memory>

#include "browse/BrowseTree.h"
#include "browse/FileList.h"
#include "browse/ScanController.h"
#include "volumes/VolumeRecord.h"

class QWidget;

namespace salvage::app {

class QtReporter;

class VolumeSession : public QObject {
    Q_OBJECT
public:
    // Boxes are shown over `dialogParent`.
    VolumeSession(QWidget* dialogParent, const VolumeRecord& volume);
    // Stops the running job and waits for it.
    ~VolumeSession() override;

    QtReporter& reporter() { return *reporter_; }
    ScanController& controller() { return *controller_; }
    BrowseTree& tree() { return tree_; }
    FileList& list() { return list_; }
    const VolumeRecord& volume() const { return volume_; }

    // Stops whatever job runs (parse, candidate search, search), lets a
    // paused one go on to its stop, and waits for it.
    void stopAndWait();

signals:
    // On the GUI thread, when a controller job has ended (JobKind).
    void jobEnded(int kind);

private:
    VolumeRecord volume_;
    QtReporter* reporter_;
    BrowseTree tree_;
    FileList list_;
    std::unique_ptr<ScanController> controller_;
};

}  // namespace salvage::app
