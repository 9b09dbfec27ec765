// The font of the record lists' padded lines: display lines count a Chinese
// character as two columns, so they line up only in a font whose Chinese
// characters are exactly two ASCII widths.
#pragma once

#include <QFont>

namespace caiji {

// Whether `font` draws a Chinese character exactly two ASCII widths wide, at
// whole pixels.
bool alignsColumns(const QFont &font);

// Noto Sans Mono CJK (fonts-noto-cjk) or another monospaced Chinese font the
// font configuration knows, near the size of `base`; the system's fixed font
// when none aligns.
QFont columnFont(const QFont &base);

} // namespace caiji
