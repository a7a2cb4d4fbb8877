// The folder save and the single-file save over a hand-made parser: order,
// counting, the names that must stay inside the output folder, duplicates,
// loops, and the report.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "FakeParser.h"
#include "TestPaths.h"
#include "browse/FolderSave.h"
#include "browse/SaveReport.h"

using namespace salvage;
using salvage::test::FakeParser;
namespace fs = std::filesystem;

namespace {
std::string slurp(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
}
std::vector<std::string> filesUnder(const fs::path& dir) {
    std::vector<std::string> out;
    for (auto& e : fs::recursive_directory_iterator(dir))
        out.push_back(e.path().lexically_relative(dir).generic_string() + (e.is_directory() ? "/" : ""));
    std::sort(out.begin(), out.end());
    return out;
}
}  // namespace

TEST(FolderSave, WritesTheSubtreeInChainOrderAndCounts) {
    FakeParser p;
    RecordId top = p.add(0, u"top", true);
    RecordId a = p.add(top, u"a", true);
    p.add(a, u"one.txt", false, "1");
    p.add(top, u"b", true);
    p.add(top, u"two.txt", false, "22");
    p.add(a, u"three.txt", false, "333");
    p.add(top, u"$BadClus", false, "bad");
    // A folder really named "." (not the link to itself) is saved under a
    // safe name, not skipped.
    RecordId dot = p.add(top, u".", true);
    p.add(dot, u"inside-dot.txt", false, "kept");

    RecordingReporter rep;
    FolderSave save(p, rep);
    std::vector<std::u16string> sizes;
    save.sizeLine = [&](const std::u16string& s) { sizes.push_back(s); };
    fs::path out = salvage::test::scratchDir("folder_save_order");
    ASSERT_TRUE(save.saveFolder(top, out, u"ROOT\\top"));

    EXPECT_EQ(filesUnder(out),
              (std::vector<std::string>{"_/", "_/inside-dot.txt", "a/", "a/one.txt", "a/three.txt", "b/", "two.txt"}));
    EXPECT_EQ(slurp(out / "a/three.txt"), "333");
    EXPECT_EQ(countFilesUnder(p, top), 5);  // $BadClus counts
    EXPECT_EQ(save.fileCounter(), 5);
    EXPECT_EQ(rep.rangeMax(), 5);
    EXPECT_EQ(rep.position(), 5);
    ASSERT_EQ(save.saved().size(), 5u);
    EXPECT_EQ(save.saved()[0].volumePath, u"ROOT\\top\\a\\one.txt");
    EXPECT_EQ(save.saved()[1].volumePath, u"ROOT\\top\\a\\three.txt");
    EXPECT_EQ(save.saved()[2].volumePath, u"ROOT\\top\\two.txt");
    EXPECT_TRUE(save.saved()[3].skipped);
    EXPECT_EQ(save.failures(), 0u);
    EXPECT_TRUE(rep.sawStatus(u"saving File  " + pathToUtf16(out) + u"/two.txt"));
    EXPECT_TRUE(rep.sawMessage(u"work done"));
    EXPECT_EQ(sizes.front(), u"File size: 0 kb");
    EXPECT_EQ(sizes.back(), u"");
    // No staging folder is left behind.
    EXPECT_FALSE(fs::exists(out / ".salvage-staging"));

    // Saving again replaces the files of the first save.
    std::ofstream(out / "two.txt") << "changed by hand";
    FolderSave again(p, rep);
    ASSERT_TRUE(again.saveFolder(top, out, u"ROOT\\top"));
    EXPECT_EQ(slurp(out / "two.txt"), "22");
    EXPECT_FALSE(fs::exists(out / "two (2).txt"));
}

