#include "app/commandline.h"

#include "text/htmltext.h"
#include "text/readtext.h"

#include <QFileInfo>
#include <QTextStream>

using namespace Qt::StringLiterals;

namespace caiji {

CommandLine::CommandLine(QTextStream &out, QTextStream &err) : m_out(out), m_err(err) {}

int CommandLine::run(const QStringList &arguments)
{
    if (arguments.isEmpty() || arguments.first() == u"--help" || arguments.first() == u"-h" ||
        arguments.first() == u"help")
        return printHelp();
    const QString command = arguments.first();
    const QStringList rest = arguments.mid(1);
    if (command == u"htm2txt")
        return htm2txtCommand(rest);
    return usageError(u"unknown command: "_s + command + u" (see caiji --help)"_s);
}

int CommandLine::usageError(const QString &message)
{
    m_err << "caiji: " << message << Qt::endl;
    return 2;
}

int CommandLine::printHelp()
{
    m_out << "Usage: caiji [COMMAND] [ARGUMENTS]\n"
             "\n"
             "Commands:\n"
             "  htm2txt FILE   print the plain text of an HTML page file\n"
             "  --help         show this list\n";
    m_out.flush();
    return 0;
}

int CommandLine::htm2txtCommand(const QStringList &arguments)
{
    if (arguments.size() != 1)
        return usageError(u"htm2txt needs exactly one FILE"_s);
    const QString path = arguments.first();
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable())
        return usageError(u"cannot read "_s + path);
    m_out << htm2txt(readtext(path));
    m_out.flush();
    return 0;
}

} // namespace caiji
