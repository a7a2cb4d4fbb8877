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

}  // namespace salvage
