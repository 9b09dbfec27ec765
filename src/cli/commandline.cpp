#include "cli/commandline.h"

#include "cli/commandhelp.h"
#include "cli/queuecommands.h"
#include "tasks/instancelock.h"

#include "engine/collectionengine.h"
#include "engine/linklister.h"
#include "engine/livepublisher.h"
#include "engine/networkfetcher.h"
#include "engine/pageexplainer.h"
#include "engine/stopsignals.h"
#include "records/failurelog.h"
#include "records/publishrows.h"
#include "records/recordexport.h"
#include "records/recordpublisher.h"
#include "records/recordstore.h"
#include "records/runhistory.h"
#include "records/serverdatabase.h"
#include "tasks/publishsettings.h"
#include "tasks/scheduleunits.h"
#include "tasks/taskfile.h"
#include "tasks/taskfolders.h"
#include "tasks/workspace.h"
#include "text/htmltext.h"
#include "text/links.h"
#include "text/positions.h"
#include "text/readtext.h"

#include <QCommandLineParser>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
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
// A task that has not moved for this many ticks says it is waiting.
constexpr int QuietTicksBeforeNotice = 3;
// The engine ends a task at this many ticks without progress.
constexpr int QuietTicksToEnd = 21;
constexpr int MaxTickMs = 3600000;
constexpr int MaxParallelJobs = 16;
// How long a run's end waits for its last records to reach the server.
constexpr int PublishWaitMs = 120000;
// How long a window has to take tasks handed over to it.
constexpr int HandOverTimeoutMs = 10000;

// `text` as a whole number from `low` to `high`, or nothing.
std::optional<int> numberIn(const QString &text, int low, int high)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (ok && value >= low && value <= high)
        return value;
    return std::nullopt;
}

// `path` as a shell reads it back: quoted when it holds a blank or a quote.
QString shellWord(const QString &path)
{
    if (!path.contains(QRegularExpression(u"[\\s'\"]"_s)))
        return path;
    return u'\'' + QString(path).replace(u"'"_s, u"'\\''"_s) + u'\'';
}

} // namespace

CommandLine::GlobalOptions CommandLine::parseGlobal(const QStringList &arguments)
{
    GlobalOptions global;
    QCommandLineParser parser;
    // The command's own options are the command's to read.
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QCommandLineOption help({u"h"_s, u"help"_s}, {});
    const QCommandLineOption version({u"v"_s, u"version"_s}, {});
    const QCommandLineOption workspace(u"workspace"_s, {}, u"DIR"_s);
    const QCommandLineOption tickMs(u"tick-ms"_s, {}, u"N"_s);
    parser.addOptions({help, version, workspace, tickMs});
    if (!parser.parse(QStringList{u"caiji"_s} + arguments)) {
        global.error = parser.errorText();
        return global;
    }
    global.help = parser.isSet(help);
    global.version = parser.isSet(version);
    global.workspace = parser.value(workspace);
    global.command = parser.positionalArguments();
    if (parser.isSet(workspace) && global.workspace.isEmpty())
        global.error = tr("--workspace needs a folder");
    if (parser.isSet(tickMs)) {
        const std::optional<int> value = numberIn(parser.value(tickMs), 1, MaxTickMs);
        if (value)
            global.tickMs = *value;
        else
            global.error = tr("--%1 needs a number from %2 to %3")
                               .arg(u"tick-ms"_s, u"1"_s, QString::number(MaxTickMs));
    }
    if (global.version && !global.command.isEmpty())
        global.error = tr("--version takes no arguments");
    return global;
}

CommandLine::CommandLine(QTextStream &out, QTextStream &err, const InstallLayout &layout)
    : m_out(out), m_err(err), m_layout(layout), m_workspace(layout.defaultWorkspace())
{
}

int CommandLine::run(const QStringList &arguments)
{
    const GlobalOptions global = parseGlobal(arguments);
    if (!global.error.isEmpty())
        return fail(tr("%1 (see caiji --help)").arg(global.error));
    if (!global.workspace.isEmpty()) {
        m_workspace = global.workspace;
        m_workspaceNamed = true;
    }
    m_tickMs = global.tickMs;
    if (global.version) {
        m_out << CommandHelp::version() << '\n';
        m_out.flush();
        return 0;
    }
    if (global.help)
        return printHelp(global.command);
    const QString command = global.command.value(0);
    const QStringList rest = global.command.mid(1);
    if (command.isEmpty()) {
        m_err << "caiji: " << tr("no display, collecting without a window (caiji run)") << Qt::endl;
        return runCommand({});
    }
    if (command == u"help")
        return printHelp(rest);
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
    if (command == u"examples")
        return examplesCommand(rest);
    if (command == u"schedule")
        return scheduleCommand(rest);
    if (command == u"enqueue" || command == u"worker" || command == u"jobs")
        return queueCommand(command, rest);
    if (command == u"publish")
        return publishCommand(rest);
    return fail(tr("unknown command: %1 (see caiji --help)").arg(command));
}

int CommandLine::fail(const QString &message)
{
    m_err << "caiji: " << message << Qt::endl;
    return 2;
}

