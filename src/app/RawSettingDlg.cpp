#include "app/RawSettingDlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>

#include "app/AppInfo.h"
#include "app/DialogService.h"
#include "app/QtReporter.h"
#include "platform/Text.h"

namespace salvage::app {

namespace {

struct FieldText {
    const char* name;
    const char* label;
    const char* tip;
};

// The editor's fields in screen order, each with the help its "?" gives.
constexpr FieldText kExtension{"extensionBox", "File Extention :",
                               "Enter file extention .\n Example 'jpg','mp3','avi',..etc.\n Do not put a dot(.) before "
                               "extention(i.e .mp3)"};
constexpr FieldText kStart{"startSignatureBox", "Starting Signature :",
                           "here enter the file signature that happens to be in the starting of the file.\n example "
                           "0x89,0x50,0x4E,0x47  for png File"};
constexpr FieldText kEnd{"endSignatureBox", "Ending Signature :",
                         "here enter the file signature that happens to be in the end of the file.\n Example "
                         "0x49,0x45,0x4E,0x44,0xAE,0x42,0x60,0x82 for png File.\n its optional Field .you can leave it "
                         "if you dont know ."};
constexpr FieldText kSizeOffset{"sizeOffsetBox", "Offset to Size Byte :",
                                "if  the size of file is given in the header and you know its offset please enter that "
                                "offset here.\n its optional Field .you can leave it if you don't know."};
constexpr FieldText kSizeBytes{"sizeByteCountBox", "Number Of Bytes In Size :",
                               "if  you know how many bytes represents size please enter that number of bytes  here.\n "
                               "its optional Field .you can leave it ifyou  don't know."};
constexpr FieldText kIncludesHeader{"sizeIncludesHeader", "Size includes header size",
                                    "check this checkbox if the size alkso includes the header size else leave it.\n its "
                                    "optional Field .you can leave it if you don't know."};
constexpr FieldText kHeaderSize{"headerSizeBox", "Header size :",
                                "please enter the header size in bytes here.\n its optional Field .you can leave it if "
                                "you don't know."};
constexpr FieldText kSkip{"skipSizeBox", "Size_to_skip_WhileParsing :",
                          "when we find the file signature you mentioned  above we can skip further file scanning by "
                          "an amount you enter here.\n For example mp3 are generally greater then 2 mb .so you can "
                          "enter 2097152 bytes here.\n its optional Field .you can leave it ."};
constexpr FieldText kApprox{"approxSizeBox", "Approx file size :",
                            "please enter approx file size here.\n its optional Field .you can leave it if you don't "
                            "know."};
constexpr FieldText kCategory{"categoryBox", "Put Under Category :",
                              "here enter the name of category you want to put these files under"};

std::u16string text16(const QLineEdit* box) { return box->text().toStdU16String(); }

}  // namespace

RawSettingDlg::RawSettingDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("RawSettingDlg"));
    setWindowTitle(appTitle());
    reporter_ = new QtReporter(this, this);

    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    int row = 0;
    auto help = [this](const FieldText& f) {
        auto* b = new QToolButton(this);
        b->setText(QStringLiteral("?"));
        b->setObjectName(QLatin1String(f.name) + QStringLiteral("Help"));
        b->setToolTip(QString::fromUtf8(f.tip));
        // The help also shows on a click, not only when the pointer rests.
        connect(b, &QToolButton::clicked, b, [b] { QToolTip::showText(b->mapToGlobal(b->rect().bottomLeft()), b->toolTip(), b); });
        return b;
    };
    auto addField = [&](const FieldText& f) {
        auto* box = new QLineEdit(this);
        box->setObjectName(QLatin1String(f.name));
        auto* label = new QLabel(QString::fromUtf8(f.label), this);
        label->setBuddy(box);
        grid->addWidget(label, row, 0);
        grid->addWidget(box, row, 1);
        grid->addWidget(help(f), row, 2);
        ++row;
        return box;
    };
    extension_ = addField(kExtension);
    startSignature_ = addField(kStart);
    endSignature_ = addField(kEnd);
    sizeOffset_ = addField(kSizeOffset);
    sizeByteCount_ = addField(kSizeBytes);
    sizeIncludesHeader_ = new QCheckBox(QString::fromUtf8(kIncludesHeader.label), this);
    sizeIncludesHeader_->setObjectName(QLatin1String(kIncludesHeader.name));
    grid->addWidget(sizeIncludesHeader_, row, 1);
    grid->addWidget(help(kIncludesHeader), row, 2);
    ++row;
    headerSize_ = addField(kHeaderSize);
    skipSize_ = addField(kSkip);
    approxSize_ = addField(kApprox);
    category_ = addField(kCategory);
    grid->setColumnStretch(1, 1);

    auto* fileGroup = new QGroupBox(QStringLiteral("Select Path to Save Entries"), this);
    auto* fileRow = new QHBoxLayout(fileGroup);
    pathBox_ = new QLineEdit(fileGroup);
    pathBox_->setObjectName(QStringLiteral("entriesPathBox"));
    pathBox_->setReadOnly(true);
    auto* browse = new QPushButton(QStringLiteral("..."), fileGroup);
    browse->setObjectName(QStringLiteral("entriesBrowseButton"));
    browse->setFixedWidth(browse->fontMetrics().horizontalAdvance(QStringLiteral("....")) * 3);
    auto* save = new QPushButton(QStringLiteral("Save"), fileGroup);
    save->setObjectName(QStringLiteral("entriesSaveButton"));
    fileRow->addWidget(pathBox_, 1);
    fileRow->addWidget(browse);
    fileRow->addWidget(save);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("okButton"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancelButton"));
    // Enter in a field does not close the editor.
    buttons->button(QDialogButtonBox::Ok)->setAutoDefault(false);
    buttons->button(QDialogButtonBox::Cancel)->setAutoDefault(false);
    browse->setAutoDefault(false);
    save->setAutoDefault(false);

    layout->addLayout(grid);
    layout->addWidget(fileGroup);
    layout->addWidget(buttons);

    // Wide enough for a path and the longest tool tip's first line.
    setMinimumWidth(fontMetrics().averageCharWidth() * 80);

    connect(browse, &QPushButton::clicked, this, &RawSettingDlg::chooseFile);
    connect(save, &QPushButton::clicked, this, &RawSettingDlg::appendSignature);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

RawSettingDlg::~RawSettingDlg() = default;

SignatureFields RawSettingDlg::fields() const {
    SignatureFields f;
    f.extension = text16(extension_);
    f.startSignature = text16(startSignature_);
    f.endSignature = text16(endSignature_);
    f.sizeOffset = text16(sizeOffset_);
    f.sizeByteCount = text16(sizeByteCount_);
    f.sizeIncludesHeader = sizeIncludesHeader_->isChecked();
    f.headerSize = text16(headerSize_);
    f.skipSize = text16(skipSize_);
    f.approxSize = text16(approxSize_);
    f.category = text16(category_);
    return f;
}

void RawSettingDlg::chooseFile() {
    const QString path = dialogs().saveFile(this);
    if (path.isEmpty()) return;
    if (writer_.choose(pathFromUtf16(path.toStdU16String()), *reporter_))
        pathBox_->setText(path);
    else
        pathBox_->clear();
}

void RawSettingDlg::appendSignature() { writer_.appendSignature(fields(), *reporter_); }

}  // namespace salvage::app
