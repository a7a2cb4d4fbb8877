// Name search rules over a hand-made parser.
#include <gtest/gtest.h>

#include <algorithm>

#include <chrono>

#include "FakeParser.h"
#include "browse/FolderOpen.h"
#include "browse/NameSearch.h"

using namespace salvage;
using salvage::test::FakeParser;

namespace {
struct Search : ::testing::Test {
    FakeParser p;
    BrowseTree tree;
    FileList list;
    RecordingReporter rep;
    RecordId photos = 0, music = 0;
    void SetUp() override {
        photos = p.add(0, u" photos ", true);
        p.add(photos, u"a.jpg", false, "a");
        p.add(photos, u"B.PNG", false, "b");
        RecordId old = p.add(photos, u"old", true);
        p.add(old, u"backup.jpg.old", false, "c");
        p.add(photos, u"notes.txt", false, "d");
        RecordId dot = p.add(photos, u".", true);
        p.recs[dot].children.push_back(photos);
        music = p.add(0, u"music", true);
        p.add(music, u"song.mp3", false, "e");
        p.add(music, u"cover.jpg", false, "f");
        p.add(0, u"jpg-empty-folder", true);
        p.add(0, u"top.jpg", false, "g");
    }
    void build() {
        p.attach(nullptr, &tree, &rep, {});
        p.parse(RecoveryMode::Standard);
        addFirstLevelPlaceholders(tree, p);
    }
    std::vector<std::u16string> paths() {
        std::vector<std::u16string> out;
        for (const auto& r : list.rows()) out.push_back(r.name);
        return out;
    }
};
}  // namespace

TEST_F(Search, AlternativesMatchInsideNamesIgnoringCase) {
    build();
    NameSearch s(p, tree, list, rep);
    ASSERT_EQ(s.run(u"jpg|png"), NameSearch::Outcome::Finished);
    const std::vector<std::u16string> want{u"ROOT\\photos\\a.jpg", u"ROOT\\photos\\B.PNG",
                                           u"ROOT\\photos\\old\\backup.jpg.old", u"ROOT\\music\\cover.jpg",
                                           u"ROOT\\jpg-empty-folder", u"ROOT\\top.jpg"};
    EXPECT_EQ(paths(), want);
    EXPECT_TRUE(list.showsSearchResults());
    auto row = list.row(0);
    ASSERT_TRUE(row && row->record);
    EXPECT_EQ(row->item, kNoItem);
    EXPECT_EQ(row->size, u"1 Bytes");
    EXPECT_TRUE(rep.sawStatus(u"searched file 6"));
    EXPECT_TRUE(rep.sawMessage(u"Searching Finished"));
    EXPECT_EQ(rep.lastStatus(), u"Searching Finished");
}

TEST_F(Search, AnchoredPatternAndRefusedPattern) {
    build();
    NameSearch s(p, tree, list, rep);
    s.run(u".*\\.jpg$");
    EXPECT_EQ(paths(), (std::vector<std::u16string>{u"ROOT\\photos\\a.jpg", u"ROOT\\music\\cover.jpg",
                                                    u"ROOT\\top.jpg"}));
    RecordingReporter rep2;
    NameSearch bad(p, tree, list, rep2);
    EXPECT_EQ(bad.run(u"*.jpg"), NameSearch::Outcome::BadPattern);
    EXPECT_TRUE(rep2.sawMessage(u"such characters are not allowed for search.Try again with different pattern."));
    EXPECT_FALSE(rep2.sawMessage(u"Searching Finished"));
    EXPECT_EQ(list.size(), 0u);
}

TEST_F(Search, FoldersMatchOnlyWhereTheParserSaysSo) {
    p.add(photos, u"photo-archive", true);
    build();
    NameSearch s(p, tree, list, rep);
    s.run(u"photo");
    EXPECT_TRUE(paths().empty());
    p.foldersMatch = true;
    s.run(u"photo");
    EXPECT_EQ(paths(), std::vector<std::u16string>{u"ROOT\\photos\\photo-archive"});
}

TEST_F(Search, EmptyPatternListsNothing) {
    build();
    NameSearch s(p, tree, list, rep);
    EXPECT_EQ(s.run(u""), NameSearch::Outcome::Finished);
    EXPECT_EQ(list.size(), 0u);
    EXPECT_TRUE(rep.sawMessage(u"Searching Finished"));
}

