#include <gtest/gtest.h>

#include <thread>

#include "platform/FileTimes.h"
#include "platform/Poll.h"
#include "platform/Reporter.h"

using namespace salvage;

TEST(PauseGate, HoldsAJobUntilResumeAndStopDoesNotRelease) {
    Pollable job;
    PauseGate gate;
    job.pauseGate = &gate;
    gate.pause();
    std::atomic<int> polls{0};
    std::jthread worker([&] {
        while (!job.pollStop()) ++polls;
    });
    while (gate.holds() == 0) std::this_thread::yield();
    job.stopRequested = true;  // a stopped but paused job stays held
    EXPECT_EQ(polls.load(), 0);
    EXPECT_TRUE(gate.isPaused());
    gate.resume();
    worker.join();
    EXPECT_EQ(polls.load(), 0);
}

TEST(RecordingReporter, RecordsEverything) {
    RecordingReporter r;
    r.setStatus(u"a");
    r.setProgressRange(0, 10);
    r.setProgressPosition(4);
    r.message(u"m", u"c", MessageIcon::Information);
    EXPECT_TRUE(r.sawStatus(u"a"));
    EXPECT_TRUE(r.sawMessage(u"m"));
    EXPECT_EQ(r.rangeMax(), 10);
    EXPECT_EQ(r.position(), 4);
    EXPECT_FALSE(r.ask(u"q?", u""));
}

TEST(FileTimes, FileTimeRoundTripAndEpoch) {
    // 1970-01-01 as FILETIME
    EXPECT_EQ(fileTimeToUnixNanos(116444736000000000ULL), 0);
    EXPECT_EQ(unixNanosToFileTime(0), 116444736000000000ULL);
    UnixNanos t = 1700000000123456700LL;
    EXPECT_EQ(fileTimeToUnixNanos(unixNanosToFileTime(t)), t);
    LocalTime lt = toLocalTime(0);  // TZ=UTC in tests
    EXPECT_EQ(lt.year, 1970);
    EXPECT_EQ(lt.hour, 0);
}
