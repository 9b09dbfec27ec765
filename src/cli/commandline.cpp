#include "cli/commandline.h"

#include "tasks/instancelock.h"

#include "engine/collectionengine.h"
#include "engine/linklister.h"
#include "engine/networkfetcher.h"
#include "engine/pagecutter.h"
#include "engine/pageexplainer.h"
#include "records/csvexport.h"
#include "records/failurelog.h"
#include "records/recordstore.h"
#include "records/runhistory.h"
#include "records/xlsxexport.h"
#include "tasks/taskfile.h"
#include "tasks/workspace.h"
#include "text/htmltext.h"
#include "text/links.h"
#include "text/positions.h"
#include "text/readtext.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QUrl>

#include <cstdio>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

// `caiji try` gives up on a page after this long.
constexpr int TryTimeoutMs = 120000;
// Refused records are named on stderr up to this many per task run.
constexpr int RefusalsShown = 20;

} // namespace

CommandLine::CommandLine(QTextStream &out, QTextStream &err, const QString &defaultWorkspace)
    : m_out(out), m_err(err), m_defaultWorkspace(defaultWorkspace)
{
}

int CommandLine::run(const QStringList &arguments)
{
    if (arguments.isEmpty() || arguments.first() == u"--help" || arguments.first() == u"-h" ||
        arguments.first() == u"help")
        return printHelp();
    const QString command = arguments.first();
    const QStringList rest = arguments.mid(1);
    if (command == u"htm2txt")
        return htm2txtCommand(rest);
    if (command == u"run")
        return runCommand(rest);
    if (command == u"try")
        return tryCommand(rest);
    if (command == u"links")
        return linksCommand(rest);
    if (command == u"export")
        return exportCommand(rest);
    if (command == u"count")
        return countCommand(rest);
    if (command == u"history")
        return historyCommand(rest);
    if (command == u"failures")
        return failuresCommand(rest);
    return fail(u"unknown command: "_s + command + u" (see caiji --help)"_s);
}

int CommandLine::fail(const QString &message)
{
    m_err << "caiji: " << message << Qt::endl;
    return 2;
}

int CommandLine::printHelp()
{
    m_out << "Usage: caiji [COMMAND] [ARGUMENTS]\n"
             "\n"
             "Commands:\n"
             "  run [--workspace DIR] [--tick-ms N] [--keep-runs N] [TASK...]\n"
             "                 collect the named tasks (or all) without a window, print\n"
             "                 each status line and a summary per task; exit status 1\n"
             "                 when a page, download or record failed. The database of\n"
             "                 the task's previous run moves to data/history (the last\n"
             "                 N runs are kept, at least 5)\n"
             "  try [--workspace DIR] [--level N] [--json] TASK URL\n"
             "  try [--workspace DIR] [--level N] [--json] TASK --file FILE [--url URL]\n"
             "                 fetch one page (or read a saved one) and explain, field by\n"
             "                 field, what level N (1) of the task cuts from it and why a\n"
             "                 value is empty; exit status 1 when the page yields nothing\n"
             "  links START-URL FILE\n"
             "                 print the links of a saved page that the crawler would follow\n"
             "  export [--workspace DIR] [--run RUN] TASK [--out FILE | --xlsx FILE]\n"
             "                 write the task's stored records as CSV (UTF-8 with BOM,\n"
             "                 to stdout or FILE) or as an Excel workbook; --run takes\n"
             "                 an earlier run's records (see history)\n"
             "  history [--workspace DIR] TASK\n"
             "                 list the task's current and earlier runs with their\n"
             "                 record and failure counts\n"
             "  failures [--workspace DIR] [--run RUN] [--json] TASK\n"
             "                 list what failed in the task's last run (or RUN): the kind,\n"
             "                 the reason and the address of every failed transfer or\n"
             "                 refused record\n"
             "  count [--workspace DIR] [TASK...]\n"
             "                 print the number of stored records of each task\n"
             "  htm2txt FILE   print the plain text of an HTML page file\n"
             "  --help         show this list\n"
             "\n"
             "The workspace is the program's folder unless --workspace is given.\n";
    m_out.flush();
    return 0;
}

