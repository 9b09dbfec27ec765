// caiji-demo-site: serves the offline demo site on 127.0.0.1 until ended.
#include "demosite/statichttpserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>

using namespace Qt::StringLiterals;

namespace {

constexpr quint16 DefaultPort = 8391;
// Exit statuses besides 0 and 2 (bad arguments).
constexpr int CannotListen = 1;
constexpr int PortInUse = 3;

// Installed with the package's shared files, or among the examples a build
// folder links.
QString defaultSiteDir()
{
    const QString programDir = QCoreApplication::applicationDirPath();
    const QStringList candidates = {programDir + u"/../share/caiji/examples/demo-site"_s,
                                    programDir + u"/examples/demo-site"_s};
    for (const QString &candidate : candidates) {
        if (QFileInfo(candidate).isDir())
            return QDir::cleanPath(candidate);
    }
    return {};
}

int usageError(const QString &message)
{
    QTextStream(stderr) << "caiji-demo-site: " << message << "\n(see caiji-demo-site --help)"
                        << Qt::endl;
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"caiji-demo-site"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(CAIJI_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Serve the offline demo site of caiji on 127.0.0.1 until ended, and print the\n"
        "port it listens on as the first line on standard output. The demo site holds\n"
        "news list pages and news pages in UTF-8, GBK and Big5, with pictures and\n"
        "files to download: the three demo tasks of caiji's examples collect it.\n"
        "\n"
        "Exit status: 2 for bad arguments, 3 when the port is in use (--port 0 picks\n"
        "a free one), 1 when it cannot listen for another reason."_s);
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({{u"p"_s, u"port"_s},
                      u"Listen on port N (default %1; 0 picks a free port)."_s.arg(DefaultPort),
                      u"N"_s});
    parser.addPositionalArgument(u"DIR"_s,
                                 u"The folder to serve (default: the installed demo site, "
                                 "/usr/share/caiji/examples/demo-site)."_s,
                                 u"[DIR]"_s);
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(u"help"_s))
        parser.showHelp(0);
    if (parser.isSet(u"version"_s))
        parser.showVersion();

    quint16 port = DefaultPort;
    if (parser.isSet(u"port"_s)) {
        bool ok = false;
        const uint value = parser.value(u"port"_s).toUInt(&ok);
        if (!ok || value > 65535)
            return usageError(u"--port needs a number from 0 to 65535"_s);
        port = quint16(value);
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1)
        return usageError(u"one site folder at most"_s);
    const QString dir = positional.isEmpty() ? defaultSiteDir() : positional.first();
    if (dir.isEmpty())
        return usageError(u"no demo site found (the package installs it in "
                          "/usr/share/caiji/examples/demo-site); name its folder"_s);
    if (!QFileInfo(dir).isDir())
        return usageError(u"no site folder "_s + dir);
    caiji::StaticHttpServer server;
    server.setRoot(dir);
    if (!server.listen(port)) {
        QTextStream err(stderr);
        err << "caiji-demo-site: cannot listen on 127.0.0.1:" << port << ": ";
        if (server.portInUse()) {
            err << "the port is in use (--port 0 picks a free one)" << Qt::endl;
            return PortInUse;
        }
        err << server.errorString() << Qt::endl;
        return CannotListen;
    }
    QTextStream(stdout) << server.port() << Qt::endl;
    return app.exec();
}
