// Rows as high as a line of Chinese text, whichever row the view measures:
// with uniform row sizes a view measures one row, perhaps a Latin one, and
// gives every row its height.
#pragma once

#include <QStyledItemDelegate>

namespace caiji {

class RowDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};

} // namespace caiji
