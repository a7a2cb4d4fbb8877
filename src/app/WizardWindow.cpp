#include "app/WizardWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QVBoxLayout>

#include "app/AppInfo.h"
#include "app/Artwork.h"
#include "app/DialogService.h"
#include "app/WizardPage.h"

namespace salvage::app {

namespace {
// Height of the banner across the top, in vertical dialog units.
constexpr int kBannerDialogUnits = 40;

bool isSwallowedKey(int key) {
    return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape;
}
}  // namespace

WizardWindow::WizardWindow(QWidget* parent) : QWidget(parent) {
    setWindowTitle(appTitle());
    setWindowIcon(QIcon(appIconPixmap(256)));

    const QSize size = pageSize(font());
    setFixedSize(size);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    const int bannerHeight = dialogUnitsToPixels(font(), 0, kBannerDialogUnits).height();
    banner_ = new QLabel(this);
    banner_->setObjectName(QStringLiteral("banner"));
    banner_->setFixedSize(size.width(), bannerHeight);
    banner_->setPixmap(bannerPixmap(QSize(size.width(), bannerHeight), devicePixelRatioF(), font()));
    layout->addWidget(banner_);

    pages_ = new QStackedWidget(this);
    layout->addWidget(pages_, 1);

    // Enter and Escape are taken out before any widget of this window sees
    // them; boxes and file dialogs are windows of their own and keep them.
    qApp->installEventFilter(this);
}

WizardWindow::~WizardWindow() {
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
    QString question = QStringLiteral("Do you want to Close Application ?");
    if (const WizardPage* page = currentPage(); page && !page->runningJobNote().isEmpty())
        question = page->runningJobNote() + QStringLiteral("\n\n") + question;
    if (!dialogs().ask(this, question, appTitle())) {
        event->ignore();
        return;
    }
    closeConfirmed_ = true;
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
