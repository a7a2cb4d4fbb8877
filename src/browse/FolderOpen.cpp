#include "browse/FolderOpen.h"

namespace salvage {

std::optional<RecordId> validRecord(const BrowseTree& tree, const VolumeParser& parser, TreeItem item) {
    auto id = tree.itemData(item);
    if (!id || !parser.isValidRecord(*id)) return std::nullopt;
    return id;
}

void addFirstLevelPlaceholders(BrowseTree& tree, const VolumeParser& parser) {
    TreeItem root = tree.root();
    if (root == kNoItem) return;
    for (TreeItem item : tree.children(root)) {
        if (tree.image(item) == ItemImage::None) continue;
        auto id = validRecord(tree, parser, item);
        if (!id || !parser.hasChildren(*id)) continue;
        // A first-level folder the parser already filled needs none.
        if (tree.hasChildren(item)) continue;
        tree.insertItem(kPlaceholderText, ItemImage::Placeholder, item);
    }
}

bool openFolder(BrowseTree& tree, const VolumeParser& parser, TreeItem folder, bool colourDeleted) {
    auto id = validRecord(tree, parser, folder);
    if (!id || !parser.isDirectory(*id)) return false;
    const bool checked = tree.checkState(folder) == CheckState::Checked;
    TreeItem first = tree.firstChild(folder);
    if (first != kNoItem && tree.text(first) == kPlaceholderText) {
        tree.deleteItem(first);
        first = tree.firstChild(folder);
    }
    if (first != kNoItem) return true;  // opened before: items are never refreshed
    parser.forEachChild(*id, [&](RecordId child) {
        const bool dir = parser.isDirectory(child);
        TreeItem item = tree.insertItem(parser.name(child), dir ? ItemImage::Folder : ItemImage::File, folder);
        if (item == kNoItem) return false;
        if (dir && parser.hasChildren(child)) tree.insertItem(kPlaceholderText, ItemImage::Placeholder, item);
        if (colourDeleted && parser.isDeleted(child)) tree.setRed(item);
        tree.setItemData(item, child);
        return true;
    });
    // One pass over the new subtree, not one ancestor update per child.
    if (checked) tree.setCheck(folder, true);
    return true;
}

TreeItem resolvePath(BrowseTree& tree, const VolumeParser& parser, const std::vector<std::u16string>& names) {
    TreeItem cur = tree.root();
    for (const auto& name : names) {
        if (cur == kNoItem) return kNoItem;
        openFolder(tree, parser, cur, true);
        TreeItem next = kNoItem;
        for (TreeItem c : tree.children(cur))
            if (tree.text(c) == name && tree.image(c) != ItemImage::Placeholder) {
                next = c;
                break;
            }
        cur = next;
    }
    return cur;
}

std::u16string itemPath(const BrowseTree& tree, TreeItem item) {
    std::u16string path;
    for (TreeItem t = item; t != kNoItem; t = tree.parent(t))
        path = path.empty() ? tree.text(t) : tree.text(t) + u"\\" + path;
    return path;
}

namespace {
void collectChecked(const BrowseTree& tree, const VolumeParser& parser, TreeItem folder,
                    std::vector<CheckedGroup>& out) {
    CheckedGroup here{folder, {}};
    std::vector<TreeItem> partly;
    for (TreeItem c : tree.children(folder)) {
        const CheckState state = tree.checkState(c);
        if (state == CheckState::Checked) {
            if (auto id = validRecord(tree, parser, c)) here.records.push_back(*id);
        } else if (state == CheckState::Partial) {
            partly.push_back(c);
        }
    }
    if (!here.records.empty()) out.push_back(std::move(here));
    for (TreeItem c : partly) collectChecked(tree, parser, c, out);
}
}  // namespace

std::vector<CheckedGroup> checkedEntries(const BrowseTree& tree, const VolumeParser& parser) {
    std::vector<CheckedGroup> out;
    for (TreeItem top = tree.root(); top != kNoItem; top = tree.nextSibling(top)) {
        const CheckState state = tree.checkState(top);
        if (state == CheckState::Unchecked) continue;
        if (state == CheckState::Checked && validRecord(tree, parser, top)) {
            out.push_back({kNoItem, {*validRecord(tree, parser, top)}});
            continue;
        }
        // ROOT has no record: checked, it stands for its first level.
        if (state == CheckState::Checked) {
            CheckedGroup all{top, {}};
            for (TreeItem c : tree.children(top))
                if (auto id = validRecord(tree, parser, c)) all.records.push_back(*id);
            if (!all.records.empty()) out.push_back(std::move(all));
            continue;
        }
        collectChecked(tree, parser, top, out);
    }
    return out;
}

}  // namespace salvage
