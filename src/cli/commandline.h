// The command-line front end: collecting without a window, trying a task's
// rules on one page, listing a page's links, exporting records. Its own
// messages are English and follow the locale through the program's
// translation; status lines, summaries and explanations are data and stay
// as the core writes them.
#pragma once

#include "records/recordpublisher.h"
#include "tasks/installlayout.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QHash>
#include <QStringList>
#include <optional>

class QTextStream;

namespace caiji {

class InstanceLock;

class CollectionEngine;
struct NetworkSettings;
class Workspace;

class CommandLine
{
    Q_DECLARE_TR_FUNCTIONS(CommandLine)

public:
    // The options before the command, which the window takes too.
    struct GlobalOptions
    {
        QString workspace; // empty when not given
        int tickMs = 1000;
        bool help = false;
        bool version = false;
        QStringList command; // the command and its arguments; empty for the window
        QString error;       // why the arguments are bad, or empty
    };
    static GlobalOptions parseGlobal(const QStringList &arguments);

    // `layout` gives the default workspace and the example tasks.
    CommandLine(QTextStream &out, QTextStream &err, const InstallLayout &layout);

    // Runs the command line `arguments` (without the program name) and
    // returns the exit code: 0 on success, 1 when a run finished but some
    // page, download or record failed, 2 for bad arguments or a failure.
    // Without a command (no window could open) it says so and collects as
    // `caiji run` does.
    int run(const QStringList &arguments);

    // A command's options, parsed.
    struct Options
    {
        QString workspace;
        bool workspaceNamed = false; // by an option, not the default
        int tickMs = 1000;
        int keepRuns = 5;
        int timeoutSeconds = 30;
        QString out;
        QString xlsx;
        QString run;
        QString file;
        QString url;
        int level = 1;
        bool json = false;
        bool links = false;
        bool quiet = false;
        bool onlyNew = false;
        bool list = false;
        bool remove = false;
        bool raw = false;
        QString publish; // run: the server database to publish into
        QString to;      // publish: the server database
        QString table;
        QString queue; // the job queue's database
        QString every; // enqueue: the job's schedule
        int jobs = 1;  // worker: jobs at the same time
        int leaseSeconds = 60;
        bool untilEmpty = false;
        QStringList positional;
    };

private:
    // The options and arguments of `command`; nothing when the command should
    // end at once with m_parseExit (bad options, the message written: 2;
    // --help, the help written: 0).
    std::optional<Options> parseOptions(const QString &command, const QStringList &arguments);
    int fail(const QString &message);
    int printHelp(const QStringList &command);
    // Says that the workspace has no tasks and how to get the examples.
    void tellNoTasks(const QString &workspace, bool named);
    int examplesCommand(const QStringList &arguments);
    int scheduleCommand(const QStringList &arguments);
    int listSchedules(const QString &unitDir);
    int htm2txtCommand(const QStringList &arguments);
    int runCommand(const QStringList &arguments);
    // The workspace is held by another copy: a window takes the tasks into
    // its queue (exit 0), anything else is refused.
    int handOver(const InstanceLock &lock, const QString &workspace, const QStringList &tasks,
                 bool onlyNew);
    int tryCommand(const QStringList &arguments);
    // The page's bytes, fetched as the task's `network` settings say, or
    // nothing; `fetch` then says why, else its status; `charset` is the one
    // the server named.
    std::optional<QByteArray> fetchPage(const QString &url, const NetworkSettings &network,
                                        QString *fetch, QByteArray *charset);
    int linksCommand(const QStringList &arguments);
    int exportCommand(const QStringList &arguments);
    int countCommand(const QStringList &arguments);
    int historyCommand(const QStringList &arguments);
    int failuresCommand(const QStringList &arguments);
    int publishCommand(const QStringList &arguments);
    // enqueue, worker and jobs: the job queue shared by many machines.
    int queueCommand(const QString &command, const QStringList &arguments);
    // The database of TASK's current run, or of the earlier run `run`; empty
    // after a failure (the message is already written).
    // The database of `run` of `task` (the current one when empty). A run
    // that added to the current database gives that database, with
    // `rowsOf` set to the run (when the caller can take it).
    QString runDatabase(const Workspace &workspace, const QString &task, const QString &run,
                        QString *rowsOf = nullptr);
    // One line per queued run of `engine`, with what was published of it;
    // true when nothing failed.
    bool printSummaries(const CollectionEngine &engine,
                        const QHash<QString, PublishOutcome> &published);
    // Where a task's records are published during a run: --publish, else the
    // task's [publish] setting; nothing when neither is set.
    struct PublishTarget
    {
        QString url;
        QString table;
    };
    std::optional<PublishTarget> publishTarget(const Workspace &workspace, const QString &task,
                                               const Options &options);

    QTextStream &m_out;
    QTextStream &m_err;
    InstallLayout m_layout;
    // The workspace and tick of the global options, else the defaults.
    QString m_workspace;
    bool m_workspaceNamed = false;
    int m_tickMs = 1000;
    int m_parseExit = 2;
};

} // namespace caiji
