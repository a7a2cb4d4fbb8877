// Advanced mode on volumes written by the real tools and then damaged
// (tests/fixtures/make_fat_damaged.sh): the boot sector zeroed, the first FAT
// copy overwritten, the root directory overwritten. With the right choice
// the surviving files come back byte for byte; what the Standard mode cannot
// read is listed; files whose folder is gone sit under "ORPHAN ENTRY".
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "FatTestSupport.h"
#include "TestPaths.h"
#include "fs/fat/Fat64Class.h"
#include "fs/fat/FatVolume.h"
#include "image/SectorSource.h"
#include "platform/Text.h"

using namespace salvage;

namespace {

struct ManifestFile {
    std::string path, md5;
    std::uint64_t size = 0;
    bool deleted = false;
    std::string base() const { return path.substr(path.rfind('/') + 1); }
    bool inFolder() const { return path.find('/') != std::string::npos; }
};

struct Damaged {
    std::string key, image, kind, damage;
};

struct Fixtures {
    std::vector<Damaged> volumes;
    std::map<std::string, std::vector<ManifestFile>> files;  // by kind
};

Fixtures load() {
    Fixtures out;
    std::filesystem::path vols, manifest;
    if (!test::requireFixture("dmg_volumes.txt", vols) || !test::requireFixture("dmg_manifest.tsv", manifest))
        return out;
    std::ifstream v(vols);
    for (std::string line; std::getline(v, line);) {
        std::istringstream s(line);
        Damaged d;
        s >> d.key >> d.image >> d.kind >> d.damage;
        if (!d.key.empty()) out.volumes.push_back(d);
    }
    std::ifstream m(manifest);
    for (std::string line; std::getline(m, line);) {
        std::vector<std::string> col;
        std::istringstream s(line);
        for (std::string c; std::getline(s, c, '\t');) col.push_back(c);
        if (col.size() == 6) out.files[col[0]].push_back({col[1], col[3], std::stoull(col[2]), col[5] == "deleted"});
    }
    return out;
}

std::unique_ptr<VolumeParser> parserFor(const std::string& kind) {
    return kind == "exfat" ? createFat64Parser() : kind == "fat16" ? createFat16Parser() : createFat32Parser();
}

struct Volume {
    std::unique_ptr<readWriteInterface> source;
    BrowseTree tree;
    RecordingReporter reporter;
    std::unique_ptr<VolumeParser> parser;
    std::map<RecordId, RecordId> parentOf;

