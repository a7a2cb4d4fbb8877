#include "ui/PreviewPane.h"

#include "browse/DisplayFormats.h"

#include <QBuffer>
#include <algorithm>
#include <QFontDatabase>
#include <QImageReader>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QStringDecoder>
#include <QTabWidget>
#include <QVBoxLayout>

namespace salvage::ui {

namespace {
QPlainTextEdit* textView(QWidget* parent, const char* name) {
    auto* view = new QPlainTextEdit(parent);
    view->setObjectName(QLatin1String(name));
    view->setReadOnly(true);
    view->setLineWrapMode(QPlainTextEdit::NoWrap);
    view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    return view;
}

// Only the formats the examiner is meant to see as pictures are decoded.
bool isPreviewedPicture(const QByteArray& format) {
    return format == "jpeg" || format == "jpg" || format == "png" || format == "gif" || format == "bmp";
}

QImage decodePicture(const QByteArray& bytes) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    if (!isPreviewedPicture(reader.format())) return {};
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > PreviewPane::pictureSideLimit ||
        size.height() > PreviewPane::pictureSideLimit)
        return {};
    return reader.read();
}

// Bytes that are not text: a NUL, or many bytes that are neither printable
// nor part of UTF-8, near the start.
bool looksBinary(const QByteArray& bytes) {
    const QByteArray head = bytes.left(4096);
    if (head.contains('\0')) return true;
    const QString text = QStringDecoder(QStringDecoder::Utf8)(head);
    const auto odd = std::count_if(text.begin(), text.end(), [](QChar c) {
        return c == QChar::ReplacementCharacter || (c.unicode() < 0x20 && c != u'\n' && c != u'\t' && c != u'\r');
    });
    return odd * 10 > text.size();
}

// Text as it would be read: UTF-8 where valid, control bytes other than
// line ends and tabs shown as dots.
QString printable(const QByteArray& bytes) {
    QString text = QStringDecoder(QStringDecoder::Utf8)(bytes.left(PreviewPane::textLimit));
    for (QChar& c : text)
        if (c.unicode() < 0x20 && c != u'\n' && c != u'\t' && c != u'\r') c = u'.';
    return text;
}
}  // namespace

QString hexDump(const QByteArray& bytes, int limit) {
    const int n = int(qMin<qsizetype>(bytes.size(), limit));
    QString out;
    out.reserve((n / 16 + 1) * 80);
    for (int line = 0; line < n; line += 16) {
        out += QStringLiteral("%1 ").arg(line, 8, 16, QLatin1Char('0'));
        QString ascii;
        for (int i = 0; i < 16; ++i) {
            if (i == 8) out += u' ';
            if (line + i < n) {
                const auto b = quint8(bytes[line + i]);
                out += QStringLiteral(" %1").arg(b, 2, 16, QLatin1Char('0'));
                ascii += (b >= 0x20 && b < 0x7f) ? QChar(b) : QChar(u'.');
            } else {
                out += QStringLiteral("   ");
            }
        }
        out += QStringLiteral("  |") + ascii + QStringLiteral("|\n");
    }
    return out;
}

PreviewPane::PreviewPane(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    caption_ = new QLabel(this);
    caption_->setObjectName(QStringLiteral("previewCaption"));
    caption_->setMinimumWidth(1);
    caption_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(caption_);
    tabs_ = new QTabWidget(this);
    tabs_->setObjectName(QStringLiteral("previewTabs"));
    pictureLabel_ = new QLabel;
    pictureLabel_->setAlignment(Qt::AlignCenter);
    pictureArea_ = new QScrollArea;
    pictureArea_->setWidget(pictureLabel_);
    pictureArea_->setWidgetResizable(true);
    text_ = textView(this, "previewText");
    hex_ = textView(this, "previewHex");
    tabs_->addTab(pictureArea_, QStringLiteral("Picture"));
    tabs_->addTab(text_, QStringLiteral("Text"));
    tabs_->addTab(hex_, QStringLiteral("Hex"));
    layout->addWidget(tabs_, 1);
    clear();
}

void PreviewPane::clear() { showMessage(QStringLiteral("Select a file to preview it.")); }

void PreviewPane::showMessage(const QString& text) {
    caption_->setText(text);
    picture_ = QImage();
    pictureLabel_->clear();
    text_->clear();
    hex_->clear();
    tabs_->setTabEnabled(0, false);
}

void PreviewPane::showBytes(const QString& name, const QByteArray& bytes, quint64 fileSize) {
    QString line = QStringLiteral("%1, %2").arg(name, QString::fromStdU16String(formatListSize(fileSize)));
    if (quint64(bytes.size()) < fileSize)
        line += QStringLiteral(" (first %1 read)").arg(QString::fromStdU16String(formatListSize(quint64(bytes.size()))));
    caption_->setText(line);
    picture_ = decodePicture(bytes);
    tabs_->setTabEnabled(0, !picture_.isNull());
    fitPicture();
    text_->setPlainText(printable(bytes));
    hex_->setPlainText(hexDump(bytes, hexLimit));
    // The picture when there is one, else the view the bytes read best in.
    tabs_->setCurrentIndex(!picture_.isNull() ? 0 : looksBinary(bytes) ? 2 : 1);
}

QString PreviewPane::hexText() const { return hex_->toPlainText(); }
QString PreviewPane::plainText() const { return text_->toPlainText(); }
QString PreviewPane::caption() const { return caption_->text(); }

void PreviewPane::fitPicture() {
    if (picture_.isNull()) {
        pictureLabel_->clear();
        return;
    }
    const QSize room = pictureArea_->viewport()->size();
    const QImage shown = picture_.width() > room.width() || picture_.height() > room.height()
                             ? picture_.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                             : picture_;
    pictureLabel_->setPixmap(QPixmap::fromImage(shown));
}

void PreviewPane::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    fitPicture();
}

}  // namespace salvage::ui
