#include "tasks/networksettings.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

const QString Group = u"network"_s;

// The number written for `key`, or why it is none; `fallback` when absent.
int numberOf(const QSettings &settings, const QString &key, int fallback, QString *error)
{
    const QVariant value = settings.value(key);
    if (!value.isValid())
        return fallback;
    bool ok = false;
    const int read = value.toString().trimmed().toInt(&ok);
    if (ok)
        return read;
    if (error && error->isEmpty())
        *error = u"%1=%2：不是整数"_s.arg(key, value.toString());
    return fallback;
}

// A text that may hold commas, which the INI format reads as a list.
QString textOf(const QSettings &settings, const QString &key)
{
    return settings.value(key).toStringList().join(u", "_s).trimmed();
}

std::optional<QString> outOfRange(const QString &key, int value, int low, int high)
{
    if (value >= low && value <= high)
        return std::nullopt;
    return u"%1=%2：应是%3到%4之间的整数"_s.arg(key).arg(value).arg(low).arg(high);
}

// A file named relative to the task's data folder, which must exist.
std::optional<QString> existingFile(const QString &dataDir, const QString &key, const QString &name,
                                    QString *error)
{
    const QString path = QDir(dataDir).absoluteFilePath(name);
    if (QFileInfo(path).isFile())
        return path;
    *error = key + u'=' + name + u"：找不到文件 "_s + QDir::toNativeSeparators(path);
    return std::nullopt;
}

// The Netscape cookies.txt format that browsers' export add-ons write: one
// cookie a line, seven fields apart by tabs; "#HttpOnly_" marks such cookies.
std::optional<QList<QNetworkCookie>> readCookies(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = u"cookiesFile：无法读取 "_s + QDir::toNativeSeparators(path);
        return std::nullopt;
    }
    QList<QNetworkCookie> cookies;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    int number = 0;
    for (QByteArray line : file.readAll().split('\n')) {
        ++number;
        line = line.trimmed();
        bool httpOnly = false;
        if (line.startsWith("#HttpOnly_")) {
            line = line.mid(10);
            httpOnly = true;
        }
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QList<QByteArray> fields = line.split('\t');
        bool ok = false;
        const qint64 expires = fields.value(4).toLongLong(&ok);
        if (fields.size() < 7 || !ok) {
            *error = u"cookiesFile：第%1行不是cookies.txt的格式（7栏，用制表符隔开）"_s.arg(number);
            return std::nullopt;
        }
        if (expires != 0 && expires < now)
            continue;
        QNetworkCookie cookie(fields[5], fields.mid(6).join('\t'));
        QByteArray domain = fields[0];
        // A cookie for the subdomains too is a domain cookie: its domain
        // starts with a dot.
        if (fields[1].toUpper() == "TRUE" && !domain.startsWith('.'))
            domain.prepend('.');
        cookie.setDomain(QString::fromLatin1(domain));
        cookie.setPath(QString::fromLatin1(fields[2]));
        cookie.setSecure(fields[3].toUpper() == "TRUE");
        cookie.setHttpOnly(httpOnly);
        if (expires != 0)
            cookie.setExpirationDate(QDateTime::fromSecsSinceEpoch(expires));
        cookies << cookie;
    }
    return cookies;
}

std::optional<QList<QSslCertificate>> readCertificates(const QString &path, QString *error)
{
    QList<QSslCertificate> certificates = QSslCertificate::fromPath(path, QSsl::Pem);
    if (certificates.isEmpty())
        certificates = QSslCertificate::fromPath(path, QSsl::Der);
    if (certificates.isEmpty()) {
        *error = u"caFile：%1 中没有证书（PEM或DER格式）"_s.arg(QDir::toNativeSeparators(path));
        return std::nullopt;
    }
    return certificates;
}

} // namespace

QString NetworkSettings::fileIn(const QString &dataDir)
{
    return dataDir + u"/settings.ini"_s;
}

