// The scan controller: dispatch by file-system name, one job at a time on
// its worker, Pause/Resume/Stop at the job's poll points, and the finishing
// steps. Coordination is by promises and the pause gate's hold count, never
// by sleeping.
#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "FakeParser.h"
#include "browse/ScanController.h"
#include "image/SectorSource.h"

using namespace salvage;
using salvage::test::FakeParser;

namespace {
constexpr char16_t kDone[] = u"Scanning processing done.Select save button to save the data.";

// Waits (yielding) until cond holds; fails the test after a generous bound.
template <class F>
bool eventually(F cond) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

struct Controller : ::testing::Test {
    RecordingReporter rep;
    BrowseTree tree;
    FileList list;
    ScanController c{rep, tree, list};
    MemorySource source{std::vector<std::uint8_t>(4096)};
    FakeParser* fake = nullptr;
    std::vector<ParserKind> made;
    std::atomic<int> finished{0};

    void SetUp() override {
        c.parserFactory = [this](ParserKind k) {
            made.push_back(k);
            auto p = std::make_unique<FakeParser>();
            RecordId docs = p->add(0, u"docs", true);
            p->add(docs, u"a.jpg", false, "a");
            p->add(docs, u"b.txt", false, "b");
            p->add(0, u"c.jpg", false, "c");
            fake = p.get();
            return p;
        };
        c.onJobFinished = [this](JobKind) { ++finished; };
    }
    VolumeRecord vol(const char16_t* fs) { return VolumeRecord{fs, u"1", u"8   MB", 0}; }
};
}  // namespace

TEST(Dispatch, NamesMatchTheirRowsIgnoringAsciiCase) {
    EXPECT_EQ(parserKindFor(u"NTFS"), ParserKind::Ntfs);
    EXPECT_EQ(parserKindFor(u"ntfs"), ParserKind::Ntfs);
    EXPECT_EQ(parserKindFor(u"FAT32"), ParserKind::Fat32);
    EXPECT_EQ(parserKindFor(u"FAT16"), ParserKind::Fat16);
    EXPECT_EQ(parserKindFor(u"fat"), ParserKind::Fat16);
    EXPECT_EQ(parserKindFor(u"EXTx"), ParserKind::Ext);
    EXPECT_EQ(parserKindFor(u"FAT64"), ParserKind::Fat64);
    EXPECT_EQ(parserKindFor(u"exfat"), ParserKind::Fat64);
    EXPECT_EQ(parserKindFor(u"hfs+"), ParserKind::Hfsp);
    EXPECT_EQ(parserKindFor(u"FAT12"), ParserKind::Fat12);
    EXPECT_FALSE(modeAvailable(ParserKind::Fat12, RecoveryMode::Deep));
    for (auto n : {u"Basic data partition", u"unknown", u"", u"ntfs "})
        EXPECT_FALSE(parserKindFor(n).has_value()) << toUtf8(n);
    EXPECT_TRUE(modeAvailable(ParserKind::Ntfs, RecoveryMode::Deep));
    EXPECT_TRUE(modeAvailable(ParserKind::Hfsp, RecoveryMode::Advanced));
    EXPECT_TRUE(modeAvailable(ParserKind::Fat32, RecoveryMode::Advanced));
    EXPECT_FALSE(modeAvailable(ParserKind::Fat16, RecoveryMode::Deep));
    EXPECT_FALSE(modeAvailable(ParserKind::Ext, RecoveryMode::Advanced));
}

TEST_F(Controller, UnknownFileSystemStartsNothing) {
    EXPECT_EQ(c.startParse(vol(u"unknown"), RecoveryMode::Standard, &source), StartOutcome::NotValidDrive);
    ASSERT_EQ(rep.messages().size(), 1u);
    EXPECT_EQ(rep.messages()[0].text, u"not a valid drive.");
    EXPECT_EQ(rep.messages()[0].caption, u"");
    EXPECT_EQ(rep.lastStatus(), u"Not a valid Drive .Go back");
    EXPECT_FALSE(c.busy());
    EXPECT_TRUE(made.empty());
    EXPECT_EQ(finished.load(), 0);

    EXPECT_EQ(c.startParse(vol(u"NTFS"), RecoveryMode::Standard, nullptr), StartOutcome::NoSource);
    EXPECT_TRUE(rep.sawStatus(u"ntfs partition selected...."));
    EXPECT_TRUE(rep.sawMessage(u"Please Restart the program to rebegin necessary initialisation..."));
    EXPECT_EQ(c.startParse(vol(u"extX"), RecoveryMode::Deep, &source), StartOutcome::ModeNotAvailable);
    EXPECT_FALSE(c.busy());
    EXPECT_TRUE(made.empty());
}

