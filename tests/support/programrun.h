// Running the built programs from a test: output, exit code, bounded time.
#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QStringList>

namespace caiji::test {

struct ProgramRun
{
    bool finished = false; // ended by itself, not killed or crashed
    int exitCode = -1;     // -1 when it did not end normally
    QByteArray out;
    QByteArray err;
};

// Runs `program` while this process's event loop keeps turning (so servers
// in the test answer it), and kills it after `timeoutMs`. Requests to
// 127.0.0.1 never go through a proxy. `extra` adds environment variables.
ProgramRun runProgram(const QString &program, const QStringList &arguments, int timeoutMs = 60000,
                      const QProcessEnvironment &extra = QProcessEnvironment());

} // namespace caiji::test
