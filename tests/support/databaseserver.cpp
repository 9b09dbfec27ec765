#include "databaseserver.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QTcpServer>
#include <QThread>

#include <csignal>
#include <pwd.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace caiji::test {

namespace {

constexpr int StartTimeoutMs = 30000;

QString postgresBin()
{
    // The newest installed version.
    const QStringList versions =
        QDir(u"/usr/lib/postgresql"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (qsizetype i = versions.size() - 1; i >= 0; --i) {
        const QString bin = u"/usr/lib/postgresql/%1/bin"_s.arg(versions[i]);
        if (QFile::exists(bin + u"/initdb"_s))
            return bin;
    }
    return {};
}

int freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

} // namespace

DatabaseServer::DatabaseServer(Kind kind) : m_kind(kind)
{
    if (::geteuid() == 0)
        m_owner = kind == Kind::PostgreSql ? u"postgres"_s : u"mysql"_s;
}

DatabaseServer::~DatabaseServer()
{
    stop();
}

QString DatabaseServer::url() const
{
    return u"%1://caiji@127.0.0.1:%2/caiji"_s
        .arg(m_kind == Kind::PostgreSql ? u"postgresql"_s : u"mysql"_s)
        .arg(m_port);
}

bool DatabaseServer::runAsOwner(const QString &program, const QStringList &arguments, int timeoutMs,
                                QString *output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(m_dir.path());
    if (m_owner.isEmpty())
        process.start(program, arguments);
    else
        process.start(u"runuser"_s, QStringList{u"-u"_s, m_owner, u"--"_s, program} + arguments);
    const bool done = process.waitForFinished(timeoutMs);
    const QString text = QString::fromUtf8(process.readAll());
    if (output)
        *output = text;
    if (!done || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        if (!done)
            process.kill();
        m_error = program + u": "_s + (done ? text.trimmed() : u"timed out"_s);
        return false;
    }
    return true;
}

bool DatabaseServer::start()
{
    if (!m_dir.isValid()) {
        m_error = u"no temporary folder"_s;
        return false;
    }
    if (!m_owner.isEmpty()) {
        const passwd *user = ::getpwnam(m_owner.toLocal8Bit().constData());
        if (!user ||
            ::chown(QFile::encodeName(m_dir.path()).constData(), user->pw_uid, user->pw_gid) != 0) {
            m_error = u"cannot hand the folder to the user "_s + m_owner;
            return false;
        }
    }
    m_port = freePort();
    const QString data = m_dir.filePath(u"data"_s);
    if (m_kind == Kind::PostgreSql) {
        const QString bin = postgresBin();
        if (bin.isEmpty()) {
            m_error = u"PostgreSQL is not installed"_s;
            return false;
        }
        QFile secret(m_dir.filePath(u"pw"_s));
        if (!secret.open(QIODevice::WriteOnly) || secret.write(password().toUtf8()) < 0)
            return false;
        secret.close();
        secret.setPermissions(QFile::ReadOwner | QFile::ReadOther);
        if (!runAsOwner(bin + u"/initdb"_s,
                        {u"-D"_s, data, u"-U"_s, u"caiji"_s, u"-A"_s, u"scram-sha-256"_s,
                         u"--pwfile"_s, secret.fileName(), u"--no-sync"_s, u"-E"_s, u"UTF8"_s,
                         u"--locale=C.UTF-8"_s},
                        StartTimeoutMs))
            return false;
        if (!launch())
            return false;
        return !query(u"CREATE DATABASE caiji"_s).isNull();
    }
    if (!runAsOwner(u"mariadb-install-db"_s,
                    {u"--no-defaults"_s, u"--datadir="_s + data,
                     u"--auth-root-authentication-method=normal"_s, u"--skip-test-db"_s},
                    StartTimeoutMs))
        return false;
    if (!launch())
        return false;
    QProcess client;
    client.start(u"mariadb"_s, {u"--no-defaults"_s, u"-h"_s, u"127.0.0.1"_s, u"-P"_s,
                                QString::number(m_port), u"-u"_s, u"root"_s, u"-e"_s,
                                u"CREATE DATABASE caiji CHARACTER SET utf8mb4; "
                                "CREATE USER 'caiji'@'%' IDENTIFIED BY '%1'; "
                                "CREATE USER 'caiji'@'localhost' IDENTIFIED BY '%1'; "
                                "GRANT ALL ON *.* TO 'caiji'@'%'; "
                                "GRANT ALL ON *.* TO 'caiji'@'localhost';"_s.arg(password())});
    if (!client.waitForFinished(StartTimeoutMs) || client.exitCode() != 0) {
        m_error = QString::fromUtf8(client.readAllStandardError());
        return false;
    }
    return true;
}

bool DatabaseServer::launch()
{
    const QString data = m_dir.filePath(u"data"_s);
    if (m_kind == Kind::PostgreSql) {
        m_running = runAsOwner(
            postgresBin() + u"/pg_ctl"_s,
            {u"-D"_s, data, u"-l"_s, m_dir.filePath(u"log"_s), u"-w"_s, u"-t"_s, u"30"_s, u"-o"_s,
             u"-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=off"_s.arg(m_port).arg(
                 m_dir.path()),
             u"start"_s},
            StartTimeoutMs);
        return m_running;
    }
    QStringList arguments{u"--no-defaults"_s, u"--datadir="_s + data,
                          u"--port="_s + QString::number(m_port), u"--bind-address=127.0.0.1"_s,
                          u"--socket="_s + m_dir.filePath(u"sock"_s),
                          u"--pid-file="_s + m_dir.filePath(u"pid"_s), u"--skip-log-bin"_s,
                          u"--innodb-buffer-pool-size=16M"_s,
                          // A lax server, as many are set up: only the
                          // client's own session keeps what it stores
                          // unchanged. A small packet limit makes a row too
                          // large for it quick to write.
                          u"--sql-mode="_s, u"--max-allowed-packet=1M"_s,
                          u"--log-error="_s + m_dir.filePath(u"log"_s)};
    if (!m_owner.isEmpty())
        arguments << u"--user="_s + m_owner;
    QFile::remove(m_dir.filePath(u"pid"_s));
    if (!QProcess::startDetached(u"/usr/sbin/mariadbd"_s, arguments, m_dir.path())) {
        m_error = u"mariadbd does not start"_s;
        return false;
    }
    const QDeadlineTimer deadline(StartTimeoutMs);
    while (!deadline.hasExpired()) {
        QFile pid(m_dir.filePath(u"pid"_s));
        if (pid.open(QIODevice::ReadOnly))
            m_pid = pid.readAll().trimmed().toLongLong();
        QProcess ping;
        ping.start(u"mariadb-admin"_s, {u"--no-defaults"_s, u"-h"_s, u"127.0.0.1"_s, u"-P"_s,
                                        QString::number(m_port), u"-u"_s, u"root"_s, u"ping"_s});
        const bool answered = ping.waitForFinished(5000) && ping.exitCode() == 0;
        if (m_pid > 0 && answered) {
            m_running = true;
            return true;
        }
        QThread::msleep(100);
    }
    m_error = u"mariadbd did not answer: "_s + m_dir.filePath(u"log"_s);
    return false;
}

void DatabaseServer::stop()
{
    if (!m_running)
        return;
    m_running = false;
    if (m_kind == Kind::PostgreSql) {
        runAsOwner(
            postgresBin() + u"/pg_ctl"_s,
            {u"-D"_s, m_dir.filePath(u"data"_s), u"-m"_s, u"immediate"_s, u"-w"_s, u"stop"_s},
            StartTimeoutMs);
        return;
    }
    if (m_pid > 0) {
        ::kill(pid_t(m_pid), SIGKILL);
        // Until the port is free again.
        const QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired() && ::kill(pid_t(m_pid), 0) == 0)
            QThread::msleep(50);
        m_pid = 0;
    }
}

