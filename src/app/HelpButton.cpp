#include "app/HelpButton.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QPointer>
#include <QScreen>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "app/AppInfo.h"
#include "app/DialogService.h"

namespace salvage::app {

HelpButton::HelpButton(QWidget* parent) : QPushButton(QStringLiteral("Help"), parent) {
    setObjectName(QStringLiteral("helpButton"));
    auto* menu = new QMenu(this);
    menu->addAction(QStringLiteral("Help"), this, [this] { openManual(this); });
    menu->addAction(QStringLiteral("About"), this, [this] { dialogs().about(window()); });
    menu->addAction(QStringLiteral("Software Homepage"), this, [] { dialogs().openUrl(homepageUrl()); });
    setMenu(menu);
}

void HelpButton::openManual(QWidget* parent) {
    const QString path = manualPath();
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        dialogs().message(parent, QStringLiteral("The user manual was not found."), appTitle(),
                          BoxIcon::Information);
        return;
    }
    // One manual window for the whole run, kept while the wizard changes
    // pages; it belongs to no page, so going Back does not close it.
    static QPointer<QDialog> window;
    if (!window) {
        window = new QDialog(nullptr, Qt::Window);
        window->setObjectName(QStringLiteral("manualWindow"));
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->setWindowTitle(QStringLiteral("%1 - Help").arg(appTitle()));
        auto* browser = new QTextBrowser(window);
        browser->setObjectName(QStringLiteral("manualText"));
        browser->setOpenExternalLinks(true);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, window);
        QObject::connect(buttons, &QDialogButtonBox::rejected, window, &QDialog::close);
        auto* layout = new QVBoxLayout(window);
        layout->addWidget(browser, 1);
        layout->addWidget(buttons);
        // A page-sized window that fits the screen it opens on.
        QSize size(browser->fontMetrics().averageCharWidth() * 100, browser->fontMetrics().height() * 40);
        if (const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
            size = size.boundedTo(screen->availableGeometry().size() * 9 / 10);
        window->resize(size);
    }
    auto* browser = window->findChild<QTextBrowser*>(QStringLiteral("manualText"));
    // Pictures named in the manual are found beside it.
    browser->setSearchPaths({QFileInfo(path).absolutePath()});
    browser->setMarkdown(QString::fromUtf8(file.readAll()));
    window->show();
    window->raise();
    window->activateWindow();
}

}  // namespace salvage::app