TEST(FolderSave, SameNamesInOneFolderAreNumberedNotOverwritten) {
    FakeParser p;
    RecordId top = p.add(0, u"top", true);
    p.add(top, u"photo.jpg", false, "old", true);
    p.add(top, u"photo.jpg", false, "new");
    p.add(top, u"photo.jpg", false, "newest");
    p.add(top, u"README", false, "r1");
    p.add(top, u"README", false, "r2");
    RecordId d1 = p.add(top, u"docs", true);
    p.add(d1, u"x.txt", false, "first docs");
    RecordId d2 = p.add(top, u"docs", true, "", true);
    p.add(d2, u"x.txt", false, "second docs");
    p.add(top, u"docs", false, "a file named like the folder");

    RecordingReporter rep;
    FolderSave save(p, rep);
    fs::path out = salvage::test::scratchDir("folder_save_dupes");
    ASSERT_TRUE(save.saveFolder(top, out, u"ROOT\\top"));
    EXPECT_EQ(slurp(out / "photo.jpg"), "old");
    EXPECT_EQ(slurp(out / "photo (2).jpg"), "new");
    EXPECT_EQ(slurp(out / "photo (3).jpg"), "newest");
    EXPECT_EQ(slurp(out / "README (2)"), "r2");
    // Folders of one name share their host folder; their files stay apart.
    EXPECT_EQ(slurp(out / "docs/x.txt"), "first docs");
    EXPECT_EQ(slurp(out / "docs/x (2).txt"), "second docs");
    EXPECT_EQ(slurp(out / "docs (2)"), "a file named like the folder");
    EXPECT_EQ(save.failures(), 0u);
}

TEST(FolderSave, HostileNamesAndLoopsStayInsideTheOutputFolder) {
    FakeParser p;
    RecordId top = p.add(0, u"top", true);
    p.add(top, u"../../escape.txt", false, "e");
    p.add(top, u"..", false, "dotdot");
    RecordId evil = p.add(top, u"../up", true);
    p.add(evil, u"/etc/passwd", false, "pw");
    RecordId parentLink = p.add(top, u"..", true);
    p.recs[parentLink].children.push_back(top);  // ".." leads back up
    RecordId staging = p.add(top, u".salvage-staging", true);  // the name of the save's own work folder
    p.add(staging, u"kept.txt", false, "k");
    RecordId loop = p.add(top, u"loop", true);
    p.recs[loop].children.push_back(loop);       // a folder inside itself
    p.add(loop, u"once.txt", false, "o");
    // A chain deeper than any real volume.
    RecordId deep = top;
    for (int i = 0; i < kMaxFolderDepth + 50; ++i) deep = p.add(deep, u"d", true);
    p.add(deep, u"bottom.txt", false, "b");

    RecordingReporter rep;
    FolderSave save(p, rep);
    fs::path base = salvage::test::scratchDir("folder_save_hostile");
    fs::path out = base / "out";
    ASSERT_TRUE(save.saveFolder(top, out, u"ROOT"));
    for (auto& e : fs::recursive_directory_iterator(base)) {
        const fs::path rel = e.path().lexically_relative(out);
        EXPECT_NE(*rel.begin(), "..") << e.path();
    }
    EXPECT_EQ(slurp(out / ".._.._escape.txt"), "e");
    EXPECT_EQ(slurp(out / "_"), "dotdot");
    EXPECT_EQ(slurp(out / ".._up/_etc_passwd"), "pw");
    EXPECT_EQ(slurp(out / "loop/once.txt"), "o");
    EXPECT_EQ(slurp(out / ".salvage-staging/kept.txt"), "k");
    EXPECT_LT(save.fileCounter(), 10);
    // The deep chain's file lies past the bound: not written, but reported.
    EXPECT_EQ(save.saved().back().status, SaveStatus::Skipped);
    EXPECT_NE(save.saved().back().reason.find("deeper"), std::string::npos);
    EXPECT_EQ(save.saved().back().volumePath.substr(save.saved().back().volumePath.size() - 10), u"bottom.txt");
}

TEST(FolderSave, LinksInTheOutputFolderAreNeverFollowed) {
    FakeParser p;
    RecordId top = p.add(0, u"top", true);
    RecordId docs = p.add(top, u"docs", true);
    p.add(docs, u"a.txt", false, "A");
    RecordId one = p.add(0, u"one.txt", false, "1");
    const fs::path base = salvage::test::scratchDir("folder_save_links");
    const fs::path out = base / "out", elsewhere = base / "elsewhere";
    fs::create_directories(out);
    fs::create_directories(elsewhere);
    fs::create_directory_symlink(elsewhere, out / "docs");
    fs::create_symlink(base / "target.txt", out / "one.txt");
    fs::create_symlink(base / "x.csv", out / "salvage_report.csv");

    RecordingReporter rep;
    FolderSave save(p, rep);
    ASSERT_TRUE(save.saveFolder(top, out, u"ROOT\\top"));
    ASSERT_TRUE(save.saveSingle(one, out, u"ROOT\\one.txt"));
    const auto report = writeSaveReportCsv(out / "salvage_report.csv", out, save.saved());
    ASSERT_TRUE(report);

    EXPECT_TRUE(fs::is_empty(elsewhere));
    EXPECT_FALSE(fs::exists(base / "target.txt"));
    EXPECT_FALSE(fs::exists(base / "x.csv"));
    EXPECT_TRUE(fs::is_symlink(out / "docs"));
    EXPECT_EQ(slurp(out / "docs (2)/a.txt"), "A");
    EXPECT_EQ(slurp(out / "one (2).txt"), "1");
    EXPECT_EQ(report->filename(), "salvage_report (2).csv");
    EXPECT_EQ(save.counts().ok, 2u);
}

