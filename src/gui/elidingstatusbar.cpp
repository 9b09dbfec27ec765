#include "gui/elidingstatusbar.h"

#include <QPainter>
#include <QStyleOption>

namespace caiji {

ElidingStatusBar::ElidingStatusBar(QWidget *parent) : QStatusBar(parent)
{
    connect(this, &QStatusBar::messageChanged, this, [this](const QString &message) {
        setToolTip(message);
    });
}

void ElidingStatusBar::paintEvent(QPaintEvent *event)
{
    const QString message = currentMessage();
    if (message.isEmpty()) {
        QStatusBar::paintEvent(event);
        return;
    }
    // While a message shows, only the permanent widgets are visible: the
    // message has the room left of the first of them.
    int right = width() - 4;
    QPainter painter(this);
    for (QWidget *child : findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (!child->isVisible())
            continue;
        right = std::min(right, child->x() - 4);
        QStyleOption option;
        option.initFrom(this);
        option.rect = child->geometry().adjusted(-1, -1, 1, 1);
        style()->drawPrimitive(QStyle::PE_FrameStatusBarItem, &option, &painter, child);
    }
    const QRect room(6, 0, std::max(0, right - 6), height());
    painter.setPen(palette().windowText().color());
    painter.drawText(room, Qt::AlignLeading | Qt::AlignVCenter | Qt::TextSingleLine,
                     fontMetrics().elidedText(message.simplified(), Qt::ElideRight, room.width()));
}

} // namespace caiji
