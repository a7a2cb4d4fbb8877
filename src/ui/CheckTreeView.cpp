#include "ui/CheckTreeView.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QStyledItemDelegate>

namespace salvage::ui {

namespace {
// Gives access to the delegate's own option set-up, so that the parts of an
// item are found where the delegate draws them.
class ItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    using QStyledItemDelegate::initStyleOption;
};
}  // namespace

CheckTreeView::CheckTreeView(QWidget* parent) : QTreeView(parent) {
    setItemDelegate(new ItemDelegate(this));
    setHeaderHidden(true);
    setUniformRowHeights(true);
    setExpandsOnDoubleClick(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    // Long names scroll rather than being cut to "...".
    header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    header()->setStretchLastSection(false);
}

QRect CheckTreeView::elementRect(const QModelIndex& index, int element) const {
    auto* delegate = static_cast<ItemDelegate*>(itemDelegate());
    if (!index.isValid() || !delegate) return {};
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(index);
    delegate->initStyleOption(&option, index);
    return style()->subElementRect(QStyle::SubElement(element), &option, this);
}

QRect CheckTreeView::labelRect(const QModelIndex& index) const {
    return elementRect(index, QStyle::SE_ItemViewItemText);
}

QRect CheckTreeView::checkBoxRect(const QModelIndex& index) const {
    return elementRect(index, QStyle::SE_ItemViewItemCheckIndicator);
}

void CheckTreeView::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    const QModelIndex index = indexAt(at);
    QTreeView::mousePressEvent(event);
    if (event->button() == Qt::LeftButton && index.isValid() && labelRect(index).contains(at))
        emit labelClicked(index);
}

}  // namespace salvage::ui