TEST(FolderSave, StatusesSayWhatBecameOfEachFile) {
    FakeParser p;
    RecordId top = p.add(0, u"top", true);
    p.add(top, u"good.txt", false, "good");
    RecordId bad = p.add(top, u"bad.bin", false, std::string(100, 'b'));
    p.recs[bad].badOffset = 10;
    p.recs[bad].badLength = 20;
    p.add(top, u"big.bin", false, std::string(20000, 'g'));
    p.add(top, u"=SUM(A1)+1", false, "formula");
    p.add(top, u"", false, "no name");
    p.add(top, u".", false, "dot");
    const std::u16string longName = std::u16string(300, u'\u00e9') + u".txt";  // 602 bytes in UTF-8
    p.add(top, longName, false, "long 1");
    p.add(top, longName, false, "long 2");
    const fs::path out = salvage::test::scratchDir("folder_save_status");

    RecordingReporter rep;
    FolderSave save(p, rep);
    {
        // A host file may not grow past 8 KiB: the big file cannot be written.
        test::FileSizeLimit limit(8192);
        ASSERT_TRUE(save.saveFolder(top, out, u"ROOT\\top"));
    }
    std::map<std::u16string, SavedFile> rows;
    for (const auto& s : save.saved()) rows[s.volumePath] = s;
    EXPECT_EQ(rows[u"ROOT\\top\\good.txt"].status, SaveStatus::Ok);

    const SavedFile& d = rows[u"ROOT\\top\\bad.bin"];
    EXPECT_EQ(d.status, SaveStatus::Damaged);
    ASSERT_EQ(d.damaged.size(), 1u);
    EXPECT_EQ(d.damaged[0].fileOffset, 10u);
    EXPECT_EQ(d.damaged[0].length, 20u);
    EXPECT_EQ(d.damaged[0].imageOffset, 10u);
    EXPECT_EQ(d.badBytes, 20u);
    EXPECT_EQ(slurp(d.written), std::string(10, 'b') + std::string(20, '\0') + std::string(70, 'b'));
    // The runs let every byte be found again: they cover the whole file.
    std::uint64_t covered = 0;
    for (const ByteRun& r : d.runs) covered += r.length;
    EXPECT_EQ(covered, 100u);

    const SavedFile& big = rows[u"ROOT\\top\\big.bin"];
    EXPECT_EQ(big.status, SaveStatus::Failed);
    EXPECT_TRUE(big.written.empty());
    EXPECT_FALSE(fs::exists(out / "big.bin"));  // no half-written file is left

    // Names the host cannot take are saved under others, the original kept.
    const SavedFile& dot = rows[u"ROOT\\top\\."];
    EXPECT_EQ(dot.status, SaveStatus::Ok);
    EXPECT_EQ(dot.originalName, u".");
    EXPECT_EQ(rows[u"ROOT\\top"].originalName, u"");  // the empty name's row
    EXPECT_EQ(slurp(rows[u"ROOT\\top"].written), "no name");
    std::vector<std::string> longHosts;
    for (const auto& s : save.saved())
        if (s.originalName == longName) longHosts.push_back(s.written.filename().string());
    ASSERT_EQ(longHosts.size(), 2u);
    EXPECT_LE(longHosts[1].size(), 255u);
    EXPECT_EQ(numberedName(longHosts[0], 2), longHosts[1]);  // one stable short name, numbered

    const SaveCounts n = save.counts();
    EXPECT_EQ(n.ok, 6u);
    EXPECT_EQ(n.damaged, 1u);
    EXPECT_EQ(n.failed, 1u);

    ASSERT_TRUE(writeSaveReportCsv(out / "r.csv", out, save.saved()));
    ASSERT_TRUE(writeSaveReportJson(out / "r.json", out, save.saved()));
    const std::string csv = slurp(out / "r.csv");
    EXPECT_NE(csv.find(",'=SUM(A1)+1,"), std::string::npos) << csv;
    EXPECT_NE(csv.find(",damaged,100,100,20,allocated,"), std::string::npos) << csv;
    auto j = nlohmann::json::parse(slurp(out / "r.json"));
    for (const auto& row : j) {
        if (row["path"] != "ROOT\\top\\bad.bin") continue;
        EXPECT_EQ(row["damaged"][0]["file_offset"], 10);
        EXPECT_EQ(row["damaged"][0]["length"], 20);
        EXPECT_EQ(row["runs"][0]["image_offset"], 0);
    }
}