std::optional<CommandLine::Options> CommandLine::parseOptions(const QStringList &arguments,
                                                              const QStringList &allowed)
{
    Options options;
    options.workspace = m_defaultWorkspace;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (!argument.startsWith(u"--")) {
            options.positional << argument;
            continue;
        }
        if (!allowed.contains(argument)) {
            fail(u"unknown option "_s + argument);
            return std::nullopt;
        }
        if (argument == u"--json") {
            options.json = true;
            continue;
        }
        if (i + 1 >= arguments.size()) {
            fail(argument + u" needs a value"_s);
            return std::nullopt;
        }
        const QString value = arguments[++i];
        if (argument == u"--workspace") {
            options.workspace = value;
        } else if (argument == u"--out") {
            options.out = value;
        } else if (argument == u"--xlsx") {
            options.xlsx = value;
        } else if (argument == u"--run") {
            options.run = value;
        } else if (argument == u"--file") {
            options.file = value;
        } else if (argument == u"--url") {
            options.url = value;
        } else if (argument == u"--level") {
            bool ok = false;
            options.level = value.toInt(&ok);
            if (!ok || options.level < 1 || options.level > MaxLevel) {
                fail(u"--level needs a number from 1 to %1"_s.arg(MaxLevel));
                return std::nullopt;
            }
        } else if (argument == u"--keep-runs") {
            bool ok = false;
            options.keepRuns = value.toInt(&ok);
            if (!ok || options.keepRuns < RunHistory::DefaultKeep ||
                options.keepRuns > RunHistory::MaxKeep) {
                fail(u"--keep-runs needs a number from %1 to %2"_s.arg(RunHistory::DefaultKeep)
                         .arg(RunHistory::MaxKeep));
                return std::nullopt;
            }
        } else if (argument == u"--tick-ms") {
            bool ok = false;
            options.tickMs = value.toInt(&ok);
            if (!ok || options.tickMs < 1 || options.tickMs > 3600000) {
                fail(u"--tick-ms needs a number of milliseconds from 1 to 3600000"_s);
                return std::nullopt;
            }
        }
    }
    if (!QFileInfo(options.workspace).isDir()) {
        fail(u"workspace not found: "_s + options.workspace);
        return std::nullopt;
    }
    return options;
}

int CommandLine::htm2txtCommand(const QStringList &arguments)
{
    if (arguments.size() != 1)
        return fail(u"htm2txt needs exactly one FILE"_s);
    const QString path = arguments.first();
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable())
        return fail(u"cannot read "_s + path);
    m_out << htm2txt(readtext(path));
    m_out.flush();
    return 0;
}

