#include "text/positions.h"

#include <array>
#include <cstring>

namespace caiji {

qsizetype findText(QStringView haystack, QStringView needle, qsizetype from)
{
    if (from < 0)
        from = 0;
    const qsizetype n = needle.size();
    if (n == 0)
        return from <= haystack.size() ? from : -1;
    const qsizetype last = haystack.size() - n;
    const char16_t *data = haystack.utf16();
    const char16_t *pattern = needle.utf16();
    if (n < 3) {
        // Short markers: Qt's vectorised scan for the first character.
        for (qsizetype at = from; at <= last; ++at) {
            at = haystack.indexOf(QChar(pattern[0]), at);
            if (at < 0 || at > last)
                return -1;
            if (n == 1 || data[at + 1] == pattern[1])
                return at;
        }
        return -1;
    }
    // Short texts (addresses, link texts): filling the skip table would cost
    // more than the search.
    if (haystack.size() - from < 256)
        return haystack.indexOf(needle, from);
    // Horspool: skip by the last character of the window, keyed on its low
    // byte (characters sharing a low byte share the smallest shift).
    std::array<quint8, 256> shift;
    const quint8 full = quint8(std::min<qsizetype>(n, 255));
    shift.fill(full);
    for (qsizetype i = std::max<qsizetype>(0, n - 255); i < n - 1; ++i)
        shift[pattern[i] & 0xFF] = quint8(n - 1 - i);
    const char16_t lastChar = pattern[n - 1];
    const size_t headBytes = size_t(n - 1) * sizeof(char16_t);
    for (qsizetype at = from; at <= last;) {
        const char16_t c = data[at + n - 1];
        if (c == lastChar && std::memcmp(data + at, pattern, headBytes) == 0)
            return at;
        at += shift[c & 0xFF];
    }
    return -1;
}

qsizetype instr(qsizetype from, QStringView haystack, QStringView needle)
{
    if (from < 1)
        from = 1;
    if (haystack.isEmpty() || from > haystack.size())
        return 0;
    if (needle.isEmpty())
        return from;
    return findText(haystack, needle, from - 1) + 1;
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
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x80)
            *out++ = QChar(u >= u'A' && u <= u'Z' ? char16_t(u + 32) : u);
        else if (u >= 0x2E00 && u < 0xA640)
            *out++ = c; // CJK, kana and their punctuation have no letter case
        else
            *out++ = c.toLower();
    }
    return lower;
}

} // namespace caiji
