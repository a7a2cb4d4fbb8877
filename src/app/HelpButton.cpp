#include "app/HelpButton.h"

#include <QMenu>

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
    if (path.isEmpty()) {
        dialogs().message(parent, QStringLiteral("The user manual was not found."), appTitle(),
                          BoxIcon::Information);
        return;
    }
    dialogs().openUrl(QUrl::fromLocalFile(path));
}

}  // namespace salvage::app
