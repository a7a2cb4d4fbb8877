#include "app/ParceModeNtfsDlg.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/LaterPages.h"
#include "image/Globals.h"

namespace salvage::app {

namespace {
// The first three characters of the file-system name, leading blanks removed.
QString prefixOf(const std::u16string& fileSystem) {
    QString name = QString::fromStdU16String(fileSystem);
    qsizetype i = 0;
    while (i < name.size() && name[i] == QLatin1Char(' ')) ++i;
    return name.mid(i, 3);
}
bool is(const QString& prefix, const char* value) {
    return prefix.compare(QLatin1String(value), Qt::CaseInsensitive) == 0;
}
}  // namespace

ParceModeNtfsDlg::ParceModeNtfsDlg(WizardWindow* wizard, WizardPage* owner, const VolumeRecord& record)
    : WizardPage(wizard, owner), record_(record), prefix_(prefixOf(record.fileSystem)) {
    setObjectName(QStringLiteral("ParceModeNtfsDlg"));
    auto* layout = new QVBoxLayout(this);
    auto* group = new QGroupBox(QStringLiteral("Select Recovery Mode:"), this);
    auto* grid = new QGridLayout(group);

    standard_ = new QRadioButton(QStringLiteral("Standard"), group);
    standard_->setObjectName(QStringLiteral("standardMode"));
    advanced_ = new QRadioButton(QStringLiteral("Advanced"), group);
    advanced_->setObjectName(QStringLiteral("advancedMode"));
    deep_ = new QRadioButton(QStringLiteral("Deep"), group);
    deep_->setObjectName(QStringLiteral("deepMode"));
    maxLabel_ = new QLabel(QStringLiteral("Please Enter Max File Systems to Find :"), group);
    maxBox_ = new QLineEdit(QStringLiteral("3"), group);
    maxBox_->setObjectName(QStringLiteral("maxFileSystems"));
    maxBox_->setValidator(new QIntValidator(0, 9999, maxBox_));
    maxBox_->setMaximumWidth(maxBox_->fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 16);
    maxNote_ = new QLabel(QStringLiteral("( By  Default  it's  = 3 )"), group);
    formatted_ = new QCheckBox(QStringLiteral("Is Drive Formated..?"), group);
    formatted_->setObjectName(QStringLiteral("driveFormatted"));
    standard_->setToolTip(QStringLiteral("Reads the file system as it stands: its folders and files, deleted "
                                         "entries included."));
    advanced_->setToolTip(QStringLiteral("For a damaged or reformatted volume: searches it for lost structures "
                                         "(MFT copies, FAT copies, the exFAT cluster heap) and reads the one you "
                                         "pick."));
    maxBox_->setToolTip(QStringLiteral("The Advanced search stops after finding this many file systems."));
    formatted_->setToolTip(QStringLiteral("FAT only: tick when the volume was formatted after the files were lost. "
                                          "Files are then read as runs of consecutive clusters, so a fragmented "
                                          "file may come out wrong."));
    deep_->setToolTip(QStringLiteral("Rebuilds the folder tree from every file record found on the volume, "
                                     "including records no folder lists any more."));

    grid->addWidget(standard_, 0, 0, 1, 4);
    grid->addWidget(advanced_, 1, 0, 1, 4);
    grid->addWidget(maxLabel_, 2, 1);
    grid->addWidget(maxBox_, 2, 2);
    grid->addWidget(maxNote_, 2, 3);
    grid->addWidget(formatted_, 3, 1, 1, 3);
    grid->addWidget(deep_, 4, 0, 1, 4);
    grid->setColumnMinimumWidth(0, fontMetrics().horizontalAdvance(QStringLiteral("MMM")));
    grid->setColumnStretch(3, 1);

    auto* back = new QPushButton(QStringLiteral("Back"), this);
    back->setObjectName(QStringLiteral("backButton"));
    auto* nextButton = new QPushButton(QStringLiteral("Next"), this);
    nextButton->setObjectName(QStringLiteral("nextButton"));
    layout->addWidget(group);
    layout->addStretch(1);
    layout->addLayout(makeButtonRow({back, nextButton}));

    // Modes the volume's file system offers.
    if (is(prefix_, "fat") || is(prefix_, "exF")) deep_->hide();
    if (is(prefix_, "ext")) {
        deep_->hide();
        advanced_->hide();
    }
    if (is(prefix_, "HFS")) advanced_->hide();

    connect(standard_, &QRadioButton::clicked, this, [this] { chooseMode(1); });
    connect(advanced_, &QRadioButton::clicked, this, [this] { chooseMode(2); });
    connect(deep_, &QRadioButton::clicked, this, [this] { chooseMode(3); });
    connect(formatted_, &QCheckBox::toggled, this, [](bool on) { g_driveFormatted = on; });
    connect(back, &QPushButton::clicked, this, &WizardPage::goBack);
    connect(nextButton, &QPushButton::clicked, this, &ParceModeNtfsDlg::next);

    chooseMode(1);
}

QString ParceModeNtfsDlg::maxFileSystemsText() const { return maxBox_->text(); }

void ParceModeNtfsDlg::chooseMode(int mode) {
    g_driveFormatted = false;
    formatted_->setChecked(false);
    const bool advanced = mode == 2;
    maxLabel_->setVisible(advanced);
    maxBox_->setVisible(advanced);
    maxNote_->setVisible(advanced);
    formatted_->setVisible(advanced && is(prefix_, "fat"));
    (mode == 1 ? standard_ : mode == 2 ? advanced_ : deep_)->setChecked(true);
    recoveryMode_ = mode;
}

void ParceModeNtfsDlg::next() { openParsingPage(*this, record_, recoveryMode_, maxFileSystemsText()); }

}  // namespace salvage::app
