#include "ui/CheckListView.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <algorithm>

namespace salvage::ui {

CheckableHeader::CheckableHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    setSectionsClickable(true);
    setHighlightSections(false);
}

void CheckableHeader::setChecked(bool checked) {
    if (checked_ == checked) return;
    checked_ = checked;
    viewport()->update();
}

QRect CheckableHeader::boxIn(const QRect& section) const {
    QStyleOptionButton option;
    const QRect indicator = style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, this);
    const int margin = style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, this);
    return QRect(section.left() + margin, section.center().y() - indicator.height() / 2, indicator.width(),
                 indicator.height());
}

QRect CheckableHeader::checkBoxRect() const {
    const int x = sectionViewportPosition(0);
    return boxIn(QRect(x, 0, sectionSize(0), height()));
}

void CheckableHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    if (logicalIndex != 0) {
        QHeaderView::paintSection(painter, rect, logicalIndex);
        return;
    }
    QStyleOptionHeader header;
    initStyleOption(&header);
    header.rect = rect;
    header.section = logicalIndex;
    header.position = QStyleOptionHeader::Beginning;
    style()->drawControl(QStyle::CE_HeaderSection, &header, painter, this);

    const QRect box = boxIn(rect);
    QStyleOptionButton check;
    check.rect = box;
    check.state = QStyle::State_Enabled | (checked_ ? QStyle::State_On : QStyle::State_Off);
    style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &check, painter, this);

    header.rect = rect.adjusted(box.right() + 1 - rect.left(), 0, 0, 0);
    header.text = model() ? model()->headerData(logicalIndex, orientation()).toString() : QString();
    header.textAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    style()->drawControl(QStyle::CE_HeaderLabel, &header, painter, this);
}

QSize CheckableHeader::sectionSizeFromContents(int logicalIndex) const {
    QSize size = QHeaderView::sectionSizeFromContents(logicalIndex);
    if (logicalIndex == 0) size.rwidth() += boxIn(QRect()).width() + 4;
    return size;
}

void CheckableHeader::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && checkBoxRect().contains(event->position().toPoint())) {
        checked_ = !checked_;
        viewport()->update();
        emit toggled(checked_);
        return;
    }
    QHeaderView::mousePressEvent(event);
}

CheckListView::CheckListView(QWidget* parent) : QTableView(parent) {
    header_ = new CheckableHeader(this);
    setHorizontalHeader(header_);
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    setShowGrid(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setWordWrap(false);
    setMouseTracking(true);  // tool tips of cut texts
    header_->setStretchLastSection(true);
    header_->setSortIndicator(-1, Qt::AscendingOrder);
    header_->setSortIndicatorShown(true);
    setSortingEnabled(true);
    connect(header_, &CheckableHeader::toggled, this, &CheckListView::checkAll);
}

void CheckListView::setColumnWidths(std::initializer_list<std::pair<int, QString>> widths) {
    // Room for the cell's margins (and, in the first column, its box).
    const int padding = fontMetrics().averageCharWidth() * 2 + style()->pixelMetric(QStyle::PM_IndicatorWidth);
    int column = 0;
    initialWidths_.clear();
    for (const auto& [pixels, sample] : widths) {
        const int header = header_->sectionSizeFromContents(column).width();
        initialWidths_.push_back(std::max({pixels, header, fontMetrics().horizontalAdvance(sample) + padding}));
        setColumnWidth(column, initialWidths_.back());
        ++column;
    }
}

void CheckListView::fitColumnsToContents() {
    for (int column = 0; column < int(initialWidths_.size()); ++column)
        setColumnWidth(column, std::max(initialWidths_[std::size_t(column)], sizeHintForColumn(column)));
}

void CheckListView::checkAll(bool checked) {
    if (!model()) return;
    const Qt::CheckState state = checked ? Qt::Checked : Qt::Unchecked;
    QModelIndexList change;
    for (int row = 0; row < model()->rowCount(); ++row) {
        const QModelIndex index = model()->index(row, 0);
        if (index.data(Qt::CheckStateRole).toInt() != state) change << index;
    }
    if (rowChecker_) {
        rowChecker_(change, checked);
        return;
    }
    for (const QModelIndex& index : change) model()->setData(index, state, Qt::CheckStateRole);
}

}  // namespace salvage::ui
