#pragma once
// A list (a table of rows) with a check box in each row's first column and
// one in the first column's header. The header's box checks or unchecks
// every row shown through the model. A click on a header's title sorts by
// that column; rows keep the model's order until then.
#include <QHeaderView>
#include <QTableView>
#include <functional>
#include <initializer_list>
#include <utility>
#include <vector>

namespace salvage::ui {

class CheckableHeader : public QHeaderView {
    Q_OBJECT
public:
    explicit CheckableHeader(QWidget* parent = nullptr);

    bool isChecked() const { return checked_; }
    // Sets the box without telling anyone.
    void setChecked(bool checked);
    // The box of section 0, in header coordinates.
    QRect checkBoxRect() const;
    // A section's size for its text (and, in section 0, the box).
    QSize sectionSizeFromContents(int logicalIndex) const override;

signals:
    void toggled(bool checked);

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QRect boxIn(const QRect& section) const;
    bool checked_ = false;
};

class CheckListView : public QTableView {
    Q_OBJECT
public:
    explicit CheckListView(QWidget* parent = nullptr);
    CheckableHeader* checkHeader() const { return header_; }
    // Sets the initial widths of the columns: each at least the given
    // pixels, its header's text and the given sample text need.
    void setColumnWidths(std::initializer_list<std::pair<int, QString>> widths);
    // Widens the columns to their contents (sampled rows), never below the
    // initial widths.
    void fitColumnsToContents();
    // How the header's box sets many rows at once; without one, each row's
    // box is set through the model by itself.
    using RowChecker = std::function<void(const QModelIndexList& rows, bool checked)>;
    void setRowChecker(RowChecker checker) { rowChecker_ = std::move(checker); }

private:
    void checkAll(bool checked);
    CheckableHeader* header_;
    std::vector<int> initialWidths_;
    RowChecker rowChecker_;
};

}  // namespace salvage::ui