std::optional<QNetworkProxy> NetworkSettings::parseProxy(const QString &address, QString *error,
                                                         const QString &key)
{
    const QUrl url(address.contains(u"://"_s) ? address : u"http://"_s + address);
    const QString scheme = url.scheme().toLower();
    QNetworkProxy::ProxyType type = QNetworkProxy::HttpProxy;
    if (scheme == u"socks5"_s || scheme == u"socks5h"_s)
        type = QNetworkProxy::Socks5Proxy;
    else if (scheme != u"http"_s) {
        *error =
            u"%1=%2：不支持的代理协议“%3”（可用 http:// 或 socks5://）"_s.arg(key, address, scheme);
        return std::nullopt;
    }
    if (!url.isValid() || url.host().isEmpty()) {
        *error = u"%1=%2：不是代理地址（例如 http://127.0.0.1:3128）"_s.arg(key, address);
        return std::nullopt;
    }
    // curl's default port for a proxy without one.
    return QNetworkProxy(type, url.host(), quint16(url.port(1080)), url.userName(), url.password());
}

std::optional<QString>
NetworkSettings::environmentProxyError(const QProcessEnvironment &environment)
{
    for (const QString &lower : {u"http_proxy"_s, u"https_proxy"_s, u"all_proxy"_s}) {
        for (const QString &name : {lower, lower.toUpper()}) {
            const QString address = environment.value(name).trimmed();
            QString error;
            if (!address.isEmpty() && !parseProxy(address, &error, u"环境变量 "_s + name))
                return error;
        }
    }
    return std::nullopt;
}

QStringList NetworkSettings::headerLines() const
{
    QStringList lines;
    for (const auto &[name, value] : headers)
        lines << QString::fromUtf8(name + ": " + value);
    return lines;
}

bool NetworkSettings::setHeaderLines(const QStringList &lines, QString *error)
{
    static const QRegularExpression named(u"^\\s*([!#$%&'*+.^_`|~0-9A-Za-z-]+)\\s*:(.*)$"_s);
    QList<std::pair<QByteArray, QByteArray>> read;
    for (const QString &line : lines) {
        if (line.trimmed().isEmpty())
            continue;
        const QRegularExpressionMatch match = named.match(line);
        if (match.hasMatch()) {
            read.append({match.captured(1).toUtf8(), match.captured(2).trimmed().toUtf8()});
        } else if (!read.isEmpty()) {
            read.last().second += ',' + line.trimmed().toUtf8();
        } else {
            *error = u"headers：“%1”不是“名称: 值”的形式"_s.arg(line.trimmed());
            return false;
        }
    }
    headers = read;
    return true;
}

NetworkSettings NetworkSettings::readAsWritten(const QString &dataDir, QString *error)
{
    NetworkSettings result;
    if (!QFile::exists(fileIn(dataDir)))
        return result;
    QSettings settings(fileIn(dataDir), QSettings::IniFormat);
    if (settings.status() != QSettings::NoError && error)
        *error = u"无法读取 "_s + QDir::toNativeSeparators(fileIn(dataDir));
    settings.beginGroup(Group);
    result.retries = numberOf(settings, u"retries"_s, result.retries, error);
    result.connectionsPerHost =
        numberOf(settings, u"connectionsPerHost"_s, result.connectionsPerHost, error);
    result.minDelayMs = numberOf(settings, u"minDelayMs"_s, 0, error);
    const QString robots = textOf(settings, u"robots"_s).toLower();
    result.robots = robots == u"true"_s;
    if (!robots.isEmpty() && robots != u"true"_s && robots != u"false"_s && error &&
        error->isEmpty())
        *error = u"robots=%1：应是 true 或 false"_s.arg(robots);
    result.userAgent = textOf(settings, u"userAgent"_s);
    QString headers;
    const QStringList headerLines = settings.value(u"headers"_s).toStringList();
    if (!result.setHeaderLines(headerLines, &headers)) {
        result.unreadHeaders = headerLines;
        if (error && error->isEmpty())
            *error = headers;
    }
    result.cookiesFile = textOf(settings, u"cookiesFile"_s);
    result.proxy = textOf(settings, u"proxy"_s);
    result.caFile = textOf(settings, u"caFile"_s);
    return result;
}