    // Parents as the tree shows them: every record reached from the root.
    void mapParents() {
        parentOf.clear();
        std::vector<RecordId> todo{0};
        std::set<RecordId> seen{0};
        while (!todo.empty()) {
            const RecordId d = todo.back();
            todo.pop_back();
            parser->forEachChild(d, [&](RecordId c) {
                if (seen.insert(c).second) {
                    parentOf[c] = d;
                    todo.push_back(c);
                }
                return true;
            });
        }
    }
    std::vector<RecordId> named(const std::string& name) const {
        std::vector<RecordId> out;
        for (RecordId id = 0; parser->isValidRecord(id); ++id)
            if (parser->name(id) == fromUtf8(name)) out.push_back(id);
        return out;
    }
    bool under(RecordId id, RecordId ancestor) const {
        for (int hops = 0; hops < 64; ++hops) {
            auto it = parentOf.find(id);
            if (it == parentOf.end()) return false;
            if (it->second == ancestor) return true;
            id = it->second;
        }
        return false;
    }
};

std::unique_ptr<Volume> open(const Damaged& d) {
    auto v = std::make_unique<Volume>();
    auto src = std::make_unique<FileReadSeek>();
    EXPECT_TRUE(src->open(test::fixturePath(d.image))) << d.image;
    v->source = std::move(src);
    v->parser = parserFor(d.kind);
    VolumeRecord rec;
    rec.sizeText = u16(std::to_string(v->source->totalSectors() / 2048) + "   MB");
    v->parser->attach(v->source.get(), &v->tree, &v->reporter, rec);
    return v;
}

bool hasStatus(const RecordingReporter& r, const std::u16string& text) {
    const auto st = r.statuses();
    return std::find(st.begin(), st.end(), text) != st.end();
}

int indexOf(const std::vector<std::u16string>& list, const std::u16string& item) {
    const auto it = std::find(list.begin(), list.end(), item);
    return it == list.end() ? -1 : int(it - list.begin());
}

// The cluster heap's offset, from an image of the kind whose boot sector survived.
std::int64_t exfatHeap(const Fixtures& f) {
    for (const auto& d : f.volumes)
        if (d.kind == "exfat" && d.damage != "boot") {
            std::ifstream in(test::fixturePath(d.image), std::ios::binary);
            std::uint8_t boot[512] = {};
            in.read(reinterpret_cast<char*>(boot), 512);
            return std::int64_t(le32(ByteView(boot, 512), 88)) * 512;
        }
    return 0;
}

// The user's right choice on each volume: the FAT copy the damage spared,
// the volume's cluster size, the true cluster heap.
AdvancedChoice rightChoice(const Damaged& d, Volume& v, std::int64_t heap) {
    const AdvancedLists l = v.parser->advancedLists();
    AdvancedChoice c;
    // FAT12/16/32: the first choice of each ranked list is the right one.
    c.candidate = 0;
    const char16_t* spc = d.kind == "fat16" ? u"4" : d.kind == "fat32" ? u"2" : u"3";
    c.sectorsPerCluster = d.kind == "exfat" ? indexOf(l.sectorsPerCluster, spc) : 0;
    if (d.kind != "exfat") {
        EXPECT_EQ(l.sectorsPerCluster.at(0), spc);
    }
    if (d.kind == "exfat") {
        const auto& heaps = dynamic_cast<Fat64Class&>(*v.parser).heapCandidates();
        const auto at = std::find(heaps.begin(), heaps.end(), heap);
        c.heapOffset = at == heaps.end() ? -1 : int(at - heaps.begin());
    }
    return c;
}

// Which live files a damage leaves readable: the root's own files go with
// the root; a single exFAT FAT takes the chained (fragmented) file with it.
bool survives(const Damaged& d, const ManifestFile& m) {
    if (m.deleted) return false;
    if (d.damage == "root") return m.inFolder();
    if (d.damage == "fat" && d.kind == "exfat") return m.base() != "fragmented.bin";
    return true;
}

}  // namespace

TEST(FatDamaged, CandidatesAndSectorsPerClusterLists) {
    const Fixtures f = load();
    if (f.volumes.empty()) return;
    const std::vector<std::u16string> exfatList{u"8", u"9", u"10", u"11", u"3", u"6"};
    const std::int64_t heap = exfatHeap(f);
    for (const auto& d : f.volumes) {
        SCOPED_TRACE(d.key);
        auto v = open(d);
        const std::int64_t n = v->parser->findAdvancedCandidates(0);
        const AdvancedLists l = v->parser->advancedLists();
        const bool bootGone = d.damage == "boot";
        if (d.kind == "exfat") {
            ASSERT_EQ(n, 1);  // one FAT
            EXPECT_EQ(l.candidates, std::vector<std::u16string>{u"FAT64_ENTRY:0"});
            std::vector<std::u16string> want = exfatList;
            if (!bootGone) want.insert(want.begin(), u"3");  // the boot sector's shift leads
            EXPECT_EQ(l.sectorsPerCluster, want);
            ASSERT_FALSE(l.heapOffsets.empty());
            EXPECT_EQ(l.heapOffsets.front(), u"HEAP_OFFSET_ENTRY:0");
            const auto& heaps = dynamic_cast<Fat64Class&>(*v->parser).heapCandidates();
            // A sound boot sector puts its own heap first; otherwise the
            // true heap is among those found.
            if (!bootGone) {
                EXPECT_EQ(heaps.front(), heap);
            }
            EXPECT_NE(std::find(heaps.begin(), heaps.end(), heap), heaps.end());
            continue;
        }
        // Both FAT copies are found: the damage spared the first copy's head.
        const std::u16string stem = d.kind == "fat16" ? u"FAT_ENTRY:" : u"FAT32_ENTRY:";
        EXPECT_EQ(n, 2);
        EXPECT_EQ(l.candidates, (std::vector<std::u16string>{stem + u"0", stem + u"1"}));
        // Every cluster size from 512 bytes to 64 KiB, the volume's own first
        // whether its boot sector survived or not.
        std::vector<int> offered;
        for (const auto& t : l.sectorsPerCluster) offered.push_back(std::stoi(toUtf8(t)));
        EXPECT_EQ(offered.front(), d.kind == "fat16" ? 4 : 2);
        std::sort(offered.begin(), offered.end());
        EXPECT_EQ(offered, (std::vector<int>{1, 2, 4, 8, 16, 32, 64, 128}));
        // The FAT copy whose entries were overwritten ranks behind the sound one.
        ASSERT_EQ(l.candidateFit.size(), 2u);
        if (d.damage == "fat") {
            EXPECT_GT(l.candidateFit[0], l.candidateFit[1]);
        }
        EXPECT_TRUE(l.heapOffsets.empty());
    }
}

