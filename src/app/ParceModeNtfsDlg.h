#pragma once
// The recovery-mode page: how the chosen volume is parsed. Standard,
// Advanced (with the number of file systems to find and, for FAT volumes,
// "Is Drive Formated..?") or Deep, offered by the volume's file system.
#include <QString>

#include "app/WizardPage.h"
#include "volumes/VolumeRecord.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace salvage::app {

class ParceModeNtfsDlg : public WizardPage {
    Q_OBJECT
public:
    // Keeps its own copy of `record`.
    ParceModeNtfsDlg(WizardWindow* wizard, WizardPage* owner, const VolumeRecord& record);

    const VolumeRecord& record() const { return record_; }
    const QString& fileSystemPrefix() const { return prefix_; }
    int recoveryMode() const { return recoveryMode_; }
    QString maxFileSystemsText() const;

private:
    void chooseMode(int mode);
    void next();

    VolumeRecord record_;
    QString prefix_;
    int recoveryMode_ = 1;
    QRadioButton* standard_;
    QRadioButton* advanced_;
    QRadioButton* deep_;
    QLabel* maxLabel_;
    QLineEdit* maxBox_;
    QLabel* maxNote_;
    QCheckBox* formatted_;
};

}  // namespace salvage::app
