#include "cli/commandline.h"

#include "tasks/instancelock.h"

#include "engine/collectionengine.h"
#include "engine/linklister.h"
#include "engine/networkfetcher.h"
#include "engine/pagecutter.h"
#include "records/csvexport.h"
#include "records/recordstore.h"
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
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

// `caiji try` gives up on a page after this long.
constexpr int TryTimeoutMs = 120000;

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
             "  run [--workspace DIR] [--tick-ms N] [TASK...]\n"
             "                 collect the named tasks (or all) without a window, print\n"
             "                 each status line, exit when every task is complete\n"
             "  try [--workspace DIR] TASK URL\n"
             "                 fetch one page and show what level 1 of the task cuts from it\n"
             "  links START-URL FILE\n"
             "                 print the links of a saved page that the crawler would follow\n"
             "  export [--workspace DIR] TASK [--out FILE | --xlsx FILE]\n"
             "                 write the task's stored records as CSV (UTF-8 with BOM,\n"
             "                 to stdout or FILE) or as an Excel workbook\n"
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
    const auto options = parseOptions(arguments, {u"--workspace"_s, u"--tick-ms"_s});
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
    CollectionEngine engine(workspace, &listFetcher, &contentFetcher, {options->tickMs, true});
    QEventLoop loop;
    QObject::connect(&engine, &CollectionEngine::runListLineChanged, &engine,
                     [this, &engine](int index, const QString &line) {
                         if (index <= engine.state().taskIndex) {
                             m_out << line << '\n';
                             m_out.flush();
                         }
                     });
    QObject::connect(&engine, &CollectionEngine::taskCompleted, &engine, [&] {
        if (engine.allQueuedComplete())
            loop.quit();
    });

    if (options->positional.isEmpty()) {
        if (engine.startUp().isEmpty())
            return 0;
    } else {
        for (const QString &name : options->positional)
            engine.queueTask(name);
    }
    loop.exec();
    return 0;
}

int CommandLine::tryCommand(const QStringList &arguments)
{
    const auto options = parseOptions(arguments, {u"--workspace"_s});
    if (!options)
        return 2;
    if (options->positional.size() != 2)
        return fail(u"try needs TASK and URL"_s);
    const Workspace workspace(options->workspace);
    const QString task = options->positional[0];
    const QString url = options->positional[1];
    const QString taskFile = workspace.taskFile(task);
    if (!QFileInfo(taskFile).isReadable())
        return fail(u"cannot read "_s + taskFile);

    const QString text = readTaskText(taskFile);
    TaskDefinition definition;
    readTaskDefinition(text, definition);
    const int fieldCount = fieldCountOf(text);

    QTemporaryDir dir;
    if (!dir.isValid())
        return fail(u"cannot create a temporary folder"_s);
    NetworkFetcher fetcher;
    fetcher.setAllowedDirectories({dir.path()});
    qint64 count = -1;
    QEventLoop loop;
    QObject::connect(&fetcher, &Fetcher::fetchDone, &loop,
                     [&](int, const QString &, const QString &, const QString &, qint64 c) {
                         count = c;
                         loop.quit();
                     });
    QTimer::singleShot(TryTimeoutMs, &loop, &QEventLoop::quit);
    const QString file = dir.filePath(u"page .txt"_s);
    fetcher.fetch(1, url, file, u"1"_s, QString());
    loop.exec();
    fetcher.abandonAll();
    if (count <= 2)
        return fail(u"could not fetch "_s + url);

    const QString page = readtext(file);
    if (page.isEmpty())
        return fail(u"the page brought no text: "_s + url);
    WValues w;
    PageCutter cutter(definition, fieldCount, w);
    const CutResult result = cutter.cut(page, url, 1, QString());
    for (const QString &record : result.records)
        m_out << "record: " << record << '\n';
    for (const QString &entry : result.queueEntries)
        m_out << "queue: " << entry << '\n';
    for (const QString &note : result.notes)
        m_out << "dropped: " << note << '\n';
    if (result.records.isEmpty() && result.queueEntries.isEmpty() && result.notes.isEmpty())
        m_out << "nothing extracted\n";
    m_out.flush();
    return 0;
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
    const auto options = parseOptions(arguments, {u"--workspace"_s, u"--out"_s, u"--xlsx"_s});
    if (!options)
        return 2;
    if (options->positional.size() != 1)
        return fail(u"export needs exactly one TASK"_s);
    if (!options->out.isEmpty() && !options->xlsx.isEmpty())
        return fail(u"export takes --out or --xlsx, not both"_s);
    const Workspace workspace(options->workspace);
    const QString task = options->positional.first();
    if (!QFileInfo(workspace.taskDir(task)).isDir())
        return fail(u"no task named "_s + task);
    const QString database = workspace.databaseFile(task);
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

} // namespace caiji
