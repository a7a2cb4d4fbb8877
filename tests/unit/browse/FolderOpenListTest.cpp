// Opening folders behind placeholders, and the file list filled from them.
#include <gtest/gtest.h>

#include "FakeParser.h"
#include "browse/FileList.h"
#include "browse/FolderOpen.h"

using namespace salvage;
using salvage::test::FakeParser;

namespace {
struct OpenedFolders : ::testing::Test {
    FakeParser p;
    BrowseTree tree;
    FileList list;
    RecordId docs = 0, sub = 0, live = 0, gone = 0, emptyDir = 0, unnamed = 0, after = 0;
    void SetUp() override {
        docs = p.add(0, u"docs", true);
        sub = p.add(docs, u"sub", true);
        p.add(sub, u"deep.txt", false, "d");
        unnamed = p.add(docs, u"", false, "x");
        live = p.add(docs, u"live.txt", false, "l");
        gone = p.add(docs, u"gone.txt", false, "g", true);
        after = p.add(docs, u"after.txt", false, "a");
        emptyDir = p.add(0, u"empty", true);
        p.add(0, u"top.txt", false, "t");
        p.attach(nullptr, &tree, nullptr, {});
        p.parse(RecoveryMode::Standard);
        addFirstLevelPlaceholders(tree, p);
    }
    TreeItem top(const std::u16string& name) {
        for (TreeItem c : tree.children(tree.root()))
            if (tree.text(c) == name) return c;
        return kNoItem;
    }
    std::vector<std::u16string> texts(TreeItem t) {
        std::vector<std::u16string> out;
        for (TreeItem c : tree.children(t)) out.push_back(tree.text(c));
        return out;
    }
};
}  // namespace

TEST_F(OpenedFolders, PlaceholdersOnlyUnderFoldersWithChildren) {
    EXPECT_EQ(texts(top(u"docs")), std::vector<std::u16string>{kPlaceholderText});
    EXPECT_FALSE(tree.hasChildren(top(u"empty")));
    EXPECT_FALSE(tree.hasChildren(top(u"top.txt")));
}

TEST_F(OpenedFolders, OpeningReplacesThePlaceholderOnceAndKeepsEveryName) {
    TreeItem d = top(u"docs");
    ASSERT_TRUE(openFolder(tree, p, d, false));
    // The empty name does not end the walk: the later children are there.
    const std::vector<std::u16string> want{u"sub", u"", u"live.txt", u"gone.txt", u"after.txt"};
    EXPECT_EQ(texts(d), want);
    EXPECT_EQ(texts(tree.children(d)[0]), std::vector<std::u16string>{kPlaceholderText});
    const std::size_t items = tree.liveItems();
    ASSERT_TRUE(openFolder(tree, p, d, true));
    EXPECT_EQ(tree.liveItems(), items);
    EXPECT_EQ(texts(d), want);
    // Files are not folders to open.
    EXPECT_FALSE(openFolder(tree, p, top(u"top.txt"), true));
}

TEST_F(OpenedFolders, DeletedItemsAreRedOnlyWhenColouring) {
    TreeItem d = top(u"docs");
    openFolder(tree, p, d, false);
    EXPECT_FALSE(tree.isRed(tree.children(d)[3]));

    BrowseTree t2;
    FakeParser& q = p;
    q.attach(nullptr, &t2, nullptr, {});
    q.parse(RecoveryMode::Standard);
    addFirstLevelPlaceholders(t2, q);
    TreeItem d2 = t2.children(t2.root())[0];
    openFolder(t2, q, d2, true);
    EXPECT_TRUE(t2.isRed(t2.children(d2)[3]));
    EXPECT_FALSE(t2.isRed(t2.children(d2)[2]));
}

TEST_F(OpenedFolders, ChildrenTakeTheFolderCheckState) {
    TreeItem d = top(u"docs");
    tree.setCheck(d, true);
    openFolder(tree, p, d, true);
    for (TreeItem c : tree.children(d)) EXPECT_EQ(tree.checkState(c), CheckState::Checked);
    EXPECT_EQ(tree.checkState(d), CheckState::Checked);
}

