// Cutting a field value out of a page: the eight settings of a level section,
// the first match of a pattern, and the cleaning and testing by an a-list.
#pragma once

#include <QList>
#include <QString>
#include <array>

namespace caiji {

// w1..w8 of one level section; index 0 holds w1.
using WValues = std::array<QString, 8>;

// Sets w1..w8 from `section`. An entry whose closing "]]" is missing keeps
// the value it had; an entry that is missing altogether is cut from the
// section's fifth character, as the format has it.
void getw(const QString &section, WValues &w);

// The whole first match of `pattern` (letter case ignored) in `text`, or the
// empty string when there is none or the pattern is invalid; with `error`, why
// an invalid pattern is invalid (else it is emptied).
QString getreg(const QString &pattern, const QString &text, QString *error = nullptr);

// One step of an a-list on a value, for explanations.
struct AlistStep
{
    QString step;   // 必含, 不含, HTML转文本, 替换, 删除, 前后缀
    QString detail; // the item that decided a test, or what was done
    QString value;  // the value after the step
    bool failed = false;
};

// `kvs1` tested and cleaned by the a-list `gsa` (seven "|"-separated parts);
// the empty string when a test fails or the a-list has fewer than seven parts.
// With `steps`, each step taken is appended there.
QString geta(const QString &kvs1, const QString &gsa, QList<AlistStep> *steps = nullptr);

} // namespace caiji
