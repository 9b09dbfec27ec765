#include "records/runhistory.h"

#include "records/failurelog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
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
// killed, and the checkpoint folds the log into the file where it can. It
// cannot while another program holds the database open or the disk is full:
// the log then still holds committed rows, so it always moves with the file.
Contents inspect(const QString &path)
{
    // Something else than a database is not opened: SQLite would make its
    // index anew over whatever lies beside it.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Contents::Unreadable;
    if (file.size() > 0 && !file.read(16).startsWith(QByteArrayLiteral("SQLite format 3")))
        return Contents::Unreadable;
    file.close();
    const QString connection = u"caiji-history-"_s + QUuid::createUuid().toString();
    Contents contents = Contents::Unreadable;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, connection);
        db.setDatabaseName(path);
        db.setConnectOptions(u"QSQLITE_BUSY_TIMEOUT=5000"_s);
        if (db.open()) {
            QSqlQuery query(db);
            query.exec(u"PRAGMA wal_checkpoint(PASSIVE)"_s);
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

// A run is its database with its companions and its list of what failed.
bool removeRun(const QString &path)
{
    QFile::remove(FailureLog::fileFor(path));
    for (const QString &suffix : CompanionSuffixes)
        QFile::remove(path + suffix);
    return !QFile::exists(path) || QFile::remove(path);
}

// Moves a run: the log and the list first, the database last, so that a
// database found in its new place always has its log beside it.
bool moveRun(const QString &from, const QString &to)
{
    for (const QString &suffix : CompanionSuffixes) {
        if (QFile::exists(from + suffix) && !QFile::rename(from + suffix, to + suffix))
            return false;
    }
    const QString failures = FailureLog::fileFor(from);
    if (QFile::exists(failures) && !QFile::rename(failures, FailureLog::fileFor(to)))
        return false;
    return QFile::rename(from, to);
}

// Moves the files back where they were after a move that failed half way.
void moveBack(const QString &from, const QString &to)
{
    for (const QString &suffix : CompanionSuffixes)
        QFile::rename(to + suffix, from + suffix);
    QFile::rename(FailureLog::fileFor(to), FailureLog::fileFor(from));
}

// "yyyyMMdd-HHmmss" with "-2", "-3" for later runs of the same second:
// ordered by the name, not by the files' times, which opening a run changes.
bool newerName(const QString &a, const QString &b)
{
    const QString stampA = a.left(15), stampB = b.left(15);
    if (stampA != stampB)
        return stampA > stampB;
    return a.mid(16).toInt() > b.mid(16).toInt();
}

bool holdsRecords(const QString &path)
{
    return inspect(path) != Contents::Empty;
}

} // namespace

int RunHistory::configuredKeep()
{
    return QSettings(u"caiji"_s, u"caiji"_s).value(u"history/keepRuns"_s, DefaultKeep).toInt();
}

RunHistory::RunHistory(const QString &dataDir, int keep)
    : m_dataDir(dataDir), m_keep(std::clamp(keep, int(DefaultKeep), int(MaxKeep)))
{
}

QString RunHistory::directory() const
{
    return m_dataDir + u"/history"_s;
}

QString RunHistory::unreadableDirectory() const
{
    return directory() + u"/unreadable"_s;
}

bool RunHistory::retire(const QString &database, QString *error, QString *notice)
{
    if (!QFile::exists(database)) {
        // Logs without their database hold nothing that can be shown.
        removeRun(database);
        return true;
    }
    // The time of the run's last change, before the checkpoint changes it.
    const QString stamp = lastChangeOf(database).toString(u"yyyyMMdd-HHmmss"_s);
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

    const bool unreadable = contents == Contents::Unreadable;
    const QDir dir(unreadable ? unreadableDirectory() : directory());
    if (!dir.mkpath(u"."_s)) {
        if (error)
            *error = u"无法创建目录 "_s + QDir::toNativeSeparators(dir.path());
        return false;
    }
    QString name = stamp;
    for (int n = 2; QFile::exists(dir.filePath(name + Extension)); ++n)
        name = stamp + u'-' + QString::number(n);
    const QString target = dir.filePath(name + Extension);
    if (!moveRun(database, target)) {
        moveBack(database, target);
        if (error)
            *error = u"无法移动到 "_s + QDir::toNativeSeparators(target);
        return false;
    }
    if (unreadable && notice)
        *notice = u"上次采集的数据库无法读取，已移到 "_s + QDir::toNativeSeparators(target);
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
    std::sort(result.begin(), result.end(),
              [](const HistoryRun &a, const HistoryRun &b) { return newerName(a.name, b.name); });
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
    int withRecords = 0, without = 0;
    for (const HistoryRun &run : runs()) {
        int &kept = holdsRecords(run.path) ? withRecords : without;
        if (++kept > m_keep)
            removeRun(run.path);
    }
}

} // namespace caiji
