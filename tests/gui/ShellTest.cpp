// The wizard's shell: window, keys, close box, Help menu, single instance,
// and the reporter and worker the pages run their jobs with.
#include "ShellTest.h"

#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QSettings>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <utime.h>

#include "WizardHarness.h"
#include "app/AppInfo.h"
#include "app/DriveParsingModes.h"
#include "app/EwfFileInfo.h"
#include "app/QtReporter.h"
#include "app/SingleInstance.h"
#include "app/WorkerJob.h"

using namespace salvage;
using namespace salvage::app;
using namespace salvage::test;

void ShellTest::windowSizeGeometryAndTitle() {
    QSettings().remove(QStringLiteral("window"));
    QSize resized;
    {
        Harness h;
        const QSize size = WizardWindow::pageSize(h.window->font());
        // 513 x 300 dialog units: wider than high, in proportion to the font.
        QVERIFY(size.width() > size.height());
        // Opens at that size unless the screen is smaller; resizable.
        QVERIFY(h.window->width() <= size.width() && h.window->height() <= size.height());
        QVERIFY(h.window->maximumSize().width() > size.width());
        // The smallest window fits a 1024 x 700 screen at 150 %, with room
        // for the frame and a panel, and the first page fits in it.
        const QSize least = h.window->minimumSize();
        QVERIFY2(least.width() * 3 / 2 <= 1024 && least.height() * 3 / 2 <= 700 - 60,
                 qPrintable(QStringLiteral("%1x%2").arg(least.width()).arg(least.height())));
        const QSize needed = h.window->layout()->totalMinimumSize();
        QVERIFY2(needed.width() <= least.width() && needed.height() <= least.height(),
                 qPrintable(QStringLiteral("%1x%2").arg(needed.width()).arg(needed.height())));
        auto* banner = h.window->findChild<QLabel*>("banner");
        QVERIFY(banner->isVisible());
        QCOMPARE(h.window->windowTitle(), appTitle());
        // The banner follows the window's width.
        resized = least + QSize(37, 23);
        h.window->resize(resized);
        Harness::settle();
        QCOMPARE(banner->pixmap().deviceIndependentSize().toSize().width(), resized.width());
    }
    // The next run opens at the size the last one had.
    Harness again;
    QCOMPARE(again.window->size(), resized);
}

void ShellTest::enterAndEscapeDoNothing() {
    const QString image = fixture("mbr_disk.img");
    REQUIRE_FILE(image);
    Harness h;
    QVERIFY(h.openImage(image));
    QVERIFY(h.click("parseButton"));
    auto* page = h.pageAs<DriveParsingModes>();
    QVERIFY(page);
    h.dialogs.clear();
    // Escape would go back, Enter on the focused Next would go on.
    auto* next = h.find<QPushButton>("nextButton");
    next->setFocus();
    for (int key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
        QTest::keyClick(next, Qt::Key(key));
        QTest::keyClick(h.window.get(), Qt::Key(key));
        Harness::settle();
    }
    QCOMPARE(h.pageAs<DriveParsingModes>(), page);
    QVERIFY(h.dialogs.texts().isEmpty());
    // Other keys still reach the page.
    auto* start = h.find<QLineEdit>("startingSector");
    QVERIFY(h.click("advanceScan"));
    QVERIFY(h.click("customSetting"));
    start->clear();
    QTest::keyClicks(start, "123");
    QCOMPARE(start->text(), QStringLiteral("123"));
    // A line edit never sees Enter (it would report returnPressed).
    QSignalSpy returned(start, &QLineEdit::returnPressed);
    QTest::keyClick(start, Qt::Key_Return);
    QTest::keyClick(start, Qt::Key_Enter);
    QCOMPARE(returned.count(), 0);
}

void ShellTest::closeBoxAsksFirst() {
    Harness h;
    QSignalSpy ended(h.window.get(), &WizardWindow::runEnded);
    h.dialogs.queueAnswer(false);
    h.window->close();
    QVERIFY(h.window->isVisible());
    QCOMPARE(h.dialogs.shown().back().text, QStringLiteral("Do you want to Close Application ?"));
    QCOMPARE(h.dialogs.shown().back().caption, appTitle());
    QCOMPARE(ended.count(), 0);

    h.dialogs.queueAnswer(true);
    h.window->close();
    QVERIFY(!h.window->isVisible());
    QCOMPARE(ended.count(), 1);
    QCOMPARE(h.dialogs.urls().back(), homepageUrl());
}

