// caiji-demo-site: serves the offline demo site on 127.0.0.1 until ended.
#include "demosite/statichttpserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>

using namespace Qt::StringLiterals;

namespace {

constexpr quint16 DefaultPort = 8391;

// Beside the source tree when run from a build folder, in share/caiji when
// installed.
QString defaultSiteDir()
{
    const QString programDir = QCoreApplication::applicationDirPath();
    const QStringList candidates = {programDir + u"/../share/caiji/examples/demo-site"_s,
                                    QStringLiteral(CAIJI_SOURCE_DIR) + u"/examples/demo-site"_s};
    for (const QString &candidate : candidates) {
        if (QFileInfo(candidate).isDir())
            return QDir::cleanPath(candidate);
    }
    return {};
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    quint16 port = DefaultPort;
    if (arguments.size() >= 2 && arguments.first() == u"--port") {
        bool ok = false;
        const uint value = arguments[1].toUInt(&ok);
        if (!ok || value > 65535) {
            err << "caiji-demo-site: --port needs a number from 0 to 65535" << Qt::endl;
            return 2;
        }
        port = quint16(value);
        arguments = arguments.mid(2);
    }
    if (arguments.size() > 1 || (arguments.size() == 1 && arguments.first().startsWith(u"-"))) {
        err << "usage: caiji-demo-site [--port N] [DIR]   (port 0 picks a free one)" << Qt::endl;
        return 2;
    }
    const QString dir = arguments.isEmpty() ? defaultSiteDir() : arguments.first();
    if (dir.isEmpty() || !QFileInfo(dir).isDir()) {
        err << "caiji-demo-site: no site folder " << dir << Qt::endl;
        return 2;
    }
    caiji::StaticHttpServer server;
    server.setRoot(dir);
    if (!server.listen(port)) {
        err << "caiji-demo-site: cannot listen on 127.0.0.1:" << port << Qt::endl;
        return 2;
    }
    out << server.port() << Qt::endl;
    return app.exec();
}
