#pragma once
// A read-only list of text rows with grid lines, whole-row selection, no
// sorting and tool tips that show cut-off text. Columns start at their given
// widths and widen to the real font, so no header is cut off.
#include <QStringList>
#include <QTableWidget>
#include <vector>

namespace salvage::app {

class InfoList : public QTableWidget {
    Q_OBJECT
public:
    // `widths` in pixels at the standard font, one per column.
    InfoList(const QStringList& headers, const std::vector<int>& widths, QWidget* parent = nullptr);

    void clearRows();
    // Adds a row at `position` (the end when negative); returns its index.
    int insertTextRow(const QStringList& texts, int position = -1);
    QString text(int row, int column) const;
    // The texts of column `column`, top to bottom.
    QStringList columnTexts(int column) const;
    // Widens columns whose texts no longer fit.
    void fitColumns();

private:
    std::vector<int> baseWidths_;
};

}  // namespace salvage::app
