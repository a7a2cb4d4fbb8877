// The shared FAT undelete image: six deleted files, two deleted folders,
// fragmented files; sizes and MD5 values from its index page.
#include <gtest/gtest.h>

#include "FatTestSupport.h"
#include "TestPaths.h"
#include "image/Globals.h"
#include "platform/Text.h"

using namespace salvage;

namespace {

struct Expected {
    const char16_t* path;
    std::uint64_t size;
    const char* md5;
    const char* consecutiveMd5;  // what reading consecutive clusters gives
};

const Expected kFiles[] = {
    {u"\uFFE5ING.DAT", 780, "59b20779f69ff9f0ac5fcd2c38835a79", nullptr},
    {u"\uFFE5ULT1.DAT", 3801, "ffd27bd782bdce67750b6b9ee069d2ef", nullptr},
    {u"\uFFE5RAG1.DAT", 1584, "7a3bc5b763bef201202108f4ba128149", "c4f3b9a0f17d464f4fc61b94ecf6cc21"},
    {u"\uFFE5RAG2.DAT", 3873, "0e80ab84ef0087e60dfc67b88a1cf13e", "965370acfa85aa7e26ab04bbd45cdcae"},
    {u"\uFFE5IR1       /MULT2.DAT", 1715, "59cf0e9cd107bc1e75afb7374f6e05bb", nullptr},
    {u"\uFFE5IR1       /DIR2       /FRAG3.DAT", 2027, "21121699487f3fbbdb9a4b3391b6d3e0",
     "a7a14ac62f79fdea4056ed5e8bcf97ef"},
};

std::unique_ptr<test::ParsedVolume> parseDftt() {
    std::filesystem::path img;
    if (!test::requireTestdata("6-undel-fat.zip", "6-undel-fat/6-fat-undel.dd", img)) return nullptr;
    auto src = std::make_unique<FileReadSeek>();
    EXPECT_TRUE(src->open(img));
    return test::parseVolume(createFat16Parser(), std::move(src));
}

struct FormattedFlag {
    explicit FormattedFlag(bool on) { g_driveFormatted = on; }
    ~FormattedFlag() { g_driveFormatted = false; }
};

}  // namespace

TEST(Fat16Dftt, ListsDeletedFilesAndFoldersInRed) {
    auto v = parseDftt();
    if (!v) return;
    ASSERT_EQ(v->result, ParseResult::Done);
    const std::string all = v->listing();
    for (const auto& e : kFiles) {
        const RecordId id = v->find(e.path);
        ASSERT_GE(id, 0) << toUtf8(e.path) << "\n" << all;
        // The files inside the deleted folder keep their live entries.
        if (std::u16string(e.path).find(u'/') == std::u16string::npos)
            EXPECT_TRUE(v->parser->isDeleted(id)) << toUtf8(e.path);
        EXPECT_EQ(v->parser->sizeBytes(id), e.size) << toUtf8(e.path);
    }
    const RecordId dir1 = v->find(u"\uFFE5IR1       ");
    ASSERT_GE(dir1, 0);
    EXPECT_TRUE(v->parser->isDirectory(dir1));
    EXPECT_TRUE(v->parser->isDeleted(dir1));
    EXPECT_TRUE(v->parser->isDirectory(v->find(u"\uFFE5IR1       /DIR2       ")));

    // The first tree level: "ROOT" with the root's folders and archive files,
    // each naming its record, deleted ones red.
    const TreeItem root = v->tree.root();
    ASSERT_EQ(v->tree.text(root), u"ROOT");
    bool sawDir1 = false;
    for (TreeItem it : v->tree.children(root)) {
        auto data = v->tree.itemData(it);
        ASSERT_TRUE(data);
        EXPECT_EQ(v->tree.text(it), v->parser->name(*data));
        EXPECT_EQ(v->tree.isRed(it), v->parser->isDeleted(*data));
        if (*data == dir1) sawDir1 = true;
    }
    EXPECT_TRUE(sawDir1);
}

TEST(Fat16Dftt, DeletedFilesComeBackAndFragmentsGiveTheConsecutiveHash) {
    auto v = parseDftt();
    if (!v) return;
    const auto out = test::scratchDir("fat16_dftt_standard");
    for (const auto& e : kFiles) {
        const RecordId id = v->find(e.path);
        ASSERT_GE(id, 0);
        SaveOutcome s = v->parser->saveFile(id, out);
        ASSERT_TRUE(s.ok) << toUtf8(e.path);
        EXPECT_EQ(std::filesystem::file_size(s.written), e.size);
        // A deleted file's chain is freed, so fragments cannot be followed:
        // the unfragmented files match, the fragmented ones give the hash of
        // consecutive clusters, as every tool without a chain does.
        EXPECT_EQ(test::md5File(s.written), e.consecutiveMd5 ? e.consecutiveMd5 : e.md5) << toUtf8(e.path);
    }
}

TEST(Fat16Dftt, FormattedDriveReadsConsecutiveClusters) {
    FormattedFlag flag(true);
    auto v = parseDftt();
    if (!v) return;
    const auto out = test::scratchDir("fat16_dftt_formatted");
    for (const auto& e : kFiles) {
        const RecordId id = v->find(e.path);
        ASSERT_GE(id, 0) << toUtf8(e.path);
        SaveOutcome s = v->parser->saveFile(id, out);
        ASSERT_TRUE(s.ok);
        EXPECT_EQ(test::md5File(s.written), e.consecutiveMd5 ? e.consecutiveMd5 : e.md5) << toUtf8(e.path);
    }
}
