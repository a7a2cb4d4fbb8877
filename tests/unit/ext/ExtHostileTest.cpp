// Damaged volumes: fields that point anywhere, loops, random damage to the
// metadata of a real image. The parse and every save must end without a
// crash or a hang; what survives is still browsable.
#include <gtest/gtest.h>

#include <random>

#include "TestPaths.h"
#include "fs/ext/ext2Class.h"
#include "image/SectorSource.h"
#include "platform/OutputLimits.h"

using namespace salvage;
namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> loadImage(const std::string& name) {
    fs::path p;
    if (!test::requireFixture(name, p)) return {};
    MemorySource m;
    if (!m.open(p)) return {};
    return m.bytes();
}

struct Run {
    explicit Run(std::vector<std::uint8_t> bytes) : source(std::move(bytes)) {}
    MemorySource source;
    BrowseTree tree;
    RecordingReporter reporter;
    ext2Class parser;
    ParseResult result = ParseResult::Failed;
    std::size_t saved = 0;
};

// Parses the bytes and saves up to maxSaves files found by walking the tree.
std::unique_ptr<Run> parseAndSave(std::vector<std::uint8_t> bytes, const std::string& scratch,
                                  std::size_t maxSaves = 30, std::u16string sizeText = u"32   MB") {
    auto r = std::make_unique<Run>(std::move(bytes));
    r->parser.attach(&r->source, &r->tree, &r->reporter, VolumeRecord{u"extX", u"1", sizeText, 0});
    r->result = r->parser.parse(RecoveryMode::Standard);
    if (r->result != ParseResult::Done) return r;
    fs::path out = test::scratchDir(scratch);
    std::vector<RecordId> stack{ext2Class::kRootKey};
    std::size_t visited = 0;
    while (!stack.empty() && r->saved < maxSaves && visited < 100000) {
        RecordId id = stack.back();
        stack.pop_back();
        ++visited;
        r->parser.forEachChild(id, [&](RecordId c) {
            (void)r->parser.attributeText(c);
            (void)r->parser.modificationTimeText(c);
            if (r->parser.isDirectory(c)) {
                if (c != id) stack.push_back(c);
            } else if (r->saved < maxSaves) {
                r->parser.saveFile(c, out);
                ++r->saved;
            }
            return true;
        });
    }
    return r;
}

struct Layout {
    std::size_t blockSize = 1024;
    std::size_t inodeSize = 128;
    std::size_t inodeTable = 0;  // byte offset of group 0's table
    std::size_t inode(std::uint32_t number) const { return inodeTable + (number - 1) * inodeSize; }
};

Layout layoutOf(const std::vector<std::uint8_t>& img) {
    ByteView v(img);
    Layout l;
    l.blockSize = std::size_t(1024) << le32(v, 1024 + 24);
    l.inodeSize = le16(v, 1024 + 88);
    std::size_t desc = (1024 / l.blockSize + 1) * l.blockSize;
    l.inodeTable = std::size_t(le32(v, desc + 8)) * l.blockSize;
    return l;
}

}  // namespace

TEST(ExtHostile, SuperblockFieldsThatPointAnywhere) {
    auto img = loadImage("ext2.img");
    if (img.empty()) return;
    struct Case {
        const char* what;
        std::size_t offset;
        std::uint32_t value;
        int width;
    } cases[] = {
        {"inode count", 0, 0xFFFFFFFF, 4},      {"block count", 4, 0xFFFFFFFF, 4},
        {"blocks per group 0", 32, 0, 4},       {"blocks per group 1", 32, 1, 4},
        {"inodes per group", 40, 0xFFFFFFFF, 4}, {"inodes per group 0", 40, 0, 4},
        {"inode size", 88, 0xFFFF, 2},           {"inode size odd", 88, 130, 2},
        {"block size 8K", 24, 3, 4},             {"64-bit with odd descriptor size", 96, 0x82, 4},
    };
    for (const Case& c : cases) {
        auto bad = img;
        if (c.width == 4) storeLe32(bad, 1024 + c.offset, c.value);
        else storeLe16(bad, 1024 + c.offset, std::uint16_t(c.value));
        auto r = parseAndSave(bad, "ext_hostile_sb");
        SCOPED_TRACE(c.what);
        if (r->result == ParseResult::Done) {
            EXPECT_TRUE(r->tree.valid(r->tree.root()));
        }
    }
}

TEST(ExtHostile, TinyVolumesAndMissingSuperblocks) {
    auto r = parseAndSave(std::vector<std::uint8_t>(1536, 0), "ext_tiny", 1, u"0");
    EXPECT_EQ(r->result, ParseResult::Failed);
    r = parseAndSave(std::vector<std::uint8_t>(1 << 20, 0), "ext_tiny", 1, u"1");
    EXPECT_EQ(r->result, ParseResult::Failed);
    EXPECT_TRUE(r->reporter.messages().empty());
    // The size text claims far more than the image holds: the search ends at
    // the image's end instead of probing a terabyte.
    r = parseAndSave(std::vector<std::uint8_t>(1 << 20, 0), "ext_tiny", 1, u"1000000   MB");
    EXPECT_EQ(r->result, ParseResult::Failed);
}

