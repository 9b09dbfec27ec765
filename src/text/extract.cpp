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
// `origin`, when given, gets for each character of the result the position
// in `pattern` it came from, so that PCRE's error offsets can be told in the
// pattern as written.
QString pcreSyntax(const QString &pattern, QList<qsizetype> *origin = nullptr)
{
    QString out;
    out.reserve(pattern.size());
    const auto put = [&](QStringView text, qsizetype from) {
        out += text;
        if (origin)
            origin->append(QList<qsizetype>(text.size(), from));
    };
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != u'\\' || i + 1 >= pattern.size()) {
            put(QStringView(pattern).sliced(i, 1), i);
            continue;
        }
        const qsizetype start = i;
        const QChar next = pattern[++i];
        if (next != u'u') {
            put(QStringView(pattern).sliced(start, 2), start);
            continue;
        }
        const QString hex = pattern.mid(i + 1, 4);
        if (hex.size() == 4 && std::all_of(hex.begin(), hex.end(), isHexDigit)) {
            put(QString(u"\\x{" + hex + u'}'), start);
            i += 4;
        } else {
            put(u"u", start);
        }
    }
    return out;
}

// PCRE's commonest complaints in the words of the guide; others as PCRE says.
QString patternErrorText(const QString &pcre)
{
    static const QList<std::pair<const char16_t *, const char16_t *>> known = {
        {u"missing closing parenthesis", u"缺少右括号“)”"},
        {u"unmatched closing parenthesis", u"多了一个右括号“)”"},
        {u"missing terminating ] for character class", u"缺少右方括号“]”"},
        {u"quantifier does not follow a repeatable item",
         u"*、+、? 或 {n} 前面没有可以重复的内容（要找这个符号本身，在它前面加“\\”）"},
        {u"\\ at end of pattern", u"模式以“\\”结尾"},
        {u"range out of order in character class", u"方括号中的范围前后颠倒（例如 [z-a]）"},
        {u"number too big in {} quantifier", u"{} 中的次数太大"},
        {u"lookbehind assertion is not fixed length", u"向后查找 (?<=…) 中的内容长度必须固定"},
    };
    for (const auto &[english, chinese] : known) {
        if (pcre == QStringView(english))
            return QString::fromUtf16(chinese);
    }
    return pcre;
}

// Why a must-contain (3) or must-not-contain (4) item refused a value,
// with the two ways it is commonly written wrong.
QString whyRefused(int kind, const QString &item, const QString &value)
{
    if (kind == 4 && item.isEmpty())
        return u"有一项是空的（多半是末尾多了一个“^”），空项和任何值都匹配，所以任何值都通不过"_s;
    if (kind == 4)
        return u"含有“"_s + item + u"”"_s;
    if (value.contains(item, Qt::CaseInsensitive))
        return u"缺少“"_s + item + u"”（值中有，只是大小写不同：必含区分大小写）"_s;
    return u"缺少“"_s + item + u"”"_s;
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
    QList<qsizetype> origin;
    const QRegularExpression re(pcreSyntax(pattern, error ? &origin : nullptr),
                                QRegularExpression::CaseInsensitiveOption);
    if (error && !re.isValid()) {
        // The offset counts from 1 within the pattern as written.
        const qsizetype at = re.patternErrorOffset();
        *error = patternErrorText(re.errorString()) +
                 (at >= 0 && at < origin.size()
                      ? u"（在第"_s + QString::number(origin[at] + 1) + u"个字符处）"_s
                      : u"（在末尾）"_s);
    } else if (error) {
        error->clear();
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
        step(u"a列表"_s, u"少于7个部分（以“|”分隔），值一律丢弃"_s, QString(), true);
        return {};
    }
    QString s = kvs1;
    // Each list is split once; which item failed is looked up only for a trace.
    const auto passesList = [&](int kind, const QString &list, const QString &name) {
        if (list.isEmpty())
            return true;
        const PatternList items(list);
        if (!items.passes(kind, s)) {
            if (steps)
                step(name, whyRefused(kind, items.decidingItem(kind, s), s), s, true);
            return false;
        }
        step(name, list, s);
        return true;
    };
    if (!passesList(3, part[5], u"必含"_s) || !passesList(4, part[6], u"不含"_s))
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
