#include "cli/commandhelp.h"

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

struct OptionText
{
    QString name;
    QString value; // empty for a flag
    QString description;
};

const QList<OptionText> &optionTexts()
{
    static const QList<OptionText> texts = {
        {u"workspace"_s, u"DIR"_s, u"the workspace to use instead of the default one"_s},
        {u"tick-ms"_s, u"N"_s,
         u"milliseconds per tick (default 1000); a task ends after 21 ticks without progress"_s},
        {u"keep-runs"_s, u"N"_s,
         u"how many earlier runs' databases each task keeps in data/history (at least 5)"_s},
        {u"quiet"_s, {}, u"print only the summary lines at the end"_s},
        {u"level"_s, u"N"_s, u"use the rules of level N (default 1)"_s},
        {u"json"_s, {}, u"print JSON for tools instead of text"_s},
        {u"file"_s, u"FILE"_s, u"read the page from FILE instead of fetching it"_s},
        {u"url"_s, u"URL"_s, u"the address the page of --file came from"_s},
        {u"run"_s, u"RUN"_s, u"an earlier run, as `caiji history` names it"_s},
        {u"out"_s, u"FILE"_s, u"write the CSV to FILE instead of standard output"_s},
        {u"xlsx"_s, u"FILE"_s, u"write an Excel workbook to FILE instead of CSV"_s},
        {u"raw"_s,
         {},
         u"write CSV values unchanged (by default a value that a spreadsheet would run as a "
         "formula, one starting with =, +, -, @, a tab or a carriage return, gets a leading ')"_s},
    };
    return texts;
}

// `text` wrapped at 78 columns, each line after the first indented by `indent`.
QString wrapped(const QString &text, int indent, int firstWidth = 78)
{
    QString out;
    QString line;
    int width = firstWidth;
    for (const QString &word : text.split(u' ', Qt::SkipEmptyParts)) {
        if (!line.isEmpty() && line.size() + 1 + word.size() > width) {
            out += line + u'\n' + QString(indent, u' ');
            line.clear();
            width = 78 - indent;
        }
        line += (line.isEmpty() ? QString() : u" "_s) + word;
    }
    return out + line;
}

QString synopsisOf(const CommandSpec &command)
{
    QString line = u"caiji "_s + command.name;
    for (const QString &name : command.options) {
        for (const OptionText &text : optionTexts()) {
            if (text.name == name)
                line += u" [--"_s + name + (text.value.isEmpty() ? QString() : u' ' + text.value) +
                        u']';
        }
    }
    return command.arguments.isEmpty() ? line : line + u' ' + command.arguments;
}

} // namespace

const QList<CommandSpec> &CommandHelp::commands()
{
    static const QList<CommandSpec> list = {
        {u"run"_s,
         u"[TASK...]"_s,
         u"collect tasks without a window"_s,
         u"Collects the named tasks, or every task of the workspace, one after another, "
         "and prints each task's status line as it changes. A task ends when nothing has "
         "moved for 21 ticks. At the end it prints one summary line per task: pages requested "
         "and failed, records stored and refused, downloads stored and failed, and the "
         "commonest reasons of failure. The database of a task's previous run moves to "
         "data/history. Exit status 1 when a page, download or record failed or a task could "
         "not start."_s,
         {u"workspace"_s, u"tick-ms"_s, u"keep-runs"_s, u"quiet"_s}},
        {u"try"_s,
         u"TASK [URL]"_s,
         u"explain what a task's rules cut from one page"_s,
         u"Fetches the page at URL (or reads --file) and cuts it with the task's rules "
         "exactly as a run would, then explains it field by field: the charset and why, each "
         "marker found or not with its line and column, the value cut, every a-list step, and "
         "what became of each record. The first line says what to fix. Exit status 1 when the "
         "page yields nothing or cannot be fetched."_s,
         {u"workspace"_s, u"level"_s, u"json"_s, u"file"_s, u"url"_s}},
        {u"links"_s,
         u"START-URL FILE"_s,
         u"list the links the crawler would follow"_s,
         u"Prints the links of the saved list page FILE that a scheme-two task starting at "
         "START-URL would consider: within the start page's site, made complete, each once."_s,
         {}},
        {u"export"_s,
         u"TASK"_s,
         u"write a task's records as CSV or Excel"_s,
         u"Writes the task's stored records (of the current run, or of --run) as CSV in "
         "UTF-8 with a byte-order mark to standard output or --out FILE, or as an Excel "
         "workbook with --xlsx FILE."_s,
         {u"workspace"_s, u"run"_s, u"out"_s, u"xlsx"_s, u"raw"_s}},
        {u"history"_s,
         u"TASK"_s,
         u"list a task's current and earlier runs"_s,
         u"Prints one line per run of the task: its name (当前 for the current one), its "
         "record count, its failure count and the time of its last change."_s,
         {u"workspace"_s}},
        {u"failures"_s,
         u"TASK"_s,
         u"list what failed in a task's last run"_s,
         u"Prints every failed transfer and refused record of the task's last run (or of "
         "--run): its kind, the reason and the address."_s,
         {u"workspace"_s, u"run"_s, u"json"_s}},
        {u"count"_s,
         u"[TASK...]"_s,
         u"print the number of stored records per task"_s,
         u"Prints each task (the named ones, or all) with the number of records its current "
         "run stored."_s,
         {u"workspace"_s}},
        {u"examples"_s,
         {},
         u"copy the example tasks into the workspace"_s,
         u"Copies the example tasks that come with caiji into the workspace; tasks of the "
         "same name are left alone. They collect the demo site that caiji-demo-site serves "
         "on 127.0.0.1:8391."_s,
         {u"workspace"_s}},
        {u"htm2txt"_s,
         u"FILE"_s,
         u"print the plain text of an HTML page"_s,
         u"Reads FILE as a fetched page is read and prints it as plain text, as the "
         "HTML-to-text step of an a-list makes it."_s,
         {}},
    };
    return list;
}

