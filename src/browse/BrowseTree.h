#pragma once
// The browse tree that parsers fill and the front ends show: "ROOT", the
// first level, "..DUMY.." placeholders behind unopened folders, red deleted
// items, tri-state check marks, and item data naming a parser record.
// Items are handles (indices); a deleted item's handle is never reused.
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace salvage {

using TreeItem = std::int32_t;
inline constexpr TreeItem kNoItem = -1;

// A parser record, in the parser's own numbering (table index or map key).
using RecordId = std::int64_t;

enum class ItemImage : std::uint8_t { None = 0, Placeholder = 1, File = 2, Folder = 3 };
enum class CheckState : std::uint8_t { Unchecked, Checked, Partial };

inline constexpr char16_t kPlaceholderText[] = u"..DUMY..";
inline constexpr char16_t kRootText[] = u"ROOT";

// Observes structural changes, so a view model can follow them. Called on
// the thread that changes the tree.
class BrowseTreeListener {
public:
    virtual ~BrowseTreeListener() = default;
    virtual void beforeInsert(TreeItem parent, int row) = 0;
    virtual void afterInsert(TreeItem item) = 0;
    virtual void beforeRemove(TreeItem item) = 0;
    virtual void afterRemove() = 0;
    virtual void changed(TreeItem item) = 0;
    virtual void reset() = 0;
};

class BrowseTree {
public:
    // Inserts an item as the last child of parent (kNoItem: a top item).
    TreeItem insertItem(const std::u16string& text, ItemImage image, TreeItem parent = kNoItem);
    void deleteItem(TreeItem item);  // with its subtree
    // Many items with their subtrees. Without a listener each sibling list is
    // compacted once and each parent's check state worked out once, rather
    // than once per item (both read all of a parent's children).
    void deleteItems(const std::vector<TreeItem>& items);
    void clear();

    bool valid(TreeItem item) const;
    const std::u16string& text(TreeItem item) const;
    void setText(TreeItem item, const std::u16string& text);
    ItemImage image(TreeItem item) const;
    void setItemData(TreeItem item, RecordId record);
    std::optional<RecordId> itemData(TreeItem item) const;
    void setRed(TreeItem item, bool red = true);
    bool isRed(TreeItem item) const;

    // Setting a state sets the subtree to it and updates the partly-checked
    // state of the ancestors.
    void setCheck(TreeItem item, bool checked);
    // The same for many items at once; each parent's state is worked out
    // once, not once per item (a parent's update reads all its children).
    void setChecks(const std::vector<TreeItem>& items, bool checked);
    CheckState checkState(TreeItem item) const;

    TreeItem root() const;  // the first top item
    TreeItem firstChild(TreeItem item) const;
    TreeItem nextSibling(TreeItem item) const;
    TreeItem parent(TreeItem item) const;
    bool hasChildren(TreeItem item) const { return firstChild(item) != kNoItem; }
    int childCount(TreeItem item) const;
    TreeItem child(TreeItem item, int row) const;
    int row(TreeItem item) const;
    std::vector<TreeItem> children(TreeItem item) const;

    void expand(TreeItem item, bool expanded = true);
    bool isExpanded(TreeItem item) const;
    TreeItem selected() const { return selected_; }
    void select(TreeItem item) { selected_ = item; }

    std::size_t liveItems() const { return live_; }
    void setListener(BrowseTreeListener* l) { listener_ = l; }

private:
    struct Node {
        std::u16string text;
        std::optional<RecordId> data;
        TreeItem parent = kNoItem;
        std::vector<TreeItem> children;
        ItemImage image = ItemImage::None;
        CheckState check = CheckState::Unchecked;
        bool red = false;
        bool expanded = false;
        bool alive = false;
    };
    void setSubtree(TreeItem item, CheckState s);
    void updateAncestors(TreeItem item);
    void freeSubtree(TreeItem item, std::vector<TreeItem>& stack);
    const Node* node(TreeItem item) const;
    Node* node(TreeItem item);

    // Chunked, so growing never copies the nodes nor holds two copies at once.
    std::deque<Node> nodes_;
    std::vector<TreeItem> top_;
    TreeItem selected_ = kNoItem;
    std::size_t live_ = 0;
    BrowseTreeListener* listener_ = nullptr;
};

}  // namespace salvage
