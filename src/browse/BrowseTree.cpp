#include "browse/BrowseTree.h"

#include <algorithm>

namespace salvage {

namespace {
const std::u16string kEmpty;
}

const BrowseTree::Node* BrowseTree::node(TreeItem item) const {
    if (item < 0 || std::size_t(item) >= nodes_.size() || !nodes_[std::size_t(item)].alive) return nullptr;
    return &nodes_[std::size_t(item)];
}
BrowseTree::Node* BrowseTree::node(TreeItem item) {
    return const_cast<Node*>(static_cast<const BrowseTree*>(this)->node(item));
}

bool BrowseTree::valid(TreeItem item) const { return node(item) != nullptr; }

TreeItem BrowseTree::insertItem(const std::u16string& text, ItemImage image, TreeItem parent) {
    Node* p = parent == kNoItem ? nullptr : node(parent);
    if (parent != kNoItem && !p) return kNoItem;
    int row = int(p ? p->children.size() : top_.size());
    if (listener_) listener_->beforeInsert(parent, row);
    TreeItem id = TreeItem(nodes_.size());
    Node n;
    n.text = text;
    n.image = image;
    n.parent = parent;
    n.alive = true;
    nodes_.push_back(std::move(n));
    (parent == kNoItem ? top_ : nodes_[std::size_t(parent)].children).push_back(id);
    ++live_;
    if (listener_) listener_->afterInsert(id);
    return id;
}


void BrowseTree::deleteItem(TreeItem item) {
    Node* n = node(item);
    if (!n) return;
    if (listener_) listener_->beforeRemove(item);
    TreeItem parent = n->parent;
    auto& siblings = parent == kNoItem ? top_ : nodes_[std::size_t(parent)].children;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), item), siblings.end());
    std::vector<TreeItem> stack;
    freeSubtree(item, stack);
    if (listener_) listener_->afterRemove();
    if (parent != kNoItem) updateAncestors(parent);
}

// Frees an item already unlinked from its parent and its whole subtree,
// iteratively from the deepest: a hostile tree may be deep.
void BrowseTree::freeSubtree(TreeItem item, std::vector<TreeItem>& stack) {
    stack.assign(1, item);
    while (!stack.empty()) {
        TreeItem t = stack.back();
        stack.pop_back();
        Node& x = nodes_[std::size_t(t)];
        for (TreeItem c : x.children) stack.push_back(c);
        // The slot stays (handles are never reused); its buffers go.
        std::vector<TreeItem>().swap(x.children);
        x.alive = false;
        std::u16string().swap(x.text);
        --live_;
        if (selected_ == t) selected_ = kNoItem;
    }
}

void BrowseTree::deleteItems(const std::vector<TreeItem>& items) {
    if (listener_) {
        // A listener follows removals one by one.
        for (TreeItem item : items) deleteItem(item);
        return;
    }
    std::vector<TreeItem> parents;
    std::vector<TreeItem> stack;
    for (TreeItem item : items) {
        Node* n = node(item);
        if (!n) continue;
        parents.push_back(n->parent);
        freeSubtree(item, stack);
    }
    std::sort(parents.begin(), parents.end());
    parents.erase(std::unique(parents.begin(), parents.end()), parents.end());
    for (TreeItem parent : parents) {
        auto& siblings = parent == kNoItem ? top_ : nodes_[std::size_t(parent)].children;
        siblings.erase(std::remove_if(siblings.begin(), siblings.end(),
                                      [&](TreeItem s) { return !nodes_[std::size_t(s)].alive; }),
                       siblings.end());
    }
    for (TreeItem parent : parents)
        if (parent != kNoItem && node(parent)) updateAncestors(parent);
}

void BrowseTree::clear() {
    nodes_.clear();
    top_.clear();
    selected_ = kNoItem;
    live_ = 0;
    if (listener_) listener_->reset();
}

const std::u16string& BrowseTree::text(TreeItem item) const {
    const Node* n = node(item);
    return n ? n->text : kEmpty;
}
void BrowseTree::setText(TreeItem item, const std::u16string& text) {
    if (Node* n = node(item)) {
        n->text = text;
        if (listener_) listener_->changed(item);
    }
}
ItemImage BrowseTree::image(TreeItem item) const {
    const Node* n = node(item);
    return n ? n->image : ItemImage::None;
}
void BrowseTree::setItemData(TreeItem item, RecordId record) {
    if (Node* n = node(item)) n->data = record;
}
std::optional<RecordId> BrowseTree::itemData(TreeItem item) const {
    const Node* n = node(item);
    return n ? n->data : std::nullopt;
}
void BrowseTree::setRed(TreeItem item, bool red) {
    if (Node* n = node(item)) {
        n->red = red;
        if (listener_) listener_->changed(item);
    }
}
bool BrowseTree::isRed(TreeItem item) const {
    const Node* n = node(item);
    return n && n->red;
}