TEST(FolderSave, NoOutputFolderWritesNothing) {
    FakeParser p;
    RecordId top = p.add(0, u"top", true);
    RecordId f = p.add(top, u"f.txt", false, "f");
    RecordingReporter rep;
    FolderSave save(p, rep);
    EXPECT_FALSE(save.saveFolder(top, {}, u"ROOT"));
    EXPECT_FALSE(save.saveSingle(f, {}, u"ROOT\\f.txt"));
    ASSERT_EQ(rep.messages().size(), 2u);
    EXPECT_EQ(rep.messages()[0].text, u"select output folder");
    EXPECT_EQ(rep.messages()[1].text, u"select output folder");
    EXPECT_TRUE(save.saved().empty());
    // A file is not a folder to save: nothing happens.
    EXPECT_FALSE(save.saveFolder(f, salvage::test::scratchDir("folder_save_none"), u"ROOT"));
    EXPECT_EQ(rep.messages().size(), 2u);
}

TEST(FolderSave, StopEndsTheSaveBeforeTheNextChild) {
    FakeParser p;
    RecordId top = p.add(0, u"top", true);
    for (int i = 0; i < 5; ++i) p.add(top, u"f" + fromUtf8(std::to_string(i)), false, "x");
    RecordingReporter rep;
    FolderSave save(p, rep);
    p.onName = [&](RecordId id) {
        if (id == 3) save.saveStopRequested = true;
    };
    ASSERT_TRUE(save.saveFolder(top, salvage::test::scratchDir("folder_save_stop"), u"ROOT"));
    EXPECT_EQ(save.fileCounter(), 2);
}

TEST(SaveReport, CsvAndJsonCarryDigestsTimesAndPlaces) {
    FakeParser p;
    RecordId top = p.add(0, u"top", true);
    p.add(top, u"abc, \"quoted\".txt", false, "abc", true);
    RecordingReporter rep;
    FolderSave save(p, rep);
    fs::path out = salvage::test::scratchDir("save_report");
    save.reserveName(out, "report.csv");
    p.add(top, u"report.csv", false, "volume file");
    ASSERT_TRUE(save.saveFolder(top, out, u"ROOT\\top"));
    EXPECT_EQ(slurp(out / "report (2).csv"), "volume file");
    ASSERT_TRUE(writeSaveReportCsv(out / "report.csv", out, save.saved()));
    ASSERT_TRUE(writeSaveReportJson(out / "report.json", out, save.saved()));

    const std::string csv = slurp(out / "report.csv");
    EXPECT_NE(csv.find("\"ROOT\\top\\abc, \"\"quoted\"\".txt\""), std::string::npos) << csv;
    EXPECT_NE(csv.find("900150983cd24fb0d6963f7d28e17f72"), std::string::npos);  // MD5("abc")
    auto j = nlohmann::json::parse(slurp(out / "report.json"));
    ASSERT_EQ(j.size(), 2u);
    EXPECT_EQ(j[0]["sha256"], "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(j[0]["deleted"], true);
    EXPECT_EQ(j[0]["size"], 3);
    EXPECT_EQ(j[0]["created"], "1970-01-01T00:00:01.000000000Z");
    EXPECT_TRUE(j[0]["accessed"].is_null());
    EXPECT_EQ(j[0]["modified"], "1970-01-01T00:00:02.000000000Z");
    EXPECT_EQ(j[1]["saved_as"], "report (2).csv");
    EXPECT_EQ(j[1]["status"], "ok");
}

TEST(OutputNames, NumberGoesBeforeTheLastExtension) {
    EXPECT_EQ(numberedName("a.tar.gz", 2), "a.tar (2).gz");
    EXPECT_EQ(numberedName(".profile", 3), ".profile (3)");
    EXPECT_EQ(numberedName("README", 2), "README (2)");
    EXPECT_EQ(safeOutputName(u"  a/b\\c  "), u"a_b_c");
    EXPECT_EQ(safeOutputName(u".."), u"_");
    EXPECT_EQ(safeOutputName(std::u16string(u"x\0y", 3)), u"x_y");
}
