#include "text/extract.h"

#include "text/htmltext.h"
#include "text/links.h"
#include "text/numbers.h"
#include "text/positions.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

bool isHexDigit(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// Task patterns are written for an ECMAScript-style engine, where "\u4e00"
// names a character; PCRE2 rejects "\u", so it becomes "\x{4e00}" (a "\u"
// without four hex digits is a plain "u", as in ECMAScript).
QString pcreSyntax(const QString &pattern)
{
    QString out;
    out.reserve(pattern.size());
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != u'\\' || i + 1 >= pattern.size()) {
            out += pattern[i];
            continue;
        }
        const QChar next = pattern[++i];
        if (next != u'u') {
            out += u'\\';
            out += next;
            continue;
        }
        const QString hex = pattern.mid(i + 1, 4);
        if (hex.size() == 4 && std::all_of(hex.begin(), hex.end(), isHexDigit)) {
            out += u"\\x{" + hex + u'}';
            i += 4;
        } else {
            out += u'u';
        }
    }
    return out;
}

} // namespace

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

QString getreg(const QString &pattern, const QString &text, QString *error)
{
    const QRegularExpression re(pcreSyntax(pattern), QRegularExpression::CaseInsensitiveOption);
    if (error) {
        *error = re.isValid() ? QString()
                              : re.errorString() + u"（第"_s +
                                    QString::number(re.patternErrorOffset() + 1) + u"个字符）"_s;
    }
    if (!re.isValid())
        return {};
    const QRegularExpressionMatch match = re.match(text);
    return match.hasMatch() ? match.captured(0) : QString();
}

QString geta(const QString &kvs1, const QString &gsa, QList<AlistStep> *steps)
{
    const auto step = [steps](const QString &name, const QString &detail, const QString &value,
                              bool failed = false) {
        if (steps)
            steps->append({name, detail, value, failed});
    };
    const QStringList part = gsa.split(u'|');
    if (part.size() < 7) {
        step(u"a列表"_s, u"少于7项（以“|”分隔），值一律作废"_s, QString(), true);
        return {};
    }
    QString s = kvs1;
    // Each list is split once; which item failed is looked up only for a trace.
    const auto passesList = [&](int kind, const QString &list, const QString &name,
                                const QString &why) {
        if (list.isEmpty())
            return true;
        const PatternList items(list);
        if (!items.passes(kind, s)) {
            if (steps)
                step(name, why.arg(items.decidingItem(kind, s)), s, true);
            return false;
        }
        step(name, list, s);
        return true;
    };
    if (!passesList(3, part[5], u"必含"_s, u"缺少“%1”"_s) ||
        !passesList(4, part[6], u"不含"_s, u"含有“%1”"_s))
        return {};
    if (numberAtStart(part[0]) > 0) {
        s = htm2txt(s);
        step(u"HTML转文本"_s, QString(), s);
    }
    if (!part[3].isEmpty()) {
        s = hx(1, s, part[3]);
        step(u"替换"_s, part[3], s);
    }
    if (!part[4].isEmpty()) {
        s = hx(2, s, part[4]);
        step(u"删除"_s, part[4], s);
    }
    if (part[1].isEmpty() && part[2].isEmpty())
        return s;
    const QString result = part[1] + s + part[2];
    if (steps)
        step(u"前后缀"_s, part[1] + u"…"_s + part[2], result);
    return result;
}

} // namespace caiji
