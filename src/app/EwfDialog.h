#pragma once
// The image selection page, the wizard's first page: the user picks the
// first segment of an EWF image, a raw image (.dd, .raw, .img, the first
// piece of a split raw image) or a block device.
#include <QString>

#include "app/WizardPage.h"

class QLineEdit;
class QPushButton;

namespace salvage::app {

class EwfDialog : public WizardPage {
    Q_OBJECT
public:
    EwfDialog(WizardWindow* wizard, WizardPage* owner = nullptr);

    // Set only by the file dialog; typing into the path box leaves it.
    const QString& imagePath() const { return imagePath_; }

    // A warning when the image at `path` is empty or has neither a partition
    // table nor a known boot sector or superblock at its start; empty when it
    // looks like a disk or a volume (or cannot be opened at all).
    static QString layoutWarning(const QString& path);

private:
    void browse();
    void next();

    QString imagePath_;
    QLineEdit* pathBox_;
};

}  // namespace salvage::app
