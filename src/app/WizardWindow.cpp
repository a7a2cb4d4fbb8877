#include "app/WizardWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QSettings>
#include <QVBoxLayout>

#include "app/AppInfo.h"
#include "app/Artwork.h"
#include "app/DialogService.h"
#include "app/WizardPage.h"

namespace salvage::app {

namespace {
// Height of the banner across the top, in vertical dialog units.
constexpr int kBannerDialogUnits = 40;
// The smallest window, in dialog units: at the usual fonts about 630 x 410
// pixels, which still fits a 1024 x 700 screen at 150 % with the window's
// frame and a panel.
constexpr int kMinimumWidthUnits = 340;
constexpr int kMinimumHeightUnits = 234;
constexpr char kGeometryKey[] = "window/geometry";

bool isSwallowedKey(int key) {
    return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape;
}
}  // namespace

WizardWindow::WizardWindow(QWidget* parent) : QWidget(parent) {
    setWindowTitle(appTitle());
    setWindowIcon(QIcon(appIconPixmap(256)));

    setMinimumSize(minimumWindowSize(font()));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    banner_ = new QLabel(this);
    banner_->setObjectName(QStringLiteral("banner"));
    banner_->setFixedHeight(dialogUnitsToPixels(font(), 0, kBannerDialogUnits).height());
    banner_->setMinimumWidth(1);
    banner_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    layout->addWidget(banner_);

    pages_ = new QStackedWidget(this);
    layout->addWidget(pages_, 1);

    // Enter and Escape are taken out before any widget of this window sees
    // them; boxes and file dialogs are windows of their own and keep them.
    qApp->installEventFilter(this);

    // The size the window had when last closed; otherwise the page size,
    // within the screen.
    if (!restoreGeometry(QSettings().value(QLatin1String(kGeometryKey)).toByteArray())) {
        QSize size = pageSize(font());
        if (const QScreen* s = screen()) size = size.boundedTo(s->availableGeometry().size() * 9 / 10);
        resize(size.expandedTo(minimumSize()));
    }
    paintBanner();
}

WizardWindow::~WizardWindow() {
    saveGeometry();
    qApp->removeEventFilter(this);
    // The first page goes first (children are deleted in creation order) and
    // deletes the page it opened, so the chain ends from its deepest page up.
}

QSize WizardWindow::dialogUnitsToPixels(const QFont& font, int horizontalUnits, int verticalUnits) {
    // Dialog base units: the average width of the Latin letters and the
    // line height of the font; a horizontal unit is a quarter of the one, a
    // vertical unit an eighth of the other.
    const QFontMetricsF metrics(font);
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const double baseX = metrics.horizontalAdvance(letters) / letters.size();
    const double baseY = metrics.height();
    return QSize(qRound(horizontalUnits * baseX / 4.0), qRound(verticalUnits * baseY / 8.0));
}

QSize WizardWindow::pageSize(const QFont& font) { return dialogUnitsToPixels(font, 513, 300); }

QSize WizardWindow::minimumWindowSize(const QFont& font) {
    return dialogUnitsToPixels(font, kMinimumWidthUnits, kMinimumHeightUnits);
}

void WizardWindow::saveGeometry() { QSettings().setValue(QLatin1String(kGeometryKey), QWidget::saveGeometry()); }

void WizardWindow::paintBanner() {
    const QSize size(width(), banner_->height());
    if (banner_->pixmap().deviceIndependentSize().toSize() == size) return;
    banner_->setPixmap(bannerPixmap(size, devicePixelRatioF(), font()));
}

void WizardWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    paintBanner();
}

void WizardWindow::addPage(WizardPage* page) {
    if (pages_->indexOf(page) < 0) pages_->addWidget(page);
}

void WizardWindow::showPage(WizardPage* page) {
    if (pages_->indexOf(page) < 0) pages_->addWidget(page);
    pages_->setCurrentWidget(page);
    page->show();
}

void WizardWindow::removePage(WizardPage* page) { pages_->removeWidget(page); }

WizardPage* WizardWindow::currentPage() const { return qobject_cast<WizardPage*>(pages_->currentWidget()); }

void WizardWindow::closeEvent(QCloseEvent* event) {
    if (closeConfirmed_) {
        event->accept();
        return;
    }
    if (!dialogs().ask(this, QStringLiteral("Do you want to Close Application ?"), appTitle())) {
        event->ignore();
        return;
    }
    closeConfirmed_ = true;
    saveGeometry();
    dialogs().openUrl(homepageUrl());
    event->accept();
    emit runEnded();
}

bool WizardWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease ||
        event->type() == QEvent::ShortcutOverride) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && widget->window() == this && isSwallowedKey(static_cast<QKeyEvent*>(event)->key()))
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace salvage::app