int CommandLine::runCommand(const QStringList &arguments)
{
    const auto options =
        parseOptions(arguments, {u"--workspace"_s, u"--tick-ms"_s, u"--keep-runs"_s});
    if (!options)
        return 2;
    const Workspace workspace(options->workspace);
    const QStringList known = workspace.taskNames();
    for (const QString &name : options->positional) {
        if (!known.contains(name))
            return fail(u"no task named "_s + name + u" in "_s + workspace.tasksDir());
    }

    // Two collections in one workspace would replace each other's databases.
    InstanceLock lock(workspace.root());
    if (!lock.acquire())
        return fail(u"another caiji is running on the workspace "_s + workspace.root());

    NetworkFetcher listFetcher;
    NetworkFetcher contentFetcher;
    CollectionEngine engine(workspace, &listFetcher, &contentFetcher,
                            {options->tickMs, true, options->keepRuns});
    QEventLoop loop;
    QObject::connect(&engine, &CollectionEngine::runListLineChanged, &engine,
                     [this, &engine](int index, const QString &line) {
                         if (index <= engine.state().taskIndex) {
                             m_out << line << '\n';
                             m_out.flush();
                         }
                     });
    int refusalsShown = 0;
    QObject::connect(&engine, &CollectionEngine::taskStarted, &engine,
                     [&refusalsShown] { refusalsShown = 0; });
    QObject::connect(&engine, &CollectionEngine::recordRefused, &engine,
                     [&](const QString &, const QString &reason) {
                         if (++refusalsShown > RefusalsShown)
                             return;
                         m_err << "caiji: " << engine.state().taskName << ": 记录未能存入数据库："
                               << reason << (refusalsShown == RefusalsShown ? "（以后的从略）" : "")
                               << Qt::endl;
                     });
    const auto quitWhenDone = [&] {
        if (engine.allQueuedComplete())
            loop.quit();
    };
    QObject::connect(&engine, &CollectionEngine::taskCompleted, &engine, quitWhenDone);
    QObject::connect(&engine, &CollectionEngine::taskNotStarted, &engine,
                     [&](int, const QString &name, const QString &reason) {
                         m_err << "caiji: " << name << ": 未启动：" << reason << Qt::endl;
                         quitWhenDone();
                     });

    if (options->positional.isEmpty()) {
        if (engine.startUp().isEmpty())
            return 0;
    } else {
        for (const QString &name : options->positional)
            engine.queueTask(name);
    }
    loop.exec();
    return printSummaries(engine) ? 0 : 1;
}

bool CommandLine::printSummaries(const CollectionEngine &engine)
{
    bool clean = true;
    for (int i = 0; i < engine.state().taskQueue.size(); ++i) {
        const CollectionEngine::RunSummary summary = engine.summary(i);
        m_out << "汇总 " << summary.name << ": " << CollectionEngine::describe(summary) << '\n';
        clean = clean && summary.started && summary.tally.failures() == 0;
    }
    m_out.flush();
    return clean;
}

int CommandLine::tryCommand(const QStringList &arguments)
{
    const auto options = parseOptions(
        arguments, {u"--workspace"_s, u"--level"_s, u"--json"_s, u"--file"_s, u"--url"_s});
    if (!options)
        return 2;
    const qsizetype wanted = options->file.isEmpty() ? 2 : 1;
    if (options->positional.size() != wanted && options->positional.size() != 2)
        return fail(u"try needs TASK and URL, or TASK --file FILE [--url URL]"_s);
    const Workspace workspace(options->workspace);
    const QString task = options->positional[0];
    const QString taskFile = workspace.taskFile(task);
    if (!QFileInfo(taskFile).isReadable())
        return fail(u"cannot read "_s + taskFile);
    QString url = options->positional.value(1, options->url);

    QByteArray bytes;
    QString fetch;
    if (!options->file.isEmpty()) {
        QFile file(options->file);
        if (!file.open(QIODevice::ReadOnly))
            return fail(u"cannot read "_s + options->file);
        bytes = file.readAll();
        fetch = u"保存的文件 "_s + options->file;
        if (url.isEmpty())
            url = QUrl::fromLocalFile(QFileInfo(options->file).absoluteFilePath()).toString();
    } else {
        const std::optional<QByteArray> page = fetchPage(url, &fetch);
        if (!page) {
            m_err << "caiji: 取不到页面 " << url << "：" << fetch << Qt::endl;
            return 1;
        }
        bytes = *page;
    }

    const PageTrace trace = explainPage(readTaskText(taskFile), bytes, url, options->level, fetch);
    if (options->json) {
        m_out << QJsonDocument(explanationJson(trace)).toJson(QJsonDocument::Indented);
    } else {
        const bool colour = qEnvironmentVariableIsEmpty("NO_COLOR") && isatty(fileno(stdout));
        m_out << explanationText(trace, colour);
    }
    m_out.flush();
    return trace.yieldedSomething() && trace.problems.isEmpty() ? 0 : 1;
}

