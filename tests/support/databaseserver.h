// A real PostgreSQL or MariaDB server of the test's own, in a temporary
// folder, listening on 127.0.0.1 only. Under root the server runs as the
// system's postgres or mysql user (PostgreSQL refuses to run as root).
#pragma once

#include <QString>
#include <QTemporaryDir>

namespace caiji::test {

class DatabaseServer
{
public:
    enum class Kind { PostgreSql, MariaDb };

    explicit DatabaseServer(Kind kind);
    ~DatabaseServer();
    DatabaseServer(const DatabaseServer &) = delete;
    DatabaseServer &operator=(const DatabaseServer &) = delete;

    // Makes the data folder and starts the server with a database "caiji"
    // and a user "caiji" whose password is password(). False, with error()
    // set, when the server programs are missing or do not start.
    bool start();
    // Stops the server at once (as if it crashed); restart() starts it
    // again on the same port and data.
    void stop();
    bool restart();
    bool isRunning() const { return m_running; }

    QString error() const { return m_error; }
    int port() const { return m_port; }
    static QString password() { return QStringLiteral("s3cret"); }
    // "postgresql://caiji@127.0.0.1:PORT/caiji" or "mysql://…", without the
    // password.
    QString url() const;
    // Runs one SQL statement as the caiji user; its output, tab-separated,
    // one line per row. Empty with error() set when it failed.
    QString query(const QString &sql);

private:
    bool launch();
    bool runAsOwner(const QString &program, const QStringList &arguments, int timeoutMs,
                    QString *output = nullptr);

    Kind m_kind;
    QTemporaryDir m_dir;
    QString m_owner; // the user the server runs as, when started as root
    int m_port = 0;
    qint64 m_pid = 0;
    bool m_running = false;
    QString m_error;
};

} // namespace caiji::test
