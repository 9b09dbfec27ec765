#include "records/serverdatabase.h"

#include <QAtomicInteger>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace caiji {

std::optional<ServerAddress> ServerAddress::parse(const QString &url, QString *why)
{
    const QUrl parsed(url.trimmed(), QUrl::StrictMode);
    ServerAddress address;
    const QString scheme = parsed.scheme().toLower();
    if (scheme == u"postgresql" || scheme == u"postgres") {
        address.kind = Kind::PostgreSql;
    } else if (scheme == u"mysql" || scheme == u"mariadb") {
        address.kind = Kind::MySql;
    } else {
        *why = u"数据库地址应以postgresql://或mysql://开头：%1"_s.arg(url);
        return std::nullopt;
    }
    address.user = parsed.userName();
    address.password = parsed.password();
    address.host = parsed.host();
    address.port = parsed.port(0);
    address.database = parsed.path().mid(1);
    if (!parsed.isValid() || address.host.isEmpty() || address.database.isEmpty() ||
        address.database.contains(u'/')) {
        *why = u"数据库地址应是%1://用户@主机:端口/数据库：%2"_s.arg(scheme, url);
        return std::nullopt;
    }
    return address;
}

QString ServerAddress::display() const
{
    QUrl url;
    url.setScheme(kind == Kind::PostgreSql ? u"postgresql"_s : u"mysql"_s);
    url.setUserName(user);
    url.setHost(host);
    if (port > 0)
        url.setPort(port);
    url.setPath(u"/"_s + database);
    return url.toString();
}

QString ServerAddress::driver() const
{
    return kind == Kind::PostgreSql ? u"QPSQL"_s : u"QMYSQL"_s;
}

QString ServerAddress::quoted(const QString &identifier) const
{
    const QChar quote = kind == Kind::PostgreSql ? u'"' : u'`';
    QString inner = identifier;
    inner.replace(quote, QString(2, quote));
    return quote + inner + quote;
}

ServerConnection::ServerConnection(const ServerAddress &address) : m_address(address)
{
    static QAtomicInteger<quint64> serial;
    m_name = u"caiji-server-%1"_s.arg(serial.fetchAndAddRelaxed(1));
}

ServerConnection::~ServerConnection()
{
    close();
    QSqlDatabase::removeDatabase(m_name);
}

bool ServerConnection::open()
{
    if (!QSqlDatabase::isDriverAvailable(m_address.driver())) {
        m_lastError = u"没有%1数据库驱动（Debian: %2）"_s.arg(
            m_address.driver(), m_address.kind == ServerAddress::Kind::PostgreSql
                                    ? u"libqt6sql6-psql"_s
                                    : u"libqt6sql6-mysql"_s);
        return false;
    }
    close();
    QSqlDatabase db = QSqlDatabase::contains(m_name)
                          ? QSqlDatabase::database(m_name, false)
                          : QSqlDatabase::addDatabase(m_address.driver(), m_name);
    db.setHostName(m_address.host);
    if (m_address.port > 0)
        db.setPort(m_address.port);
    db.setDatabaseName(m_address.database);
    db.setUserName(m_address.user);
    QString password = m_address.password;
    // libpq reads PGPASSWORD and ~/.pgpass itself; the MySQL driver is
    // handed MYSQL_PWD.
    if (password.isEmpty() && m_address.kind == ServerAddress::Kind::MySql)
        password = qEnvironmentVariable("MYSQL_PWD");
    db.setPassword(password);
    if (m_address.kind == ServerAddress::Kind::PostgreSql) {
        db.setConnectOptions(
            u"connect_timeout=%1;application_name=caiji"_s.arg(ConnectTimeoutSeconds));
    } else {
        db.setConnectOptions(u"MYSQL_OPT_CONNECT_TIMEOUT=%1;MYSQL_OPT_READ_TIMEOUT=60;"
                             "MYSQL_OPT_WRITE_TIMEOUT=60"_s.arg(ConnectTimeoutSeconds));
    }
    if (!db.open()) {
        m_lastError = connectFailure(m_address, db.lastError());
        return false;
    }
    QSqlQuery setup(db);
    // PostgreSQL's notices ("relation … already exists, skipping") would
    // reach standard error. MySQL and MariaDB store what they cannot hold
    // changed (an emoji as "?", a cut text) and call it a success unless
    // the session is strict.
    const QStringList session =
        m_address.kind == ServerAddress::Kind::MySql
            ? QStringList{u"SET NAMES utf8mb4 COLLATE utf8mb4_bin"_s,
                          u"SET SESSION sql_mode = 'STRICT_ALL_TABLES,NO_ZERO_IN_DATE,"
                          "NO_ZERO_DATE,ERROR_FOR_DIVISION_BY_ZERO,NO_ENGINE_SUBSTITUTION'"_s}
            : QStringList{u"SET client_min_messages TO warning"_s};
    for (const QString &statement : session) {
        if (!setup.exec(statement)) {
            m_lastError = setup.lastError().text().trimmed();
            return false;
        }
    }
    m_lastError.clear();
    return true;
}

