#include "app/commandline.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("caiji"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    caiji::CommandLine commandLine(out, err, QCoreApplication::applicationDirPath());
    return commandLine.run(QCoreApplication::arguments().mid(1));
}
