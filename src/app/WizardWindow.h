#pragma once
// The wizard's one window: the banner across the top and, below it, the
// page currently shown. The window opens at 513 x 300 dialog units of the
// default font (or the size it had when last closed), can be resized down to
// minimumPageSize() and the pages grow with it. Enter and Escape never reach
// a page, and the close box asks before the run ends.
#include <QStackedWidget>
#include <QWidget>

class QLabel;

namespace salvage::app {

class WizardPage;

class WizardWindow : public QWidget {
    Q_OBJECT
public:
    explicit WizardWindow(QWidget* parent = nullptr);
    ~WizardWindow() override;

    // Takes a new page into the window, hidden, so that boxes it shows
    // while it is being set up sit over the window.
    void addPage(WizardPage* page);
    // Shows `page` (adding it when new) in place of the current one.
    void showPage(WizardPage* page);
    // Takes `page` out of the window; the caller deletes it.
    void removePage(WizardPage* page);
    WizardPage* currentPage() const;

    // 513 x 300 dialog units of `font`, in pixels.
    static QSize dialogUnitsToPixels(const QFont& font, int horizontalUnits, int verticalUnits);
    static QSize pageSize(const QFont& font);
    // The smallest window the pages are laid out for: small enough for a
    // 1024 x 700 screen at 150 % scaling, with every button on it.
    static QSize minimumWindowSize(const QFont& font);

    // True once the user has confirmed closing; the run ends then.
    bool closeConfirmed() const { return closeConfirmed_; }

signals:
    // The user confirmed "Do you want to Close Application ?".
    void runEnded();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void saveGeometry();
    void paintBanner();

    QLabel* banner_;
    QStackedWidget* pages_;
    bool closeConfirmed_ = false;
};

}  // namespace salvage::app
