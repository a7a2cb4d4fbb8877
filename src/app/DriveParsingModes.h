#pragma once
// The scan-mode page: how the volumes of the image are found. The standard
// partition-table scan (with or without GPT) or the advanced sector scan,
// with its options and an optional custom sector range.
#include <QString>

#include "app/WizardPage.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace salvage::app {

// What the scan-mode page hands to the volume list page.
struct ScanRequest {
    QString imagePath;
    int scanMode = 1;  // 1 standard, 2 advanced
    bool useGpt = false;
    bool doNotSkipVolumeSize = false;
    std::int64_t rangeStartSector = 0;
    std::int64_t rangeEndSector = 0;
};

class DriveParsingModes : public WizardPage {
    Q_OBJECT
public:
    DriveParsingModes(WizardWindow* wizard, WizardPage* owner, const QString& imagePath);

    const QString& imagePath() const { return imagePath_; }
    ScanRequest request() const;

private:
    void chooseStandard();
    void chooseAdvanced();
    void customToggled(bool on);
    void next();

    QString imagePath_;
    QRadioButton* standard_;
    QRadioButton* advanced_;
    QCheckBox* gpt_;
    QCheckBox* doNotSkip_;
    QCheckBox* custom_;
    QLabel* startLabel_;
    QLabel* endLabel_;
    QLineEdit* startBox_;
    QLineEdit* endBox_;
};

}  // namespace salvage::app
