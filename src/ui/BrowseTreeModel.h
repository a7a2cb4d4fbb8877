#pragma once
// Shows the core BrowseTree in a Qt item view. The model holds no copy of
// the tree: every question goes to the tree, and the tree's listener tells
// the model of changes made on the GUI thread. While a job changes the tree
// on a worker, the model is detached and shows nothing; attach() shows the
// finished tree again.
#include <QAbstractItemModel>
#include <QSet>
#include <functional>
#include <vector>

#include "browse/BrowseTree.h"

namespace salvage::ui {

class BrowseTreeModel : public QAbstractItemModel, private BrowseTreeListener {
    Q_OBJECT
public:
    explicit BrowseTreeModel(BrowseTree& tree, QObject* parent = nullptr);
    ~BrowseTreeModel() override;

    // Before a worker changes the tree: the view is emptied and the tree's
    // listener removed. attach() reads the whole tree afresh.
    void detach();
    void attach();
    bool attached() const { return attached_; }

    TreeItem itemOf(const QModelIndex& index) const;
    QModelIndex indexOf(TreeItem item) const;

    // Runs `change`, which inserts the children of `folder` (and their
    // placeholders), and tells the view of all of them at once: one
    // insertion instead of one per child keeps a folder of 100,000 entries
    // quick to open.
    void insertChildrenOf(TreeItem folder, const std::function<void()>& change);

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    void beforeInsert(TreeItem parent, int row) override;
    void afterInsert(TreeItem item) override;
    void beforeRemove(TreeItem item) override;
    void afterRemove() override;
    void changed(TreeItem item) override;
    void reset() override;

    int rowOf(TreeItem item) const;
    void setRow(TreeItem item, int row);
    void rebuildRows();
    void flushChanges();

    BrowseTree& tree_;
    bool attached_ = false;
    // Row of each item within its parent; -1 when not known yet.
    mutable std::vector<int> rows_;
    int pendingRow_ = 0;
    bool removing_ = false;
    TreeItem removedParent_ = kNoItem;
    // A batch insertion: the folder, and its row count as the view knows it.
    TreeItem batchFolder_ = kNoItem;
    bool inBatch_ = false;
    int frozenCount_ = -1;
    // Parents of items whose look changed (check, colour, text), told to
    // the view once per event-loop turn.
    QSet<TreeItem> changedParents_;
    bool flushQueued_ = false;
};

}  // namespace salvage::ui
