// Case-insensitive search in UTF-16 text without a lower-cased copy: a unit
// matches a marker unit when it lower-cases to it the way lowerSameLength
// does, so positions and results equal those of a search in such a copy.
#pragma once

#include <QChar>
#include <QString>
#include <QStringView>

#include <array>
#include <optional>

namespace caiji::foldscan {

// One unit lower-cased exactly as lowerSameLength lower-cases it.
inline char16_t lowerUnit(char16_t u)
{
    if (u < 0x80)
        return unsigned(u - u'A') < 26u ? char16_t(u + 32) : u;
    if (u >= 0x2E00 && u < 0xA640)
        return u; // CJK, kana and their punctuation have no letter case
    return char16_t(QChar::toLower(char32_t(u)));
}

// A cheap test that admits every unit lowering to `unit` (and some others):
// (u | mask) == unit. None for 'k' and for units outside ASCII, which units
// outside ASCII lower-case to (the Kelvin sign to 'k').
struct Probe
{
    char16_t unit = 0;
    char16_t mask = 0;

    static std::optional<Probe> forLower(char16_t lower);
    bool admits(char16_t u) const { return char16_t(u | mask) == unit; }
};

// First index at or after `from` whose unit is one of `units[0..count)`
// (1 to 4 exact units); -1 when none.
qsizetype findAnyUnit(const char16_t *text, qsizetype from, qsizetype size, const char16_t *units,
                      int count);

// Whether `lowerMarker` (already lower-cased) starts at `at`, letter case ignored.
inline bool matchesAt(const char16_t *text, qsizetype at, qsizetype size, QStringView lowerMarker)
{
    if (at < 0 || size - at < lowerMarker.size())
        return false;
    for (qsizetype i = 0; i < lowerMarker.size(); ++i) {
        if (lowerUnit(text[at + i]) != lowerMarker[i].unicode())
            return false;
    }
    return true;
}

// A search text lower-cased once, with the units its first unit can come from.
class Needle
{
public:
    explicit Needle(QStringView marker);

    QStringView lower() const { return m_lower; }
    qsizetype size() const { return m_lower.size(); }
    bool isEmpty() const { return m_lower.isEmpty(); }

    // First occurrence at or after `from`, letter case ignored; -1 when none.
    qsizetype findIn(const char16_t *text, qsizetype from, qsizetype size) const;

private:
    // Up to three units of the needle tested a block of positions at a time
    // before a whole comparison.
    struct Filter
    {
        qsizetype offset;
        Probe probe;
    };
    // First position in [at, last] that every filter admits; -1 when none.
    qsizetype nextCandidate(const char16_t *text, qsizetype at, qsizetype last) const;
    // The same over whole blocks only: the admitted position, or where the
    // blocks ended (the first position not looked at).
    qsizetype candidateSse2(const char16_t *text, qsizetype at, qsizetype last) const;
    qsizetype candidateAvx2(const char16_t *text, qsizetype at, qsizetype last) const;

    QString m_lower;
    std::array<Filter, 3> m_filters{};
    int m_filterCount = 0;
};

} // namespace caiji::foldscan