TEST(FatDamaged, AdvancedModeListsAndSavesTheSurvivingFiles) {
    const Fixtures f = load();
    if (f.volumes.empty()) return;
    const std::int64_t heap = exfatHeap(f);
    for (const auto& d : f.volumes) {
        SCOPED_TRACE(d.key);
        const auto& files = f.files.at(d.kind);
        auto v = open(d);
        ASSERT_GT(v->parser->findAdvancedCandidates(3), 0);
        v->parser->advancedChoice = rightChoice(d, *v, heap);
        ASSERT_GE(v->parser->advancedChoice.sectorsPerCluster, 0);
        ASSERT_EQ(v->parser->parse(RecoveryMode::Advanced), ParseResult::Done);
        v->mapParents();
        // Each kind's own progress texts.
        if (d.kind == "fat32") {
            EXPECT_TRUE(hasStatus(v->reporter, u"Parsing Disk Currently at position 0.000000 of the disk of size "
                                               u"75497472.000000"));
            EXPECT_TRUE(hasStatus(v->reporter, u"found file or directory =  1 "));
        } else if (d.kind == "fat16") {
            EXPECT_TRUE(hasStatus(v->reporter, u"currently at sector 0 of 61440"));
        } else {
            EXPECT_TRUE(hasStatus(v->reporter, u"found Entry 1 "));
        }
        if (d.kind != "exfat") {
            EXPECT_TRUE(hasStatus(v->reporter, u"Maintaining directory Structure in AdvanceScanning"));
        }
        auto& p = *v->parser;
        EXPECT_EQ(p.name(0), u"DUMMY ENTRY");
        EXPECT_EQ(p.name(1), u"ORPHAN ENTRY");
        const auto out = test::scratchDir("fat_damaged_" + d.key);
        int saved = 0;
        for (const auto& m : files) {
            if (!survives(d, m)) continue;
            SCOPED_TRACE(m.path);
            const auto ids = v->named(m.base());
            ASSERT_EQ(ids.size(), 1u);  // listed once, though reached by the scan and by its folder
            const RecordId id = ids[0];
            EXPECT_FALSE(p.isDeleted(id));
            ASSERT_TRUE(v->parentOf.count(id)) << "not in the tree";
            if (d.damage == "root") {
                // Its folder's entry went with the root: the folder's own
                // cluster lies beyond the first cluster after the root.
                EXPECT_TRUE(v->under(id, 1)) << "not under ORPHAN ENTRY";
            } else {
                EXPECT_FALSE(v->under(id, 1));
                // Inside a folder: under that folder (FAT keeps an upper-case
                // 8.3 folder name in its raw, blank-padded form).
                const RecordId parent = v->parentOf.at(id);
                std::string folder;
                if (m.inFolder()) {
                    const std::string dir = m.path.substr(0, m.path.rfind('/'));
                    folder = dir.substr(dir.rfind('/') == std::string::npos ? 0 : dir.rfind('/') + 1);
                }
                std::string shown = toUtf8(p.name(parent));
                while (!shown.empty() && shown.back() == ' ') shown.pop_back();
                if (m.inFolder()) {
                    EXPECT_EQ(shown, folder);
                } else {
                    EXPECT_EQ(parent, 0);
                }
            }
            EXPECT_EQ(p.sizeBytes(id), m.size);
            const SaveOutcome s = p.saveFile(id, out);
            ASSERT_TRUE(s.ok);
            EXPECT_EQ(test::md5File(s.written), m.md5);
            ++saved;
        }
        EXPECT_GE(saved, 14);
        if (d.damage == "root" && d.kind != "fat32") {
            // The fillers' folder is the first cluster after the root (FAT16)
            // or after the first entry the scan found (exFAT): below the
            // threshold, its orphaned files sit directly under the root.
            const auto ids = v->named("F2.BIN");
            ASSERT_EQ(ids.size(), 1u);
            EXPECT_EQ(v->parentOf.at(ids[0]), 0);
        }
        // The deleted file is listed, as deleted, where its entries survive.
        if (d.damage != "root") {
            const auto del = v->named("Deleted memo.txt");
            ASSERT_EQ(del.size(), 1u);
            EXPECT_TRUE(p.isDeleted(del[0]));
        }
    }
}

