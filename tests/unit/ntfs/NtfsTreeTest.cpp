// Linking on hand-made MFTs: parents that are files, parents after their
// children, parents outside the table, parent loops, several $FILE_NAME
// attributes, DOS names, a missing root, 512-byte clusters, and a table made by
// a scan (record numbers out of order and repeated).
#include <map>

#include "NtfsBuilder.h"
#include "NtfsTestSupport.h"
#include "TestPaths.h"

using namespace salvage;
using namespace salvage::test;

namespace {

std::unique_ptr<ParsedNtfs> parseBuilt(VolumeBuilder& v, RecoveryMode mode = RecoveryMode::Standard) {
    auto p = std::make_unique<ParsedNtfs>();
    p->source = std::make_unique<MemorySource>(v.image());
    p->attach(u"1   MB", 0);
    p->result = p->parser.parse(mode);
    return p;
}

std::vector<std::u16string> childNames(const ntfs& parser, RecordId id) {
    std::vector<std::u16string> out;
    parser.forEachChild(id, [&](RecordId c) {
        out.push_back(parser.name(c));
        return true;
    });
    return out;
}

TEST(NtfsTree, ParentsThatCannotHoldChildrenSendThemToTheOrphanEntry) {
    VolumeBuilder v;
    v.putRoot();
    v.put(16, RecordBuilder().number(16).fileName(20, u"child_of_later_dir").finish());
    v.put(17, RecordBuilder().number(17).fileName(18, u"child_of_later_file").finish());
    v.put(18, RecordBuilder().number(18).fileName(5, u"a_file").finish());
    v.put(19, RecordBuilder().number(19).fileName(18, u"child_of_earlier_file").finish());
    v.put(20, RecordBuilder().number(20).fileName(5, u"later_dir", true).finish());
    v.put(21, RecordBuilder().number(21).fileName(5000, u"parent_beyond_table").finish());
    v.put(22, RecordBuilder().number(22).fileName(23, u"no_name_parent").finish());
    v.put(24, RecordBuilder().number(24).fileName(0, u"parent_is_mft").finish());
    auto p = parseBuilt(v);
    ASSERT_EQ(p->result, ParseResult::Done);
    EXPECT_EQ(childNames(p->parser, 20), std::vector<std::u16string>{u"child_of_later_dir"});
    const auto orphans = childNames(p->parser, p->parser.orphanIndex());
    // The orphan entry lists the last adopted first.
    EXPECT_EQ(orphans, (std::vector<std::u16string>{u"parent_is_mft", u"no_name_parent", u"parent_beyond_table",
                                                    u"child_of_earlier_file", u"child_of_later_file"}));
    // The root lists its children in record order, the orphan entry last,
    // and never the MFT's own record.
    EXPECT_EQ(childNames(p->parser, 5), (std::vector<std::u16string>{u"a_file", u"later_dir", u"ORPHAN_ENTRY"}));
    const auto first = p->tree.children(p->parser.rootItem);
    ASSERT_EQ(first.size(), 3u);
    EXPECT_EQ(p->tree.text(first[1]), u"later_dir");
    EXPECT_EQ(p->tree.image(first[1]), ItemImage::Folder);
    EXPECT_EQ(p->tree.image(first[0]), ItemImage::File);
}

TEST(NtfsTree, ParentLoopsAreBrokenIntoTheOrphanEntry) {
    VolumeBuilder v;
    v.putRoot();
    v.put(16, RecordBuilder().number(16).fileName(17, u"loop_a", true).finish());
    v.put(17, RecordBuilder().number(17).fileName(16, u"loop_b", true).finish());
    v.put(18, RecordBuilder().number(18).fileName(18, u"self_parent", true).finish());
    v.put(19, RecordBuilder().number(19).fileName(17, u"inside_loop").finish());
    auto p = parseBuilt(v);
    std::map<std::string, RecordId> all;
    flatten(p->parser, 5, "", all);
    EXPECT_TRUE(all.count("ORPHAN_ENTRY/loop_a/loop_b/inside_loop"));
    EXPECT_TRUE(all.count("ORPHAN_ENTRY/self_parent"));
}

TEST(NtfsTree, NamesParentsAndFlagsFromFileNameAttributes) {
    VolumeBuilder v;
    v.putRoot();
    const std::u16string name255(255, u'n'), name254(254, u'm');
    // DOS name first and last: the long name stays.
    v.put(16, RecordBuilder().number(16).fileName(5, u"LONGNA~1.TXT", false, 2)
                  .fileName(5, u"long name.txt", false, 1, 0x0023).fileName(5, u"LONGNA~1.TXT", false, 2).finish());
    v.put(17, RecordBuilder().number(17).fileName(5, name255).finish());
    v.put(18, RecordBuilder().number(18).fileName(5, name254).finish());
    // Directory flag in $FILE_NAME without the header's directory bit.
    v.put(19, RecordBuilder(1).number(19).fileName(5, u"dir_by_name", true).finish());
    v.put(20, RecordBuilder(0).number(20).fileName(5, u"deleted.txt").finish());
    // Two names under two parents: listed once, under the first.
    v.put(21, RecordBuilder().number(21).fileName(19, u"linked").fileName(5, u"linked").finish());
    auto p = parseBuilt(v);
    EXPECT_EQ(p->parser.name(16), u"long name.txt");
    EXPECT_EQ(p->parser.attributeText(16), u"-R-H-A");
    EXPECT_EQ(p->parser.name(17), name255);
    EXPECT_EQ(p->parser.name(18), name254);
    EXPECT_TRUE(p->parser.isDirectory(19));
    EXPECT_TRUE(p->parser.isDeleted(20));
    EXPECT_FALSE(p->parser.isDeleted(16));
    EXPECT_EQ(childNames(p->parser, 19), std::vector<std::u16string>{u"linked"});
    int redItems = 0;
    for (TreeItem item : p->tree.children(p->parser.rootItem)) redItems += p->tree.isRed(item) ? 1 : 0;
    EXPECT_EQ(redItems, 1);
}

TEST(NtfsTree, WithoutARootTheOrphanEntryStillHoldsEverything) {
    VolumeBuilder v;  // no record 5
    v.put(16, RecordBuilder().number(16).fileName(5, u"lost.txt").finish());
    v.put(17, RecordBuilder().number(17).fileName(5, u"lost_dir", true).finish());
    v.put(18, RecordBuilder().number(18).fileName(17, u"inside.txt").finish());
    auto p = parseBuilt(v);
    const auto first = p->tree.children(p->parser.rootItem);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(p->tree.text(first[0]), u"ORPHAN_ENTRY");
    EXPECT_EQ(childNames(p->parser, p->parser.orphanIndex()), (std::vector<std::u16string>{u"lost_dir", u"lost.txt"}));
    EXPECT_EQ(childNames(p->parser, 17), std::vector<std::u16string>{u"inside.txt"});
}

TEST(NtfsTree, AScanMadeTableLinksByHeaderNumbersAndTheFirstRecordOfANumberCounts) {
    VolumeBuilder v;
    v.image()[3] = 0;  // no NTFS boot sector, and no $MFT record: the table comes from the scan
    v.put(0, RecordBuilder().number(0).fileName(5, u"not_the_mft").finish());
    v.putRoot();
    // Numbers out of slot order, and number 40 met twice (the later one a stale copy).
    v.put(16, RecordBuilder().number(40).fileName(5, u"dir40", true).finish());
    v.put(17, RecordBuilder().number(30).fileName(40, u"in40.txt").finish());
    v.put(18, RecordBuilder().number(40).fileName(5, u"stale40", true).finish());
    v.put(19, RecordBuilder().number(12).fileName(30, u"under_a_file.txt").finish());
    auto p = parseBuilt(v);
    const ntfs& n = p->parser;
    ASSERT_FALSE(n.mftLocated());
    ASSERT_LT(n.rootIndex(), n.orphanIndex());
    std::map<std::u16string, RecordId> ids;
    n.forEachChild(n.rootIndex(), [&](RecordId c) {
        ids[n.name(c)] = c;
        return true;
    });
    EXPECT_EQ(childNames(n, n.rootIndex()),
              (std::vector<std::u16string>{u"not_the_mft", u"dir40", u"stale40", u"ORPHAN_ENTRY"}));
    EXPECT_EQ(childNames(n, ids.at(u"dir40")), std::vector<std::u16string>{u"in40.txt"});
    EXPECT_TRUE(childNames(n, ids.at(u"stale40")).empty());
    EXPECT_EQ(childNames(n, n.orphanIndex()), std::vector<std::u16string>{u"under_a_file.txt"});
}

TEST(NtfsTree, DeepModeGroupsFilesUnderTheDirectoryFoundBeforeThem) {
    VolumeBuilder v;
    v.putRoot();
    v.put(16, RecordBuilder().number(16).fileName(5, u"first_file").finish());
    v.put(17, RecordBuilder().number(17).fileName(5, u"dir_a", true).finish());
    v.put(18, RecordBuilder().number(18).fileName(17, u"a1").finish());
    v.put(19, RecordBuilder(0).number(19).fileName(17, u"a2_deleted").finish());
    v.put(20, RecordBuilder().number(20).fileName(5, u"dir_b", true).finish());
    v.put(21, RecordBuilder().number(21).fileName(20, u"b1").finish());
    v.put(22, RecordBuilder().number(22).finish());  // no $FILE_NAME: not shown
    auto p = parseBuilt(v, RecoveryMode::Deep);
    const ntfs& n = p->parser;
    const auto first = p->tree.children(p->parser.rootItem);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(p->tree.text(first[0]), u"ORPHAN_ENTRY");
    // $MFT is a file found before the first directory; "." is skipped.
    EXPECT_EQ(childNames(n, n.orphanIndex()),
              (std::vector<std::u16string>{u"dir_b", u"dir_a", u"first_file", u"$MFT"}));
    RecordId dirA = -1;
    n.forEachChild(n.orphanIndex(), [&](RecordId c) {
        if (n.name(c) == u"dir_a") dirA = c;
        return true;
    });
    ASSERT_GE(dirA, 0);
    EXPECT_EQ(childNames(n, dirA), (std::vector<std::u16string>{u"a2_deleted", u"a1"}));
    n.forEachChild(dirA, [&](RecordId c) {
        EXPECT_EQ(n.isDeleted(c), n.name(c) == u"a2_deleted");
        return true;
    });
}

TEST(NtfsTree, SmallClustersGiveOneSlotPerTwoClusters) {
    VolumeBuilder v(1, 32, 512);
    v.putRoot();
    v.put(16, RecordBuilder().number(16).fileName(5, u"in_small_clusters.txt")
                  .resident(0x80, std::vector<std::uint8_t>(100, 0x41)).finish());
    auto p = parseBuilt(v);
    EXPECT_EQ(p->parser.bytesPerCluster, 512);
    EXPECT_EQ(p->parser.entries().size(), 33u);  // 32 slots and the orphan entry
    EXPECT_EQ(p->parser.name(16), u"in_small_clusters.txt");
    EXPECT_EQ(p->parser.entries()[16].recordOffset, std::int64_t(4 * 512 + 16 * 1024));
    EXPECT_EQ(p->parser.sizeBytes(16), 100u);
}

TEST(NtfsTree, AFragmentedMftIsFollowedThroughItsAttributeList) {
    VolumeBuilder v;  // 32 slots in clusters 4 to 11
    auto entry = [](std::uint32_t type, std::int64_t vcn, std::uint64_t record) {
        std::vector<std::uint8_t> e(32, 0);
        storeLe32(e, 0, type);
        storeLe16(e, 4, 32);
        e[7] = 26;
        storeLe64(e, 8, std::uint64_t(vcn));
        storeLe64(e, 16, record);
        return e;
    };
    std::vector<std::uint8_t> list;
    for (auto e : {entry(0x30, 0, 0), entry(0x80, 0, 0), entry(0x80, 4, 1)}) list.insert(list.end(), e.begin(), e.end());
    // The MFT's own record maps its first 16 slots; record 1 the next 16.
    v.put(0, RecordBuilder().number(0).fileName(5, u"$MFT").resident(0x20, list)
                 .nonResident(0x80, {0x11, 0x04, 0x04}, 0, 3, 32 * 1024).finish());
    v.put(1, RecordBuilder().number(1).base(0).nonResident(0x80, {0x11, 0x04, 0x08}, 4, 7, 0).finish());
    v.putRoot();
    v.put(20, RecordBuilder().number(20).fileName(5, u"in_second_extent.txt").finish());
    auto p = parseBuilt(v);
    EXPECT_EQ(p->parser.entries().size(), 33u);
    EXPECT_EQ(p->parser.name(20), u"in_second_extent.txt");
    EXPECT_EQ(childNames(p->parser, 5).front(), u"in_second_extent.txt");
}

}  // namespace
