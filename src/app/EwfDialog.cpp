#include "app/EwfDialog.h"

#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <array>

#include "app/AppInfo.h"
#include "app/DialogService.h"
#include "app/EwfFileInfo.h"
#include "fs/ext/ExtLayout.h"
#include "image/Globals.h"
#include "image/ImageOpen.h"
#include "platform/ByteView.h"
#include "platform/Text.h"
#include "volumes/BootSignature.h"
#include "volumes/Partition.h"

namespace salvage::app {

namespace {

// True when the image starts with a partition table (a boot signature and at
// least one partition that starts inside the image) or with a volume's boot
// sector (NTFS, FAT, exFAT), HFS+ volume header or ext superblock. The table
// reader takes any sector as a table; the signature tells a table from a
// document's first bytes.
bool looksLikeDiskOrVolume(readWriteInterface& source) {
    std::array<std::uint8_t, 2048> head{};
    if (!readAt(source, 0, head.data(), std::uint32_t(head.size()))) return false;
    const ByteView v(head.data(), head.size());
    if (classifyBootSector(ByteView(head.data(), 512), 0).kind != BootKind::None) return true;
    if (classifyBootSector(ByteView(head.data() + 1024, 512), 2).kind == BootKind::HfsPlus) return true;
    if (le16(v, 1024 + 56) == ext::kSuperblockMagic) return true;
    if (le16(v, 510) != 0xAA55) return false;
    std::vector<VolumeRecord> records;
    Partition scanner(records);
    scanPartitionTables(source, scanner);
    source.baseOffset = 0;
    const std::int64_t total = source.totalSectors();
    return std::any_of(records.begin(), records.end(),
                       [&](const VolumeRecord& r) { return r.startSector >= 0 && r.startSector < total; });
}

}  // namespace

QString EwfDialog::layoutWarning(const QString& path) {
    const QFileInfo file(path);
    const QString name = file.fileName();
    if (file.isFile() && file.size() == 0)
        return QStringLiteral("%1 is empty: it holds no sector to recover anything from.").arg(name);
    // Opening sets the image size for the run; the pages after this one
    // open the image again and set it for themselves.
    const std::int64_t savedTotal = g_totalSectors;
    OpenedImage image = openImage(pathFromUtf16(path.toStdU16String()), nullReporter());
    g_totalSectors = savedTotal;
    // An image that cannot be opened is reported by the next page.
    if (!image.source) return {};
    if (looksLikeDiskOrVolume(*image.source)) return {};
    return QStringLiteral(
               "%1 has neither a partition table nor a known boot sector: it may not be a disk image. "
               "The volume list may stay empty; RAW recovery can still search it for files.")
        .arg(name);
}

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
    if (const QString warning = layoutWarning(imagePath_); !warning.isEmpty())
        dialogs().message(this, warning, appTitle(), BoxIcon::Warning);
    if (!openNext<EwfFileInfo>(imagePath_))
        dialogs().message(this, QStringLiteral("error creating physicalDiskDlg"), appTitle(), BoxIcon::Information);
}

}  // namespace salvage::app
