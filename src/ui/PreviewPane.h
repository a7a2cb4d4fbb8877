#pragma once
// The preview of the file selected on the volume page: the picture for
// JPEG, PNG, GIF and BMP, the text, and a hex dump, each bounded so that a
// large file costs no more than its first bytes.
#include <QByteArray>
#include <QImage>
#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QScrollArea;
class QTabWidget;

namespace salvage::ui {

class PreviewPane : public QWidget {
    Q_OBJECT
public:
    // The hex view shows at most this many bytes, the text view at most textLimit.
    static constexpr int hexLimit = 64 * 1024;
    static constexpr int textLimit = 256 * 1024;
    // Pictures larger than this (in either direction) are not decoded.
    static constexpr int pictureSideLimit = 12000;

    explicit PreviewPane(QWidget* parent = nullptr);

    // Shows the first bytes of `name`, whose whole size is fileSize.
    void showBytes(const QString& name, const QByteArray& bytes, quint64 fileSize);
    // Shows a line instead of any content ("too large to preview").
    void showMessage(const QString& text);
    void clear();

    // What is shown, for tests and for the page's status.
    bool hasPicture() const { return !picture_.isNull(); }
    QString hexText() const;
    QString plainText() const;
    QString caption() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void fitPicture();

    QLabel* caption_;
    QTabWidget* tabs_;
    QLabel* pictureLabel_;
    QScrollArea* pictureArea_;
    QPlainTextEdit* text_;
    QPlainTextEdit* hex_;
    QImage picture_;
};

// "00000010  48 65 6c 6c 6f 20 77 6f  72 6c 64 0a 00 00 00 00  |Hello world.....|"
QString hexDump(const QByteArray& bytes, int limit);

}  // namespace salvage::ui
