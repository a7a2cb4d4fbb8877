// Runs the wizard's test classes; with SALVAGE_SCREENSHOT_DIR set, takes a
// screenshot of every page instead (see screenshots.sh).
#include <QApplication>
#include <QTest>

#include "PageFlowTest.h"
#include "Screenshots.h"
#include "ShellTest.h"

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
    return status;
}
