#include "records/runhistory.h"

#include "records/failurelog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

const QString Extension = u".mdb"_s;
const QStringList CompanionSuffixes = {u"-wal"_s, u"-shm"_s, u"-journal"_s};

enum class Contents { Empty, HoldsData, Unreadable };

// Opening the database also replays a write-ahead log left by a run that was
// killed, and closing it folds the log back into the file, so the file moves
// alone afterwards.
Contents inspect(const QString &path)
{
    const QString connection = u"caiji-history-"_s + QUuid::createUuid().toString();
    Contents contents = Contents::Unreadable;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, connection);
        db.setDatabaseName(path);
        db.setConnectOptions(u"QSQLITE_BUSY_TIMEOUT=5000"_s);
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(u"SELECT count(*) FROM sqlite_master"_s) && query.next()) {
                if (query.value(0).toLongLong() == 0) {
                    contents = Contents::Empty;
                } else if (query.exec(u"SELECT EXISTS (SELECT 1 FROM data)"_s) && query.next()) {
                    contents = query.value(0).toBool() ? Contents::HoldsData : Contents::Empty;
                } else {
                    contents = Contents::HoldsData; // tables of someone else's: keep them
                }
            }
            query.finish();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return contents;
}

QDateTime lastChangeOf(const QString &path)
{
    QDateTime newest = QFileInfo(path).lastModified();
    const QFileInfo wal(path + u"-wal"_s);
    if (wal.exists() && wal.lastModified() > newest)
        newest = wal.lastModified();
    return newest;
}

bool removeWithCompanions(const QString &path)
{
    for (const QString &suffix : CompanionSuffixes)
        QFile::remove(path + suffix);
    return !QFile::exists(path) || QFile::remove(path);
}

// A run is its database with its companions and its list of what failed.
bool removeRun(const QString &path)
{
    QFile::remove(FailureLog::fileFor(path));
    return removeWithCompanions(path);
}

} // namespace

RunHistory::RunHistory(const QString &dataDir, int keep)
    : m_dataDir(dataDir), m_keep(std::clamp(keep, int(DefaultKeep), int(MaxKeep)))
{
}

QString RunHistory::directory() const
{
    return m_dataDir + u"/history"_s;
}

bool RunHistory::retire(const QString &database, QString *error)
{
    if (!QFile::exists(database)) {
        // Logs without their database hold nothing that can be shown.
        removeRun(database);
        return true;
    }
    const Contents contents = inspect(database);
    // A run without records may still have a list of what failed: it is kept.
    const QString failures = FailureLog::fileFor(database);
    if (contents == Contents::Empty && QFileInfo(failures).size() == 0) {
        if (removeRun(database))
            return true;
        if (error)
            *error = u"无法删除空的数据库"_s;
        return false;
    }

    const QDir dir(directory());
    if (!dir.mkpath(u"."_s)) {
        if (error)
            *error = u"无法创建目录 "_s + QDir::toNativeSeparators(directory());
        return false;
    }
    const QString stamp = lastChangeOf(database).toString(u"yyyyMMdd-HHmmss"_s);
    QString name = stamp;
    for (int n = 2; QFile::exists(dir.filePath(name + Extension)); ++n)
        name = stamp + u'-' + QString::number(n);
    const QString target = dir.filePath(name + Extension);
    // An unreadable file keeps its log beside it under the matching name.
    if (contents == Contents::Unreadable) {
        for (const QString &suffix : CompanionSuffixes) {
            if (QFile::exists(database + suffix))
                QFile::rename(database + suffix, target + suffix);
        }
    }
    if (!QFile::rename(database, target)) {
        if (error)
            *error = u"无法移动到 "_s + QDir::toNativeSeparators(target);
        return false;
    }
    QFile::rename(failures, FailureLog::fileFor(target));
    removeWithCompanions(database);
    prune();
    return true;
}

QList<HistoryRun> RunHistory::runs() const
{
    QList<HistoryRun> result;
    const QDir dir(directory());
    for (const QFileInfo &info : dir.entryInfoList({u"*"_s + Extension}, QDir::Files)) {
        result.append({info.completeBaseName(), info.absoluteFilePath(),
                       lastChangeOf(info.absoluteFilePath())});
    }
    std::sort(result.begin(), result.end(), [](const HistoryRun &a, const HistoryRun &b) {
        if (a.lastChanged != b.lastChanged)
            return a.lastChanged > b.lastChanged;
        return a.name > b.name;
    });
    return result;
}

std::optional<HistoryRun> RunHistory::run(const QString &name) const
{
    for (const HistoryRun &run : runs()) {
        if (run.name == name)
            return run;
    }
    return std::nullopt;
}

void RunHistory::prune()
{
    const QList<HistoryRun> all = runs();
    for (qsizetype i = m_keep; i < all.size(); ++i)
        removeRun(all[i].path);
}

} // namespace caiji
