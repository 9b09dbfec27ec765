// Stored records as CSV for spreadsheet programs: UTF-8 with a byte-order
// mark (so Chinese shows), one header row 字段1..字段n, RFC 4180 quoting.
#pragma once

#include <QByteArray>
#include <QStringList>

namespace caiji {

enum class CsvValues {
    // A value a spreadsheet would run as a formula (one starting with =, +, -,
    // @, a tab or a carriage return) gets a leading "'".
    Safe,
    AsStored,
};

// The start of the file: the byte-order mark and the header row.
QByteArray csvHeader(int fieldCount);
// One row of values in column order, with its line end.
QByteArray csvRow(const QStringList &row, CsvValues values = CsvValues::Safe);

QByteArray recordsToCsv(int fieldCount, const QStringList &recordLines,
                        CsvValues values = CsvValues::Safe);

} // namespace caiji
