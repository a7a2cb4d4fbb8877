#include "app/RawRecoveryDialogTree.h"

#include <QApplication>
#include <QBrush>
#include <QMimeDatabase>
#include <QStyle>

namespace salvage::app {

TreeRelay::TreeRelay(BrowseTree& tree) : tree_(tree) { tree_.setListener(this); }

TreeRelay::~TreeRelay() { tree_.setListener(nullptr); }

TreeBatch TreeRelay::take() {
    TreeBatch batch;
    batch.inserted.reserve(inserted_.size());
    for (TreeItem item : inserted_)
        batch.inserted.push_back({item, tree_.parent(item), tree_.text(item), tree_.image(item), tree_.itemData(item)});
    // An item inserted in this batch already carries its latest text.
    // Items are numbered in insertion order, so those of this batch are the
    // ones from its first insertion on. Each changed item is sent once.
    std::unordered_map<TreeItem, bool> sent;
    for (TreeItem item : changed_) {
        if (!inserted_.empty() && item >= inserted_.front()) continue;
        if (!sent.emplace(item, true).second) continue;
        batch.renamed.push_back({item, tree_.text(item)});
    }
    inserted_.clear();
    changed_.clear();
    return batch;
}

FindsTreeModel::FindsTreeModel(QObject* parent) : QAbstractItemModel(parent) {
    tree_.setListener(this);
    folderIcon_ = QApplication::style()->standardIcon(QStyle::SP_DirIcon);
    fileIcon_ = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
}

FindsTreeModel::~FindsTreeModel() { tree_.setListener(nullptr); }

void FindsTreeModel::clear() {
    beginResetModel();
    tree_.setListener(nullptr);
    tree_.clear();
    fromWorker_.clear();
    pendingByText_.clear();
    pending_.clear();
    tree_.setListener(this);
    endResetModel();
}

TreeItem FindsTreeModel::insertUnder(TreeItem parent, const TreeBatch::Item& in) {
    TreeItem item = tree_.insertItem(in.text, in.image, parent);
    if (item == kNoItem) return kNoItem;
    if (in.data) tree_.setItemData(item, *in.data);
    // A category checked during the scan takes its later finds too.
    if (parent != kNoItem && tree_.checkState(parent) == CheckState::Checked) tree_.setCheck(item, true);
    return item;
}

void FindsTreeModel::apply(const TreeBatch& batch) {
    // The scan's end settles every pending find at once: thousands of
    // removals and insertions, each of which a view would follow row by row.
    // Past a few hundred the batch is applied as one reset instead.
    constexpr std::size_t kResetAbove = 256;
    std::size_t replacing = 0;
    if (!pendingByText_.empty())
        for (const TreeBatch::Item& in : batch.inserted) {
            auto p = fromWorker_.find(in.parent);
            if (p != fromWorker_.end() && pendingByText_.count({p->second, in.text})) ++replacing;
        }
    const bool reset = replacing > kResetAbove;
    if (reset) {
        beginResetModel();
        tree_.setListener(nullptr);
    }
    applyItems(batch);
    if (reset) {
        tree_.setListener(this);
        endResetModel();
    }
}

void FindsTreeModel::applyItems(const TreeBatch& batch) {
    // The engine reports a find in its own order; its pending entry gives
    // way so the tree ends as the engine lists it.
    std::vector<TreeItem> settled;
    for (const TreeBatch::Item& in : batch.inserted) {
        auto parent = fromWorker_.find(in.parent);
        if (parent == fromWorker_.end()) continue;
        if (auto p = pendingByText_.find({parent->second, in.text}); p != pendingByText_.end()) {
            settled.push_back(p->second);
            pending_.erase(p->second);
            pendingByText_.erase(p);
        }
    }
    tree_.deleteItems(settled);
    for (const TreeBatch::Item& in : batch.inserted) {
        TreeItem parent = kNoItem;
        if (in.parent != kNoItem) {
            auto p = fromWorker_.find(in.parent);
            if (p == fromWorker_.end()) continue;  // its parent never arrived
            parent = p->second;
        }
        TreeItem item = insertUnder(parent, in);
        if (item != kNoItem) fromWorker_[in.item] = item;
    }
    for (const TreeBatch::Text& t : batch.renamed) {
        auto it = fromWorker_.find(t.item);
        if (it != fromWorker_.end()) tree_.setText(it->second, t.text);
    }
    for (const TreeBatch::Item& in : batch.pending) {
        auto p = fromWorker_.find(in.parent);
        if (p == fromWorker_.end()) continue;
        // Listed without record data: a pending find cannot be saved.
        TreeBatch::Item plain{in.item, in.parent, in.text, in.image, std::nullopt};
        TreeItem item = insertUnder(p->second, plain);
        if (item == kNoItem) continue;
        pending_.insert(item);
        pendingByText_[{p->second, in.text}] = item;
    }
}

void FindsTreeModel::dropPending() {
    for (const auto& [key, item] : pendingByText_) tree_.deleteItem(item);
    pendingByText_.clear();
    pending_.clear();
}

TreeItem FindsTreeModel::itemAt(const QModelIndex& index) const {
    return index.isValid() ? TreeItem(index.internalId()) : kNoItem;
}

QModelIndex FindsTreeModel::indexOf(TreeItem item) const {
    if (!tree_.valid(item)) return {};
    return createIndex(tree_.row(item), 0, quintptr(item));
}

std::vector<RecordId> FindsTreeModel::checkedRecords() const {
    std::vector<RecordId> out;
    std::vector<TreeItem> stack;
    auto pushChildren = [&](TreeItem parent) {
        std::vector<TreeItem> kids = tree_.children(parent);
        for (auto it = kids.rbegin(); it != kids.rend(); ++it) stack.push_back(*it);
    };
    pushChildren(kNoItem);
    while (!stack.empty()) {
        TreeItem item = stack.back();
        stack.pop_back();
        if (tree_.checkState(item) == CheckState::Unchecked) continue;
        if (auto data = tree_.itemData(item); data && tree_.checkState(item) == CheckState::Checked) out.push_back(*data);
        pushChildren(item);
    }
    return out;
}

QModelIndex FindsTreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (column != 0 || row < 0) return {};
    if (parent.isValid() && parent.column() != 0) return {};
    TreeItem item = tree_.child(itemAt(parent), row);
    return item == kNoItem ? QModelIndex() : createIndex(row, 0, quintptr(item));
}