TEST_F(Controller, ParseRunsOnTheWorkerAndEndsWithTheFinishingSteps) {
    ASSERT_EQ(c.startParse(vol(u"FAT16"), RecoveryMode::Standard, &source), StartOutcome::Started);
    c.wait();
    EXPECT_FALSE(c.busy());
    EXPECT_EQ(finished.load(), 1);
    EXPECT_EQ(made, std::vector<ParserKind>{ParserKind::Fat16});
    EXPECT_EQ(fake->source, &source);
    EXPECT_EQ(fake->stepsDone.load(), 5);
    TreeItem docs = tree.children(tree.root())[0];
    EXPECT_EQ(tree.text(tree.firstChild(docs)), kPlaceholderText);
    EXPECT_TRUE(rep.sawMessage(kDone));
    EXPECT_EQ(rep.lastStatus(), kDone);

    ASSERT_EQ(c.startSearch(u"jpg"), StartOutcome::Started);
    c.wait();
    EXPECT_EQ(c.searchResults(), 2);
    EXPECT_EQ(list.size(), 2u);
    EXPECT_EQ(finished.load(), 2);

    c.stopAll();
    EXPECT_EQ(rep.lastStatus(), u"All thread Stopped");
    EXPECT_TRUE(fake->stopRequested.load());
}

TEST_F(Controller, PauseHoldsTheJobAndStopDoesNotReleaseIt) {
    std::promise<void> reached, go;
    auto goFuture = go.get_future().share();
    c.parserFactory = [&, base = c.parserFactory](ParserKind k) {
        auto p = base(k);
        static_cast<FakeParser*>(p.get())->onParseStep = [&, goFuture](int step) {
            if (step == 1) {
                reached.set_value();
                goFuture.wait();
            }
        };
        return p;
    };
    ASSERT_EQ(c.startParse(vol(u"ntfs"), RecoveryMode::Standard, &source), StartOutcome::Started);
    reached.get_future().wait();
    c.pause();
    go.set_value();
    // The job reaches its next poll and is held there.
    ASSERT_TRUE(eventually([&] { return c.pauseGate().holds() > 0; }));
    EXPECT_TRUE(rep.sawStatus(u"Pause button pressed"));
    EXPECT_EQ(fake->stepsDone.load(), 1);
    EXPECT_TRUE(c.busy());

    // One job at a time.
    EXPECT_EQ(c.startParse(vol(u"ntfs"), RecoveryMode::Standard, &source), StartOutcome::Busy);
    EXPECT_EQ(c.startSearch(u"x"), StartOutcome::Busy);
    EXPECT_FALSE(c.saveAllowed());
    EXPECT_TRUE(rep.sawMessage(u"Please wait for other process to complete"));

    c.stop();
    EXPECT_TRUE(rep.sawStatus(u"stop button pressed.Please wait for the process to be stopped."));
    EXPECT_TRUE(c.saveStopRequested.load());
    EXPECT_TRUE(c.busy());
    EXPECT_EQ(fake->stepsDone.load(), 1);
    EXPECT_FALSE(rep.sawMessage(kDone));

    c.resume();
    c.wait();
    EXPECT_TRUE(rep.sawStatus(u"Resume button pressed"));
    // Stopped at that poll: no further steps, but the finishing steps ran.
    EXPECT_EQ(fake->stepsDone.load(), 1);
    EXPECT_TRUE(rep.sawMessage(kDone));
    EXPECT_EQ(c.lastParseResult(), ParseResult::Done);
    EXPECT_TRUE(c.saveAllowed());

    // A Stop pressed during the parse does not cut a later search short.
    ASSERT_EQ(c.startSearch(u"jpg"), StartOutcome::Started);
    c.wait();
    EXPECT_EQ(c.searchResults(), 2);
}

TEST_F(Controller, RefusedVolumeAndHfsEndWithoutTheDoneMessage) {
    c.parserFactory = [&, base = c.parserFactory](ParserKind k) {
        auto p = base(k);
        static_cast<FakeParser*>(p.get())->parseResult = ParseResult::NotThisFormat;
        return p;
    };
    ASSERT_EQ(c.startParse(vol(u"fat32"), RecoveryMode::Advanced, &source), StartOutcome::Started);
    c.wait();
    EXPECT_EQ(c.lastParseResult(), ParseResult::NotThisFormat);
    EXPECT_FALSE(rep.sawMessage(kDone));
    EXPECT_FALSE(c.busy());
    EXPECT_EQ(finished.load(), 1);

    RecordingReporter rep2;
    BrowseTree t2;
    FileList l2;
    ScanController hfs{rep2, t2, l2};
    hfs.runOnCallerThread = true;
    hfs.parserFactory = [](ParserKind) { return std::make_unique<FakeParser>(); };
    ASSERT_EQ(hfs.startParse(vol(u"HFS+"), RecoveryMode::Deep, &source), StartOutcome::Started);
    EXPECT_FALSE(hfs.busy());
    EXPECT_TRUE(rep2.sawStatus(u"HFS+ partition selected...."));
    EXPECT_FALSE(rep2.sawMessage(kDone));
}
