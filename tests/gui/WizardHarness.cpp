#include "WizardHarness.h"

#include <QFileInfo>

#include "app/ImageSession.h"

namespace salvage::test {

QString fixture(const char* name) { return QStringLiteral(SALVAGE_FIXTURE_DIR "/") + QLatin1String(name); }
QString testdata(const char* name) { return QStringLiteral(SALVAGE_TESTDATA_DIR "/") + QLatin1String(name); }

Harness::Harness() {
    app::setDialogService(&dialogs);
    window = std::make_unique<app::WizardWindow>();
    window->showPage(new app::EwfDialog(window.get()));
    window->show();
}

Harness::~Harness() {
    window.reset();
    app::releaseSectorSource();
    app::setDialogService(nullptr);
}

bool Harness::click(const char* name) {
    auto* button = find<QAbstractButton>(name);
    if (!button || !button->isVisible() || !button->isEnabled()) return false;
    QTest::mouseClick(button, Qt::LeftButton);
    settle();
    return true;
}

void Harness::settle() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

bool Harness::openImage(const QString& path) {
    dialogs.queueFile(path);
    return click("browseButton") && click("nextButton");
}

}  // namespace salvage::test