void BrowseTree::setSubtree(TreeItem item, CheckState s) {
    std::vector<TreeItem> stack{item};
    while (!stack.empty()) {
        TreeItem t = stack.back();
        stack.pop_back();
        Node& n = nodes_[std::size_t(t)];
        n.check = s;
        if (listener_) listener_->changed(t);
        for (TreeItem c : n.children) stack.push_back(c);
    }
}

void BrowseTree::updateAncestors(TreeItem item) {
    for (TreeItem p = item; p != kNoItem; p = nodes_[std::size_t(p)].parent) {
        Node& n = nodes_[std::size_t(p)];
        if (n.children.empty()) continue;
        bool allChecked = true, anyMarked = false;
        for (TreeItem c : n.children) {
            CheckState cs = nodes_[std::size_t(c)].check;
            if (cs != CheckState::Checked) allChecked = false;
            if (cs != CheckState::Unchecked) anyMarked = true;
        }
        CheckState s = allChecked ? CheckState::Checked : anyMarked ? CheckState::Partial : CheckState::Unchecked;
        if (s == n.check && p != item) break;
        n.check = s;
        if (listener_) listener_->changed(p);
    }
}

void BrowseTree::setCheck(TreeItem item, bool checked) {
    Node* n = node(item);
    if (!n) return;
    setSubtree(item, checked ? CheckState::Checked : CheckState::Unchecked);
    if (n->parent != kNoItem) updateAncestors(n->parent);
}

void BrowseTree::setChecks(const std::vector<TreeItem>& items, bool checked) {
    std::vector<TreeItem> parents;
    for (TreeItem item : items) {
        const Node* n = node(item);
        if (!n) continue;
        setSubtree(item, checked ? CheckState::Checked : CheckState::Unchecked);
        if (n->parent != kNoItem && (parents.empty() || parents.back() != n->parent)) parents.push_back(n->parent);
    }
    std::sort(parents.begin(), parents.end());
    parents.erase(std::unique(parents.begin(), parents.end()), parents.end());
    for (TreeItem p : parents) updateAncestors(p);
}

CheckState BrowseTree::checkState(TreeItem item) const {
    const Node* n = node(item);
    return n ? n->check : CheckState::Unchecked;
}

TreeItem BrowseTree::root() const { return top_.empty() ? kNoItem : top_.front(); }

TreeItem BrowseTree::firstChild(TreeItem item) const {
    if (item == kNoItem) return root();
    const Node* n = node(item);
    return (n && !n->children.empty()) ? n->children.front() : kNoItem;
}

TreeItem BrowseTree::nextSibling(TreeItem item) const {
    const Node* n = node(item);
    if (!n) return kNoItem;
    const auto& sib = n->parent == kNoItem ? top_ : nodes_[std::size_t(n->parent)].children;
    auto it = std::find(sib.begin(), sib.end(), item);
    if (it == sib.end() || ++it == sib.end()) return kNoItem;
    return *it;
}

TreeItem BrowseTree::parent(TreeItem item) const {
    const Node* n = node(item);
    return n ? n->parent : kNoItem;
}

int BrowseTree::childCount(TreeItem item) const {
    if (item == kNoItem) return int(top_.size());
    const Node* n = node(item);
    return n ? int(n->children.size()) : 0;
}

TreeItem BrowseTree::child(TreeItem item, int row) const {
    const auto* list = item == kNoItem ? &top_ : (node(item) ? &node(item)->children : nullptr);
    if (!list || row < 0 || std::size_t(row) >= list->size()) return kNoItem;
    return (*list)[std::size_t(row)];
}

int BrowseTree::row(TreeItem item) const {
    const Node* n = node(item);
    if (!n) return -1;
    const auto& sib = n->parent == kNoItem ? top_ : nodes_[std::size_t(n->parent)].children;
    auto it = std::find(sib.begin(), sib.end(), item);
    return it == sib.end() ? -1 : int(it - sib.begin());
}

std::vector<TreeItem> BrowseTree::children(TreeItem item) const {
    if (item == kNoItem) return top_;
    const Node* n = node(item);
    return n ? n->children : std::vector<TreeItem>{};
}

void BrowseTree::expand(TreeItem item, bool expanded) {
    if (Node* n = node(item)) n->expanded = expanded;
}
bool BrowseTree::isExpanded(TreeItem item) const {
    const Node* n = node(item);
    return n && n->expanded;
}

}  // namespace salvage
