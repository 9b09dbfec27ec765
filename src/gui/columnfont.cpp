#include "gui/columnfont.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QStringList>

#include <cmath>

using namespace Qt::StringLiterals;

namespace caiji {

bool alignsColumns(const QFont &font)
{
    const QFontMetricsF metrics(font);
    const qreal ascii = metrics.horizontalAdvance(u'M');
    if (ascii <= 0 || ascii != std::floor(ascii))
        return false;
    for (const QChar c : u"i0| "_s) {
        if (metrics.horizontalAdvance(c) != ascii)
            return false;
    }
    for (const QChar c : u"中文Ａ０"_s) {
        if (metrics.horizontalAdvance(c) != 2 * ascii)
            return false;
    }
    return true;
}

QFont columnFont(const QFont &base)
{
    static const QFont chosen = [&base] {
        QStringList candidates = {u"Noto Sans Mono CJK SC"_s,
                                  u"Noto Sans Mono CJK TC"_s,
                                  u"Noto Sans Mono CJK HK"_s,
                                  u"Noto Sans Mono CJK JP"_s,
                                  u"Sarasa Mono SC"_s,
                                  u"WenQuanYi Zen Hei Mono"_s,
                                  u"NSimSun"_s};
        const QStringList chinese = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
        for (const QString &family : chinese) {
            if (family.contains(u"Mono"_s, Qt::CaseInsensitive) && !candidates.contains(family))
                candidates << family;
        }
        const QStringList known = QFontDatabase::families();
        const int size = QFontInfo(base).pixelSize();
        for (const QString &family : std::as_const(candidates)) {
            if (!known.contains(family))
                continue;
            for (const int step : {0, 1, -1, 2, -2, 3}) {
                QFont font(family);
                font.setPixelSize(size + step);
                if (QFontInfo(font).family() == family && alignsColumns(font))
                    return font;
            }
        }
        return QFontDatabase::systemFont(QFontDatabase::FixedFont);
    }();
    return chosen;
}

} // namespace caiji
