#pragma once
// Shows the core FileList in the check list: its six columns, and a check
// box per row that mirrors the row's mark to its tree item. The model keeps
// a copy of the rows taken on the GUI thread (the list may be filled by a
// search worker meanwhile) and is refreshed with pull(). Deleted entries are
// drawn red; files that touch damage (the list's markDamage) carry a warning
// icon and a tool tip naming the causes. FileListFilter sits between the model and the view: it sorts
// by the values behind the texts and hides the rows the filter box rules out.
#include <QAbstractTableModel>
#include <QIcon>
#include <QSortFilterProxyModel>
#include <QStringList>
#include <optional>
#include <vector>

#include "browse/BrowseTree.h"
#include "browse/FileList.h"

namespace salvage::ui {

class FileListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // What a column is sorted by: the name (case-folded), the time in
    // nanoseconds, the byte count, the attribute text.
    static constexpr int SortRole = Qt::UserRole;
    // Whether the row's file touches damage (bool).
    static constexpr int DamagedRole = Qt::UserRole + 1;

    FileListModel(FileList& list, BrowseTree& tree, QObject* parent = nullptr);

    // Takes the list's rows: new rows at the end are added, anything else
    // renews the whole copy.
    void pull();
    const ListRow* rowAt(int row) const;
    // Sets the marks of many rows (and their tree items) at once.
    void setRowsChecked(const std::vector<std::size_t>& rows, bool checked);

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
    mutable QIcon warningIcon_;
};

// The rows a user asked to see. Name: words separated by blanks or "|",
// a row shows when its name contains any of them (case-insensitive), so
// ".jpg|.png" keeps both kinds. Deleted only. Damaged only. Size: bounds in bytes,
// either may be absent.
class FileListFilter : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit FileListFilter(FileListModel* source, QObject* parent = nullptr);

    void setNameFilter(const QString& text);
    void setDeletedOnly(bool on);
    void setDamagedOnly(bool on);
    void setSizeRange(std::optional<quint64> minimum, std::optional<quint64> maximum);
    bool isFiltering() const;

    // The source row behind a row of this model; null when none.
    const ListRow* rowAt(int row) const;

    // "1,234 files, 56 deleted, 3.20 GB" for the rows shown, ", 2 touch
    // damage" when any does, and of how many when the filter hides some.
    QString countLine() const;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    FileListModel* source_;
    QStringList words_;
    bool deletedOnly_ = false;
    bool damagedOnly_ = false;
    std::optional<quint64> minimum_, maximum_;
};

// A size typed by the user: "1500", "10 KB", "1.5 MB", "2G" (binary
// units); nothing for an empty or unreadable text.
std::optional<quint64> parseSizeText(const QString& text);

}  // namespace salvage::ui