void ShellTest::helpMenu() {
    Harness h;
    auto* help = h.find<QPushButton>("helpButton");
    QVERIFY(help && help->menu());
    const auto actions = help->menu()->actions();
    QCOMPARE(actions.size(), 3);
    QCOMPARE(actions[0]->text(), QStringLiteral("Help"));
    QCOMPARE(actions[1]->text(), QStringLiteral("About"));
    QCOMPARE(actions[2]->text(), QStringLiteral("Software Homepage"));
    actions[0]->trigger();
    QCOMPARE(h.dialogs.urls().size(), std::size_t(1));
    QVERIFY(h.dialogs.urls()[0].toLocalFile().endsWith(QStringLiteral("docs/MANUAL.md")));
    QVERIFY(QFileInfo::exists(h.dialogs.urls()[0].toLocalFile()));
    actions[1]->trigger();
    QCOMPARE(h.dialogs.texts(), QStringList{QStringLiteral("<about>")});
    actions[2]->trigger();
    QCOMPARE(h.dialogs.urls().back(), homepageUrl());
}

void ShellTest::secondInstanceIsRefused() {
    QTemporaryDir dir;
    const QString lock = dir.filePath("instance.lock");
    {
        SingleInstance first(lock);
        QVERIFY(first.acquire());
        SingleInstance second(lock);
        QVERIFY(!second.acquire());
        // However old the lock of a live instance is, it is not taken over.
        struct utimbuf old{1000000000, 1000000000};
        QCOMPARE(::utime(QFile::encodeName(lock).constData(), &old), 0);
        SingleInstance third(lock);
        QVERIFY(!third.acquire());
    }
    // Once the first instance has ended, the next one starts.
    SingleInstance next(lock);
    QVERIFY(next.acquire());
}

void ShellTest::reporterQueuesToTheGuiThread() {
    FakeDialogs fake;
    setDialogService(&fake);
    QtReporter reporter;
    QSignalSpy status(&reporter, &QtReporter::statusChanged);
    QSignalSpy position(&reporter, &QtReporter::progressPositionChanged);
    fake.queueAnswer(true);
    WorkerJob job(&reporter);
    std::atomic<bool> answer{false};
    QSignalSpy finished(&job, &WorkerJob::finished);
    QVERIFY(job.start([&] {
        reporter.setStatus(u"working");
        reporter.setProgressPosition(500);
        reporter.message(u"note", u"", MessageIcon::Information);
        answer = reporter.ask(u"go on?", u"caption");
    }));
    QVERIFY(!job.start([] {}));  // one job at a time
    QVERIFY(finished.wait(5000));
    QVERIFY(answer.load());
    QCOMPARE(status.count(), 1);
    QCOMPARE(status[0][0].toString(), QStringLiteral("working"));
    QCOMPARE(position[0][0].toLongLong(), 500);
    QCOMPARE(fake.texts(), (QStringList{"note", "go on?"}));
    QVERIFY(!job.isRunning());
    setDialogService(nullptr);
}

void ShellTest::workerQuestionWhileTheGuiWaits() {
    FakeDialogs fake;
    setDialogService(&fake);
    QtReporter reporter;
    std::atomic<int> answer{-1};
    std::atomic<bool> asking{false};
    {
        WorkerJob job(&reporter);
        fake.queueAnswer(true);
        QVERIFY(job.start([&] {
            asking = true;
            answer = reporter.ask(u"still there?", u"") ? 1 : 0;
        }));
        while (!asking.load()) QThread::yieldCurrentThread();
        // The GUI thread waits for the job without running its events: the
        // question must be answered No rather than hang.
        job.stopAndWait();
    }
    QCOMPARE(answer.load(), 0);
    // The box queued for the question is dropped, not shown late.
    QCoreApplication::processEvents();
    QVERIFY(fake.texts().isEmpty());
    setDialogService(nullptr);
}
