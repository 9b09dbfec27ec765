// The command-line front end: collecting without a window, trying a task's
// rules on one page, listing a page's links, exporting records.
#pragma once

#include <QStringList>
#include <optional>

class QTextStream;

namespace caiji {

class CommandLine
{
public:
    CommandLine(QTextStream &out, QTextStream &err, const QString &defaultWorkspace);

    // Runs the command in `arguments` (without the program name) and returns
    // the exit code: 0 on success, 2 for bad arguments or a failure.
    int run(const QStringList &arguments);

private:
    struct Options
    {
        QString workspace;
        int tickMs = 1000;
        QString out;
        QString xlsx;
        QStringList positional;
    };

    // Splits off --workspace, --tick-ms and --out; nothing on a bad option
    // (the message is already written).
    std::optional<Options> parseOptions(const QStringList &arguments, const QStringList &allowed);
    int fail(const QString &message);
    int printHelp();
    int htm2txtCommand(const QStringList &arguments);
    int runCommand(const QStringList &arguments);
    int tryCommand(const QStringList &arguments);
    int linksCommand(const QStringList &arguments);
    int exportCommand(const QStringList &arguments);
    int countCommand(const QStringList &arguments);

    QTextStream &m_out;
    QTextStream &m_err;
    QString m_defaultWorkspace;
};

} // namespace caiji
