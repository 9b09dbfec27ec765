// What a local record database holds to publish: its rows with the run each
// belongs to. A database that only-new runs added to names each row's run
// itself; any other is one run, named once when first published and the
// name kept inside it (table caiji_publish), so that it stays the same when
// the database moves into the history.
#pragma once

#include "records/recordpublisher.h"

#include <QList>
#include <QString>
#include <optional>

namespace caiji {

class PublishRows
{
public:
    // The rows of the database at `path` after rowid `afterRow`, in order;
    // with `run`, only those that run stored. `fallbackName` names a
    // database of one run that has no name yet (a history run's own name);
    // empty: the time the database was made. Nothing, with `why` set, when
    // it cannot be read.
    static std::optional<QList<PublishRow>> read(const QString &path, const QString &run,
                                                 qint64 afterRow, const QString &fallbackName,
                                                 QString *why);
    // The runs of the database (every one, even those whose rows were all
    // deleted since, or just `run`).
    static QStringList runsOf(const QString &path, const QString &run, const QString &fallbackName);
    // The name of a database of one run (kept, or made and kept); empty for
    // a database that cannot be written.
    static QString runName(const QString &path, const QString &fallbackName);
    // The highest rowid in the database; 0 when it is empty or missing.
    static qint64 lastRow(const QString &path);
};

} // namespace caiji
