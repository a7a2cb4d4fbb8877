#include "ui/BrowseTreeModel.h"

#include <QColor>
#include <utility>

#include "ui/FileIcons.h"

namespace salvage::ui {

BrowseTreeModel::BrowseTreeModel(BrowseTree& tree, QObject* parent) : QAbstractItemModel(parent), tree_(tree) {
    attach();
}

BrowseTreeModel::~BrowseTreeModel() { tree_.setListener(nullptr); }

void BrowseTreeModel::detach() {
    beginResetModel();
    tree_.setListener(nullptr);
    attached_ = false;
    changedParents_.clear();
    endResetModel();
}

void BrowseTreeModel::attach() {
    beginResetModel();
    rebuildRows();
    tree_.setListener(this);
    attached_ = true;
    endResetModel();
}

void BrowseTreeModel::rebuildRows() {
    rows_.assign(rows_.size(), -1);
    std::vector<TreeItem> stack{kNoItem};
    while (!stack.empty()) {
        const TreeItem p = stack.back();
        stack.pop_back();
        const std::vector<TreeItem> children = tree_.children(p);
        for (std::size_t i = 0; i < children.size(); ++i) {
            setRow(children[i], int(i));
            stack.push_back(children[i]);
        }
    }
}

void BrowseTreeModel::setRow(TreeItem item, int row) {
    if (item < 0) return;
    if (std::size_t(item) >= rows_.size()) rows_.resize(std::size_t(item) + 1, -1);
    rows_[std::size_t(item)] = row;
}

int BrowseTreeModel::rowOf(TreeItem item) const {
    if (item >= 0 && std::size_t(item) < rows_.size() && rows_[std::size_t(item)] >= 0)
        return rows_[std::size_t(item)];
    const int r = tree_.row(item);
    const_cast<BrowseTreeModel*>(this)->setRow(item, r);
    return r;
}

TreeItem BrowseTreeModel::itemOf(const QModelIndex& index) const {
    return index.isValid() ? TreeItem(index.internalId()) : kNoItem;
}

QModelIndex BrowseTreeModel::indexOf(TreeItem item) const {
    if (!attached_ || item == kNoItem || !tree_.valid(item)) return {};
    return createIndex(rowOf(item), 0, quintptr(item));
}

QModelIndex BrowseTreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (!attached_ || column != 0 || row < 0 || parent.column() > 0) return {};
    const TreeItem p = itemOf(parent);
    if (inBatch_ && p == batchFolder_ && frozenCount_ >= 0 && row >= frozenCount_) return {};
    const TreeItem c = tree_.child(p, row);
    return c == kNoItem ? QModelIndex() : createIndex(row, 0, quintptr(c));
}

QModelIndex BrowseTreeModel::parent(const QModelIndex& child) const {
    if (!attached_ || !child.isValid()) return {};
    return indexOf(tree_.parent(itemOf(child)));
}

int BrowseTreeModel::rowCount(const QModelIndex& parent) const {
    if (!attached_ || parent.column() > 0) return 0;
    const TreeItem p = itemOf(parent);
    if (inBatch_ && p == batchFolder_ && frozenCount_ >= 0) return frozenCount_;
    return tree_.childCount(p);
}

int BrowseTreeModel::columnCount(const QModelIndex&) const { return 1; }

QVariant BrowseTreeModel::data(const QModelIndex& index, int role) const {
    const TreeItem item = itemOf(index);
    if (!attached_ || !tree_.valid(item)) return {};
    switch (role) {
        case Qt::DisplayRole: return QString::fromStdU16String(tree_.text(item));
        case Qt::DecorationRole:
            switch (tree_.image(item)) {
                case ItemImage::Folder: return folderIcon();
                case ItemImage::File: return iconForFileName(QString::fromStdU16String(tree_.text(item)));
                default: return {};
            }
        case Qt::ForegroundRole:
            if (tree_.isRed(item)) return QColor(255, 0, 0);
            return {};
        case Qt::CheckStateRole:
            switch (tree_.checkState(item)) {
                case CheckState::Checked: return Qt::Checked;
                case CheckState::Partial: return Qt::PartiallyChecked;
                case CheckState::Unchecked: return Qt::Unchecked;
            }
            return {};
        default: return {};
    }
}

bool BrowseTreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    const TreeItem item = itemOf(index);
    if (role != Qt::CheckStateRole || !attached_ || !tree_.valid(item)) return false;
    // The tree sets the whole subtree and the ancestors' partly-checked states.
    tree_.setCheck(item, value.toInt() == Qt::Checked);
    return true;
}

Qt::ItemFlags BrowseTreeModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
}

void BrowseTreeModel::insertChildrenOf(TreeItem folder, const std::function<void()>& change) {
    if (!attached_) {
        change();
        return;
    }
    batchFolder_ = folder;
    inBatch_ = true;
    frozenCount_ = -1;
    change();
    const int before = frozenCount_;
    const int after = tree_.childCount(folder);
    if (before >= 0 && after > before) {
        // The view still sees `before` rows until the insertion is announced.
        beginInsertRows(indexOf(folder), before, after - 1);
        inBatch_ = false;
        endInsertRows();
    }
    inBatch_ = false;
    batchFolder_ = kNoItem;
    frozenCount_ = -1;
}

void BrowseTreeModel::beforeInsert(TreeItem parent, int row) {
    pendingRow_ = row;
    if (inBatch_) {
        // The first insertion under the folder fixes what the view knows;
        // everything inserted during the batch is announced at its end.
        if (parent == batchFolder_ && frozenCount_ < 0) frozenCount_ = row;
        return;
    }
    beginInsertRows(indexOf(parent), row, row);
}

void BrowseTreeModel::afterInsert(TreeItem item) {
    setRow(item, pendingRow_);
    if (!inBatch_) endInsertRows();
}

void BrowseTreeModel::beforeRemove(TreeItem item) {
    removedParent_ = tree_.parent(item);
    removing_ = !(inBatch_ && frozenCount_ >= 0);
    if (removing_) {
        const int r = rowOf(item);
        beginRemoveRows(indexOf(removedParent_), r, r);
    }
}

void BrowseTreeModel::afterRemove() {
    const std::vector<TreeItem> siblings = tree_.children(removedParent_);
    for (std::size_t i = 0; i < siblings.size(); ++i) setRow(siblings[i], int(i));
    if (removing_) endRemoveRows();
    removing_ = false;
}

void BrowseTreeModel::changed(TreeItem item) {
    changedParents_.insert(tree_.parent(item));
    if (flushQueued_) return;
    flushQueued_ = true;
    QMetaObject::invokeMethod(this, &BrowseTreeModel::flushChanges, Qt::QueuedConnection);
}

void BrowseTreeModel::flushChanges() {
    flushQueued_ = false;
    const QSet<TreeItem> parents = std::exchange(changedParents_, {});
    if (!attached_) return;
    for (TreeItem p : parents) {
        if (p != kNoItem && !tree_.valid(p)) continue;
        const QModelIndex parentIndex = indexOf(p);
        const int n = rowCount(parentIndex);
        if (n > 0)
            emit dataChanged(index(0, 0, parentIndex), index(n - 1, 0, parentIndex),
                             {Qt::DisplayRole, Qt::ForegroundRole, Qt::CheckStateRole});
    }
}

void BrowseTreeModel::reset() {
    beginResetModel();
    rows_.clear();
    changedParents_.clear();
    endResetModel();
}

}  // namespace salvage::ui