TEST_F(Search, StopEndsTheCurrentTopLevelFolderOnly) {
    build();
    // A Stop left over from the parse does not touch the search.
    p.stopRequested = true;
    NameSearch s(p, tree, list, rep);
    p.onName = [&](RecordId id) {
        if (p.recs[id].name == u"B.PNG") p.stopRequested = true;
    };
    s.run(u"jpg|png|mp3");
    EXPECT_EQ(paths(), (std::vector<std::u16string>{u"ROOT\\photos\\a.jpg", u"ROOT\\photos\\B.PNG",
                                                    u"ROOT\\music\\song.mp3", u"ROOT\\music\\cover.jpg",
                                                    u"ROOT\\jpg-empty-folder", u"ROOT\\top.jpg"}));
    EXPECT_FALSE(p.stopRequested.load());
    EXPECT_TRUE(rep.sawMessage(u"Searching Finished"));

    // The whole-search abort ends every folder.
    std::atomic<bool> abort{true};
    p.onName = nullptr;
    s.abortAll = &abort;
    s.run(u"jpg");
    EXPECT_EQ(list.size(), 0u);
}

TEST_F(Search, NestedQuantifiersDoNotHangAndBackReferencesAreRefused) {
    // "(a+)+b" against a long run of a's without a b takes a backtracking
    // matcher about 2^60 steps; the search must answer at once.
    p.add(music, std::u16string(60, u'a') + u".mp3", false, "h");
    p.add(music, u"aab.mp3", false, "i");
    p.add(music, u"abab.txt", false, "j");
    build();
    NameSearch s(p, tree, list, rep);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(s.run(u"(a+)+b"), NameSearch::Outcome::Finished);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(paths(), (std::vector<std::u16string>{u"ROOT\\music\\aab.mp3", u"ROOT\\music\\abab.txt"}));

    // A back-reference needs the backtracking matcher, where "(a+)+\1b"
    // never ends on the long name: such a pattern is refused at once,
    // with the message of any pattern that does not compile.
    for (const char16_t* backRef : {u"^(ab)\\1", u"(a+)+\\1b"}) {
        RecordingReporter r;
        NameSearch back(p, tree, list, r);
        const auto began = std::chrono::steady_clock::now();
        EXPECT_EQ(back.run(backRef), NameSearch::Outcome::BadPattern) << toUtf8(backRef);
        EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(5));
        EXPECT_TRUE(r.sawMessage(u"such characters are not allowed for search.Try again with different pattern."));
        EXPECT_FALSE(r.sawMessage(u"Searching Finished"));
    }
}

TEST_F(Search, HugeRepeatCountsAndReferenceNumbersAreRefused) {
    // The library would overflow reading these numbers; a long literal
    // number is still an ordinary pattern.
    p.add(music, u"track 12345678901234.mp3", false, "k");
    build();
    for (const char16_t* bad : {u"a{3333333333333333333}", u"a{1,99999999999}", u"(a)\\11111111111"}) {
        RecordingReporter r;
        NameSearch s(p, tree, list, r);
        EXPECT_EQ(s.run(bad), NameSearch::Outcome::BadPattern) << toUtf8(bad);
    }
    NameSearch ok(p, tree, list, rep);
    ASSERT_EQ(ok.run(u"12345678901234|a{2,3}"), NameSearch::Outcome::Finished);
    EXPECT_EQ(paths(), (std::vector<std::u16string>{u"ROOT\\music\\track 12345678901234.mp3"}));
}

TEST_F(Search, RepeatsThatMultiplyAreRefusedBeforeTheyCompile) {
    // Nested repeats make the library's compiler copy states for seconds
    // before any name is searched; such patterns are refused at once. Long
    // but plain patterns still search.
    p.add(music, u"track_01.mp3", false, "l");
    build();
    for (const char16_t* heavy : {u"(a{99}){99}", u"((ab){40}c){40}", u"a{5000}", u"(x{0,200}y?){0,30}",
                                  u"}}  {0}}}}t}}}m{0}}}}}a}}}{0}{24444}}}}{0}"}) {
        RecordingReporter r;
        NameSearch s(p, tree, list, r);
        const auto began = std::chrono::steady_clock::now();
        EXPECT_EQ(s.run(heavy), NameSearch::Outcome::BadPattern) << toUtf8(heavy);
        EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(2)) << toUtf8(heavy);
    }
    NameSearch ok(p, tree, list, rep);
    ASSERT_EQ(ok.run(u"^[a-z0-9_]{1,64}\\.(jpg|png|mp3)$|^(?:[^.]+\\.){1,3}txt$"), NameSearch::Outcome::Finished);
    const auto found = paths();
    EXPECT_NE(std::find(found.begin(), found.end(), u"ROOT\\music\\track_01.mp3"), found.end());
    EXPECT_NE(std::find(found.begin(), found.end(), u"ROOT\\photos\\notes.txt"), found.end());
}