QStringList NetworkSettings::problems(const QString &dataDir)
{
    QStringList found;
    for (const std::optional<QString> &wrong :
         {outOfRange(u"retries"_s, retries, 0, MaxRetries),
          outOfRange(u"connectionsPerHost"_s, connectionsPerHost, 1, MaxConnectionsPerHost),
          outOfRange(u"minDelayMs"_s, minDelayMs, 0, MaxDelayMs)}) {
        if (wrong)
            found << *wrong;
    }
    // Header values go out as bytes; servers read them as Latin-1 or refuse.
    const auto notAscii = [](const QString &text) {
        return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() > 0x7e; });
    };
    const QString asciiOnly =
        u"：HTTP请求头的值只能用ASCII字符，中文等字符请先做百分号编码（例如“中文”写作 "
        "%E4%B8%AD%E6%96%87）"_s;
    if (notAscii(userAgent))
        found << u"userAgent=%1"_s.arg(userAgent) + asciiOnly;
    for (const auto &[name, value] : headers) {
        if (notAscii(QString::fromUtf8(value)))
            found << u"headers：%1的值“%2”"_s.arg(QString::fromUtf8(name),
                                                  QString::fromUtf8(value)) +
                         asciiOnly;
    }
    QString error;
    cookies.clear();
    if (!cookiesFile.isEmpty()) {
        const std::optional<QString> path =
            existingFile(dataDir, u"cookiesFile"_s, cookiesFile, &error);
        const auto read = path ? readCookies(*path, &error) : std::nullopt;
        if (read)
            cookies = *read;
        else
            found << error;
    }
    taskProxy.reset();
    if (!proxy.isEmpty()) {
        taskProxy = parseProxy(proxy, &error);
        if (!taskProxy)
            found << error;
    }
    caCertificates.clear();
    if (!caFile.isEmpty()) {
        const std::optional<QString> path = existingFile(dataDir, u"caFile"_s, caFile, &error);
        const auto read = path ? readCertificates(*path, &error) : std::nullopt;
        if (read)
            caCertificates = *read;
        else
            found << error;
    }
    return found;
}

std::optional<QString> NetworkSettings::check(const QString &dataDir)
{
    const QStringList found = problems(dataDir);
    return found.isEmpty() ? std::nullopt : std::optional<QString>(found.first());
}

std::optional<NetworkSettings> NetworkSettings::read(const QString &dataDir, QString *error)
{
    QString written;
    NetworkSettings result = readAsWritten(dataDir, &written);
    std::optional<QString> wrong =
        written.isEmpty() ? result.check(dataDir) : std::optional<QString>(written);
    if (!wrong)
        return result;
    *error = *wrong;
    return std::nullopt;
}

bool NetworkSettings::write(const QString &dataDir) const
{
    QSettings settings(fileIn(dataDir), QSettings::IniFormat);
    settings.beginGroup(Group);
    const NetworkSettings defaults;
    const auto put = [&](const QString &key, const QVariant &value, bool isDefault) {
        if (isDefault)
            settings.remove(key);
        else
            settings.setValue(key, value);
    };
    put(u"retries"_s, retries, retries == defaults.retries);
    put(u"connectionsPerHost"_s, connectionsPerHost,
        connectionsPerHost == defaults.connectionsPerHost);
    put(u"minDelayMs"_s, minDelayMs, minDelayMs == 0);
    put(u"robots"_s, robots ? u"true"_s : u"false"_s, !robots);
    put(u"userAgent"_s, userAgent, userAgent.isEmpty());
    put(u"headers"_s, headerLines(), headers.isEmpty());
    put(u"cookiesFile"_s, cookiesFile, cookiesFile.isEmpty());
    put(u"proxy"_s, proxy, proxy.isEmpty());
    put(u"caFile"_s, caFile, caFile.isEmpty());
    settings.endGroup();
    settings.sync();
    return settings.status() == QSettings::NoError;
}

} // namespace caiji
