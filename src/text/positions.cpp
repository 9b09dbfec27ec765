#include "text/positions.h"

namespace caiji {

qsizetype instr(qsizetype from, QStringView haystack, QStringView needle)
{
    if (from < 1)
        from = 1;
    if (haystack.isEmpty() || from > haystack.size())
        return 0;
    if (needle.isEmpty())
        return from;
    return haystack.indexOf(needle, from - 1) + 1;
}

qsizetype instrRev(QStringView haystack, QStringView needle)
{
    if (haystack.isEmpty() || needle.isEmpty())
        return 0;
    return haystack.lastIndexOf(needle) + 1;
}

QString mid(QStringView text, qsizetype start, qsizetype length)
{
    if (start < 1)
        start = 1;
    if (length <= 0 || start > text.size())
        return {};
    return text.sliced(start - 1, std::min(length, text.size() - (start - 1))).toString();
}

std::optional<QString> cutBetween(QStringView text, qsizetype start, qsizetype end)
{
    if (end - start < 0)
        return std::nullopt;
    return mid(text, start, end - start);
}

QString lowerSameLength(QStringView text)
{
    QString lower(text.size(), Qt::Uninitialized);
    QChar *out = lower.data();
    for (QChar c : text)
        *out++ = c.toLower();
    return lower;
}

} // namespace caiji
