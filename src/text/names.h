// File names made from addresses, and record lines laid out in fixed columns
// for the record lists.
#pragma once

#include <QString>

namespace caiji {

// `hds1` with the nine characters file names may not hold replaced by "♀1".."♀9".
// A result that would not fit a file name (255 bytes of UTF-8 with the " .txt"
// that page files add) becomes a prefix plus a hash of the whole text, so
// long addresses keep distinct, stable names.
QString name1(const QString &hds1);

// 1 when the first character of `text` is shown in a record list, else 0.
int okchar(const QString &text);

// `value` without unshown characters and outer blanks, fitted to `width`
// display columns (characters below U+0100 take one, all others two).
QString padcut(const QString &value, int width);

// A record line ("^" before every value) as columns of 20 display columns and
// four blanks each.
QString rus(const QString &hds1);

} // namespace caiji
