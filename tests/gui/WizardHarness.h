#pragma once
// Builds the wizard window with its first page, as the program does, and
// finds pages and widgets by name the way a user finds them on screen.
#include <QAbstractButton>
#include <QCoreApplication>
#include <QTest>
#include <memory>

#include "FakeDialogs.h"
#include "app/EwfDialog.h"
#include "app/WizardWindow.h"

namespace salvage::test {

QString fixture(const char* name);
QString testdata(const char* name);
// Skips the calling test (loudly) when a fixture is missing.
#define REQUIRE_FILE(path)                                                               \
    do {                                                                                 \
        if (!QFileInfo::exists(path)) QSKIP(qPrintable(QStringLiteral("missing ") + path)); \
    } while (0)

struct Harness {
    FakeDialogs dialogs;
    std::unique_ptr<app::WizardWindow> window;

    Harness();
    ~Harness();

    app::WizardPage* page() const { return window->currentPage(); }
    template <class P>
    P* pageAs() const {
        return qobject_cast<P*>(window->currentPage());
    }
    template <class W = QWidget>
    W* find(const char* name) const {
        return page() ? page()->findChild<W*>(QLatin1String(name)) : nullptr;
    }
    // Clicks a visible, enabled button of the current page with the mouse.
    bool click(const char* name);
    // Lets deferred deletes and queued calls run.
    static void settle();

    // The first page's "..." answered with `path`, then "Next".
    bool openImage(const QString& path);
};

}  // namespace salvage::test
