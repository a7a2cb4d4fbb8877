#include <gtest/gtest.h>

#include "browse/BrowseTree.h"
#include "browse/DisplayFormats.h"

using namespace salvage;

TEST(BrowseTree, CheckPropagationAndDeletion) {
    BrowseTree t;
    TreeItem root = t.insertItem(kRootText, ItemImage::Folder);
    TreeItem a = t.insertItem(u"a", ItemImage::Folder, root);
    TreeItem b = t.insertItem(u"b.txt", ItemImage::File, root);
    TreeItem a1 = t.insertItem(u"a1", ItemImage::File, a);
    t.setCheck(a, true);
    EXPECT_EQ(t.checkState(a1), CheckState::Checked);
    EXPECT_EQ(t.checkState(root), CheckState::Partial);
    t.setCheck(b, true);
    EXPECT_EQ(t.checkState(root), CheckState::Checked);
    t.setCheck(a1, false);
    EXPECT_EQ(t.checkState(a), CheckState::Unchecked);
    EXPECT_EQ(t.checkState(root), CheckState::Partial);
    EXPECT_EQ(t.nextSibling(a), b);
    t.deleteItem(a);
    EXPECT_FALSE(t.valid(a1));
    EXPECT_EQ(t.firstChild(root), b);
    EXPECT_EQ(t.liveItems(), 2u);

    // Many at once, with their subtrees: the rest keep their order and the
    // parent's check state follows what is left.
    TreeItem c = t.insertItem(u"c", ItemImage::Folder, root);
    TreeItem c1 = t.insertItem(u"c1", ItemImage::File, c);
    TreeItem d = t.insertItem(u"d.txt", ItemImage::File, root);
    TreeItem e = t.insertItem(u"e.txt", ItemImage::File, root);
    t.setCheck(d, true);
    EXPECT_EQ(t.checkState(root), CheckState::Partial);
    t.deleteItems({c, e, e});
    EXPECT_FALSE(t.valid(c1));
    EXPECT_EQ(t.children(root), (std::vector<TreeItem>{b, d}));
    EXPECT_EQ(t.checkState(root), CheckState::Checked);
    EXPECT_EQ(t.liveItems(), 3u);
}

TEST(DisplayFormats, TimesAndSizes) {
    EXPECT_EQ(formatListTime(LocalTime{2020, 3, 4, 13, 5, 0}), u"03/04/2020  01:05 PM");
    EXPECT_EQ(formatListTime(LocalTime{2020, 3, 4, 12, 0, 0}), u"03/04/2020  12:00 AM");
    EXPECT_EQ(formatListTime(LocalTime{2020, 3, 4, 0, 0, 0}), u"03/04/2020  00:00 AM");
    EXPECT_EQ(formatListSize(1023), u"1023 Bytes");
    EXPECT_EQ(formatListSize(1024), u"1.00 KB");
    EXPECT_EQ(formatListSize(1572864), u"1.50 MB");
    EXPECT_EQ(formatListSize(1ull << 30), u"1.00 GB");
}
