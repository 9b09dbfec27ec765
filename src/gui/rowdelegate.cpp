#include "gui/rowdelegate.h"

#include <QApplication>
#include <QStyle>

using namespace Qt::StringLiterals;

namespace caiji {

QSize RowDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    QStyleOptionViewItem sample = option;
    initStyleOption(&sample, index);
    sample.features |= QStyleOptionViewItem::HasDisplay;
    sample.text = u"中文Ag"_s;
    const QWidget *widget = option.widget;
    const QStyle *style = widget ? widget->style() : QApplication::style();
    size.setHeight(std::max(
        size.height(),
        style->sizeFromContents(QStyle::CT_ItemViewItem, &sample, QSize(), widget).height()));
    return size;
}

} // namespace caiji
