#include "WizardHarness.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QRadioButton>

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
    // Check boxes and radio buttons answer clicks on their mark and text
    // only, which sit at their left edge.
    QPoint at = button->rect().center();
    if (qobject_cast<QCheckBox*>(button) || qobject_cast<QRadioButton*>(button))
        at = QPoint(qMin(8, button->width() / 2), button->height() / 2);
    QTest::mouseClick(button, Qt::LeftButton, {}, at);
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
