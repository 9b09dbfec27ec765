// The commands of `caiji`, their options and their help texts: one table
// that both the parser and --help (and so the manual page) read. The texts
// are English and follow the locale through the program's translation.
#pragma once

#include <QCommandLineOption>
#include <QCoreApplication>
#include <QList>
#include <QString>
#include <QStringList>

namespace caiji {

struct CommandSpec
{
    QString name;
    QString arguments;   // after the options: "TASK [URL]"
    const char *summary; // one line for the list of commands, untranslated
    const char *details; // paragraphs for `caiji COMMAND --help`, untranslated
    QStringList options; // option names, see commandOption()
};

class CommandHelp
{
    Q_DECLARE_TR_FUNCTIONS(CommandHelp)

public:
    static const QList<CommandSpec> &commands();
    static const CommandSpec *find(const QString &name);

    // The option of that name, with its value name and description.
    static QCommandLineOption option(const QString &name);

    static QString version();
    static QString programHelp();
    static QString commandHelp(const CommandSpec &command);

    // `text` wrapped at `width` display columns (a Chinese character takes
    // two), each line after the first indented by `indent`; a line breaks at
    // a blank or between Chinese characters, never before a closing mark.
    static QString wrapped(const QString &text, int indent, int firstWidth = 78, int width = 78);
    static int columns(QStringView text);
};

} // namespace caiji
