// The three ways the task format reads a number, kept apart on purpose: each
// rule of the collector relies on one of them.
#pragma once

#include <QStringView>
#include <optional>

namespace caiji {

// The number at the start of a text: leading blanks skipped, then an optional
// sign, digits, fraction and exponent as far as they go; 0 when there is none.
// Never fails.
double numberAtStart(QStringView text);

// The whole text read as a number (blanks around it allowed), or nothing when
// it is not one. A test whose operand is not a number counts as passed, so
// callers write `!n || *n == 1` and the like.
std::optional<double> readAsNumber(QStringView text);

// 16-bit conversion: read as a number, halves to the even neighbour; nothing
// when the text is not a number or the result lies outside -32768..32767.
std::optional<qint16> toInt16(QStringView text);

} // namespace caiji
