#include "records/recordexport.h"

#include "records/recordreader.h"
#include "records/writefailure.h"
#include "records/xlsxexport.h"

#include <QSaveFile>

namespace caiji {

namespace {

using Failure = ExportOutcome::Failure;
constexpr auto failed = &ExportOutcome::failed;

ExportOutcome writeCsv(RecordReader &reader, QFileDevice *device, CsvValues values)
{
    ExportOutcome outcome;
    const auto put = [&](const QByteArray &bytes) {
        if (device->write(bytes) == bytes.size())
            return true;
        outcome = failed(Failure::Write, writeFailureReason(*device));
        return false;
    };
    if (!put(csvHeader(reader.fieldCount())))
        return outcome;
    QStringList row;
    while (reader.next(&row)) {
        if (!put(csvRow(row, values)))
            return outcome;
        ++outcome.records;
    }
    if (!reader.error().isEmpty())
        return failed(Failure::Read, reader.error());
    // Writes are buffered: a small export meets a full disk only here, and
    // a save file's commit would not notice.
    if (!device->flush())
        return failed(Failure::Write, writeFailureReason(*device));
    return outcome;
}

} // namespace

ExportOutcome ExportOutcome::failed(Failure failure, const QString &reason)
{
    return {failure, reason, 0};
}

ExportOutcome exportRecords(const QString &database, const QString &target, ExportFormat format,
                            CsvValues values, const CutCellSink &onCut, const QString &run)
{
    RecordReader reader;
    if (!reader.open(database, run))
        return failed(Failure::Read, reader.error());
    if (format == ExportFormat::Xlsx) {
        const NextRow next = [&reader](QStringList *row, QString *error) {
            if (reader.next(row))
                return true;
            *error = reader.error();
            return false;
        };
        return writeXlsx(target, reader.fieldCount(), next, onCut);
    }
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly))
        return failed(Failure::Target, file.errorString());
    ExportOutcome outcome = writeCsv(reader, &file, values);
    if (outcome.failure == Failure::None && !file.commit())
        return failed(Failure::Write, writeFailureReason(file));
    return outcome; // a save file not committed is thrown away
}

ExportOutcome exportRecordsCsv(const QString &database, QFileDevice *device, CsvValues values,
                               const QString &run)
{
    RecordReader reader;
    if (!reader.open(database, run))
        return failed(Failure::Read, reader.error());
    return writeCsv(reader, device, values);
}

} // namespace caiji
