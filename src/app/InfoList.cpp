#include "app/InfoList.h"

#include <QHeaderView>

#include "app/AppInfo.h"

namespace salvage::app {

namespace {
// Room for the cell padding and the grid line beside the text.
constexpr int kCellPadding = 16;
// Point size the given pixel widths were meant for.
constexpr double kStandardPointSize = 9.0;
}  // namespace

InfoList::InfoList(const QStringList& headers, const std::vector<int>& widths, QWidget* parent)
    : QTableWidget(0, int(headers.size()), parent) {
    setHorizontalHeaderLabels(headers);
    setShowGrid(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setStretchLastSection(true);

    // The widths are for a 9-point font; a larger font or scale gets
    // proportionally wider columns.
    const double scale = qMax(1.0, QFontInfo(font()).pointSizeF() / kStandardPointSize);
    for (int w : widths) baseWidths_.push_back(int(w * scale));
    fitColumns();
}

void InfoList::clearRows() { setRowCount(0); }

int InfoList::insertTextRow(const QStringList& texts, int position) {
    const int row = position < 0 || position > rowCount() ? rowCount() : position;
    insertRow(row);
    for (int c = 0; c < columnCount() && c < texts.size(); ++c) {
        auto* item = new QTableWidgetItem(texts[c]);
        item->setToolTip(plainTermTip(texts[c]));
        setItem(row, c, item);
    }
    fitColumns();
    return row;
}

QString InfoList::text(int row, int column) const {
    const QTableWidgetItem* cell = item(row, column);
    return cell ? cell->text() : QString();
}

QStringList InfoList::columnTexts(int column) const {
    QStringList out;
    for (int r = 0; r < rowCount(); ++r) out << text(r, column);
    return out;
}

void InfoList::fitColumns() {
    const QFontMetrics headerMetrics(horizontalHeader()->font());
    // Every column but the last one, which stretches to the list's edge.
    for (int c = 0; c + 1 < columnCount(); ++c) {
        int width = c < int(baseWidths_.size()) ? baseWidths_[c] : 80;
        if (auto* header = horizontalHeaderItem(c))
            width = qMax(width, headerMetrics.horizontalAdvance(header->text()) + kCellPadding);
        for (int r = 0; r < rowCount(); ++r)
            width = qMax(width, fontMetrics().horizontalAdvance(text(r, c)) + kCellPadding);
        setColumnWidth(c, width);
    }
}

}  // namespace salvage::app
