#pragma once
// Shows the core FileList in the check list: its six columns, and a check
// box per row that mirrors the row's mark to its tree item. The model keeps
// a copy of the rows taken on the GUI thread (the list may be filled by a
// search worker meanwhile) and is refreshed with pull().
#include <QAbstractTableModel>
#include <vector>

#include "browse/BrowseTree.h"
#include "browse/FileList.h"

namespace salvage::ui {

class FileListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    FileListModel(FileList& list, BrowseTree& tree, QObject* parent = nullptr);

    // Takes the list's rows: new rows at the end are added, anything else
    // renews the whole copy.
    void pull();
    const ListRow* rowAt(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    FileList& list_;
    BrowseTree& tree_;
    std::vector<ListRow> rows_;
    bool searchResults_ = false;
};

}  // namespace salvage::ui
