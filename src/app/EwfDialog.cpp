#include "app/EwfDialog.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/AppInfo.h"
#include "app/DialogService.h"
#include "app/EwfFileInfo.h"

namespace salvage::app {

EwfDialog::EwfDialog(WizardWindow* wizard, WizardPage* owner) : WizardPage(wizard, owner) {
    setObjectName(QStringLiteral("EwfDialog"));
    auto* layout = new QVBoxLayout(this);

    auto* group = new QGroupBox(QStringLiteral("Select Encase file to continue the recovery process:"), this);
    auto* row = new QHBoxLayout(group);
    pathBox_ = new QLineEdit(group);
    pathBox_->setObjectName(QStringLiteral("pathBox"));
    auto* browseButton = new QPushButton(QStringLiteral("..."), group);
    browseButton->setObjectName(QStringLiteral("browseButton"));
    browseButton->setFixedWidth(browseButton->fontMetrics().horizontalAdvance(QStringLiteral("....")) * 3);
    row->addWidget(pathBox_, 1);
    row->addWidget(browseButton);

    auto* note = new QLabel(
        QStringLiteral("EWF images (.E01), raw images (.dd, .raw, .img, the first piece of a split image) "
                       "and block devices are read; nothing is ever written to them."),
        this);
    note->setWordWrap(true);
    note->setEnabled(false);

    auto* nextButton = new QPushButton(QStringLiteral("Next"), this);
    nextButton->setObjectName(QStringLiteral("nextButton"));

    layout->addWidget(group);
    layout->addWidget(note);
    layout->addStretch(1);
    layout->addLayout(makeButtonRow({nextButton}));

    connect(browseButton, &QPushButton::clicked, this, &EwfDialog::browse);
    connect(nextButton, &QPushButton::clicked, this, &EwfDialog::next);
}

void EwfDialog::browse() {
    imagePath_ = dialogs().openFile(this);
    if (!imagePath_.isEmpty()) pathBox_->setText(imagePath_);
}

void EwfDialog::next() {
    if (imagePath_.isEmpty()) {
        dialogs().message(this, QStringLiteral("please select a file first"), appTitle(), BoxIcon::Information);
        return;
    }
    if (!openNext<EwfFileInfo>(imagePath_))
        dialogs().message(this, QStringLiteral("error creating physicalDiskDlg"), appTitle(), BoxIcon::Information);
}

}  // namespace salvage::app
