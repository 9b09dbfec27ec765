// Serves a folder on 127.0.0.1 until killed; prints the port on the first line.
#include "testhttpserver.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (arguments.size() != 2 || !QFileInfo(arguments[1]).isDir()) {
        err << "usage: caiji-test-server DIR\n";
        return 2;
    }
    caiji::test::TestHttpServer server;
    server.setRoot(arguments[1]);
    if (!server.listen()) {
        err << "cannot listen on 127.0.0.1\n";
        return 1;
    }
    out << server.port() << Qt::endl;
    return app.exec();
}
