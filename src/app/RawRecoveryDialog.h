#pragma once
// The raw recovery page: loads signature settings, carves the chosen volume
// on a worker thread with progress, Pause, Resume and Stop, shows the finds
// by category with check boxes, lists a clicked category's finds and saves
// the checked finds into a folder.
#include <QString>
#include <memory>
#include <vector>

#include "app/WizardPage.h"
#include "browse/BrowseTree.h"
#include "volumes/VolumeRecord.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QModelIndex;
class QPushButton;
class QTreeView;

namespace salvage {
class BrowseTree;
class CarveWriter;
class myJpg;
}  // namespace salvage

namespace salvage::ui {
class JobProgress;
}

namespace salvage::app {

class FindsTreeModel;
class InfoList;
class QtReporter;
class TreeRelay;
class WorkerJob;

class RawRecoveryDialog : public WizardPage {
    Q_OBJECT
public:
    RawRecoveryDialog(WizardWindow* wizard, WizardPage* owner, const VolumeRecord& volume);
    ~RawRecoveryDialog() override;

    // Opens the page for `volume` as the page `from` opened. Null when it
    // could not be made.
    static RawRecoveryDialog* openFrom(WizardPage& from, const VolumeRecord& volume);

    const VolumeRecord& volume() const { return volume_; }
    // "FileSetting.txt" beside the program, fixed when the page opens.
    const QString& defaultSettingsPath() const { return defaultSettingsPath_; }
    bool isBusy() const { return busy_; }
    // The job that runs the scan and the save; tests hold it at its pause gate.
    WorkerJob& job() { return *job_; }
    FindsTreeModel& findsModel() { return *model_; }
    ui::JobProgress& progress() { return *progress_; }
    const myJpg* engine() const { return engine_.get(); }
    QString runningJobNote() const override;

signals:
    // A scan or a save has ended and the page is idle again.
    void jobFinished();

private:
    void chooseSettingsFile();
    void parse();
    void startScan();
    void scanEnded();
    void save();
    void saveEnded();
    void openEditor();
    void itemClicked(const QModelIndex& index);
    // Shows or hides the progress bar, Pause, Resume and Stop.
    void showProgressControls(bool shown);
    // Back to idle after a load failure or a volume that cannot be scanned.
    void restoreIdle();

    VolumeRecord volume_;
    QString defaultSettingsPath_;
    std::unique_ptr<myJpg> engine_;
    // The tree the engine fills on the worker; only the worker touches it
    // while a scan runs.
    std::unique_ptr<BrowseTree> scanTree_;
    std::unique_ptr<TreeRelay> relay_;
    std::unique_ptr<CarveWriter> writer_;
    QString saveFolder_;
    std::size_t checkedCount_ = 0;
    bool busy_ = false;
    bool checkClicked_ = false;
    std::vector<TreeItem> expandedBeforeReset_;
    std::int64_t volumeStartOffset_ = 0;  // bytes, of the last scan

    QtReporter* reporter_;
    WorkerJob* job_;
    FindsTreeModel* model_;
    QLineEdit* pathBox_;
    QPushButton* browse_;
    QPushButton* parse_;
    QCheckBox* loadDefault_;
    QPushButton* editor_;
    QTreeView* tree_;
    InfoList* list_;
    ui::JobProgress* progress_;
    QPushButton* pause_;
    QPushButton* resume_;
    QPushButton* stop_;
    QLabel* status_;
    QPushButton* back_;
    QPushButton* save_;
};

}  // namespace salvage::app