TEST(ExtHostile, InodesWhoseBlocksPointAnywhereOrLoop) {
    auto img = loadImage("ext2.img");
    if (img.empty()) return;
    Layout l = layoutOf(img);
    // Every inode of group 0 gets huge sizes and pointers at the same block
    // (block maps) or itself; the root directory's pointers loop too.
    auto bad = img;
    for (std::uint32_t n = 2; n < 200; ++n) {
        std::size_t at = l.inode(n);
        storeLe32(bad, at + 4, 0xFFFFFFFF);
        storeLe32(bad, at + 108, 0x7FFFFFFF);
        for (int i = 0; i < 15; ++i) storeLe32(bad, at + 40 + 4 * i, n % 3 == 0 ? 0xFFFFFFF0u : 5000);
    }
    for (std::size_t i = 0; i < l.blockSize / 4; ++i) storeLe32(bad, 5000 * l.blockSize + 4 * i, 5000);
    auto r = parseAndSave(bad, "ext_hostile_inodes", 20);
    EXPECT_EQ(r->result, ParseResult::Done);
}

TEST(ExtHostile, HugeSizesAreCutAtSixteenTimesTheVolume) {
    // Every file's size high word set: sizes past 4 GiB on a 32 MiB volume
    // (the host's file system takes them; near 2^63 it would refuse). A hole
    // is written sparse, but each saved file is digested afterwards, so a
    // file is cut at 16 times the volume (and at 64 MiB no lower).
    auto img = loadImage("ext2.img");
    if (img.empty()) return;
    const Layout l = layoutOf(img);
    auto bad = img;
    for (std::uint32_t n = 12; n < 200; ++n)
        if ((le16(ByteView(bad), l.inode(n)) & 0xF000) == 0x8000) storeLe32(bad, l.inode(n) + 108, 1);
    auto r = parseAndSave(bad, "ext_huge_sizes", 5);
    ASSERT_EQ(r->result, ParseResult::Done);
    ASSERT_GT(r->saved, 0u);
    std::size_t files = 0;
    for (const auto& e : fs::recursive_directory_iterator(fs::path(SALVAGE_BINARY_DIR) / "scratch" / "ext_huge_sizes")) {
        if (!e.is_regular_file()) continue;
        ++files;
        EXPECT_LE(e.file_size(), maxWrittenFileBytes(32ull << 20)) << e.path();
    }
    EXPECT_GT(files, 0u);
}

TEST(ExtHostile, ExtentTreesThatLoop) {
    auto img = loadImage("ext4_idx.img");
    if (img.empty()) return;
    Layout l = layoutOf(img);
    auto bad = img;
    // Root directory and the next inodes: an index root whose children are
    // a block that names itself as its own index child, at every depth.
    const std::size_t loopBlock = 7000;
    for (std::uint32_t n = 2; n < 20; ++n) {
        std::size_t at = l.inode(n) + 40;
        storeLe32(bad, l.inode(n) + 32, 0x80000);
        storeLe32(bad, l.inode(n) + 4, 0xFFFFFFFF);
        storeLe16(bad, at, 0xF30A);
        storeLe16(bad, at + 2, 4);
        storeLe16(bad, at + 6, std::uint16_t(n % 6));
        for (int i = 0; i < 4; ++i) storeLe32(bad, at + 12 + 12 * i + 4, loopBlock);
    }
    std::size_t node = loopBlock * l.blockSize;
    storeLe16(bad, node, 0xF30A);
    storeLe16(bad, node + 2, 0xFFFF);
    storeLe16(bad, node + 6, 1);
    for (std::size_t i = 0; 12 + 12 * i + 12 <= l.blockSize; ++i) storeLe32(bad, node + 12 + 12 * i + 4, loopBlock);
    auto r = parseAndSave(bad, "ext_hostile_extents", 20);
    EXPECT_EQ(r->result, ParseResult::Done);
}

// Random damage to the superblock, descriptors, the first inode table and
// the first directory blocks of real images, with fixed seeds.
TEST(ExtHostile, RandomMetadataDamage) {
    for (const char* name : {"ext2.img", "ext4.img"}) {
        auto img = loadImage(name);
        if (img.empty()) return;
        Layout l = layoutOf(img);
        std::size_t span = std::min(img.size(), l.inodeTable + 64 * l.inodeSize);
        std::mt19937 rng(1234);
        for (int round = 0; round < 60; ++round) {
            auto bad = img;
            int hits = 1 + int(rng() % 40);
            for (int h = 0; h < hits; ++h) {
                std::size_t at = 1024 + rng() % (span - 1024);
                bad[at] = std::uint8_t(rng());
            }
            auto r = parseAndSave(std::move(bad), "ext_fuzz", 10);
            (void)r;
        }
    }
}

// Stop during the directory pass: the later steps still build the map and
// the tree from the names found so far.
TEST(ExtHostile, StopDuringDirectoryPassStillBuildsTree) {
    auto img = loadImage("ext2.img");
    if (img.empty()) return;
    struct StopReporter : RecordingReporter {
        ext2Class* parser = nullptr;
        void setStatus(const std::u16string& text) override {
            RecordingReporter::setStatus(text);
            if (text.rfind(u"parsing inode entry 1 ", 0) == 0) parser->stopRequested = true;
        }
    } rep;
    MemorySource src(std::move(img));
    BrowseTree tree;
    ext2Class parser;
    rep.parser = &parser;
    parser.attach(&src, &tree, &rep, VolumeRecord{u"extX", u"1", u"32   MB", 0});
    EXPECT_EQ(parser.parse(RecoveryMode::Standard), ParseResult::Done);
    EXPECT_FALSE(parser.stopRequested);
    EXPECT_TRUE(rep.sawStatus(u"filling root entries in  tree...."));
    EXPECT_EQ(tree.text(tree.root()), u"ROOT");
}