TEST_F(OpenedFolders, ListHoldsFilesOnlyAndMirrorsChecks) {
    TreeItem d = top(u"docs");
    openFolder(tree, p, d, true);
    list.fillFromFolder(tree, p, d, false);
    auto rows = list.rows();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].name, u"");
    EXPECT_EQ(rows[1].name, u"live.txt");
    EXPECT_EQ(rows[1].size, u"1 Bytes");
    EXPECT_EQ(rows[1].attribute, u"A");
    EXPECT_EQ(rows[1].creation, u"01/01/1970  00:00 AM");

    list.toggleCheck(1, tree);
    EXPECT_EQ(tree.checkState(rows[1].item), CheckState::Checked);
    EXPECT_EQ(tree.checkState(d), CheckState::Partial);
    list.toggleCheck(1, tree);
    EXPECT_EQ(tree.checkState(rows[1].item), CheckState::Unchecked);
    // Many rows at once (the header's box): the folder's state follows.
    list.setChecked({0, 1, 2, 3}, true, tree);
    EXPECT_EQ(tree.checkState(d), CheckState::Partial);  // "sub" is not a row
    tree.setCheck(tree.children(d)[0], true);
    EXPECT_EQ(tree.checkState(d), CheckState::Checked);
    list.setChecked({0, 1, 2, 3}, false, tree);
    EXPECT_EQ(tree.checkState(rows[3].item), CheckState::Unchecked);
    EXPECT_EQ(tree.checkState(d), CheckState::Partial);
    tree.setCheck(d, false);

    // A search result carries a record, not a tree item: its mark is the
    // list's own and the tree is left alone.
    list.setShowsSearchResults(true);
    ListRow result;
    result.name = u"ROOT\\docs\\gone.txt";
    result.record = gone;
    const std::size_t at = list.insertRow(99, result);
    list.toggleCheck(at, tree);
    EXPECT_TRUE(list.row(at)->checked);
    EXPECT_EQ(tree.checkState(d), CheckState::Unchecked);
    // Its values sort and filter: the deleted mark and the byte count.
    list.clear();
    FileList::fillColumns(result, p, gone);
    EXPECT_TRUE(result.deleted);
    EXPECT_EQ(result.bytes, 1u);
    // Refilling from the tree ends the search-result mode.
    list.fillFromFolder(tree, p, d, true);
    EXPECT_FALSE(list.showsSearchResults());
    EXPECT_EQ(list.size(), 4u);
}

TEST_F(OpenedFolders, CheckedEntriesByFolderAndPaths) {
    TreeItem d = top(u"docs");
    // Nothing checked: nothing to save.
    EXPECT_TRUE(checkedEntries(tree, p).empty());
    // A checked folder stands for its subtree, opened or not.
    tree.setCheck(top(u"empty"), true);
    auto groups = checkedEntries(tree, p);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].folder, tree.root());
    EXPECT_EQ(groups[0].records, std::vector<RecordId>{emptyDir});
    // Two files of an opened folder, found through its partial mark; the
    // folder itself is not taken.
    openFolder(tree, p, d, true);
    TreeItem liveItem = resolvePath(tree, p, {u"docs", u"live.txt"});
    TreeItem goneItem = resolvePath(tree, p, {u"docs", u"gone.txt"});
    ASSERT_NE(liveItem, kNoItem);
    EXPECT_EQ(resolvePath(tree, p, {u"docs", u"nothing"}), kNoItem);
    EXPECT_EQ(itemPath(tree, goneItem), u"ROOT\\docs\\gone.txt");
    tree.setCheck(liveItem, true);
    tree.setCheck(goneItem, true);
    groups = checkedEntries(tree, p);
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[1].folder, d);
    EXPECT_EQ(groups[1].records, (std::vector<RecordId>{live, gone}));
    // ROOT checked: the whole first level, once.
    tree.setCheck(tree.root(), true);
    groups = checkedEntries(tree, p);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].records.size(), 3u);
}

TEST_F(OpenedFolders, EmptyFolderLeavesTheListAlone) {
    TreeItem d = top(u"docs");
    openFolder(tree, p, d, true);
    list.fillFromFolder(tree, p, d, false);
    openFolder(tree, p, top(u"empty"), true);
    list.fillFromFolder(tree, p, top(u"empty"), false);
    EXPECT_EQ(list.size(), 4u);
}
