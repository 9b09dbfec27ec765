// Stored records as an Excel workbook: one sheet "data", a header row
// 字段1..字段n, one row per record, characters Excel refuses removed.
#pragma once

#include "records/recordexport.h"

#include <QString>
#include <QStringList>

namespace caiji {

// Excel keeps tab, line feed and carriage return of the control characters,
// no unpaired surrogates, and at most 32767 characters per cell.
QString excelSafe(const QString &value);

// Writes the rows as a workbook at `path`. It is made in the same folder with
// constant memory and moved into place once whole; cells cut to Excel's limit
// are reported to `onCut`.
ExportOutcome writeXlsx(const QString &path, int fieldCount, const NextRow &next,
                        const CutCellSink &onCut = {});

// The same for record lines ("^" before every value). False (with a reason in
// `error`) when the file could not be written.
bool writeRecordsXlsx(const QString &path, int fieldCount, const QStringList &recordLines,
                      QString *error, const CutCellSink &onCut = {});

} // namespace caiji
