#include "app/EwfFileInfo.h"

#include <QGroupBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/AppInfo.h"
#include "app/DialogService.h"
#include "app/DriveParsingModes.h"
#include "app/EWFExtractDlg.h"
#include "app/ImageSession.h"
#include "app/InfoList.h"
#include "app/QtReporter.h"
#include "platform/Text.h"

namespace salvage::app {

EwfFileInfo::EwfFileInfo(WizardWindow* wizard, WizardPage* owner, const QString& imagePath)
    : WizardPage(wizard, owner), imagePath_(imagePath), reporter_(new QtReporter(this, this)) {
    setObjectName(QStringLiteral("EwfFileInfo"));
    auto* layout = new QVBoxLayout(this);
    auto* group = new QGroupBox(QStringLiteral("EWF file information"), this);
    auto* groupLayout = new QVBoxLayout(group);
    list_ = new InfoList({QStringLiteral("ITEM"), QStringLiteral("VALUE")}, {150, 200}, group);
    list_->setObjectName(QStringLiteral("infoList"));
    groupLayout->addWidget(list_);

    auto* back = new QPushButton(QStringLiteral("Back"), this);
    back->setObjectName(QStringLiteral("backButton"));
    auto* convert = new QPushButton(QStringLiteral("Convert to Raw"), this);
    convert->setObjectName(QStringLiteral("convertButton"));
    auto* parse = new QPushButton(QStringLiteral("Parse as Disk"), this);
    parse->setObjectName(QStringLiteral("parseButton"));
    layout->addWidget(group, 1);
    layout->addLayout(makeButtonRow({back, convert, parse}));

    connect(back, &QPushButton::clicked, this, &WizardPage::goBack);
    connect(convert, &QPushButton::clicked, this, &EwfFileInfo::convertToRaw);
    connect(parse, &QPushButton::clicked, this, &EwfFileInfo::parseAsDisk);

    info_ = readInformation(imagePath_, *reporter_);
    for (const auto& row : info_.rows) {
        // The banner value ends in line breaks, which a one-line cell
        // cannot show.
        QString value = QString::fromStdU16String(row.value);
        while (value.endsWith(QLatin1Char('\n')) || value.endsWith(QLatin1Char('\r'))) value.chop(1);
        list_->insertTextRow({QString::fromStdU16String(row.item), value});
    }
}

void EwfFileInfo::convertToRaw() {
    if (list_->rowCount() == 0) {
        dialogs().message(this, QStringLiteral("No item in List"), appTitle(), BoxIcon::Information);
        return;
    }
    if (!openNext<EWFExtractDlg>(imagePath_, info_.record, info_.mediaSizeText))
        dialogs().message(this, QStringLiteral("error creating physicalDiskDlg"), appTitle(), BoxIcon::Information);
}

void EwfFileInfo::parseAsDisk() {
    // A new source replaces the old one. Its open is not checked here: the
    // volume scan opens it again and reports a failure itself.
    const auto path = pathFromUtf16(imagePath_.toStdU16String());
    readWriteInterface& source = installSectorSource(path, info_.isEwf ? &info_.record : nullptr);
    source.open(path);
    if (!openNext<DriveParsingModes>(imagePath_))
        dialogs().message(this, QStringLiteral("error creating PopulateDriveDlg Dialog"), appTitle(),
                          BoxIcon::Information);
}

}  // namespace salvage::app