void ServerConnection::close()
{
    if (QSqlDatabase::contains(m_name))
        QSqlDatabase::database(m_name, false).close();
}

bool ServerConnection::isOpen() const
{
    return QSqlDatabase::contains(m_name) && QSqlDatabase::database(m_name, false).isOpen();
}

bool ServerConnection::isLost()
{
    if (!isOpen())
        return true;
    // A statement the server answers says the connection still holds.
    QSqlQuery probe(database());
    return !probe.exec(u"SELECT 1"_s);
}

QSqlDatabase ServerConnection::database() const
{
    return QSqlDatabase::database(m_name, false);
}

namespace {

// The MySQL client says "(115)" whether the port refused or the wait ran
// out; a connection of our own tells them apart.
bool portRefuses(const ServerAddress &address)
{
    QTcpSocket socket;
    socket.connectToHost(address.host, quint16(address.port > 0 ? address.port : 3306));
    return !socket.waitForConnected(2000) &&
           socket.error() == QAbstractSocket::ConnectionRefusedError;
}

} // namespace

QString ServerConnection::connectFailure(const ServerAddress &address, const QSqlError &error)
{
    // The driver's own words, on one line, without the driver's name.
    QString detail = error.text().simplified();
    detail.remove(QRegularExpression(u"\\s*Q(?:PSQL|MYSQL):\\s*Unable to connect\\.?"_s));
    detail.remove(QRegularExpression(u"^Q(?:PSQL|MYSQL):\\s*"_s));
    const QString lower = detail.toLower();
    const int code = error.nativeErrorCode().toInt();
    QString cause = u"连接失败"_s;
    if (lower.contains(u"connection refused") || lower.contains(u"(111)") ||
        (lower.contains(u"can't connect to server") && portRefuses(address)))
        cause = u"连接被拒绝"_s;
    else if (lower.contains(u"timeout expired") || lower.contains(u"timed out") ||
             lower.contains(u"(110)"))
        cause = u"连接超时"_s;
    else if (lower.contains(u"could not translate host name") ||
             lower.contains(u"unknown server host") || lower.contains(u"name or service not known"))
        cause = u"找不到主机%1"_s.arg(address.host);
    else if (lower.contains(u"no password supplied") || lower.contains(u"using password: no"))
        cause = u"没有密码：写在 %1 中"_s.arg(address.kind == ServerAddress::Kind::PostgreSql
                                                  ? u"PGPASSWORD 或 ~/.pgpass"_s
                                                  : u"MYSQL_PWD"_s);
    else if (lower.contains(u"password authentication failed") || code == 1045 ||
             lower.contains(u"access denied for user"))
        cause = u"用户名或密码不对"_s;
    else if ((lower.contains(u"database") && lower.contains(u"does not exist")) || code == 1049 ||
             lower.contains(u"unknown database"))
        cause = u"没有数据库%1"_s.arg(address.database);
    const QString server =
        address.kind == ServerAddress::Kind::PostgreSql ? u"PostgreSQL"_s : u"MySQL"_s;
    const int port = address.port > 0                                  ? address.port
                     : address.kind == ServerAddress::Kind::PostgreSql ? 5432
                                                                       : 3306;
    QString text =
        u"无法连接到 %1:%2 的 %3 服务器：%4"_s.arg(address.host).arg(port).arg(server, cause);
    if (!detail.isEmpty())
        text += u"（"_s + detail + u"）"_s;
    return text;
}

} // namespace caiji
