#pragma once
// The advanced-input page: searches the volume for where its structures
// start (MFT records on NTFS; FAT copies, and on exFAT the cluster heap, on
// the FAT family), offers the finds and the sectors-per-cluster values in
// combo boxes, and leads with the user's choice to the volume page in the
// Advanced mode.
#include <memory>
#include <optional>

#include "app/WizardPage.h"
#include "browse/ScanController.h"
#include "volumes/VolumeRecord.h"

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace salvage::app {

class VolumeSession;

class advanceOptions : public WizardPage {
    Q_OBJECT
public:
    // `maxCandidatesText` is the recovery-mode page's "Please Enter Max File
    // Systems to Find :" text; 0, below 0 or no number searches for 3.
    advanceOptions(WizardWindow* wizard, WizardPage* owner, const VolumeRecord& record,
                   const QString& maxCandidatesText);
    ~advanceOptions() override;

    static std::int64_t maxCandidatesFrom(const QString& text);
    bool isSearching() const { return searching_; }
    VolumeSession& session() { return *session_; }

signals:
    // The candidate search has ended and the combo boxes are filled.
    void searchFinished();

private:
    void startSearch(std::int64_t maxCandidates);
    void searchEnded();
    void next();
    void back();
    void stop();

    std::shared_ptr<VolumeSession> session_;
    std::optional<ParserKind> kind_;
    QLabel* candidateLabel_;
    QComboBox* candidates_;
    QLabel* clusterLabel_;
    QComboBox* sectorsPerCluster_;
    QLabel* heapLabel_;
    QComboBox* heapOffsets_;
    QProgressBar* progress_;
    QLabel* status_;
    QPushButton* pause_;
    QPushButton* resume_;
    QPushButton* stop_;
    QPushButton* back_;
    QPushButton* next_;
    bool searching_ = false;
};

}  // namespace salvage::app
