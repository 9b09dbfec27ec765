// Exporting a record database as CSV or as an Excel workbook, row by row so
// memory stays flat: the one path the command line and the window share. The
// target appears whole or not at all; a failed export leaves the file that was
// there before untouched.
#pragma once

#include "records/csvexport.h"

#include <QString>
#include <QStringList>
#include <functional>

class QFileDevice;

namespace caiji {

enum class ExportFormat { Csv, Xlsx };

struct ExportOutcome
{
    enum class Failure {
        None,
        Read,   // the records could not be read
        Target, // the target could not be created
        Write,  // writing failed part way (a full disk)
    };
    Failure failure = Failure::None;
    QString reason;
    qint64 records = 0;

    static ExportOutcome failed(Failure failure, const QString &reason);
};

// A value longer than an Excel cell holds, cut to fit.
struct CutCell
{
    qint64 record = 0; // 1-based; the sheet row is one more (the header)
    int field = 0;     // 1-based
    QString cell;      // "C3"
    qsizetype length = 0;
};
using CutCellSink = std::function<void(const CutCell &)>;

// The rows to write, one per call: false at the end, and with `error` set
// when reading failed.
using NextRow = std::function<bool(QStringList *row, QString *error)>;

// The records of the database at `database` (with `run`, only those that run
// stored), with the database's own columns.
ExportOutcome exportRecords(const QString &database, const QString &target, ExportFormat format,
                            CsvValues values = CsvValues::Safe, const CutCellSink &onCut = {},
                            const QString &run = QString());
// The same as CSV onto an open device (standard output), flushed at the end.
ExportOutcome exportRecordsCsv(const QString &database, QFileDevice *device, CsvValues values,
                               const QString &run = QString());

} // namespace caiji
