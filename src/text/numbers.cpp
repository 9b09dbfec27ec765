#include "text/numbers.h"

#include <cmath>
#include <cstdlib>
#include <string>

namespace caiji {

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// Length of the longest numeric prefix of `text` starting at `i`:
// [+-]? digits* (. digits*)? ([eEdD] [+-]? digits+)? with at least one digit
// in the mantissa. Returns 0 when there is none.
qsizetype numericPrefix(QStringView text, qsizetype i)
{
    const qsizetype begin = i;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    qsizetype digits = 0;
    while (i < text.size() && isDigit(text[i])) {
        ++i;
        ++digits;
    }
    if (i < text.size() && text[i] == u'.') {
        ++i;
        while (i < text.size() && isDigit(text[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return 0;
    if (i < text.size() &&
        (text[i] == u'e' || text[i] == u'E' || text[i] == u'd' || text[i] == u'D')) {
        qsizetype j = i + 1;
        if (j < text.size() && (text[j] == u'+' || text[j] == u'-'))
            ++j;
        const qsizetype expStart = j;
        while (j < text.size() && isDigit(text[j]))
            ++j;
        if (j > expStart)
            i = j;
    }
    return i - begin;
}

double parseAscii(QStringView number)
{
    std::string ascii;
    ascii.reserve(number.size());
    for (QChar c : number)
        ascii.push_back(c == u'd' || c == u'D' ? 'e' : char(c.unicode()));
    return std::strtod(ascii.c_str(), nullptr);
}

} // namespace

double numberAtStart(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    const qsizetype length = numericPrefix(text, i);
    if (length == 0)
        return 0;
    const double value = parseAscii(text.sliced(i, length));
    return std::isfinite(value) ? value : 0;
}

std::optional<double> readAsNumber(QStringView text)
{
    text = text.trimmed();
    if (text.isEmpty())
        return std::nullopt;
    const qsizetype length = numericPrefix(text, 0);
    if (length != text.size())
        return std::nullopt;
    const double value = parseAscii(text);
    if (!std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<qint16> toInt16(QStringView text)
{
    const std::optional<double> value = readAsNumber(text);
    if (!value)
        return std::nullopt;
    const double rounded = std::nearbyint(*value); // the default rounding mode sends halves to even
    if (rounded < -32768.0 || rounded > 32767.0)
        return std::nullopt;
    return qint16(rounded);
}

} // namespace caiji
