// The bounded read of a file's first bytes behind the preview pane.
#include <gtest/gtest.h>

#include "FakeParser.h"
#include "browse/FilePreview.h"

using namespace salvage;
using salvage::test::FakeParser;

TEST(FilePreview, ReadsTheHeadWithinTheBoundAndLeavesNothingBehind) {
    FakeParser p;
    const RecordId dir = p.add(0, u"d", true);
    const RecordId file = p.add(dir, u"a.txt", false, "hello world", true);
    const RecordId empty = p.add(dir, u"e.txt", false, "");
    const RecordId big = p.add(dir, u"big.bin", false, std::string(kPreviewFileLimit + 1, 'x'));
    BrowseTree tree;
    p.attach(nullptr, &tree, nullptr, {});
    p.parse(RecoveryMode::Standard);
    // A Stop left from an earlier job does not cut the preview short.
    p.stopRequested = true;

    FileHead h = readFileHead(p, file, 5);
    EXPECT_EQ(h.result, FileHead::Result::Read);
    EXPECT_EQ(h.bytes, "hello");
    EXPECT_EQ(h.fileSize, 11u);
    EXPECT_TRUE(p.stopRequested);
    EXPECT_EQ(readFileHead(p, file, 100).bytes, "hello world");
    h = readFileHead(p, empty, 100);
    EXPECT_EQ(h.result, FileHead::Result::Read);
    EXPECT_TRUE(h.bytes.empty());
    EXPECT_EQ(readFileHead(p, big, 10).result, FileHead::Result::TooLarge);
    EXPECT_EQ(readFileHead(p, dir, 10).result, FileHead::Result::NotAFile);
    EXPECT_EQ(readFileHead(p, 999, 10).result, FileHead::Result::NotAFile);
}
