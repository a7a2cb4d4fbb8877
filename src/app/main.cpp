// salvage-gui: the recovery wizard. One instance per user; the image
// selection page is the first page of the one window, and the run ends when
// the user confirms closing it.
#include <QApplication>

#include "app/AppInfo.h"
#include "app/DialogService.h"
#include "app/EwfDialog.h"
#include "app/ImageSession.h"
#include "app/SingleInstance.h"
#include "app/WizardWindow.h"

int main(int argc, char** argv) {
    using namespace salvage::app;
    QApplication app(argc, argv);
    // The window's size and the volume page's splitters are kept in
    // ~/.config/<program>/<program>.conf.
    QApplication::setOrganizationName(QString::fromLatin1(kProgramName));
    QApplication::setApplicationName(QString::fromLatin1(kProgramName));
    QApplication::setApplicationVersion(QStringLiteral(SALVAGE_VERSION));
    QApplication::setDesktopFileName(QString::fromLatin1(kProgramName));

    SingleInstance instance;
    if (!instance.acquire()) {
        dialogs().message(nullptr, QStringLiteral("Another instance of application is already running"), appTitle(),
                          BoxIcon::Information);
        return 0;
    }

    int status = 0;
    {
        WizardWindow window;
        QObject::connect(&window, &WizardWindow::runEnded, &app, [] { QApplication::exit(0); });
        window.showPage(new EwfDialog(&window));
        window.show();
        status = app.exec();
    }
    releaseSectorSource();
    return status;
}