bool DatabaseServer::restart()
{
    stop();
    return launch();
}

QString DatabaseServer::query(const QString &sql)
{
    QProcess client;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (m_kind == Kind::PostgreSql) {
        environment.insert(u"PGPASSWORD"_s, password());
        client.setProcessEnvironment(environment);
        client.start(postgresBin() + u"/psql"_s,
                     {u"-X"_s, u"-A"_s, u"-t"_s, u"-q"_s, u"-F"_s, u"\t"_s, u"-v"_s,
                      u"ON_ERROR_STOP=1"_s, u"-h"_s, u"127.0.0.1"_s, u"-p"_s,
                      QString::number(m_port), u"-U"_s, u"caiji"_s, u"-d"_s,
                      sql.startsWith(u"CREATE DATABASE"_s) ? u"postgres"_s : u"caiji"_s, u"-c"_s,
                      sql});
    } else {
        client.start(u"mariadb"_s,
                     {u"--no-defaults"_s, u"-h"_s, u"127.0.0.1"_s, u"-P"_s, QString::number(m_port),
                      u"-u"_s, u"caiji"_s, u"-p"_s + password(), u"-N"_s, u"-B"_s, u"-e"_s, sql,
                      u"caiji"_s});
    }
    if (!client.waitForFinished(StartTimeoutMs) || client.exitCode() != 0) {
        m_error = QString::fromUtf8(client.readAllStandardError()).trimmed();
        return {};
    }
    m_error.clear();
    QString out = QString::fromUtf8(client.readAllStandardOutput());
    if (out.endsWith(u'\n'))
        out.chop(1);
    return out.isNull() ? u""_s : out;
}

} // namespace caiji::test
