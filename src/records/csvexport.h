// Stored records as CSV for spreadsheet programs: UTF-8 with a byte-order
// mark (so Chinese shows), one header row 字段1..字段n, RFC 4180 quoting.
#pragma once

#include <QByteArray>
#include <QStringList>

namespace caiji {

QByteArray recordsToCsv(int fieldCount, const QStringList &recordLines);

} // namespace caiji