QModelIndex FindsTreeModel::parent(const QModelIndex& child) const {
    TreeItem parent = tree_.parent(itemAt(child));
    return parent == kNoItem ? QModelIndex() : indexOf(parent);
}

int FindsTreeModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() && parent.column() != 0) return 0;
    return tree_.childCount(itemAt(parent));
}

int FindsTreeModel::columnCount(const QModelIndex&) const { return 1; }

bool FindsTreeModel::hasChildren(const QModelIndex& parent) const { return rowCount(parent) > 0; }

QVariant FindsTreeModel::data(const QModelIndex& index, int role) const {
    TreeItem item = itemAt(index);
    if (!tree_.valid(item)) return {};
    switch (role) {
        case Qt::DisplayRole: return QString::fromStdU16String(tree_.text(item));
        case Qt::ToolTipRole:
            if (isPending(item))
                return QStringLiteral("%1: start found, its end is still being searched for")
                    .arg(QString::fromStdU16String(tree_.text(item)));
            return QString::fromStdU16String(tree_.text(item));
        case Qt::DecorationRole:
            return tree_.image(item) == ItemImage::Folder ? folderIcon_ : iconFor(tree_.text(item));
        case Qt::CheckStateRole:
            if (isPending(item)) return {};
            switch (tree_.checkState(item)) {
                case CheckState::Checked: return Qt::Checked;
                case CheckState::Partial: return Qt::PartiallyChecked;
                case CheckState::Unchecked: return Qt::Unchecked;
            }
            return {};
        case Qt::ForegroundRole:
            if (tree_.isRed(item)) return QBrush(Qt::red);
            if (isPending(item)) return QApplication::palette().brush(QPalette::Disabled, QPalette::Text);
            return {};
        default: return {};
    }
}

QIcon FindsTreeModel::iconFor(const std::u16string& name) const {
    // The desktop's icon for the name's type, by its extension; the plain
    // file icon where the desktop has none.
    const std::size_t dot = name.rfind(u'.');
    const QString ext = dot == std::u16string::npos ? QString() : QString::fromStdU16String(name.substr(dot + 1));
    auto it = typeIcons_.find(ext);
    if (it != typeIcons_.end()) return it.value();
    QIcon icon = fileIcon_;
    if (!ext.isEmpty()) {
        const QMimeType type = QMimeDatabase().mimeTypeForFile(QStringLiteral("x.") + ext, QMimeDatabase::MatchExtension);
        icon = QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName(), fileIcon_));
    }
    typeIcons_.insert(ext, icon);
    return icon;
}

bool FindsTreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    TreeItem item = itemAt(index);
    if (role != Qt::CheckStateRole || !tree_.valid(item) || isPending(item)) return false;
    // Partly checked means "some below": a click on it checks the whole subtree.
    tree_.setCheck(item, value.toInt() != Qt::Unchecked);
    emit checkToggled();
    return true;
}

Qt::ItemFlags FindsTreeModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    if (isPending(itemAt(index))) return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
}

void FindsTreeModel::beforeInsert(TreeItem parent, int row) {
    beginInsertRows(parent == kNoItem ? QModelIndex() : indexOf(parent), row, row);
}
void FindsTreeModel::afterInsert(TreeItem) { endInsertRows(); }
void FindsTreeModel::beforeRemove(TreeItem item) {
    const QModelIndex index = indexOf(item);
    beginRemoveRows(index.parent(), index.row(), index.row());
}
void FindsTreeModel::afterRemove() { endRemoveRows(); }
void FindsTreeModel::changed(TreeItem item) {
    const QModelIndex index = indexOf(item);
    if (index.isValid()) emit dataChanged(index, index);
}
void FindsTreeModel::reset() {
    beginResetModel();
    endResetModel();
}

}  // namespace salvage::app
