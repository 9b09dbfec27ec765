// The databases of a task's earlier runs. A run starts on a fresh database;
// the one before it is never deleted while it holds records or a list of
// failures: it moves to "data/history/<time of its last change>.mdb" with its
// write-ahead log, and the newest runs are kept: runs with records and runs
// without are counted apart, so failed runs never push out collected ones.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

namespace caiji {

struct HistoryRun
{
    QString name; // "yyyyMMdd-HHmmss", with "-2", "-3" when two share a second
    QString path;
    QDateTime lastChanged;
};

class RunHistory
{
public:
    static constexpr int DefaultKeep = 5;
    static constexpr int MaxKeep = 1000;

    // The number of runs kept, as the user set it (`[history] keepRuns` in
    // ~/.config/caiji/caiji.conf), for the window and the command line alike.
    static int configuredKeep();

    // `dataDir` is the task's "data" folder; `keep` is raised to at least
    // DefaultKeep.
    explicit RunHistory(const QString &dataDir, int keep = DefaultKeep);

    QString directory() const;
    // Where a database that cannot be read is moved: apart from the runs,
    // never counted or deleted.
    QString unreadableDirectory() const;
    int keep() const { return m_keep; }

    // Clears the way for a new database at `database`: an empty one (no
    // rows, or no tables, and no failures) is deleted, any other moves into
    // the history, then the oldest runs past the kept number are deleted.
    // False with `error` set when the database could not be moved; it is
    // then left in place. `notice` names a database that could not be read.
    bool retire(const QString &database, QString *error = nullptr, QString *notice = nullptr);

    // Newest first.
    QList<HistoryRun> runs() const;
    std::optional<HistoryRun> run(const QString &name) const;

private:
    void prune();

    QString m_dataDir;
    int m_keep;
};

} // namespace caiji
