#include "ui/FileListModel.h"

#include "browse/DisplayFormats.h"

#include <QApplication>
#include <QColor>
#include <QLocale>
#include <QStyle>
#include <QRegularExpression>
#include <limits>

namespace salvage::ui {

namespace {
QVariant timeKey(const std::optional<UnixNanos>& t) {
    return qlonglong(t ? *t : std::numeric_limits<qlonglong>::min());
}
}  // namespace

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
            for (std::size_t i = 0; i < rows_.size(); ++i) {
                if (now[i].checked != rows_[i].checked) {
                    rows_[i].checked = now[i].checked;
                    emit dataChanged(index(int(i), 0), index(int(i), 0), {Qt::CheckStateRole});
                }
                if (now[i].damaged != rows_[i].damaged || now[i].damage != rows_[i].damage) {
                    rows_[i].damaged = now[i].damaged;
                    rows_[i].damage = std::move(now[i].damage);
                    emit dataChanged(index(int(i), 0), index(int(i), 5),
                                     {Qt::DecorationRole, Qt::ToolTipRole, DamagedRole});
                }
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

void FileListModel::setRowsChecked(const std::vector<std::size_t>& rows, bool checked) {
    list_.setChecked(rows, checked, tree_);
    pull();
}

int FileListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(rows_.size()); }

int FileListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 6; }

QVariant FileListModel::data(const QModelIndex& index, int role) const {
    const ListRow* r = rowAt(index.row());
    if (!r) return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        const std::u16string* texts[6] = {&r->name, &r->creation, &r->access, &r->modification, &r->size,
                                          &r->attribute};
        QString text = QString::fromStdU16String(*texts[index.column()]);
        if (role == Qt::ToolTipRole && r->damaged)
            text += QStringLiteral("\nTouches damage (%1): parts of it would be saved as zeros.")
                        .arg(QString::fromStdString(r->damage));
        // A file's named data stream says so beside its file's letters.
        if (index.column() == 5 && !r->stream.empty())
            text += text.isEmpty() ? QStringLiteral("stream") : QStringLiteral(" stream");
        if (index.column() == 0 && role == Qt::ToolTipRole && !r->stream.empty())
            text += QStringLiteral("\n(a named data stream of the file)");
        return text;
    }
    if (role == Qt::DecorationRole && index.column() == 0 && r->damaged) {
        if (warningIcon_.isNull()) warningIcon_ = QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
        return warningIcon_;
    }
    if (role == DamagedRole) return r->damaged;
    if (role == Qt::ForegroundRole && r->deleted) return QColor(255, 0, 0);
    if (role == Qt::CheckStateRole && index.column() == 0) return r->checked ? Qt::Checked : Qt::Unchecked;
    if (role == Qt::TextAlignmentRole && index.column() == 4) return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role == SortRole) {
        switch (index.column()) {
            case 0: return QString::fromStdU16String(r->name).toCaseFolded();
            case 1: return timeKey(r->times.creation);
            case 2: return timeKey(r->times.access);
            case 3: return timeKey(r->times.modification);
            case 4: return qulonglong(r->bytes);
            default: return QString::fromStdU16String(r->attribute);
        }
    }
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
    list_.toggleCheck(std::size_t(index.row()), tree_);
    // Only this row changed: re-reading the whole list here would make the
    // header's box quadratic in the number of rows.
    if (const auto now = list_.row(std::size_t(index.row())); now && now->item == r->item && now->record == r->record) {
        rows_[std::size_t(index.row())].checked = now->checked;
        emit dataChanged(index, index, {Qt::CheckStateRole});
    } else {
        pull();
    }
    return true;
}

Qt::ItemFlags FileListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == 0) f |= Qt::ItemIsUserCheckable;
    return f;
}

FileListFilter::FileListFilter(FileListModel* source, QObject* parent)
    : QSortFilterProxyModel(parent), source_(source) {
    setSourceModel(source);
    setSortRole(FileListModel::SortRole);
    // Rows stay in the list's order until a header is clicked.
    sort(-1);
}

void FileListFilter::setNameFilter(const QString& text) {
    static const QRegularExpression separators(QStringLiteral("[\\s|]+"));
    words_ = text.toCaseFolded().split(separators, Qt::SkipEmptyParts);
    invalidateFilter();
}

void FileListFilter::setDeletedOnly(bool on) {
    deletedOnly_ = on;
    invalidateFilter();
}

void FileListFilter::setDamagedOnly(bool on) {
    damagedOnly_ = on;
    invalidateFilter();
}

void FileListFilter::setSizeRange(std::optional<quint64> minimum, std::optional<quint64> maximum) {
    minimum_ = minimum;
    maximum_ = maximum;
    invalidateFilter();
}

bool FileListFilter::isFiltering() const {
    return !words_.isEmpty() || deletedOnly_ || damagedOnly_ || minimum_ || maximum_;
}

const ListRow* FileListFilter::rowAt(int row) const { return source_->rowAt(mapToSource(index(row, 0)).row()); }

bool FileListFilter::filterAcceptsRow(int sourceRow, const QModelIndex&) const {
    const ListRow* r = source_->rowAt(sourceRow);
    if (!r) return false;
    if (deletedOnly_ && !r->deleted) return false;
    if (damagedOnly_ && !r->damaged) return false;
    if (minimum_ && r->bytes < *minimum_) return false;
    if (maximum_ && r->bytes > *maximum_) return false;
    if (words_.isEmpty()) return true;
    const QString name = QString::fromStdU16String(r->name).toCaseFolded();
    for (const QString& w : words_)
        if (name.contains(w)) return true;
    return false;
}

QString FileListFilter::countLine() const {
    qint64 deleted = 0, damaged = 0;
    quint64 bytes = 0;
    const int shown = rowCount();
    for (int i = 0; i < shown; ++i) {
        const ListRow* r = rowAt(i);
        deleted += r->deleted;
        damaged += r->damaged;
        bytes += r->bytes;
    }
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    QString line = QStringLiteral("%1 %2, %3 deleted, %4")
                       .arg(english.toString(shown), shown == 1 ? QStringLiteral("file") : QStringLiteral("files"),
                            english.toString(deleted),
                            QString::fromStdU16String(formatListSize(bytes)));
    if (damaged > 0) line += QStringLiteral(", %1 touch damage").arg(english.toString(damaged));
    if (shown != source_->rowCount())
        line += QStringLiteral(" (of %1)").arg(english.toString(source_->rowCount()));
    return line;
}

std::optional<quint64> parseSizeText(const QString& text) {
    static const QRegularExpression form(QStringLiteral("^\\s*([0-9]+(?:\\.[0-9]*)?)\\s*([kmgt]?)(?:i?b)?\\s*$"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch()) return std::nullopt;
    const QString unit = m.captured(2).toLower();
    const int shift = unit.isEmpty() ? 0 : 10 * (1 + int(QStringLiteral("kmgt").indexOf(unit)));
    const double value = m.captured(1).toDouble() * double(1ull << shift);
    if (value >= 18e18) return std::nullopt;
    return quint64(value);
}

}  // namespace salvage::ui
