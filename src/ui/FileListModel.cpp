#include "ui/FileListModel.h"

namespace salvage::ui {

FileListModel::FileListModel(FileList& list, BrowseTree& tree, QObject* parent)
    : QAbstractTableModel(parent), list_(list), tree_(tree) {}

void FileListModel::pull() {
    std::vector<ListRow> now = list_.rows();
    const bool results = list_.showsSearchResults();
    bool extends = results == searchResults_ && now.size() >= rows_.size();
    for (std::size_t i = 0; extends && i < rows_.size(); ++i)
        extends = now[i].name == rows_[i].name && now[i].item == rows_[i].item && now[i].record == rows_[i].record;
    if (extends) {
        if (now.size() == rows_.size()) {
            for (std::size_t i = 0; i < rows_.size(); ++i)
                if (now[i].checked != rows_[i].checked) {
                    rows_[i].checked = now[i].checked;
                    emit dataChanged(index(int(i), 0), index(int(i), 0), {Qt::CheckStateRole});
                }
            return;
        }
        beginInsertRows({}, int(rows_.size()), int(now.size()) - 1);
        rows_ = std::move(now);
        endInsertRows();
        return;
    }
    beginResetModel();
    rows_ = std::move(now);
    searchResults_ = results;
    endResetModel();
}

const ListRow* FileListModel::rowAt(int row) const {
    return row >= 0 && std::size_t(row) < rows_.size() ? &rows_[std::size_t(row)] : nullptr;
}

int FileListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(rows_.size()); }

int FileListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 6; }

QVariant FileListModel::data(const QModelIndex& index, int role) const {
    const ListRow* r = rowAt(index.row());
    if (!r) return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        const std::u16string* texts[6] = {&r->name, &r->creation, &r->access, &r->modification, &r->size,
                                          &r->attribute};
        return QString::fromStdU16String(*texts[index.column()]);
    }
    if (role == Qt::CheckStateRole && index.column() == 0) return r->checked ? Qt::Checked : Qt::Unchecked;
    return {};
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= 6) return {};
    return QString::fromStdU16String(kListColumns[section]);
}

bool FileListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    const ListRow* r = rowAt(index.row());
    if (!r || role != Qt::CheckStateRole || index.column() != 0) return false;
    if ((value.toInt() == Qt::Checked) == r->checked) return true;
    // Search results carry records, not tree items: their boxes change nothing.
    list_.toggleCheck(std::size_t(index.row()), tree_);
    pull();
    return true;
}

Qt::ItemFlags FileListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == 0) f |= Qt::ItemIsUserCheckable;
    return f;
}

}  // namespace salvage::ui
