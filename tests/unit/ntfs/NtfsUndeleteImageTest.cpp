// The shared Windows XP evidence image with eight deleted files: each
// documented file comes back with its documented MD5, in its documented
// place, marked deleted; the file whose folder record was reused for a file
// sits under ORPHAN_ENTRY; the deleted alternate data stream is an entry
// of its own with its file's record number.
#include "NtfsTestSupport.h"
#include "TestPaths.h"

using namespace salvage;
using namespace salvage::test;
namespace fs = std::filesystem;

namespace {

struct Documented {
    std::int64_t record;  // MFT record number
    const char* path;
    std::uint64_t size;
    const char* md5;
};

// From the image's index.html. mult1.dat's content is its unnamed stream.
const Documented kFiles[] = {
    {37, "res1.dat", 101, "9036637712b491904cd0bfbdbe648453"},
    {31, "sing1.dat", 780, "59b20779f69ff9f0ac5fcd2c38835a79"},
    {32, "mult1.dat", 3801, "ffd27bd782bdce67750b6b9ee069d2ef"},
    {32, "mult1.dat:ADS", 1234, "ba1b9eedb1c091ddca253d35dde8f616"},
    {29, "frag1.dat", 1584, "7a3bc5b763bef201202108f4ba128149"},
    {30, "frag2.dat", 3873, "0e80ab84ef0087e60dfc67b88a1cf13e"},
    {36, "dir1/mult2.dat", 1715, "59cf0e9cd107bc1e75afb7374f6e05bb"},
    {35, "dir1/dir2/frag3.dat", 2027, "21121699487f3fbbdb9a4b3391b6d3e0"},
    {38, "ORPHAN_ENTRY/sing2.dat", 1005, "c229626f6a71b167ad7e50c4f2fccdb1"},
};

TEST(NtfsUndeleteImage, EveryDocumentedDeletedFileByMd5) {
    fs::path img;
    if (!requireTestdata("7-undel-ntfs.zip", "7-undel-ntfs/7-ntfs-undel.dd", img)) return;
    auto p = parseNtfs(img, u"6   MB");
    ASSERT_EQ(p->result, ParseResult::Done);
    const auto paths = pathsOf(p->parser);
    const fs::path out = scratchDir("ntfs_undel");
    for (const Documented& d : kFiles) {
        SCOPED_TRACE(d.path);
        auto it = paths.find(d.path);
        ASSERT_NE(it, paths.end());
        EXPECT_EQ(p->parser.recordNumber(it->second), d.record);
        EXPECT_TRUE(p->parser.isDeleted(it->second));
        EXPECT_EQ(p->parser.sizeBytes(it->second), d.size);
        const SaveOutcome s = p->parser.saveFile(it->second, out);
        ASSERT_TRUE(s.ok);
        EXPECT_EQ(md5File(s.written), d.md5);
    }
    EXPECT_TRUE(p->parser.isDeleted(paths.at("dir1")));
    EXPECT_TRUE(p->parser.isDeleted(paths.at("dir1/dir2")));
    // Created on 29 February 2004.
    const std::u16string created = p->parser.creationTimeText(37);
    EXPECT_EQ(created.substr(0, 10), u"02/29/2004") << toUtf8(created);
}

TEST(NtfsUndeleteImage, DeepModeFindsTheSameFiles) {
    fs::path img;
    if (!requireTestdata("7-undel-ntfs.zip", "7-undel-ntfs/7-ntfs-undel.dd", img)) return;
    auto p = parseNtfs(img, u"6   MB", RecoveryMode::Deep);
    ASSERT_EQ(p->result, ParseResult::Done);
    // A scan also meets stale copies of records (in the log file, for
    // one): a name may be found more than once, and one of them holds the
    // data.
    const auto byName = deepGroups(p->parser);
    const fs::path out = scratchDir("ntfs_undel_deep");
    for (const Documented& d : kFiles) {
        SCOPED_TRACE(d.path);
        std::string leaf = d.path;
        leaf = leaf.substr(leaf.find_last_of('/') + 1);
        auto [from, to] = byName.equal_range(leaf);
        ASSERT_NE(from, to);
        bool matched = false;
        for (auto it = from; it != to; ++it)
            if (md5File(p->parser.saveFile(it->second, out).written) == d.md5) {
                matched = true;
                EXPECT_EQ(p->parser.recordNumber(it->second), d.record);
            }
        EXPECT_TRUE(matched);
    }
}

}  // namespace
