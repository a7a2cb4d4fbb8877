// Runs the wizard's test classes; with SALVAGE_SCREENSHOT_DIR set, takes a
// screenshot of every page instead (see screenshots.sh).
#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include "PageFlowTest.h"
#include "RawRecoveryTest.h"
#include "Screenshots.h"
#include "ShellTest.h"
#include "VolumePageTest.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // Window geometry and splitter positions go to a settings file of the
    // run's own, never the user's.
    QTemporaryDir settingsDir;
    QCoreApplication::setOrganizationName(QStringLiteral("salvage-tests"));
    QCoreApplication::setApplicationName(QStringLiteral("gui-wizard"));
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
    if (qEnvironmentVariableIsSet("SALVAGE_SCREENSHOT_DIR"))
        return salvage::test::takeScreenshots(qEnvironmentVariable("SALVAGE_SCREENSHOT_DIR"));
    int status = 0;
    {
        ShellTest shell;
        status |= QTest::qExec(&shell, argc, argv);
    }
    {
        PageFlowTest flow;
        status |= QTest::qExec(&flow, argc, argv);
    }
    {
        RawRecoveryTest raw;
        status |= QTest::qExec(&raw, argc, argv);
    }
    {
        VolumePageTest volume;
        status |= QTest::qExec(&volume, argc, argv);
    }
    return status;
}
