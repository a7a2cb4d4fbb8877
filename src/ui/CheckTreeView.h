#pragma once
// A tree view with check boxes that tells a click on an item's label (its
// text) apart from a click on its check box, icon or expand button. Check
// boxes are toggled through the model, which keeps the partly-checked
// states of the ancestors.
#include <QTreeView>

namespace salvage::ui {

class CheckTreeView : public QTreeView {
    Q_OBJECT
public:
    explicit CheckTreeView(QWidget* parent = nullptr);

    // Where the item's text is drawn, in viewport coordinates.
    QRect labelRect(const QModelIndex& index) const;
    // Where the item's check box is drawn, in viewport coordinates.
    QRect checkBoxRect(const QModelIndex& index) const;

signals:
    // A left click that hit the item's text.
    void labelClicked(const QModelIndex& index);

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    QRect elementRect(const QModelIndex& index, int element) const;
};

}  // namespace salvage::ui
