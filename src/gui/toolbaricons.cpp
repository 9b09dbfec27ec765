#include "gui/toolbaricons.h"

#include <QFont>
#include <QPainter>
#include <QPixmap>

namespace caiji {

QIcon toolbarIcon(const QString &glyph, int colourIndex)
{
    static const QColor colours[] = {QColor(0x2e, 0x7d, 0x32), QColor(0x15, 0x65, 0xc0),
                                     QColor(0xc6, 0x28, 0x28), QColor(0x6a, 0x1b, 0x9a),
                                     QColor(0xef, 0x6c, 0x00), QColor(0x00, 0x83, 0x8f)};
    QIcon icon;
    for (int size : {16, 24, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(colours[colourIndex % std::size(colours)]);
        painter.drawRoundedRect(QRectF(0.5, 0.5, size - 1, size - 1), size / 5.0, size / 5.0);
        QFont font = painter.font();
        font.setPixelSize(size * 2 / 3);
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(QRect(0, 0, size, size), Qt::AlignCenter, glyph);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace caiji
