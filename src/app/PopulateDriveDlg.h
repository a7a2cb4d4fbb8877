#pragma once
// The volume list page: runs the scan the scan-mode page asked for, shows
// the volumes found, lets the user correct a volume or add a custom one,
// and leads on with the chosen volume.
#include <memory>
#include <vector>

#include "app/DriveParsingModes.h"
#include "app/WizardPage.h"
#include "volumes/VolumeList.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;

namespace salvage::ui {
class JobProgress;
}

namespace salvage::app {

class InfoList;
class QtReporter;
class SectorBox;
class WorkerJob;

class PopulateDriveDlg : public WizardPage {
    Q_OBJECT
public:
    // Runs a standard scan at once; starts an advanced scan on a worker.
    PopulateDriveDlg(WizardWindow* wizard, WizardPage* owner, const ScanRequest& request);
    ~PopulateDriveDlg() override;

    const ScanRequest& request() const { return request_; }
    VolumeList& model() { return *model_; }
    InfoList* list() const { return list_; }
    bool isScanning() const;
    QString runningJobNote() const override;
    const QString& readFailure() const { return readFailure_; }

signals:
    // The advanced scan has ended and the page shows its results.
    void scanFinished();

private:
    void standardScan();
    void advancedScan();
    void advancedScanEnded(int error);
    void showRows();
    void rowSelected();
    void rowClicked(int row);
    void filterEntries();
    void addCustomVolume();
    void next();
    void syncDetailsToModel();
    void showDetails();
    void finishControls();
    // Tells the user, in words, that a scan met an unreadable part of the
    // image (`error` an errno code) and that the list may be incomplete.
    void reportReadFailure(int error, const QString& where);

    ScanRequest request_;
    std::unique_ptr<VolumeList> model_;
    QtReporter* reporter_;
    WorkerJob* job_;
    InfoList* list_;
    QPushButton* filter_;
    QPushButton* addCustom_;
    QGroupBox* custom_;
    QLabel* selectedVolume_;
    SectorBox* startBox_;
    SectorBox* endBox_;
    QComboBox* treatAs_;
    ui::JobProgress* progress_;
    QLabel* status_;
    QPushButton* stop_;
    QPushButton* back_;
    QPushButton* next_;
    bool showingRows_ = false;
    int scanError_ = 0;
    int foundCount_ = 0;
    // The words shown when a scan could not read part of the image; empty
    // when it read everything.
    QString readFailure_;
};

}  // namespace salvage::app