int CommandLine::printHelp(const QStringList &command)
{
    // `caiji help run` and `caiji --help run` are `caiji run --help`.
    if (!command.isEmpty()) {
        const CommandSpec *spec = CommandHelp::find(command.first());
        if (!spec)
            return fail(tr("unknown command: %1 (see caiji --help)").arg(command.first()));
        m_out << CommandHelp::commandHelp(*spec);
        m_out.flush();
        return 0;
    }
    m_out << CommandHelp::programHelp();
    m_out.flush();
    return 0;
}

void CommandLine::tellNoTasks(const QString &workspace, bool named)
{
    const QString examples = m_layout.examplesWorkspaceDir();
    if (!examples.isEmpty() && !Workspace(examples).taskNames().isEmpty()) {
        const QString command =
            u"caiji examples"_s + (named ? u" --workspace "_s + shellWord(workspace) : QString());
        m_err << "caiji: "
              << tr("the workspace %1 has no tasks yet; `%2` copies the example tasks into it")
                     .arg(workspace, command)
              << Qt::endl;
    } else {
        m_err << "caiji: "
              << tr("the workspace %1 has no tasks yet (each task is a folder "
                    "task/NAME holding data/task.txt)")
                     .arg(workspace)
              << Qt::endl;
    }
}

std::optional<CommandLine::Options> CommandLine::parseOptions(const QString &command,
                                                              const QStringList &arguments)
{
    m_parseExit = 2;
    const CommandSpec *spec = CommandHelp::find(command);
    if (!spec) {
        fail(tr("unknown command: %1").arg(command));
        return std::nullopt;
    }
    QCommandLineParser parser;
    for (const QString &name : spec->options)
        parser.addOption(CommandHelp::option(name));
    const QCommandLineOption help({u"h"_s, u"help"_s}, CommandHelp::tr("show this help"));
    parser.addOption(help);
    if (!parser.parse(QStringList{u"caiji "_s + command} + arguments)) {
        fail(tr("%1 (see caiji %2 --help)").arg(parser.errorText(), command));
        return std::nullopt;
    }
    if (parser.isSet(help)) {
        m_out << CommandHelp::commandHelp(*spec);
        m_out.flush();
        m_parseExit = 0;
        return std::nullopt;
    }

    Options options;
    options.workspace = m_workspace;
    options.workspaceNamed = m_workspaceNamed;
    options.tickMs = m_tickMs;
    options.keepRuns = RunHistory::configuredKeep();
    options.positional = parser.positionalArguments();
    const auto has = [&](const QString &name) {
        return spec->options.contains(name) && parser.isSet(name);
    };
    // A whole number from `low` to `high`, or a message.
    const auto number = [&](const QString &name, int low, int high, int *value) {
        if (const std::optional<int> read = numberIn(parser.value(name), low, high)) {
            *value = *read;
            return true;
        }
        fail(tr("--%1 needs a number from %2 to %3")
                 .arg(name, QString::number(low), QString::number(high)));
        return false;
    };
    if (has(u"workspace"_s)) {
        options.workspace = parser.value(u"workspace"_s);
        options.workspaceNamed = true;
    }
    if (has(u"out"_s))
        options.out = parser.value(u"out"_s);
    if (has(u"xlsx"_s))
        options.xlsx = parser.value(u"xlsx"_s);
    if (has(u"run"_s))
        options.run = parser.value(u"run"_s);
    if (has(u"file"_s))
        options.file = parser.value(u"file"_s);
    if (has(u"url"_s))
        options.url = parser.value(u"url"_s);
    options.json = has(u"json"_s);
    options.links = has(u"links"_s);
    options.quiet = has(u"quiet"_s);
    options.onlyNew = has(u"only-new"_s);
    options.list = has(u"list"_s);
    options.remove = has(u"remove"_s);
    options.raw = has(u"raw"_s);
    options.publish = has(u"publish"_s) ? parser.value(u"publish"_s) : QString();
    options.to = has(u"to"_s) ? parser.value(u"to"_s) : QString();
    options.table = has(u"table"_s) ? parser.value(u"table"_s) : QString();
    options.queue = has(u"queue"_s) ? parser.value(u"queue"_s) : QString();
    options.every = has(u"every"_s) ? parser.value(u"every"_s) : QString();
    options.untilEmpty = has(u"until-empty"_s);
    if (has(u"jobs"_s) && !number(u"jobs"_s, 1, MaxParallelJobs, &options.jobs))
        return std::nullopt;
    if (has(u"lease"_s) && !number(u"lease"_s, 5, 3600, &options.leaseSeconds))
        return std::nullopt;
    for (const QString &url : {options.publish, options.to, options.queue}) {
        QString why;
        if (!url.isEmpty() && !ServerAddress::parse(url, &why)) {
            fail(why);
            return std::nullopt;
        }
    }
    if (has(u"level"_s) && !number(u"level"_s, 1, MaxLevel, &options.level))
        return std::nullopt;
    if (has(u"keep-runs"_s) &&
        !number(u"keep-runs"_s, RunHistory::DefaultKeep, RunHistory::MaxKeep, &options.keepRuns))
        return std::nullopt;
    if (has(u"tick-ms"_s) && !number(u"tick-ms"_s, 1, MaxTickMs, &options.tickMs))
        return std::nullopt;
    if (has(u"timeout"_s) && !number(u"timeout"_s, 1, 3600, &options.timeoutSeconds))
        return std::nullopt;
    // The default workspace is made by the first command that writes into
    // it; until then it reads as one without tasks.
    if (spec->options.contains(u"workspace"_s) && !QFileInfo(options.workspace).isDir()) {
        if (options.workspaceNamed) {
            fail(tr("workspace not found: %1").arg(options.workspace));
            return std::nullopt;
        }
        if (command == u"examples" && !m_layout.prepareWorkspace(options.workspace)) {
            fail(tr("cannot make the workspace %1").arg(options.workspace));
            return std::nullopt;
        }
    }
    return options;
}

