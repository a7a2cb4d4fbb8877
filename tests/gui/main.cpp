// Runs the wizard's test classes; with SALVAGE_SCREENSHOT_DIR set, takes a
// screenshot of every page instead (see screenshots.sh).
#include <QApplication>
#include <QTest>

#include "PageFlowTest.h"
#include "RawRecoveryTest.h"
#include "Screenshots.h"
#include "ShellTest.h"
#include "VolumePageTest.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
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