// What the damage costs the Standard mode, and the Advanced mode recovers.
TEST(FatDamaged, StandardModeCannotReadWhatAdvancedModeRecovers) {
    const Fixtures f = load();
    if (f.volumes.empty()) return;
    for (const auto& d : f.volumes) {
        if (d.damage == "none" || (d.kind == "exfat" && d.damage == "fat")) continue;
        SCOPED_TRACE(d.key);
        auto v = open(d);
        const ParseResult r = v->parser->parse(RecoveryMode::Standard);
        if (d.damage == "boot") {
            EXPECT_EQ(r, ParseResult::NotThisFormat);
            continue;
        }
        ASSERT_EQ(r, ParseResult::Done);
        const auto& files = f.files.at(d.kind);
        if (d.damage == "root") {
            // The folders' files are not reached from a lost root.
            for (const auto& m : files) {
                if (m.inFolder() && !m.deleted) {
                    EXPECT_TRUE(v->named(m.base()).empty()) << m.path;
                }
            }
            continue;
        }
        // The first FAT copy's chains are garbage: the fragmented file does
        // not come back as it was.
        const auto frag = std::find_if(files.begin(), files.end(), [](auto& m) { return m.base() == "fragmented.bin"; });
        ASSERT_NE(frag, files.end());
        const auto ids = v->named("fragmented.bin");
        if (ids.empty()) continue;
        const SaveOutcome s = v->parser->saveFile(ids[0], test::scratchDir("fat_damaged_std_" + d.key));
        if (s.ok) {
            EXPECT_NE(test::md5File(s.written), frag->md5);
        }
    }
}

// A volume without any FAT start: nothing to offer, and Next is answered as
// the parser says, for each of the three kinds.
TEST(FatDamaged, NoCandidateAnswersThatTheProcessCannotContinue) {
    for (const char* kind : {"fat16", "fat32", "exfat"}) {
        SCOPED_TRACE(kind);
        auto src = std::make_unique<MemorySource>(std::vector<std::uint8_t>(3 * 1048576, 0));
        BrowseTree tree;
        RecordingReporter rep;
        auto p = parserFor(kind);
        VolumeRecord rec;
        rec.sizeText = u"3   MB";
        p->attach(src.get(), &tree, &rep, rec);
        EXPECT_EQ(p->findAdvancedCandidates(-1), 0);
        EXPECT_TRUE(p->advancedLists().candidates.empty());
        p->advancedChoice = {0, 0, 0};
        EXPECT_EQ(p->parse(RecoveryMode::Advanced), ParseResult::Failed);
        const auto msgs = rep.messages();
        ASSERT_EQ(msgs.size(), 1u);
        EXPECT_EQ(msgs[0].text, u"No File system Entry Found.Process cannot be continue...");
        EXPECT_EQ(msgs[0].icon, MessageIcon::Information);
        const auto st = rep.statuses();
        EXPECT_NE(std::find(st.begin(), st.end(), std::string(kind) == "exfat" ? u"Finding Fat64 entries...."
                                                                                : u"Finding Fat entries...."),
                  st.end());
    }
}

