// HTML fragments to plain text: a fixed sequence of case-insensitive
// replacements and span removals. Results equal those of the naive
// "search again from the start after every change" loops, in linear time.
#pragma once

#include <QString>

namespace caiji {

// Every occurrence of `hxss1` (letter case ignored) replaced by `hxss2`; a
// replacement may take part in a later match ("&amp;amp;" -> "&").
QString killonechar(const QString &hxs1, const QString &hxss1, const QString &hxss2);

// Every span from `hxss1` to the next `hxss2` (letter case ignored) removed,
// markers included. A start marker without an end marker after it ends the
// removals: nothing after it is removed.
QString killchar(const QString &hxs1, const QString &hxss1, const QString &hxss2);

// The plain-text form of an HTML fragment.
QString htm2txt(const QString &hxs1);

// The same, reading the fragment `pieceUnits` UTF-16 units at a time; the
// result does not depend on it (tests use tiny pieces to cross every boundary).
QString htm2txt(const QString &hxs1, qsizetype pieceUnits);

} // namespace caiji
