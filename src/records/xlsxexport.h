// Stored records as an Excel workbook: one sheet "data", a header row
// 字段1..字段n, one row per record, characters Excel refuses removed.
#pragma once

#include <QString>
#include <QStringList>

namespace caiji {

// Excel keeps tab, line feed and carriage return of the control characters,
// no unpaired surrogates, and at most 32767 characters per cell.
QString excelSafe(const QString &value);

// False (with a reason in `error`) when the file could not be written.
bool writeRecordsXlsx(const QString &path, int fieldCount, const QStringList &recordLines,
                      QString *error);

} // namespace caiji
