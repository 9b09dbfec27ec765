// The command-line front end: commands for servers, scripts and rule writing.
#pragma once

#include <QStringList>

class QTextStream;

namespace caiji {

class CommandLine
{
public:
    CommandLine(QTextStream &out, QTextStream &err);

    // Runs the command in `arguments` (without the program name) and returns
    // the exit code: 0 on success, 2 for bad arguments or unreadable input.
    int run(const QStringList &arguments);

private:
    int usageError(const QString &message);
    int printHelp();
    int htm2txtCommand(const QStringList &arguments);

    QTextStream &m_out;
    QTextStream &m_err;
};

} // namespace caiji
