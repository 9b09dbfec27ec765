#include "gui/listheader.h"

#include "gui/runlistdelegate.h"
#include "text/names.h"

#include <QAbstractItemView>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionHeader>

using namespace Qt::StringLiterals;

namespace caiji {

ListHeader::ListHeader(QAbstractItemView *list, QWidget *parent) : QWidget(parent), m_list(list)
{
    setObjectName(list->objectName() + u"Header"_s);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    connect(list->horizontalScrollBar(), &QScrollBar::valueChanged, this,
            qOverload<>(&QWidget::update));
    // The run list's columns move with the widest name in it.
    if (const QAbstractItemModel *model = list->model()) {
        for (const auto signal :
             {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
            connect(model, signal, this, qOverload<>(&QWidget::update));
        connect(model, &QAbstractItemModel::dataChanged, this, qOverload<>(&QWidget::update));
    }
}

QString ListHeader::fieldsLine(int fieldCount)
{
    QString line;
    for (int i = 1; i <= fieldCount; ++i)
        line += u'^' + tr("字段%1").arg(i);
    return rus(line);
}

void ListHeader::setText(const QString &text)
{
    m_text = text;
    setVisible(!text.isEmpty());
    update();
}

QSize ListHeader::sizeHint() const
{
    return {0, m_list->fontMetrics().height() + 6};
}

QSize ListHeader::minimumSizeHint() const
{
    return sizeHint();
}

void ListHeader::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QStyleOptionHeader section;
    section.initFrom(this);
    section.rect = rect();
    section.state |= QStyle::State_Raised | QStyle::State_Horizontal;
    section.orientation = Qt::Horizontal;
    style()->drawControl(QStyle::CE_HeaderSection, &section, &painter, this);

    // The row's place in the list, which lies right below at the same x.
    const QWidget *viewport = m_list->viewport();
    const QAbstractItemModel *model = m_list->model();
    const int shift = model && model->rowCount() > 0 ? m_list->visualRect(model->index(0, 0)).left()
                                                     : -m_list->horizontalScrollBar()->value();
    QStyleOptionViewItem option;
    option.initFrom(m_list);
    option.widget = m_list;
    option.state = QStyle::State_Enabled;
    option.font = m_list->font();
    option.fontMetrics = QFontMetrics(option.font);
    option.features = QStyleOptionViewItem::HasDisplay;
    option.displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    option.textElideMode = Qt::ElideNone;
    option.text = m_text;
    option.rect =
        QRect(viewport->x() + shift, 0,
              viewport->width() - shift + option.fontMetrics.horizontalAdvance(m_text), height());
    painter.setClipRect(viewport->x(), 0, viewport->width(), height());
    if (const auto *runList = qobject_cast<const RunListDelegate *>(m_list->itemDelegate()))
        runList->paintLine(&painter, option);
    else
        m_list->style()->drawControl(QStyle::CE_ItemViewItem, &option, &painter, m_list);
}

} // namespace caiji
