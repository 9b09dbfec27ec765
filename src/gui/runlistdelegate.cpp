#include "gui/runlistdelegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QPainter>

namespace caiji {

QColor RunListDelegate::warningColour()
{
    return {0xc0, 0x00, 0x00};
}

RunListDelegate::RunListDelegate(QAbstractItemView *view) : RowDelegate(view), m_view(view)
{
    const QAbstractItemModel *model = view->model();
    const auto remeasure = [this] { m_offset = -1; };
    connect(model, &QAbstractItemModel::dataChanged, this, remeasure);
    connect(model, &QAbstractItemModel::rowsInserted, this, remeasure);
    connect(model, &QAbstractItemModel::rowsRemoved, this, remeasure);
    connect(model, &QAbstractItemModel::modelReset, this, remeasure);
}

int RunListDelegate::statusOffset(const QFont &font) const
{
    if (m_offset >= 0 && font == m_measuredIn)
        return m_offset;
    const QFontMetrics metrics(font);
    int widest = metrics.horizontalAdvance(QString(NameField, u' '));
    const QAbstractItemModel *model = m_view->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        const QString line = model->index(row, 0).data().toString();
        if (line.size() > NameField)
            widest = std::max(widest, metrics.horizontalAdvance(line.left(NameField)));
    }
    m_measuredIn = font;
    m_offset = widest;
    return widest;
}

void RunListDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                            const QModelIndex &index) const
{
    QStyleOptionViewItem line = option;
    initStyleOption(&line, index);
    // A selected failed run keeps its colour as its highlight.
    if (index.data(Qt::ForegroundRole).isValid())
        line.palette.setColor(QPalette::Highlight, warningColour());
    paintLine(painter, line);
}

void RunListDelegate::paintLine(QPainter *painter, const QStyleOptionViewItem &option) const
{
    const QWidget *widget = option.widget;
    const QStyle *style = widget ? widget->style() : QApplication::style();
    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &option, widget);
    QStyleOptionViewItem background = option;
    background.text.clear();
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);

    const QPalette::ColorGroup group = !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : (option.state & QStyle::State_Active) ? QPalette::Active
                                                                               : QPalette::Inactive;
    const QPalette::ColorRole role =
        option.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text;
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const QRect name = textRect.adjusted(margin, 0, 0, 0);
    const QRect status = name.adjusted(statusOffset(option.font), 0, 0, 0);
    const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextDontClip;
    painter->save();
    painter->setFont(option.font);
    painter->setPen(option.palette.color(group, role));
    painter->drawText(name, flags, option.text.left(NameField));
    painter->drawText(status, flags, option.text.mid(NameField));
    painter->restore();
}

QSize RunListDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QSize size = RowDelegate::sizeHint(option, index);
    const QString line = index.data().toString();
    const int shift = statusOffset(option.font) -
                      QFontMetrics(option.font).horizontalAdvance(line.left(NameField));
    if (line.size() > NameField && shift > 0)
        size.setWidth(size.width() + shift);
    return size;
}

} // namespace caiji
