// The command-line front end: collecting without a window, trying a task's
// rules on one page, listing a page's links, exporting records. Its own
// messages are English and follow the locale through the program's
// translation; status lines, summaries and explanations are data and stay
// as the core writes them.
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QStringList>
#include <optional>

class QTextStream;

namespace caiji {

class CollectionEngine;
struct NetworkSettings;
class Workspace;

class CommandLine
{
    Q_DECLARE_TR_FUNCTIONS(CommandLine)

public:
    // `examplesWorkspace` holds the example tasks `caiji examples` copies.
    CommandLine(QTextStream &out, QTextStream &err, const QString &defaultWorkspace,
                const QString &examplesWorkspace = QString());

    // Runs the command in `arguments` (without the program name) and returns
    // the exit code: 0 on success, 1 when a run finished but some page,
    // download or record failed, 2 for bad arguments or a failure.
    int run(const QStringList &arguments);
    // `caiji` without a command where no window can open: says so and
    // collects as `caiji run` with the same options.
    int runWithoutWindow(const QStringList &arguments);

private:
    struct Options
    {
        QString workspace;
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
        bool quiet = false;
        bool raw = false;
        QStringList positional;
    };

    // The options and arguments of `command`; nothing when the command should
    // end at once with m_parseExit (bad options, the message written: 2;
    // --help, the help written: 0).
    std::optional<Options> parseOptions(const QString &command, const QStringList &arguments);
    int fail(const QString &message);
    int printHelp();
    int examplesCommand(const QStringList &arguments);
    int htm2txtCommand(const QStringList &arguments);
    int runCommand(const QStringList &arguments);
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
    // The database of TASK's current run, or of the earlier run `run`; empty
    // after a failure (the message is already written).
    QString runDatabase(const Workspace &workspace, const QString &task, const QString &run);
    // One line per queued run of `engine`; true when nothing failed.
    bool printSummaries(const CollectionEngine &engine);

    QTextStream &m_out;
    QTextStream &m_err;
    QString m_defaultWorkspace;
    QString m_examplesWorkspace;
    int m_parseExit = 2;
};

} // namespace caiji