int CommandLine::htm2txtCommand(const QStringList &arguments)
{
    const auto options = parseOptions(u"htm2txt"_s, arguments);
    if (!options)
        return m_parseExit;
    if (options->positional.size() != 1)
        return fail(tr("htm2txt needs exactly one FILE"));
    const QString path = options->positional.first();
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable())
        return fail(tr("cannot read %1").arg(path));
    m_out << htm2txt(readtext(path));
    m_out.flush();
    return 0;
}

int CommandLine::handOver(const InstanceLock &lock, const QString &workspace,
                          const QStringList &tasks, bool onlyNew)
{
    // A window holding the workspace runs the tasks in its queue (a timer's
    // run must not fail because the user has the window open); a collection
    // without a window takes nothing.
    if (onlyNew || !lock.askHolderToQueue(tasks, HandOverTimeoutMs)) {
        const QString message = tr("another caiji is running on the workspace %1").arg(workspace);
        return fail(onlyNew ? tr("%1; --only-new is not handed over to it (set onlyNew=true in "
                                 "the [collect] section of the task's data/settings.ini)")
                                  .arg(message)
                            : message);
    }
    m_err << "caiji: "
          << tr("handed the tasks to the window holding the workspace %1, which queues those not "
                "already waiting: %2")
                 .arg(workspace, tasks.join(u", "_s))
          << Qt::endl;
    return 0;
}

