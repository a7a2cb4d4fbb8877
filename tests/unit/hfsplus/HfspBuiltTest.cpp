// The parser over hand-made volumes: fragmented files and catalogs, crowded
// leaves, duplicate IDs, links that would loop, and damaged nodes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "platform/OutputLimits.h"
#include "HfsImageBuilder.h"
#include "HfspTestUtil.h"
#include "TestPaths.h"

using namespace salvage;
using namespace salvage::test;

namespace {

constexpr std::uint32_t kDate = 3786912000u;  // 2024-01-01 00:00 UTC as an HFS+ date

HfsRec folder(std::uint32_t parent, std::uint32_t cnid, std::u16string name) {
    HfsRec r;
    r.folder = true;
    r.parent = parent;
    r.cnid = cnid;
    r.name = std::move(name);
    return r;
}

HfsRec file(std::uint32_t parent, std::uint32_t cnid, std::u16string name, std::uint64_t size,
            std::vector<HfsExtent> extents, std::uint32_t totalBlocks = 0) {
    HfsRec r;
    r.parent = parent;
    r.cnid = cnid;
    r.name = std::move(name);
    r.size = size;
    r.extents = std::move(extents);
    if (totalBlocks == 0)
        for (auto& e : r.extents) totalBlocks += e.count;
    r.totalBlocks = totalBlocks;
    r.createDate = kDate;
    r.contentModDate = kDate + 3600;
    r.attributeModDate = kDate + 7200;
    r.accessDate = kDate + 60;
    r.mode = 0x1A4;  // rw-r--r--
    return r;
}

std::vector<std::uint8_t> readAll(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Writes data for a file laid out over extents into the image.
void putData(std::vector<std::uint8_t>& img, std::uint32_t bs, const std::vector<HfsExtent>& extents,
             const std::vector<std::uint8_t>& data) {
    std::size_t at = 0;
    for (auto& e : extents)
        for (std::uint32_t b = 0; b < e.count && at < data.size(); ++b, at += bs)
            std::copy_n(data.begin() + at, std::min<std::size_t>(bs, data.size() - at), img.begin() + std::size_t(e.start + b) * bs);
}

// Twelve one-block extents, every other block from 100 on.
std::vector<HfsExtent> scattered(std::size_t n) {
    std::vector<HfsExtent> out;
    for (std::size_t i = 0; i < n; ++i) out.push_back({std::uint32_t(100 + 2 * i), 1});
    return out;
}

}  // namespace

TEST(HfspBuilt, FragmentedFileReadWithAndWithoutOverflowRecords) {
    auto all = scattered(12);
    std::vector<HfsExtent> first(all.begin(), all.begin() + 8), rest(all.begin() + 8, all.end());
    auto data = patternBytes(12 * 4096 - 100, 7);
    for (bool withOverflow : {true, false}) {
        HfsImageBuilder b;
        b.leaves = {{folder(1, 2, u"root"), file(2, 20, u"frag.bin", data.size(), first, 12)}};
        if (withOverflow) b.overflow = {{20, 8, 0, rest}, {20, 8, 0xFF, {{200, 4}}}};
        auto img = b.build();
        putData(img, 4096, all, data);
        MemorySource src(img);
        HfsRun run(src, RecoveryMode::Standard);
        ASSERT_EQ(run.result, ParseResult::Done);
        auto paths = run.paths();
        ASSERT_TRUE(paths.count("frag.bin"));
        auto out = scratchDir("hfsp_frag");
        SaveOutcome s = run.parser.saveFile(paths["frag.bin"], out);
        ASSERT_TRUE(s.ok);
        // Times: last write from the content-modify date, access from the access date.
        struct stat st {};
        ASSERT_EQ(stat(s.written.c_str(), &st), 0);
        EXPECT_EQ(st.st_mtime, std::int64_t(kDate) + 3600 - 2082844800LL);
        EXPECT_EQ(st.st_atime, std::int64_t(kDate) + 60 - 2082844800LL);
        auto got = readAll(s.written);
        if (withOverflow) {
            EXPECT_EQ(got, data);
            EXPECT_EQ(s.status, SaveStatus::Ok);
        } else {
            // Cut after the eight catalog extents, the rest reported as damage.
            ASSERT_EQ(got.size(), 8u * 4096);
            EXPECT_TRUE(std::equal(got.begin(), got.end(), data.begin()));
            EXPECT_EQ(s.status, SaveStatus::Damaged);
            EXPECT_EQ(s.badBytes, data.size() - 8u * 4096);
        }
    }
}

TEST(HfspBuilt, CatalogInSeveralExtentsIsReadWhole) {
    // Node size of two blocks: nodes 0..3 over three extents, the last one
    // recorded in the overflow file; one node straddles two extents.
    HfsImageBuilder b;
    b.nodeSize = 8192;
    b.catalogExtents = {{16, 3}, {40, 3}};
    b.catalogOverflowExtents = {{60, 2}};
    b.leaves = {{folder(1, 2, u"root"), folder(2, 16, u"one")},
                {folder(16, 17, u"two")},
                {file(17, 18, u"three.txt", 5, {{90, 1}})}};
    auto img = b.build();
    std::copy_n("hello", 5, img.begin() + 90 * 4096);
    MemorySource src(img);
    HfsRun run(src, RecoveryMode::Standard);
    ASSERT_EQ(run.result, ParseResult::Done);
    auto paths = run.paths();
    ASSERT_TRUE(paths.count("one/two/three.txt"));
    auto s = run.parser.saveFile(paths["one/two/three.txt"], scratchDir("hfsp_catfrag"));
    EXPECT_EQ(readAll(s.written), (std::vector<std::uint8_t>{'h', 'e', 'l', 'l', 'o'}));
}

TEST(HfspBuilt, FormatsAndEmptyFiles) {
    HfsImageBuilder b;
    b.leaves = {{folder(1, 2, u"root"), file(2, 21, u"empty", 0, {}), file(2, 22, u"a/b", 3, {{90, 1}})}};
    auto img = b.build();
    MemorySource src(img);
    HfsRun run(src, RecoveryMode::Standard);
    ASSERT_EQ(run.result, ParseResult::Done);
    EXPECT_EQ(run.parser.attributeText(22), u"-Owner:W-Owner:R-OR-GR");
    EXPECT_EQ(run.parser.creationTimeText(22), u"01/01/2024  00:00 AM");
    EXPECT_EQ(run.parser.modificationTimeText(22), u"01/01/2024  01:00 AM");
    EXPECT_EQ(run.parser.sizeText(22), u"3 Bytes");
    EXPECT_TRUE(run.parser.creationTimeText(2).empty());
    auto out = scratchDir("hfsp_formats");
    // An empty file is made, empty; a name with a separator stays in the folder.
    SaveOutcome e = run.parser.saveFile(21, out);
    EXPECT_TRUE(e.ok);
    EXPECT_TRUE(std::filesystem::exists(out / "empty"));
    EXPECT_EQ(std::filesystem::file_size(out / "empty"), 0u);
    SaveOutcome s = run.parser.saveFile(22, out);
    EXPECT_EQ(s.written.parent_path(), out);
    EXPECT_EQ(std::filesystem::file_size(s.written), 3u);
}

TEST(HfspBuilt, DuplicateIdsFirstWinsAndParentsMustBeFolders) {
    HfsImageBuilder b;
    b.leaves = {{folder(1, 2, u"root"), file(2, 30, u"first", 1, {{90, 1}}), file(2, 31, u"notafolder", 1, {{90, 1}})},
                {file(2, 30, u"second", 1, {{91, 1}}), file(31, 32, u"under-file", 1, {{90, 1}}),
                 file(999, 33, u"lost-parent", 1, {{90, 1}})}};
    MemorySource src(b.build());
    HfsRun run(src, RecoveryMode::Standard);
    auto paths = run.paths();
    EXPECT_EQ(run.parser.name(30), u"first");
    EXPECT_TRUE(paths.count("first"));
    EXPECT_FALSE(paths.count("second"));
    EXPECT_FALSE(run.parser.hasChildren(31));
    EXPECT_EQ(paths.size(), 2u);  // first, notafolder: the others cannot be reached
}

TEST(HfspBuilt, SearchAcceptsLeavesUpTo999Records) {
    for (std::uint16_t count : {999, 1000}) {
        HfsImageBuilder b;
        b.nodeSize = 8192;
        b.catalogExtents = {{16, 8}};
        b.leaves = {{folder(1, 2, u"root")}};
        auto img = b.build();
        // A second leaf far from the catalog whose offsets all name record 0.
        std::size_t at = 120 * 4096;
        auto leaf = HfsImageBuilder::node(8192, -1, 1, {HfsImageBuilder::catalogRecord(folder(2, 50, u"crowded"))});
        HfsImageBuilder::put16(leaf, 10, count);
        for (std::size_t k = 0; k < count; ++k) HfsImageBuilder::put16(leaf, 8192 - 2 * (k + 1), 14);
        std::copy(leaf.begin(), leaf.end(), img.begin() + at);
        MemorySource src(img);
        HfsRun run(src, RecoveryMode::Advanced, u"1");
        ASSERT_EQ(run.result, ParseResult::Done);
        bool found = false;
        for (auto& n : run.parser.catalogNodes) found |= n.nodeOffset == at;
        EXPECT_EQ(found, count == 999) << count;
        EXPECT_EQ(run.parser.entryMap.count(50), count == 999 ? 1u : 0u);
    }
}

TEST(HfspBuilt, SearchKeepsTheExactBlockAndGroupsByCnid) {
    HfsImageBuilder b;
    b.nodeSize = 8192;  // two blocks a node
    b.leaves = {{folder(1, 2, u"root"), folder(2, 40, u"f40"), file(40, 41, u"in40", 1, {{90, 1}}),
                 folder(2, 45, u"f45"), file(2, 46, u"in45", 1, {{90, 1}})}};
    auto img = b.build();
    // Another copy of the leaf at an odd block: node number 61 would name block 122.
    std::copy_n(img.begin() + b.catalogNodeOffset(1), 8192, img.begin() + 123 * 4096);
    MemorySource src(img);
    HfsRun run(src, RecoveryMode::Deep, u"1");
    ASSERT_EQ(run.result, ParseResult::Done);
    bool oddKept = false;
    for (auto& n : run.parser.catalogNodes) oddKept |= n.nodeOffset == 123u * 4096;
    EXPECT_TRUE(oddKept);
    auto paths = run.paths();
    EXPECT_TRUE(paths.count("ORPHAN_ENTRY/root"));
    EXPECT_TRUE(paths.count("ORPHAN_ENTRY/f40/in40"));
    EXPECT_TRUE(paths.count("ORPHAN_ENTRY/f45/in45"));
    EXPECT_TRUE(paths.count("in45"));  // a root file keeps its parent and shows under ROOT too
    EXPECT_EQ(run.parser.orphanKey, 47u);
}

// Chains are head-inserted in catalog-ID order: children come in
// descending ID order. The searched modes put folders under ORPHAN_ENTRY and
// files under the latest folder before them; a file before every folder
// leaves ORPHAN_ENTRY's chain when the first folder starts it.
TEST(HfspBuilt, ChildOrderInEveryMode) {
    HfsImageBuilder b;
    b.leaves = {{file(2, 1, u"early", 1, {{90, 1}}), folder(1, 2, u"root"), folder(2, 10, u"d"),
                 file(10, 11, u"a", 1, {{90, 1}}), file(10, 13, u"c", 1, {{90, 1}}), file(10, 12, u"b", 1, {{90, 1}}),
                 folder(10, 14, u"e"), file(14, 15, u"f", 1, {{90, 1}})}};
    MemorySource src(b.build());
    auto children = [](const HFSP& p, RecordId id) {
        std::vector<std::u16string> names;
        p.forEachChild(id, [&](RecordId c) {
            names.push_back(p.name(c));
            return true;
        });
        return names;
    };
    using Names = std::vector<std::u16string>;
    {
        HfsRun run(src, RecoveryMode::Standard);
        ASSERT_EQ(run.result, ParseResult::Done);
        EXPECT_EQ(children(run.parser, 10), (Names{u"e", u"c", u"b", u"a"}));
        EXPECT_EQ(children(run.parser, 2), (Names{u"d", u"early"}));
    }
    {
        HfsRun run(src, RecoveryMode::Advanced, u"1");
        ASSERT_EQ(run.result, ParseResult::Done);
        ASSERT_EQ(run.parser.orphanKey, 16u);
        EXPECT_EQ(children(run.parser, 16), (Names{u"e", u"d", u"root"}));
        EXPECT_EQ(children(run.parser, 10), (Names{u"c", u"b", u"a"}));
        EXPECT_EQ(children(run.parser, 14), (Names{u"f"}));
        EXPECT_FALSE(run.parser.hasChildren(2));
    }
}

TEST(HfspBuilt, StatusTextsOfFailures) {
    {
        HfsImageBuilder b;
        b.leaves = {{folder(1, 2, u"root")}};
        auto img = b.build();
        HfsImageBuilder::put32(img, 1024 + 40, 0);  // block size 0
        MemorySource src(img);
        HfsRun standard(src, RecoveryMode::Standard);
        EXPECT_EQ(standard.result, ParseResult::Failed);
        EXPECT_EQ(standard.reporter.lastStatus(), u"Work Aborted....");
        HfsRun searched(src, RecoveryMode::Advanced, u"1");
        EXPECT_TRUE(searched.reporter.sawStatus(u"BlockSize not valid .Aborting.."));
        EXPECT_EQ(searched.reporter.lastStatus(), u"Work Aborted....");
        HfsRun noSize(src, RecoveryMode::Advanced, u"0");
        EXPECT_EQ(noSize.result, ParseResult::Failed);
    }
    {
        HfsImageBuilder b;
        b.leaves = {{folder(1, 2, u"root")}};
        auto img = b.build();
        img[2 * 4096 + 8] = 7;  // overflow header node of no known kind
        MemorySource src(img);
        HfsRun run(src, RecoveryMode::Standard);
        EXPECT_EQ(run.result, ParseResult::Failed);
        EXPECT_EQ(run.reporter.lastStatus(), u"Work Aborted....");
    }
}

// Parent links that would loop, overflow records that add nothing, node
// counts and offsets that point anywhere: the parse ends and walks end.
TEST(HfspBuilt, HostileNodesNeverHang) {
    HfsImageBuilder b;
    b.totalNodesOverride = 0xFFFFFFFFu;
    b.leaves = {{folder(1, 2, u"root"), folder(61, 60, u"a"), folder(60, 61, u"b"), folder(62, 62, u"self"),
                 folder(2, 63, u"c"), folder(63, 64, u"d"), folder(64, 65, u"e"),
                 file(2, 70, u"loopy", 1 << 30, {{90, 1}, {0xFFFFFF00u, 0xFFFFFFFFu}}, 0xFFFFFFFFu)}};
    b.overflow = {{70, 0xFFFFFFFFu, 0, {{0, 5}}}};
    auto img = b.build();
    // Record offsets of leaf 1 pointing past the node and into its offset table.
    auto leafAt = b.catalogNodeOffset(1);
    HfsImageBuilder::put16(img, leafAt + 4096 - 4, 0xFFF0);
    HfsImageBuilder::put16(img, leafAt + 4096 - 6, 4094);
    MemorySource src(img);
    for (RecoveryMode mode : {RecoveryMode::Standard, RecoveryMode::Advanced}) {
        HfsRun run(src, mode, u"1");
        ASSERT_EQ(run.result, ParseResult::Done);
        auto paths = run.paths();
        for (auto& [p, id] : paths) EXPECT_LT(p.size(), 200u);
        if (run.parser.entryMap.count(70)) {
            SaveOutcome s = run.parser.saveFile(70, scratchDir("hfsp_hostile"));
            EXPECT_TRUE(s.ok);
            EXPECT_LE(s.bytes, maxWrittenFileBytes(img.size()));
        }
    }
    // Random damage over the whole image, both modes.
    std::uint32_t x = 12345;
    for (int round = 0; round < 60; ++round) {
        auto bad = img;
        for (int i = 0; i < 200; ++i) {
            x = x * 1103515245u + 12345u;
            std::size_t at = (x >> 4) % (30 * 4096);
            bad[at] = std::uint8_t(x >> 24);
        }
        MemorySource s(bad);
        HfsRun run(s, round % 2 ? RecoveryMode::Advanced : RecoveryMode::Standard, u"1");
        (void)run.paths();
    }
}
