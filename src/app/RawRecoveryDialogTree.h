#pragma once
// The raw recovery page's tree of finds. The carving engine fills a core
// BrowseTree of its own on the worker thread; a TreeRelay watches that tree
// there and hands copies of new items and changed texts to the GUI thread in
// batches, where they go into the tree the page shows. FindsTreeModel shows
// that tree, with tri-state check boxes, to a QTreeView.
#include <QAbstractItemModel>
#include <QHash>
#include <QIcon>
#include <map>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "browse/BrowseTree.h"

namespace salvage::app {

// What changed in a worker-side tree since the last batch, as values.
struct TreeBatch {
    struct Item {
        TreeItem item = kNoItem;    // in the worker-side tree
        TreeItem parent = kNoItem;  // in the worker-side tree
        std::u16string text;
        ItemImage image = ItemImage::None;
        std::optional<RecordId> data;
    };
    struct Text {
        TreeItem item = kNoItem;
        std::u16string text;
    };
    std::vector<Item> inserted;  // in insertion order
    std::vector<Text> renamed;
    // Starts whose end the engine has not met yet (parent: the category in
    // the worker-side tree). They are listed at once, as pending finds, and
    // replaced by the find of the same text when the engine reports it.
    std::vector<Item> pending;
    bool empty() const { return inserted.empty() && renamed.empty() && pending.empty(); }
};

// Listens to a tree on the thread that changes it. take() is called on that
// same thread and returns what changed since the previous take().
class TreeRelay : public BrowseTreeListener {
public:
    explicit TreeRelay(BrowseTree& tree);
    ~TreeRelay() override;
    TreeBatch take();

    void beforeInsert(TreeItem, int) override {}
    void afterInsert(TreeItem item) override { inserted_.push_back(item); }
    void beforeRemove(TreeItem) override {}
    void afterRemove() override {}
    void changed(TreeItem item) override { changed_.push_back(item); }
    void reset() override {
        inserted_.clear();
        changed_.clear();
    }

private:
    BrowseTree& tree_;
    std::vector<TreeItem> inserted_;
    std::vector<TreeItem> changed_;
};

class FindsTreeModel : public QAbstractItemModel, private BrowseTreeListener {
    Q_OBJECT
public:
    explicit FindsTreeModel(QObject* parent = nullptr);
    ~FindsTreeModel() override;

    BrowseTree& tree() { return tree_; }
    const BrowseTree& tree() const { return tree_; }
    // Empties the tree and forgets the worker-side numbering.
    void clear();
    // Applies a batch taken from the worker-side tree.
    void apply(const TreeBatch& batch);
    // The scan has ended: pending finds the engine did not report go.
    void dropPending();
    bool isPending(TreeItem item) const { return pending_.count(item) != 0; }

    TreeItem itemAt(const QModelIndex& index) const;
    QModelIndex indexOf(TreeItem item) const;
    // The record data (find index) of every checked item, in tree order.
    std::vector<RecordId> checkedRecords() const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

signals:
    // A check box was set by the user (through setData).
    void checkToggled();

private:
    void beforeInsert(TreeItem parent, int row) override;
    void afterInsert(TreeItem item) override;
    void beforeRemove(TreeItem item) override;
    void afterRemove() override;
    void changed(TreeItem item) override;
    void reset() override;

    QIcon iconFor(const std::u16string& name) const;
    TreeItem insertUnder(TreeItem parent, const TreeBatch::Item& in);
    void applyItems(const TreeBatch& batch);

    BrowseTree tree_;
    std::unordered_map<TreeItem, TreeItem> fromWorker_;
    // Pending finds, by category here and text.
    std::map<std::pair<TreeItem, std::u16string>, TreeItem> pendingByText_;
    std::unordered_set<TreeItem> pending_;
    mutable QHash<QString, QIcon> typeIcons_;  // worker-side item -> item here
    QIcon folderIcon_;
    QIcon fileIcon_;
};

}  // namespace salvage::app
