// The databases of a task's earlier runs. A run starts on a fresh database;
// the one before it is never deleted while it holds records: it moves to
// "data/history/<time of its last change>.mdb", and the newest runs are kept.
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

    // `dataDir` is the task's "data" folder; `keep` is raised to at least
    // DefaultKeep.
    explicit RunHistory(const QString &dataDir, int keep = DefaultKeep);

    QString directory() const;
    int keep() const { return m_keep; }

    // Clears the way for a new database at `database`: an empty one (no
    // rows, or no tables) is deleted, any other moves into the history, then
    // the oldest runs past the kept number are deleted. False with `error`
    // set when the database could not be moved; it is then left in place.
    bool retire(const QString &database, QString *error = nullptr);

    // Newest first.
    QList<HistoryRun> runs() const;
    std::optional<HistoryRun> run(const QString &name) const;

private:
    void prune();

    QString m_dataDir;
    int m_keep;
};

} // namespace caiji