const CommandSpec *CommandHelp::find(const QString &name)
{
    for (const CommandSpec &command : commands()) {
        if (command.name == name)
            return &command;
    }
    return nullptr;
}

QCommandLineOption CommandHelp::option(const QString &name)
{
    for (const OptionText &text : optionTexts()) {
        if (text.name == name)
            return text.value.isEmpty() ? QCommandLineOption(name, text.description)
                                        : QCommandLineOption(name, text.description, text.value);
    }
    return QCommandLineOption(name);
}

QString CommandHelp::version()
{
    return u"caiji "_s + QStringLiteral(CAIJI_VERSION);
}

QString CommandHelp::programHelp()
{
    QString text = u"Usage: caiji [--workspace DIR] [--tick-ms N]\n"
                   "  or:  caiji COMMAND [OPTIONS] [ARGUMENTS]\n"
                   "Collect web pages into records by rules (信息采集). Without a command, "
                   "open the window.\n\n"
                   "Commands:\n"_s;
    for (const CommandSpec &command : commands())
        text += u"  "_s + command.name.leftJustified(10) + command.summary + u'\n';
    text += u"\nRun `caiji COMMAND --help` for a command's options.\n\n"
            "Options:\n"
            "  -h, --help           show this help\n"
            "  -v, --version        show the version\n"
            "  --workspace DIR      the workspace the window opens on\n"
            "  --tick-ms N          milliseconds per tick in the window (default 1000)\n\n"
            "The workspace holds the tasks (WORKSPACE/task/NAME/data/task.txt) and their\n"
            "records. It is --workspace DIR when given; else the program's folder when\n"
            "caiji runs from its build or an unpacked copy, and ~/.local/share/caiji for an\n"
            "installed program.\n\n"
            "Exit status: 0 when everything asked for was done, 1 when a run finished but\n"
            "some page, download or record failed, 2 for bad arguments or a workspace that\n"
            "cannot be used.\n"_s;
    return text;
}

QString CommandHelp::commandHelp(const CommandSpec &command)
{
    QString text = u"Usage: "_s + wrapped(synopsisOf(command), 7, 78 - 7) + u"\n"_s;
    text += wrapped(command.details, 0) + u"\n\nOptions:\n"_s;
    const auto optionLine = [](const QString &head, const QString &description) -> QString {
        constexpr int Column = 22;
        return head.leftJustified(Column - 1) + u" "_s + wrapped(description, Column, 78 - Column) +
               u"\n"_s;
    };
    for (const QString &name : command.options) {
        for (const OptionText &option : optionTexts()) {
            if (option.name != name)
                continue;
            QString head = u"  --"_s + name;
            if (!option.value.isEmpty())
                head += QString(u" "_s) + option.value;
            text += optionLine(head, option.description);
        }
    }
    return text + optionLine(u"  -h, --help"_s, u"show this help"_s);
}

} // namespace caiji
