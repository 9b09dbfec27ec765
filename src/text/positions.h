// 1-based character positions, the way every cutting rule of the task format
// and the collector counts them. Use these instead of ad-hoc index arithmetic.
#pragma once

#include <QString>
#include <QStringView>
#include <optional>

namespace caiji {

// 0-based index of the first `needle` at or after 0-based `from`, -1 when
// none; exact and case-sensitive. Faster than QStringView::indexOf for the
// short markers the collector searches in long pages.
qsizetype findText(QStringView haystack, QStringView needle, qsizetype from = 0);

// Position (1-based) of the first `needle` in `haystack` that starts at or
// after `from`; 0 when there is none. An empty needle is found at `from` in a
// non-empty text; nothing is found in an empty text or past its end.
qsizetype instr(qsizetype from, QStringView haystack, QStringView needle);

// Last position (1-based) of `needle` in `haystack`; 0 when there is none.
qsizetype instrRev(QStringView haystack, QStringView needle);

// `length` characters from 1-based `start`, clipped to the text.
QString mid(QStringView text, qsizetype start, qsizetype length);

// The characters from `start` up to, not including, `end`, or nothing when
// `end - start` is negative (a cut that fails leaves its target as it was).
std::optional<QString> cutBetween(QStringView text, qsizetype start, qsizetype end);

// Lower-cases per UTF-16 unit so that positions in the copy match the original.
QString lowerSameLength(QStringView text);

} // namespace caiji
