// The commands of the PostgreSQL job queue that many machines share:
// `caiji enqueue` puts tasks in, `caiji worker` runs them, `caiji jobs`
// lists them.
#pragma once

#include "cli/commandline.h"

#include <QCoreApplication>
#include <optional>

class QTextStream;

namespace caiji {

struct ServerAddress;

class QueueCommands
{
    Q_DECLARE_TR_FUNCTIONS(QueueCommands)

public:
    QueueCommands(QTextStream &out, QTextStream &err);

    // Each returns the exit code: 0, 1 when the server failed, 2 for bad
    // arguments.
    int enqueue(const CommandLine::Options &options);
    int worker(const CommandLine::Options &options);
    int jobs(const CommandLine::Options &options);

private:
    int fail(const QString &message);
    // The address of --queue; nothing (the message written) when it is
    // missing or not PostgreSQL.
    std::optional<ServerAddress> queueAddress(const QString &command,
                                              const CommandLine::Options &options);

    QTextStream &m_out;
    QTextStream &m_err;
};

} // namespace caiji