int CommandLine::runCommand(const QStringList &arguments)
{
    const auto options = parseOptions(u"run"_s, arguments);
    if (!options)
        return m_parseExit;
    const Workspace workspace(options->workspace);
    const QStringList known = workspace.taskNames();
    for (const QString &name : options->positional) {
        if (!known.contains(name))
            return fail(tr("no task named %1 in %2").arg(name, workspace.tasksDir()));
    }
    if (known.isEmpty()) {
        tellNoTasks(workspace.root(), options->workspaceNamed);
        return 0;
    }

    // Two collections in one workspace would replace each other's databases.
    InstanceLock lock(workspace.root());
    switch (lock.tryAcquire()) {
    case InstanceLock::Outcome::Acquired:
        break;
    case InstanceLock::Outcome::HeldByAnother:
        // The window publishes as each task's own [publish] setting says.
        if (!options->publish.isEmpty())
            m_err << "caiji: "
                  << tr("--publish is not handed to the window; it publishes as each task's "
                        "[publish] setting says")
                  << Qt::endl;
        return handOver(lock, workspace.root(),
                        options->positional.isEmpty() ? known : options->positional,
                        options->onlyNew);
    case InstanceLock::Outcome::CannotWrite:
        return fail(tr("cannot write the workspace %1 (cannot create %2)")
                        .arg(workspace.root(), lock.lockFilePath()));
    }

    NetworkFetcher listFetcher;
    NetworkFetcher contentFetcher;
    for (NetworkFetcher *fetcher : {&listFetcher, &contentFetcher})
        fetcher->setStallTimeoutMs(options->timeoutSeconds * 1000);
    CollectionEngine engine(workspace, &listFetcher, &contentFetcher,
                            {options->tickMs, true, options->keepRuns, options->onlyNew});
    QEventLoop loop;
    const bool quiet = options->quiet;
    QObject::connect(&engine, &CollectionEngine::runListLineChanged, &engine,
                     [this, &engine, quiet](int index, const QString &line) {
                         if (!quiet && index <= engine.state().taskIndex) {
                             m_out << line << '\n';
                             m_out.flush();
                         }
                     });
    // A running task that has gone quiet says so once per quiet stretch, and
    // how long it has left. Read after the scheduler's tick, which counts the
    // quiet ticks: the count is reset by progress, so it reaches the notice
    // only when the task has really stood still (at its start it is past 20).
    QObject::connect(&engine.timer3(), &EngineTimer::tick, &engine, [&] {
        const EngineState &state = engine.state();
        if (quiet || !state.running || state.stallCount != QuietTicksBeforeNotice)
            return;
        const int left = QuietTicksToEnd - state.stallCount;
        m_out << CollectionEngine::paddedName(state.taskName) << "[等待] " << state.stallCount
              << "个周期没有进展；再过" << left << "个周期（约"
              << QString::number(left * engine.tickMs() / 1000.0, 'f', 1)
              << "秒）仍没有进展就结束本任务\n";
        m_out.flush();
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
    QObject::connect(&engine, &CollectionEngine::taskWarning, &engine,
                     [this](int, const QString &name, const QString &message) {
                         m_err << "caiji: " << name << ": " << message << Qt::endl;
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

    // Ctrl-C, a shell's SIGTERM or a closed terminal end the run in order.
    StopSignals stopSignals;
    int stoppedBy = 0;
    QObject::connect(&stopSignals, &StopSignals::received, &engine, [&](int signalNumber) {
        if (stoppedBy == 0) {
            stoppedBy = signalNumber;
            engine.stop(StopSignals::reason(signalNumber));
        }
        loop.quit();
    });

    // Records go to a server database as they are stored, for the tasks
    // that ask for it (or all, with --publish).
    LivePublisher publisher;
    QHash<QString, PublishOutcome> published;
    QObject::connect(
        &engine, &CollectionEngine::taskStarted, &engine, [&](int, const QString &name) {
            const std::optional<PublishTarget> target = publishTarget(workspace, name, *options);
            // Rows an earlier run stored (only-new runs add to its database)
            // were published by that run.
            const QString database = workspace.databaseFile(name);
            if (target)
                publisher.follow(name, database, target->url, target->table,
                                 PublishRows::lastRow(database));
        });
    QObject::connect(&engine, &CollectionEngine::taskCompleted, &engine,
                     [&](int, const QString &name) { publisher.finish(name); });
    QObject::connect(&publisher, &LivePublisher::finished, &engine,
                     [&](const QString &name, const PublishOutcome &outcome) {
                         published.insert(name, outcome);
                         if (!outcome.error.isEmpty())
                             m_err << "caiji: " << name << ": 发布失败：" << outcome.error
                                   << Qt::endl;
                     });

    if (options->positional.isEmpty()) {
        if (engine.startUp().isEmpty())
            return 0;
    } else {
        for (const QString &name : options->positional)
            engine.queueTask(name);
    }
    loop.exec();
    // A run stopped early still publishes what it stored.
    publisher.finishAll();
    publisher.waitForFinished(PublishWaitMs);
    const bool clean = printSummaries(engine, published);
    if (stoppedBy != 0)
        return StopSignals::exitStatus(stoppedBy);
    return clean ? 0 : 1;
}

bool CommandLine::printSummaries(const CollectionEngine &engine,
                                 const QHash<QString, PublishOutcome> &published)
{
    bool clean = true;
    for (int i = 0; i < engine.state().taskQueue.size(); ++i) {
        CollectionEngine::RunSummary summary = engine.summary(i);
        if (const auto outcome = published.constFind(summary.name); outcome != published.cend()) {
            summary.published = outcome->added + outcome->updated;
            summary.publishFailed = outcome->failed;
        }
        m_out << "汇总 " << summary.name << ": " << CollectionEngine::describe(summary) << '\n';
        clean =
            clean && summary.started && summary.tally.failures() == 0 && summary.publishFailed == 0;
    }
    m_out.flush();
    return clean;
}

std::optional<CommandLine::PublishTarget>
CommandLine::publishTarget(const Workspace &workspace, const QString &task, const Options &options)
{
    QString error;
    const std::optional<PublishSettings> settings =
        PublishSettings::read(QFileInfo(workspace.taskFile(task)).absolutePath(), &error);
    if (!settings)
        m_err << "caiji: " << task << ": [publish] " << error << Qt::endl;
    PublishTarget target;
    target.url =
        !options.publish.isEmpty() ? options.publish : (settings ? settings->url : QString());
    if (target.url.isEmpty())
        return std::nullopt;
    target.table =
        !options.table.isEmpty() ? options.table : (settings ? settings->tableFor(task) : task);
    return target;
}

int CommandLine::publishCommand(const QStringList &arguments)
{
    const auto options = parseOptions(u"publish"_s, arguments);
    if (!options)
        return m_parseExit;
    if (options->positional.size() != 1)
        return fail(tr("publish needs exactly one TASK"));
    const QString task = options->positional.first();
    const Workspace workspace(options->workspace);
    const std::optional<PublishTarget> target = publishTarget(workspace, task, *options);
    const QString url = !options->to.isEmpty() ? options->to : target ? target->url : QString();
    if (url.isEmpty())
        return fail(tr("publish needs --to URL, or a [publish] url in the task's settings (see "
                       "caiji publish --help)"));
    QString rowsOf;
    const QString database = runDatabase(workspace, task, options->run, &rowsOf);
    if (database.isEmpty())
        return 2;
    if (!QFileInfo::exists(database)) {
        m_err << "caiji: " << tr("%1 has no records to publish").arg(task) << Qt::endl;
        return 1;
    }
    QString why;
    const std::optional<ServerAddress> address = ServerAddress::parse(url, &why);
    if (!address)
        return fail(why);
    const QString table = options->table.isEmpty() && target ? target->table
                          : options->table.isEmpty()         ? task
                                                             : options->table;
    // A history run keeps its own name; the current one is named when first
    // published, and keeps that name when it moves into the history.
    const QString fallbackName = rowsOf.isEmpty() ? options->run : QString();
    const PublishOutcome outcome =
        RecordPublisher::publishDatabase(*address, table, task, database, rowsOf, fallbackName);
    if (outcome.failed < 0) {
        m_err << "caiji: " << outcome.error << Qt::endl;
        return 1;
    }
    m_out << tr("%1 → %2, table %3: %4 added, %5 updated, %6 deleted, %7 failed")
                 .arg(task, address->display(), table)
                 .arg(outcome.added)
                 .arg(outcome.updated)
                 .arg(outcome.removed)
                 .arg(outcome.failed)
          << '\n';
    m_out.flush();
    if (!outcome.isClean()) {
        m_err << "caiji: " << task << ": 发布失败：" << outcome.error << Qt::endl;
        m_err << "caiji: "
              << tr("the records not published stay in the local database; run caiji publish "
                    "again to publish them")
              << Qt::endl;
        return 1;
    }
    return 0;
}

int CommandLine::tryCommand(const QStringList &arguments)
{
    const auto options = parseOptions(u"try"_s, arguments);
    if (!options)
        return m_parseExit;
    // --links tries the start page unless told another.
    const qsizetype wanted = options->file.isEmpty() && !options->links ? 2 : 1;
    if (options->positional.size() != wanted && options->positional.size() != 2)
        return fail(tr("try needs TASK and URL, or TASK --file FILE [--url URL]"));
    const Workspace workspace(options->workspace);
    const QString task = options->positional[0];
    const QString taskFile = workspace.taskFile(task);
    if (!QFileInfo(taskFile).isReadable())
        return fail(tr("cannot read %1").arg(taskFile));
    const QString taskText = readTaskText(taskFile);
    TaskDefinition definition;
    readTaskDefinition(taskText, definition);
    if (options->links && definition.schemeField.value(0).trimmed() != u"2")
        return fail(tr("--links tries the link filter of a scheme-two task (ur=[[2|…]])"));
    QString url = options->positional.value(1, options->url);
    if (url.isEmpty() && options->links && options->file.isEmpty())
        url = definition.schemeField.value(1);

    QByteArray bytes, charset;
    QString fetch;
    if (!options->file.isEmpty()) {
        QFile file(options->file);
        if (!file.open(QIODevice::ReadOnly))
            return fail(tr("cannot read %1").arg(options->file));
        bytes = file.readAll();
        fetch = u"保存的文件 "_s + options->file;
        if (url.isEmpty())
            url = QUrl::fromLocalFile(QFileInfo(options->file).absoluteFilePath()).toString();
    }
    QString error;
    const std::optional<NetworkSettings> network =
        NetworkSettings::read(QFileInfo(taskFile).absolutePath(), &error);
    if (!network)
        return fail(tr("bad [network] setting in %1: %2")
                        .arg(NetworkSettings::fileIn(QFileInfo(taskFile).absolutePath()), error));
    if (options->file.isEmpty()) {
        const std::optional<QByteArray> page = fetchPage(url, *network, &fetch, &charset);
        if (!page) {
            m_err << "caiji: 取不到页面 " << url << "：" << fetch << Qt::endl;
            return 1;
        }
        bytes = *page;
    }

    const bool colour = qEnvironmentVariableIsEmpty("NO_COLOR") && isatty(fileno(stdout));
    if (options->links) {
        const QList<LinkTrace> links = explainLinks(taskText, bytes, url, charset);
        m_out << linksText(links, colour);
        m_out.flush();
        return std::any_of(links.begin(), links.end(),
                           [](const LinkTrace &link) { return link.asContent.isEmpty(); })
                   ? 0
                   : 1;
    }
    PageTrace trace = explainPage(taskText, bytes, url, options->level, fetch, charset);
    // A record that leads deeper is worth nothing if that page cannot be had.
    if (std::optional<PageTrace::NextPage> next = trace.deeperPage()) {
        QByteArray served;
        next->fetched = fetchPage(next->url, *network, &next->fetch, &served).has_value();
        if (!next->fetched)
            trace.problems
                << u"第%1层页面取不到：%2（%3）"_s.arg(next->level).arg(next->fetch, next->url);
        trace.next = next;
    }
    if (options->json) {
        m_out << QJsonDocument(explanationJson(trace)).toJson(QJsonDocument::Indented);
    } else {
        m_out << explanationText(trace, colour);
    }
    m_out.flush();
    return trace.yieldedSomething() && trace.problems.isEmpty() ? 0 : 1;
}

std::optional<QByteArray> CommandLine::fetchPage(const QString &url, const NetworkSettings &network,
                                                 QString *fetch, QByteArray *charset)
{
    QTemporaryDir dir;
    if (!dir.isValid()) {
        *fetch = u"无法建立临时目录"_s;
        return std::nullopt;
    }
    NetworkFetcher fetcher;
    fetcher.startRun(network);
    fetcher.setPagesInMemory(true);
    fetcher.setAllowedDirectories({dir.path()});
    const QString file = dir.filePath(u"page .txt"_s);
    std::optional<QByteArray> page;
    *fetch = u"超时"_s;
    QEventLoop loop;
    QObject::connect(&fetcher, &Fetcher::fetchDone, &loop,
                     [&](int, const QString &, const QString &, const QString &text, qint64 count,
                         const QString &, const QString &, const QByteArray &body,
                         const QByteArray &served) {
                         *fetch = text;
                         *charset = served;
                         if (count >= 0)
                             page = Fetcher::pageBytes(file, count, body);
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
    const auto options = parseOptions(u"links"_s, arguments);
    if (!options)
        return m_parseExit;
    if (options->positional.size() != 2)
        return fail(tr("links needs START-URL and FILE"));
    const QString start = options->positional[0];
    const QString path = options->positional[1];
    if (!QFileInfo(path).isFile() || !QFileInfo(path).isReadable())
        return fail(tr("cannot read %1").arg(path));
    const QString listing = ListLinks(start, readtext(path));
    const SiteLinks site(start);
    QStringList seen;
    qsizetype p1 = instr(1, listing, u"ur=[[") + 5;
    while (p1 > 5) {
        const qsizetype p2 = listingAddressEnd(listing, p1);
        if (p2 == 0)
            break;
        const QString link = site.canonical(mid(listing, p1, p2 - p1));
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
    const auto options = parseOptions(u"export"_s, arguments);
    if (!options)
        return m_parseExit;
    if (options->positional.size() != 1)
        return fail(tr("export needs exactly one TASK"));
    if (!options->out.isEmpty() && !options->xlsx.isEmpty())
        return fail(tr("export takes --out or --xlsx, not both"));
    const Workspace workspace(options->workspace);
    const QString task = options->positional.first();
    QString rowsOf;
    const QString database = runDatabase(workspace, task, options->run, &rowsOf);
    if (database.isEmpty())
        return 2;
    if (!QFile::exists(database))
        return fail(u"该任务尚未采集!"_s);
    const CsvValues values = options->raw ? CsvValues::AsStored : CsvValues::Safe;
    const QString target = options->xlsx.isEmpty() ? options->out : options->xlsx;
    ExportOutcome outcome;
    if (target.isEmpty()) {
        QFile stdoutFile;
        if (!stdoutFile.open(stdout, QIODevice::WriteOnly))
            return fail(tr("cannot write the records"));
        outcome = exportRecordsCsv(database, &stdoutFile, values, rowsOf);
    } else {
        const auto warn = [this](const CutCell &cut) {
            m_err << "caiji: "
                  << tr("warning: record %1, field %2 (cell %3) has %4 characters, cut to the "
                        "32767 an Excel cell holds")
                         .arg(QString::number(cut.record), QString::number(cut.field), cut.cell,
                              QString::number(cut.length))
                  << Qt::endl;
        };
        outcome = exportRecords(database, target,
                                options->xlsx.isEmpty() ? ExportFormat::Csv : ExportFormat::Xlsx,
                                values, warn, rowsOf);
    }
    switch (outcome.failure) {
    case ExportOutcome::Failure::None:
        return 0;
    case ExportOutcome::Failure::Read:
        return fail(tr("cannot read the records of %1: %2").arg(task, outcome.reason));
    case ExportOutcome::Failure::Target:
        return fail(tr("cannot write %1: %2").arg(target, outcome.reason));
    case ExportOutcome::Failure::Write:
        break;
    }
    // The target was usable but the records did not all reach it (a full
    // disk): a failed run, not a bad argument. An earlier file is unchanged.
    m_err << "caiji: "
          << (target.isEmpty() ? tr("cannot write the records: %1").arg(outcome.reason)
                               : tr("cannot write %1: %2").arg(target, outcome.reason))
          << Qt::endl;
    return 1;
}

int CommandLine::countCommand(const QStringList &arguments)
{
    const auto options = parseOptions(u"count"_s, arguments);
    if (!options)
        return m_parseExit;
    const Workspace workspace(options->workspace);
    const QStringList known = workspace.taskNames();
    const QStringList tasks = options->positional.isEmpty() ? known : options->positional;
    for (const QString &task : tasks) {
        if (!known.contains(task))
            return fail(tr("no task named %1").arg(task));
    }
    if (tasks.isEmpty())
        tellNoTasks(workspace.root(), options->workspaceNamed);
    for (const QString &task : tasks) {
        const QString database = workspace.databaseFile(task);
        const std::optional<qint64> count =
            QFile::exists(database) ? RecordStore::count(database) : std::optional<qint64>(0);
        m_out << task << '\t' << (count ? QString::number(*count) : u"?"_s) << '\n';
    }
    m_out.flush();
    return 0;
}

namespace {

// systemctl --user, or nothing when there is no user manager to talk to.
std::optional<QString> systemctlUser(const QStringList &arguments)
{
    QProcess process;
    process.start(u"systemctl"_s, QStringList{u"--user"_s} + arguments);
    if (!process.waitForFinished(15000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        process.kill();
        return std::nullopt;
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}

bool writeUnitFile(const QString &path, const QString &text)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) >= 0 && file.commit();
}

} // namespace

int CommandLine::queueCommand(const QString &command, const QStringList &arguments)
{
    const auto options = parseOptions(command, arguments);
    if (!options)
        return m_parseExit;
    QueueCommands queue(m_out, m_err);
    if (command == u"enqueue")
        return queue.enqueue(*options);
    if (command == u"worker")
        return queue.worker(*options);
    return queue.jobs(*options);
}

int CommandLine::scheduleCommand(const QStringList &arguments)
{
    const auto options = parseOptions(u"schedule"_s, arguments);
    if (!options)
        return m_parseExit;
    const QString unitDir =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
        u"/systemd/user"_s;
    if (options->list) {
        if (!options->positional.isEmpty() || options->remove)
            return fail(tr("schedule --list takes no TASK"));
        return listSchedules(unitDir);
    }
    if (options->positional.size() != 1)
        return fail(tr("schedule needs exactly one TASK (or --list)"));
    const Workspace workspace(options->workspace);
    const QString task = options->positional.first();
    if (!workspace.taskNames().contains(task))
        return fail(tr("no task named %1 in %2").arg(task, workspace.tasksDir()));

    ScheduleUnits units;
    units.program = QCoreApplication::applicationFilePath();
    units.workspace = QFileInfo(workspace.root()).absoluteFilePath();
    units.task = task;
    const QString base = unitDir + u'/' + units.unitName();
    // systemd takes unit names of up to 255 bytes.
    if (units.unitName().toUtf8().size() + 8 > 255)
        return fail(tr("the task name %1 is too long for a systemd unit name").arg(task));
    const bool systemd = systemctlUser({u"show-environment"_s}).has_value();

    if (options->remove) {
        if (!QFile::exists(base + u".timer"_s) && !QFile::exists(base + u".service"_s))
            return fail(tr("no schedule of %1 in %2").arg(task, unitDir));
        if (systemd)
            systemctlUser({u"disable"_s, u"--now"_s, units.unitName() + u".timer"_s});
        QFile::remove(base + u".timer"_s);
        QFile::remove(base + u".service"_s);
        if (systemd)
            systemctlUser({u"daemon-reload"_s});
        m_out << tr("removed the schedule of %1").arg(task) << '\n';
        if (!systemd)
            m_out << tr("remove its lines from your crontab too (crontab -e)") << '\n';
        m_out.flush();
        return 0;
    }

    QString error;
    const std::optional<ScheduleSettings> schedule =
        ScheduleSettings::read(workspace.taskDir(task) + u"/data"_s, &error);
    if (!schedule)
        return fail(tr("bad [schedule] setting in %1: %2")
                        .arg(NetworkSettings::fileIn(workspace.taskDir(task) + u"/data"_s), error));
    if (!schedule->isSet())
        return fail(tr("the task %1 has no schedule: write every=6h or daily=08:00 in the "
                       "[schedule] section of %2")
                        .arg(task, NetworkSettings::fileIn(workspace.taskDir(task) + u"/data"_s)));
    units.schedule = *schedule;
    if (!QDir().mkpath(unitDir) || !writeUnitFile(base + u".service"_s, units.serviceText()) ||
        !writeUnitFile(base + u".timer"_s, units.timerText())) {
        m_err << "caiji: " << tr("cannot write the timer into %1").arg(unitDir) << Qt::endl;
        return 1;
    }
    m_out << tr("wrote %1.timer and %1.service in %2 (%3)")
                 .arg(units.unitName(), unitDir, schedule->describe())
          << '\n';
    if (systemd) {
        if (!systemctlUser({u"daemon-reload"_s}) ||
            !systemctlUser({u"enable"_s, u"--now"_s, units.unitName() + u".timer"_s})) {
            m_out.flush();
            m_err << "caiji: "
                  << tr("cannot start the timer: systemctl --user enable --now %1.timer failed")
                         .arg(units.unitName())
                  << Qt::endl;
            return 1;
        }
        m_out << tr("the timer is started; `caiji schedule --list` shows when it runs next")
              << '\n';
        m_out.flush();
        return 0;
    }
    // Without a user manager the same times go to cron.
    m_out << tr("systemctl --user is not available here: add these lines with `crontab -e` "
                "instead")
          << '\n'
          << units.cronLines().join(u'\n') << '\n';
    m_out.flush();
    return 0;
}

int CommandLine::listSchedules(const QString &unitDir)
{
    const QDir dir(unitDir);
    const QStringList timers = dir.entryList({u"caiji-*.timer"_s}, QDir::Files, QDir::Name);
    for (const QString &name : timers) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const ScheduleUnits units = ScheduleUnits::readTimer(QString::fromUtf8(file.readAll()));
        if (units.task.isEmpty())
            continue; // not one of ours
        const QString database = Workspace(units.workspace).databaseFile(units.task);
        const std::optional<QDateTime> next = units.schedule.nextDue(
            RecordStore::lastRunStarted(database), QDateTime::currentDateTime());
        m_out << units.task << '\t' << units.schedule.describe() << '\t'
              << (next ? next->toString(u"yyyy-MM-dd HH:mm"_s) : u"?"_s) << '\t' << units.workspace
              << '\t' << name << '\n';
    }
    if (timers.isEmpty())
        m_out << tr("no schedules written in %1").arg(unitDir) << '\n';
    m_out.flush();
    return 0;
}

int CommandLine::examplesCommand(const QStringList &arguments)
{
    const auto options = parseOptions(u"examples"_s, arguments);
    if (!options)
        return m_parseExit;
    if (!options->positional.isEmpty())
        return fail(tr("examples takes no arguments"));
    const QString examplesDir = m_layout.examplesWorkspaceDir();
    const Workspace examples(examplesDir);
    if (examplesDir.isEmpty() || examples.taskNames().isEmpty())
        return fail(tr("no example tasks found"));
    const Workspace workspace(options->workspace);
    const QList<QPair<QString, bool>> copied = TaskFolders(workspace).copyExampleTasks(examples);
    bool failed = false;
    for (const QString &task : examples.taskNames()) {
        const auto it = std::find_if(copied.begin(), copied.end(),
                                     [&](const auto &entry) { return entry.first == task; });
        if (it == copied.end())
            m_out << task << '\t' << tr("kept (a task of that name exists)") << '\n';
        else
            m_out << task << '\t' << (it->second ? tr("copied") : tr("could not be copied"))
                  << '\n';
        failed = failed || (it != copied.end() && !it->second);
    }
    m_out.flush();
    if (failed)
        return fail(tr("some example tasks could not be copied into %1").arg(workspace.tasksDir()));
    return 0;
}

int CommandLine::historyCommand(const QStringList &arguments)
{
    const auto options = parseOptions(u"history"_s, arguments);
    if (!options)
        return m_parseExit;
    if (options->positional.size() != 1)
        return fail(tr("history needs exactly one TASK"));
    const Workspace workspace(options->workspace);
    const QString database = runDatabase(workspace, options->positional.first(), {});
    if (database.isEmpty())
        return 2;
    // The last column tells a run inside the current database (an only-new
    // run added to it) from an earlier run's database in the history.
    const auto printRun = [this](const QString &name, const QString &path, const QString &kind) {
        const std::optional<qint64> count = RecordStore::count(path);
        const std::optional<QList<FailureEntry>> failures = FailureLog::read(path);
        m_out << name << '\t' << (count ? QString::number(*count) : u"?"_s) << '\t'
              << (failures ? QString::number(failures->size()) : u"?"_s) << '\t'
              << QFileInfo(path).lastModified().toString(u"yyyy-MM-dd HH:mm:ss"_s) << '\t' << kind
              << '\n';
    };
    if (QFile::exists(database)) {
        printRun(u"当前"_s, database, u"当前数据库"_s);
        // A database that only-new runs added to: what each of them added.
        const QList<StoredRun> inside = RecordStore::runs(database).value_or(QList<StoredRun>());
        for (qsizetype i = inside.size() - 1; i >= 0 && inside.size() > 1; --i) {
            const StoredRun &run = inside[i];
            qint64 failures = run.failures;
            if (i == inside.size() - 1) {
                const std::optional<QList<FailureEntry>> listed = FailureLog::read(database);
                failures = listed ? listed->size() : -1;
            }
            m_out << run.name << '\t' << run.added << '\t'
                  << (failures < 0 ? u"?"_s : QString::number(failures)) << '\t'
                  << (run.ended.isValid() ? run.ended : run.started)
                         .toString(u"yyyy-MM-dd HH:mm:ss"_s)
                  << '\t' << u"当前库中的一次新增"_s << '\n';
        }
    }
    for (const HistoryRun &run : RunHistory(QFileInfo(database).absolutePath()).runs())
        printRun(run.name, run.path, u"已归档的一次采集"_s);
    m_out.flush();
    return 0;
}

QString CommandLine::runDatabase(const Workspace &workspace, const QString &task,
                                 const QString &run, QString *rowsOf)
{
    if (!QFileInfo(workspace.taskDir(task)).isDir()) {
        fail(tr("no task named %1").arg(task));
        return {};
    }
    const QString database = workspace.databaseFile(task);
    if (run.isEmpty())
        return database;
    const std::optional<HistoryRun> earlier =
        RunHistory(QFileInfo(database).absolutePath()).run(run);
    if (!earlier && rowsOf) {
        const QList<StoredRun> inside = RecordStore::runs(database).value_or(QList<StoredRun>());
        if (std::any_of(inside.begin(), inside.end(),
                        [&run](const StoredRun &stored) { return stored.name == run; })) {
            *rowsOf = run;
            return database;
        }
    }
    if (!earlier) {
        fail(tr("no run named %1 (see caiji history %2)").arg(run, task));
        return {};
    }
    return earlier->path;
}

int CommandLine::failuresCommand(const QStringList &arguments)
{
    const auto options = parseOptions(u"failures"_s, arguments);
    if (!options)
        return m_parseExit;
    if (options->positional.size() != 1)
        return fail(tr("failures needs exactly one TASK"));
    const Workspace workspace(options->workspace);
    const QString database = runDatabase(workspace, options->positional.first(), options->run);
    if (database.isEmpty())
        return 2;
    const std::optional<QList<FailureEntry>> failures = FailureLog::read(database);
    if (!failures)
        return fail(tr("cannot read %1").arg(FailureLog::fileFor(database)));
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