// The first FAT copy wholly overwritten, its head too: the search finds the
// second copy alone, and the volume is still rebuilt from it.
TEST(FatDamaged, OnlyTheSecondFatCopyFound) {
    const Fixtures f = load();
    if (f.volumes.empty()) return;
    for (const auto& d : f.volumes) {
        if (d.damage != "fat" || d.kind == "exfat") continue;
        SCOPED_TRACE(d.key);
        std::ifstream in(test::fixturePath(d.image), std::ios::binary);
        std::vector<std::uint8_t> img{std::istreambuf_iterator<char>(in), {}};
        ByteView b(img);
        const std::size_t fatAt = std::size_t(le16(b, 14)) * 512;
        const std::size_t fatLen = std::size_t(le16(b, 22) ? le16(b, 22) : le32(b, 36)) * 512;
        std::fill(img.begin() + std::ptrdiff_t(fatAt), img.begin() + std::ptrdiff_t(fatAt + fatLen), 0xA5);
        std::fill(img.begin(), img.begin() + 512, 0);  // and no boot sector to help
        auto v = std::make_unique<Volume>();
        v->source = std::make_unique<MemorySource>(std::move(img));
        v->parser = parserFor(d.kind);
        VolumeRecord rec;
        rec.sizeText = u16(std::to_string(v->source->totalSectors() / 2048) + "   MB");
        v->parser->attach(v->source.get(), &v->tree, &v->reporter, rec);
        ASSERT_EQ(v->parser->findAdvancedCandidates(3), 1);
        AdvancedChoice c = rightChoice(d, *v, 0);
        c.candidate = 0;
        v->parser->advancedChoice = c;
        ASSERT_EQ(v->parser->parse(RecoveryMode::Advanced), ParseResult::Done);
        const auto out = test::scratchDir("fat_damaged_one_copy_" + d.key);
        int saved = 0;
        for (const auto& m : f.files.at(d.kind)) {
            if (m.deleted) continue;
            SCOPED_TRACE(m.path);
            const auto ids = v->named(m.base());
            ASSERT_EQ(ids.size(), 1u);
            const SaveOutcome s = v->parser->saveFile(ids[0], out);
            ASSERT_TRUE(s.ok);
            EXPECT_EQ(test::md5File(s.written), m.md5);
            ++saved;
        }
        EXPECT_EQ(saved, 18);
    }
}

// Every wrong choice on a real volume (other FAT copy, every cluster size,
// other heaps) ends with a table whose files save without a fault.
TEST(FatDamaged, EveryChoiceEndsAndSaves) {
    const Fixtures f = load();
    if (f.volumes.empty()) return;
    for (const auto& d : f.volumes) {
        if (d.damage != "boot" || d.kind == "fat32") continue;  // FAT32's volume is the largest; its rules are shared
        const auto out = test::scratchDir("fat_damaged_choices_" + d.key);
        auto probe = open(d);
        probe->parser->findAdvancedCandidates(3);
        const AdvancedLists l = probe->parser->advancedLists();
        const int heaps = std::min<int>(2, int(l.heapOffsets.size()));
        for (int c = 0; c < int(l.candidates.size()); ++c)
            for (int s = 0; s < int(l.sectorsPerCluster.size()); ++s)
                for (int h = d.kind == "exfat" ? 0 : -1; h < std::max(heaps, 0); ++h) {
                    SCOPED_TRACE(d.key + " " + std::to_string(c) + "/" + std::to_string(s) + "/" + std::to_string(h));
                    auto v = open(d);
                    v->parser->findAdvancedCandidates(3);
                    v->parser->advancedChoice = {c, s, h};
                    ASSERT_EQ(v->parser->parse(RecoveryMode::Advanced), ParseResult::Done);
                    v->parser->recycleBinPass();
                    int n = 0;
                    for (RecordId id = 2; v->parser->isValidRecord(id) && n < 25; ++id)
                        if (!v->parser->isDirectory(id)) {
                            v->parser->saveFile(id, out);
                            ++n;
                        }
                }
    }
}