std::optional<QByteArray> CommandLine::fetchPage(const QString &url, QString *fetch)
{
    QTemporaryDir dir;
    if (!dir.isValid()) {
        *fetch = u"无法建立临时目录"_s;
        return std::nullopt;
    }
    NetworkFetcher fetcher;
    fetcher.setPagesInMemory(true);
    fetcher.setAllowedDirectories({dir.path()});
    const QString file = dir.filePath(u"page .txt"_s);
    std::optional<QByteArray> page;
    *fetch = u"超时"_s;
    QEventLoop loop;
    QObject::connect(&fetcher, &Fetcher::fetchDone, &loop,
                     [&](int, const QString &, const QString &, const QString &text, qint64 count,
                         const QString &, const QString &, const QByteArray &body) {
                         *fetch = text;
                         if (count >= 0) {
                             QFile small(file);
                             page = count > 2 || !small.open(QIODevice::ReadOnly) ? body
                                                                                  : small.readAll();
                         }
                         loop.quit();
                     });
    QTimer::singleShot(TryTimeoutMs, &loop, &QEventLoop::quit);
    fetcher.fetch(1, url, file, u"1"_s, QString());
    loop.exec();
    fetcher.abandonAll();
    return page;
}

int CommandLine::linksCommand(const QStringList &arguments)
{
    if (arguments.size() != 2)
        return fail(u"links needs START-URL and FILE"_s);
    const QString start = arguments[0];
    const QString path = arguments[1];
    if (!QFileInfo(path).isFile() || !QFileInfo(path).isReadable())
        return fail(u"cannot read "_s + path);
    const QString listing = ListLinks(start, readtext(path));
    QStringList seen;
    qsizetype p1 = instr(1, listing, u"ur=[[") + 5;
    while (p1 > 5) {
        const qsizetype p2 = instr(p1, listing, u"]]");
        if (p2 == 0)
            break;
        const QString link = hp(mid(listing, p1, p2 - p1), start);
        if (!link.isEmpty() && !seen.contains(link)) {
            seen << link;
            m_out << link << '\n';
        }
        p1 = instr(p2, listing, u"ur=[[") + 5;
    }
    m_out.flush();
    return 0;
}

int CommandLine::exportCommand(const QStringList &arguments)
{
    const auto options =
        parseOptions(arguments, {u"--workspace"_s, u"--out"_s, u"--xlsx"_s, u"--run"_s});
    if (!options)
        return 2;
    if (options->positional.size() != 1)
        return fail(u"export needs exactly one TASK"_s);
    if (!options->out.isEmpty() && !options->xlsx.isEmpty())
        return fail(u"export takes --out or --xlsx, not both"_s);
    const Workspace workspace(options->workspace);
    const QString task = options->positional.first();
    const QString database = runDatabase(workspace, task, options->run);
    if (database.isEmpty())
        return 2;
    if (!QFile::exists(database))
        return fail(u"该任务尚未采集!"_s);
    const int fieldCount = getuc(workspace.taskFile(task));
    const std::optional<QStringList> lines = RecordStore::readAll(database, fieldCount);
    if (!lines)
        return fail(u"cannot read the records of "_s + task);
    if (!options->xlsx.isEmpty()) {
        QString error;
        if (!writeRecordsXlsx(options->xlsx, fieldCount, *lines, &error))
            return fail(error);
        return 0;
    }
    const QByteArray csv = recordsToCsv(fieldCount, *lines);
    if (options->out.isEmpty()) {
        QFile stdoutFile;
        if (!stdoutFile.open(stdout, QIODevice::WriteOnly) || stdoutFile.write(csv) != csv.size())
            return fail(u"cannot write the records"_s);
        return 0;
    }
    QSaveFile file(options->out);
    if (!file.open(QIODevice::WriteOnly) || file.write(csv) != csv.size() || !file.commit())
        return fail(u"cannot write "_s + options->out);
    return 0;
}

