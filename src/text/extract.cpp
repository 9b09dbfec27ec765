#include "text/extract.h"

#include "text/htmltext.h"
#include "text/links.h"
#include "text/numbers.h"
#include "text/positions.h"

#include <QRegularExpression>
#include <QStringList>

using namespace Qt::StringLiterals;

namespace caiji {

void getw(const QString &section, WValues &w)
{
    for (int k = 1; k <= 8; ++k) {
        const QString key = u'w' + QString::number(k) + u"=[[";
        const qsizetype start = instr(1, section, key) + key.size();
        const qsizetype end = instr(start, section, u"]]");
        if (const auto value = cutBetween(section, start, end))
            w[k - 1] = *value;
    }
}

QString getreg(const QString &pattern, const QString &text)
{
    const QRegularExpression re(pattern, QRegularExpression::CaseInsensitiveOption);
    if (!re.isValid())
        return {};
    const QRegularExpressionMatch match = re.match(text);
    return match.hasMatch() ? match.captured(0) : QString();
}

QString geta(const QString &kvs1, const QString &gsa)
{
    const QStringList part = gsa.split(u'|');
    if (part.size() < 7)
        return {};
    QString s = kvs1;
    if (!part[5].isEmpty() && hx(3, s, part[5]).isEmpty())
        return {};
    if (!part[6].isEmpty() && hx(4, s, part[6]).isEmpty())
        return {};
    if (numberAtStart(part[0]) > 0)
        s = htm2txt(s);
    if (!part[3].isEmpty())
        s = hx(1, s, part[3]);
    if (!part[4].isEmpty())
        s = hx(2, s, part[4]);
    return part[1] + s + part[2];
}

} // namespace caiji
