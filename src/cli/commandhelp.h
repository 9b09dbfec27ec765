// The commands of `caiji`, their options and their help texts: one table
// that both the parser and --help (and so the manual page) read.
#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QStringList>

namespace caiji {

struct CommandSpec
{
    QString name;
    QString arguments;   // after the options: "TASK [URL]"
    QString summary;     // one line for the list of commands
    QString details;     // paragraphs for `caiji COMMAND --help`
    QStringList options; // option names, see commandOption()
};

class CommandHelp
{
public:
    static const QList<CommandSpec> &commands();
    static const CommandSpec *find(const QString &name);

    // The option of that name, with its value name and description.
    static QCommandLineOption option(const QString &name);

    static QString version();
    static QString programHelp();
    static QString commandHelp(const CommandSpec &command);
};

} // namespace caiji
