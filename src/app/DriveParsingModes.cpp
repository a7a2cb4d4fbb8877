#include "app/DriveParsingModes.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "app/AppInfo.h"
#include "app/DialogService.h"
#include "app/PopulateDriveDlg.h"
#include "volumes/VolumeList.h"

namespace salvage::app {

namespace {
QLineEdit* sectorBox(QWidget* parent, const char* name) {
    auto* box = new QLineEdit(QStringLiteral("0"), parent);
    box->setObjectName(QLatin1String(name));
    // Signed 64-bit sector numbers.
    box->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("-?[0-9]{0,18}")), box));
    return box;
}
}  // namespace

DriveParsingModes::DriveParsingModes(WizardWindow* wizard, WizardPage* owner, const QString& imagePath)
    : WizardPage(wizard, owner), imagePath_(imagePath) {
    setObjectName(QStringLiteral("DriveParsingModes"));
    auto* layout = new QVBoxLayout(this);
    auto* group = new QGroupBox(QStringLiteral("Select Mode:"), this);
    auto* grid = new QGridLayout(group);

    auto* driveLabel = new QLabel(QStringLiteral("Currently Selected Drive :"), group);
    auto* drive = new QLabel(imagePath_, group);
    drive->setObjectName(QStringLiteral("driveLabel"));
    drive->setToolTip(imagePath_);
    drive->setTextInteractionFlags(Qt::TextSelectableByMouse);
    drive->setMinimumWidth(10);
    grid->addWidget(driveLabel, 0, 0);
    grid->addWidget(drive, 0, 1, 1, 4);

    standard_ = new QRadioButton(QStringLiteral("Standard Scan"), group);
    standard_->setObjectName(QStringLiteral("standardScan"));
    gpt_ = new QCheckBox(QStringLiteral("GPT format"), group);
    gpt_->setObjectName(QStringLiteral("gptFormat"));
    auto* gptNote = new QLabel(QStringLiteral("* Check If Partition type is GPT"), group);
    grid->addWidget(standard_, 1, 0, 1, 5);
    grid->addWidget(gpt_, 2, 1);
    grid->addWidget(gptNote, 2, 2, 1, 3);

    advanced_ = new QRadioButton(QStringLiteral("Advance Scan"), group);
    advanced_->setObjectName(QStringLiteral("advanceScan"));
    doNotSkip_ = new QCheckBox(QStringLiteral("Do not Skip Volume Size While Parsing in Advance  Scan "), group);
    doNotSkip_->setObjectName(QStringLiteral("doNotSkip"));
    custom_ = new QCheckBox(QStringLiteral("Custom Setting:"), group);
    custom_->setObjectName(QStringLiteral("customSetting"));
    startLabel_ = new QLabel(QStringLiteral("Starting Sector:"), group);
    endLabel_ = new QLabel(QStringLiteral("Ending Sector:"), group);
    startBox_ = sectorBox(group, "startingSector");
    endBox_ = sectorBox(group, "endingSector");
    grid->addWidget(advanced_, 3, 0, 1, 5);
    grid->addWidget(doNotSkip_, 4, 1, 1, 4);
    grid->addWidget(custom_, 5, 1, 1, 4);
    grid->addWidget(startLabel_, 6, 1);
    grid->addWidget(startBox_, 6, 2);
    grid->addWidget(endLabel_, 6, 3);
    grid->addWidget(endBox_, 6, 4);
    grid->setColumnMinimumWidth(0, fontMetrics().horizontalAdvance(QStringLiteral("Currently Selected Drive :")));
    grid->setColumnStretch(2, 1);
    grid->setColumnStretch(4, 1);

    auto* hint = new QLabel(QStringLiteral("Choose any one of the mode and Click Next...."), this);
    hint->setObjectName(QStringLiteral("hint"));

    auto* back = new QPushButton(QStringLiteral("Back"), this);
    back->setObjectName(QStringLiteral("backButton"));
    auto* next = new QPushButton(QStringLiteral("Next"), this);
    next->setObjectName(QStringLiteral("nextButton"));

    layout->addWidget(group);
    layout->addWidget(hint);
    layout->addStretch(1);
    layout->addLayout(makeButtonRow({back, next}));

    connect(standard_, &QRadioButton::clicked, this, &DriveParsingModes::chooseStandard);
    connect(advanced_, &QRadioButton::clicked, this, &DriveParsingModes::chooseAdvanced);
    connect(custom_, &QCheckBox::toggled, this, &DriveParsingModes::customToggled);
    connect(back, &QPushButton::clicked, this, &WizardPage::goBack);
    connect(next, &QPushButton::clicked, this, &DriveParsingModes::next);

    customToggled(false);
    chooseStandard();
}

void DriveParsingModes::chooseStandard() {
    standard_->setChecked(true);
    doNotSkip_->setEnabled(false);
    custom_->setEnabled(false);
}

void DriveParsingModes::chooseAdvanced() {
    advanced_->setChecked(true);
    doNotSkip_->setEnabled(true);
    custom_->setEnabled(true);
}

void DriveParsingModes::customToggled(bool on) {
    startLabel_->setEnabled(on);
    endLabel_->setEnabled(on);
    startBox_->setEnabled(on);
    endBox_->setEnabled(on);
}

ScanRequest DriveParsingModes::request() const {
    ScanRequest r;
    r.imagePath = imagePath_;
    r.scanMode = standard_->isChecked() ? 1 : 2;
    r.useGpt = gpt_->isChecked();
    r.doNotSkipVolumeSize = doNotSkip_->isChecked();
    if (custom_->isChecked()) {
        const std::int64_t start = numberBoxValue(startBox_->text().toStdU16String());
        const std::int64_t end = numberBoxValue(endBox_->text().toStdU16String());
        if (end >= 0) {
            r.rangeStartSector = start;
            r.rangeEndSector = end;
        }
    }
    return r;
}

void DriveParsingModes::next() {
    if (!openNext<PopulateDriveDlg>(request()))
        dialogs().message(this, QStringLiteral("error creating PopulateDriveDlgptr"), appTitle(),
                          BoxIcon::Information);
}

}  // namespace salvage::app
