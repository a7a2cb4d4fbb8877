// ext volumes made by mkfs -d from a known tree: every file comes back byte
// for byte with its modification time, and the parsed tree matches.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <map>

#include "TestPaths.h"
#include "browse/ParserFactory.h"
#include "fs/ext/ext2Class.h"
#include "image/SectorSource.h"
#include "platform/Text.h"

using namespace salvage;
namespace fs = std::filesystem;

namespace {

struct Parsed {
    FileReadSeek source;
    BrowseTree tree;
    RecordingReporter reporter;
    ext2Class parser;
    ParseResult result = ParseResult::Failed;
};

std::unique_ptr<Parsed> parseImage(const fs::path& image, const std::u16string& sizeText, std::int64_t start = 0) {
    auto p = std::make_unique<Parsed>();
    EXPECT_TRUE(p->source.open(image));
    VolumeRecord v{u"extX", u"1", sizeText, start};
    p->parser.attach(&p->source, &p->tree, &p->reporter, v);
    p->result = p->parser.parse(RecoveryMode::Standard);
    return p;
}

struct Node {
    bool folder = false;
    std::uint64_t size = 0;
    RecordId id = -1;
};

void walk(const ext2Class& parser, RecordId id, const std::string& prefix, std::map<std::string, Node>& out,
          int depth = 0) {
    ASSERT_LT(depth, 64);
    parser.forEachChild(id, [&](RecordId c) {
        std::string n = toUtf8(parser.name(c));
        if (depth == 0 && (n == "." || n == "lost+found")) return true;
        std::string path = prefix + n;
        Node node{parser.isDirectory(c), parser.sizeBytes(c), c};
        out[path] = node;
        if (node.folder) walk(parser, c, path + "/", out, depth + 1);
        return true;
    });
}

std::map<std::string, Node> expectedTree(const fs::path& root) {
    std::map<std::string, Node> out;
    for (auto& e : fs::recursive_directory_iterator(root)) {
        std::string rel = e.path().lexically_relative(root).string();
        Node n;
        n.folder = e.is_directory() && !e.is_symlink();
        if (e.is_symlink()) n.size = fs::read_symlink(e.path()).string().size();
        else if (!n.folder) n.size = e.file_size();
        out[rel] = n;
    }
    return out;
}

std::string readAll(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

std::int64_t mtimeOf(const fs::path& p) {
    struct stat st {};
    lstat(p.c_str(), &st);
    return st.st_mtim.tv_sec;
}

// Parses the image, compares the tree with `expected` and saves every file.
void checkImage(const std::string& image, const std::string& treeName, const std::u16string& sizeText,
                std::int64_t start = 0) {
    fs::path img, treeDir;
    if (!test::requireFixture(image, img) || !test::requireFixture(treeName, treeDir)) return;
    auto p = parseImage(img, sizeText, start);
    ASSERT_EQ(p->result, ParseResult::Done);
    std::map<std::string, Node> got;
    walk(p->parser, ext2Class::kRootKey, "", got);
    std::map<std::string, Node> want = expectedTree(treeDir);
    for (auto& [path, g] : got) EXPECT_TRUE(want.count(path)) << image << ": unexpected " << path;
    ASSERT_EQ(got.size(), want.size()) << image;
    fs::path out = test::scratchDir("ext_" + image);
    for (auto& [path, w] : want) {
        auto it = got.find(path);
        ASSERT_NE(it, got.end()) << image << ": missing " << path;
        EXPECT_EQ(it->second.folder, w.folder) << path;
        if (w.folder) continue;
        EXPECT_EQ(it->second.size, w.size) << path;
        SaveOutcome s = p->parser.saveFile(it->second.id, out);
        ASSERT_TRUE(s.ok) << image << ": " << path;
        fs::path src = treeDir / path;
        std::string want = fs::is_symlink(src) ? fs::read_symlink(src).string() : readAll(src);
        EXPECT_TRUE(readAll(s.written) == want) << image << ": bytes differ for " << path;
        EXPECT_EQ(mtimeOf(s.written), mtimeOf(src)) << path;
    }
}

}  // namespace

TEST(ExtFixtures, Ext2BlockMapsWithIndirectBlocks) { checkImage("ext2.img", "ext_tree", u"32   MB"); }
TEST(ExtFixtures, Ext3) { checkImage("ext3.img", "ext_tree", u"32   MB"); }
TEST(ExtFixtures, Ext4With64ByteDescriptors) { checkImage("ext4.img", "ext_tree", u"32   MB"); }
TEST(ExtFixtures, Ext4With32ByteDescriptors) { checkImage("ext4_32.img", "ext_tree", u"64   MB"); }
TEST(ExtFixtures, BackupSuperblockWhenPrimaryIsZeroed) { checkImage("ext2_backup.img", "ext_tree", u"32   MB"); }
TEST(ExtFixtures, VolumeInsideADisk) { checkImage("ext4_disk.img", "ext_tree", u"32   MB", 2048); }
TEST(ExtFixtures, ExtentIndexNodesHolesAndPreallocation) { checkImage("ext4_idx.img", "ext_idx_tree", u"32   MB"); }

// ROOT on top, the root directory's own "." last among its children, the
// version message (mkfs.ext2 sets sparse_super and large_file, read-only
// features 3, which name ext3), and the record key as item data.
TEST(ExtFixtures, RootLevelAndMessages) {
    fs::path img;
    if (!test::requireFixture("ext2.img", img)) return;
    auto p = parseImage(img, u"32   MB");
    ASSERT_EQ(p->result, ParseResult::Done);
    EXPECT_TRUE(p->reporter.sawMessage(u"ext 3 file System"));
    TreeItem root = p->tree.root();
    EXPECT_EQ(p->tree.text(root), u"ROOT");
    EXPECT_EQ(p->tree.itemData(root), std::optional<RecordId>(2));
    EXPECT_TRUE(p->tree.isExpanded(root));
    auto kids = p->tree.children(root);
    ASSERT_FALSE(kids.empty());
    EXPECT_EQ(p->tree.text(kids.back()), u".");
    EXPECT_EQ(p->tree.itemData(kids.back()), std::optional<RecordId>(1));
    EXPECT_FALSE(p->parser.hasChildren(1));
    // Children come in descending key order (head-inserted chains).
    RecordId last = INT64_MAX;
    p->parser.forEachChild(2, [&](RecordId c) {
        EXPECT_LT(c, last);
        last = c;
        return true;
    });
    // Attribute tokens of a 0644 file, and times of the fixture tree.
    RecordId hello = -1;
    p->parser.forEachChild(2, [&](RecordId c) {
        if (p->parser.name(c) == u"hello.txt") hello = c;
        return true;
    });
    ASSERT_GE(hello, 0);
    EXPECT_EQ(p->parser.attributeText(hello), u"-OR-GR-UW-UR");
    EXPECT_EQ(p->parser.modificationTimeText(hello), u"03/04/2021  05:06 AM");
    EXPECT_EQ(p->parser.sizeText(hello), u"15 Bytes");
    EXPECT_EQ(p->parser.recordNumber(hello), hello + 1);
}

TEST(ExtFixtures, FactoryMakesTheParser) {
    auto p = createExtParser();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->parserName(), u"ext2Class");
}