int CommandLine::countCommand(const QStringList &arguments)
{
    const auto options = parseOptions(arguments, {u"--workspace"_s});
    if (!options)
        return 2;
    const Workspace workspace(options->workspace);
    const QStringList known = workspace.taskNames();
    const QStringList tasks = options->positional.isEmpty() ? known : options->positional;
    for (const QString &task : tasks) {
        if (!known.contains(task))
            return fail(u"no task named "_s + task);
    }
    for (const QString &task : tasks) {
        const QString database = workspace.databaseFile(task);
        const std::optional<qint64> count =
            QFile::exists(database) ? RecordStore::count(database) : std::optional<qint64>(0);
        m_out << task << '\t' << (count ? QString::number(*count) : u"?"_s) << '\n';
    }
    m_out.flush();
    return 0;
}

int CommandLine::historyCommand(const QStringList &arguments)
{
    const auto options = parseOptions(arguments, {u"--workspace"_s});
    if (!options)
        return 2;
    if (options->positional.size() != 1)
        return fail(u"history needs exactly one TASK"_s);
    const Workspace workspace(options->workspace);
    const QString task = options->positional.first();
    if (!QFileInfo(workspace.taskDir(task)).isDir())
        return fail(u"no task named "_s + task);
    const QString database = workspace.databaseFile(task);
    const auto printRun = [this](const QString &name, const QString &path) {
        const std::optional<qint64> count = RecordStore::count(path);
        const std::optional<QList<FailureEntry>> failures = FailureLog::read(path);
        m_out << name << '\t' << (count ? QString::number(*count) : u"?"_s) << '\t'
              << (failures ? QString::number(failures->size()) : u"?"_s) << '\t'
              << QFileInfo(path).lastModified().toString(u"yyyy-MM-dd HH:mm:ss"_s) << '\n';
    };
    if (QFile::exists(database))
        printRun(u"当前"_s, database);
    for (const HistoryRun &run : RunHistory(QFileInfo(database).absolutePath()).runs())
        printRun(run.name, run.path);
    m_out.flush();
    return 0;
}

QString CommandLine::runDatabase(const Workspace &workspace, const QString &task,
                                 const QString &run)
{
    if (!QFileInfo(workspace.taskDir(task)).isDir()) {
        fail(u"no task named "_s + task);
        return {};
    }
    const QString database = workspace.databaseFile(task);
    if (run.isEmpty())
        return database;
    const std::optional<HistoryRun> earlier =
        RunHistory(QFileInfo(database).absolutePath()).run(run);
    if (!earlier) {
        fail(u"no run named "_s + run + u" (see caiji history "_s + task + u')');
        return {};
    }
    return earlier->path;
}

int CommandLine::failuresCommand(const QStringList &arguments)
{
    const auto options = parseOptions(arguments, {u"--workspace"_s, u"--run"_s, u"--json"_s});
    if (!options)
        return 2;
    if (options->positional.size() != 1)
        return fail(u"failures needs exactly one TASK"_s);
    const Workspace workspace(options->workspace);
    const QString database = runDatabase(workspace, options->positional.first(), options->run);
    if (database.isEmpty())
        return 2;
    const std::optional<QList<FailureEntry>> failures = FailureLog::read(database);
    if (!failures)
        return fail(u"cannot read "_s + FailureLog::fileFor(database));
    if (options->json) {
        QJsonArray list;
        for (const FailureEntry &failure : *failures) {
            list.append(QJsonObject{{u"kind"_s, failure.kind},
                                    {u"reason"_s, failure.reason},
                                    {u"address"_s, failure.address}});
        }
        m_out << QJsonDocument(list).toJson(QJsonDocument::Indented);
    } else {
        for (const FailureEntry &failure : *failures)
            m_out << failure.kind << '\t' << failure.reason << '\t' << failure.address << '\n';
        if (failures->isEmpty())
            m_out << "没有失败\n";
    }
    m_out.flush();
    return 0;
}

} // namespace caiji
