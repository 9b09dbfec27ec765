// "caiji run" against sites as users meet them, each row a task of its own,
// all running at once: servers that fail the first try or every try, ask for
// a pause, must be paced or keep a robots.txt; a site behind a real HTTP
// proxy (tinyproxy) or SOCKS5 proxy (microsocks) started here, one that
// wants a login cookie or certain headers, and HTTPS with a certificate of
// its own. The task's network settings are written to its settings.ini.
#include "collectcheck.h"
#include "concurrentruns.h"
#include "faultserver.h"
#include "records/failurelog.h"
#include "tempworkspace.h"
#include "text/names.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QSslKey>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

using namespace Qt::StringLiterals;
using namespace caiji;
using namespace caiji::test;
using Fail = FaultServer::FirstFailure;

namespace {

constexpr int TickMs = 200;
constexpr int RunBoundMs = 120000;
const Tally AllFine{3, 0, 3, 0, 3, 0};
const Tally SecondFails{3, 1, 2, 0, 2, 0};
const Tally AllFail{3, 3, 0, 0, 0, 0};

// What a row's run works on, and what it must leave.
struct Case
{
    FaultSite site;
    QStringList settings; // lines of the [network] section
    QProcessEnvironment environment;
    // Checked after the run: what is wrong, or nothing.
    std::function<QString()> check = [] { return QString(); };
};

struct Proxies
{
    quint16 http = 0;  // tinyproxy
    quint16 socks = 0; // microsocks, user u, password p
};

struct WebRow
{
    const char *name;
    bool tls; // on the HTTPS server
    std::function<void(Case &, const Proxies &)> setup;
    Tally expected;
    int exitCode;
    const char *says; // in the run's output
};

QString pageOf(const FaultSite &site, int n)
{
    return site.path(FaultSite::articleName(n));
}

// Requests of the site's pages and pictures in order of arrival, in ms.
QList<qint64> arrivals(const FaultSite &site)
{
    QList<qint64> times;
    for (const FaultServer::Request &request : site.server.requests()) {
        if (request.path.startsWith(site.prefix + u'/'))
            times << request.atMs;
    }
    return times;
}

// "" when every request after the first `from` came `gapMs` after the one before.
QString spacedBy(const FaultSite &site, int from, qint64 gapMs)
{
    const QList<qint64> times = arrivals(site);
    for (qsizetype i = std::max(1, from); i < times.size(); ++i) {
        if (times[i] - times[i - 1] < gapMs)
            return u"requests %1 ms apart, wanted %2"_s.arg(times[i] - times[i - 1]).arg(gapMs);
    }
    return {};
}

QString viaTinyproxy(const FaultSite &site, bool wanted)
{
    for (const FaultServer::Request &request : site.server.requests()) {
        if (request.path.startsWith(site.prefix + u'/') &&
            request.header("Via").contains("tinyproxy") != wanted)
            return u"a request of "_s + request.path + (wanted ? u" not"_s : QString()) +
                   u" through the proxy"_s;
    }
    return {};
}

QString proxyUrl(const char *scheme, quint16 port, const QString &user = {})
{
    return QString::fromLatin1(scheme) + u"://"_s + user + u"127.0.0.1:"_s + QString::number(port);
}

QList<WebRow> webRows()
{
    const auto failFirst = [](Fail failure) {
        return [failure](Case &c, const Proxies &) {
            for (int n = 1; n <= 3; ++n)
                c.site.server.setFailFirst(pageOf(c.site, n), 1, failure);
        };
    };
    const auto httpProxy = [](bool fromEnvironment, const QString &noProxy) {
        return [=](Case &c, const Proxies &proxies) {
            const QString address = proxyUrl("http", proxies.http);
            if (fromEnvironment) {
                c.environment.insert(u"HTTP_PROXY"_s, address);
                c.environment.insert(u"no_proxy"_s, noProxy);
            } else {
                c.settings << u"proxy="_s + address;
            }
            c.check = [&c, through = noProxy.isEmpty()] { return viaTinyproxy(c.site, through); };
        };
    };
    return {
        {"503 at each page's first try", false, failFirst(Fail::Unavailable), AllFine, 0, ",重试3"},
        {"connection reset at each page's first try", false, failFirst(Fail::Reset), AllFine, 0,
         ",重试3"},
        {"body cut at each page's first try", false, failFirst(Fail::Cut), AllFine, 0, ",重试3"},
        {"a page that always fails is tried three times", false,
         [](Case &c, const Proxies &) {
             c.site.server.setStatus(pageOf(c.site, 2), 503, "<html>down</html>"_ba);
             c.site.records.removeOne(c.site.recordOf(2, c.site.picture(2)));
             c.site.pictures.remove(name1(c.site.picture(2)));
             c.check = [&c] {
                 const int asked = c.site.server.requestCount(pageOf(c.site, 2));
                 return asked == 3 ? QString() : u"asked %1 times"_s.arg(asked);
             };
         },
         SecondFails, 1, ",重试2；失败原因：HTTP 503×1"},
        {"429 with Retry-After: 2 slows the host", false,
         [](Case &c, const Proxies &) {
             c.settings << u"connectionsPerHost=1"_s;
             c.site.server.setFailFirst(pageOf(c.site, 1), 1, Fail::TooManyRetryAfter2);
             c.check = [&c] { return spacedBy(c.site, 1, 1900); };
         },
         AllFine, 0, ",重试1"},
        {"two connections, 300 ms apart", false,
         [](Case &c, const Proxies &) {
             c.settings << u"connectionsPerHost=2"_s << u"minDelayMs=300"_s;
             for (int n = 1; n <= 3; ++n)
                 c.site.server.setDelay(pageOf(c.site, n), 700);
             c.check = [&c] {
                 const int open = c.site.server.peakOpen(c.site.prefix + u'/');
                 return open > 2 ? u"%1 requests at once"_s.arg(open) : spacedBy(c.site, 1, 280);
             };
         },
         AllFine, 0, ""},
        {"robots.txt forbids a page", false,
         [](Case &c, const Proxies &) {
             c.settings << u"robots=true"_s;
             c.site.server.setPage(u"/robots.txt"_s,
                                   "User-agent: *\nDisallow: " + pageOf(c.site, 2).toUtf8() + '\n',
                                   "text/plain"_ba);
             c.site.records.removeOne(c.site.recordOf(2, c.site.picture(2)));
             c.site.pictures.remove(name1(c.site.picture(2)));
             c.check = [&c] {
                 return c.site.server.requestCount(pageOf(c.site, 2)) == 0
                            ? QString()
                            : u"the forbidden page was asked for"_s;
             };
         },
         SecondFails, 1, "robots.txt"},
        {"through tinyproxy, named by the task", false, httpProxy(false, {}), AllFine, 0, ""},
        {"through tinyproxy, from HTTP_PROXY", false, httpProxy(true, {}), AllFine, 0, ""},
        {"HTTP_PROXY, but no_proxy names the site", false, httpProxy(true, u"127.0.0.1"_s), AllFine,
         0, ""},
        {"through microsocks with its password", false,
         [](Case &c, const Proxies &proxies) {
             c.settings << u"proxy="_s + proxyUrl("socks5", proxies.socks, u"u:p@"_s);
         },
         AllFine, 0, ""},
        {"microsocks refuses a wrong password", false,
         [](Case &c, const Proxies &proxies) {
             c.settings << u"proxy="_s + proxyUrl("socks5", proxies.socks, u"u:wrong@"_s);
             c.site.records.clear();
             c.site.pictures.clear();
         },
         AllFail, 1, "代理 127.0.0.1:"},
        {"a login cookie from cookies.txt", false,
         [](Case &c, const Proxies &) {
             c.settings << u"cookiesFile=cookies.txt"_s;
             for (int n = 1; n <= 3; ++n)
                 c.site.server.setRequiredHeader(pageOf(c.site, n), "Cookie", "session=abc");
         },
         AllFine, 0, ""},
        {"no login cookie: 403", false,
         [](Case &c, const Proxies &) {
             for (int n = 1; n <= 3; ++n)
                 c.site.server.setRequiredHeader(pageOf(c.site, n), "Cookie", "session=abc");
             c.site.records.clear();
             c.site.pictures.clear();
         },
         AllFail, 1, "HTTP 403×3"},
        {"the Referer and User-Agent a site wants", false,
         [](Case &c, const Proxies &) {
             c.settings << u"userAgent=CaijiTest/1.0"_s
                        << u"headers=Referer: http://ref.example/, Accept-Language: zh-CN"_s;
             c.site.server.setRequiredHeader(pageOf(c.site, 1), "Referer", "http://ref.example/");
             c.site.server.setRequiredHeader(pageOf(c.site, 2), "User-Agent", "CaijiTest/1.0");
             c.site.server.setRequiredHeader(pageOf(c.site, 3), "Accept-Language", "zh-CN");
         },
         AllFine, 0, ""},
        {"HTTPS with a certificate of its own", true,
         [](Case &c, const Proxies &) {
             c.site.records.clear();
             c.site.pictures.clear();
         },
         AllFail, 1, "证书错误"},
        {"HTTPS with its certificate as caFile", true,
         [](Case &c, const Proxies &) { c.settings << u"caFile=ca.pem"_s; }, AllFine, 0, ""},
    };
}

} // namespace

class TestRealWeb : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void sites_data();
    void sites();

private:
    struct RowRun
    {
        std::unique_ptr<Case> c;
        std::unique_ptr<TempWorkspace> workspace;
        QMap<QString, QByteArray> before;
        int process = -1;
    };
    // A program of Debian's on a free port of 127.0.0.1; 0 when not installed.
    quint16 startServer(const QString &program, const std::function<QStringList(quint16)> &args);

    FaultServer m_server;
    FaultServer m_tlsServer;
    QTemporaryDir m_files;
    std::vector<std::unique_ptr<QProcess>> m_servers;
    Proxies m_proxies;
    std::vector<RowRun> m_rows;
    ConcurrentRuns m_runs;
};

quint16 TestRealWeb::startServer(const QString &program,
                                 const std::function<QStringList(quint16)> &args)
{
    const QString path = QStandardPaths::findExecutable(program);
    if (path.isEmpty())
        return 0;
    const quint16 port = FaultServer::unusedPort();
    auto process = std::make_unique<QProcess>();
    process->start(path, args(port));
    if (!process->waitForStarted())
        return 0;
    m_servers.push_back(std::move(process));
    // Ready once it takes connections.
    for (int i = 0; i < 100; ++i) {
        QTcpSocket probe;
        probe.connectToHost(u"127.0.0.1"_s, port);
        if (probe.waitForConnected(100))
            return port;
        QTest::qWait(50);
    }
    return 0;
}

void TestRealWeb::initTestCase()
{
    QVERIFY(QFile::exists(QStringLiteral(CAIJI_BINARY)));
    QVERIFY(m_files.isValid() && m_server.listen());
    // A certificate of the HTTPS server's own, for 127.0.0.1.
    const QString key = m_files.filePath(u"key.pem"_s), cert = m_files.filePath(u"ca.pem"_s);
    QCOMPARE(QProcess::execute(u"openssl"_s, {u"req"_s, u"-x509"_s, u"-newkey"_s, u"rsa:2048"_s,
                                              u"-nodes"_s, u"-keyout"_s, key, u"-out"_s, cert,
                                              u"-days"_s, u"2"_s, u"-subj"_s, u"/CN=127.0.0.1"_s,
                                              u"-addext"_s, u"subjectAltName=IP:127.0.0.1"_s}),
             0);
    QFile keyFile(key);
    QVERIFY(keyFile.open(QIODevice::ReadOnly));
    QVERIFY(m_tlsServer.listenTls(QSslCertificate::fromPath(cert).value(0),
                                  QSslKey(&keyFile, QSsl::Rsa)));
    const QString tinyConfig = m_files.filePath(u"tinyproxy.conf"_s);
    m_proxies.http = startServer(u"tinyproxy"_s, [&](quint16 port) {
        QFile conf(tinyConfig);
        if (conf.open(QIODevice::WriteOnly))
            conf.write("Port " + QByteArray::number(port) +
                       "\nListen 127.0.0.1\nAllow 127.0.0.1\nTimeout 60\nLogLevel Error\n");
        return QStringList{u"-d"_s, u"-c"_s, tinyConfig};
    });
    m_proxies.socks = startServer(u"microsocks"_s, [](quint16 port) {
        return QStringList{u"-i"_s, u"127.0.0.1"_s, u"-p"_s, QString::number(port),
                           u"-u"_s, u"u"_s,         u"-P"_s, u"p"_s};
    });

    const QList<WebRow> rows = webRows();
    m_rows.resize(rows.size());
    for (qsizetype i = 0; i < rows.size(); ++i) {
        RowRun &row = m_rows[i];
        FaultServer &server = rows[i].tls ? m_tlsServer : m_server;
        row.c = std::make_unique<Case>(
            Case{FaultSite{server, u"/w"_s + QString::number(i), {}, {}}, {}, {}, [] {
                     return QString();
                 }});
        for (int n = 1; n <= 3; ++n)
            row.c->site.goodArticle(n);
        rows[i].setup(*row.c, m_proxies);
        row.workspace = std::make_unique<TempWorkspace>();
        const QString task = u"网"_s;
        const QString data = row.workspace->taskDir(task) + u"/data"_s;
        QVERIFY(row.workspace->addTask(
            task, articleTask(u"1|"_s + row.c->site.url(u"art"_s) + u"|1|3|1|.htm"_s)));
        QFile settings(data + u"/settings.ini"_s);
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write("[network]\n" + row.c->settings.join(u'\n').toUtf8() + '\n');
        settings.close();
        QVERIFY(QFile::copy(cert, data + u"/ca.pem"_s));
        QFile cookies(data + u"/cookies.txt"_s);
        QVERIFY(cookies.open(QIODevice::WriteOnly));
        cookies.write("127.0.0.1\tFALSE\t/\tFALSE\t0\tsession\tabc\n");
        cookies.close();
        row.before = fileTree(row.workspace->root(), {u"task/"_s + task});
        row.process = m_runs.start(QStringLiteral(CAIJI_BINARY),
                                   {u"run"_s, u"--workspace"_s, row.workspace->root(),
                                    u"--tick-ms"_s, QString::number(TickMs), task},
                                   row.c->environment);
    }
}

void TestRealWeb::sites_data()
{
    QTest::addColumn<int>("row");
    const QList<WebRow> rows = webRows();
    for (qsizetype i = 0; i < rows.size(); ++i)
        QTest::newRow(rows[i].name) << int(i);
}

void TestRealWeb::sites()
{
    QFETCH(int, row);
    const WebRow spec = webRows().at(row);
    const QString name = QString::fromLatin1(spec.name);
    if ((name.contains(u"tinyproxy"_s) || name.contains(u"HTTP_PROXY"_s)) && !m_proxies.http)
        QSKIP("tinyproxy is not installed");
    if (name.contains(u"microsocks"_s) && !m_proxies.socks)
        QSKIP("microsocks is not installed");
    m_runs.waitAll(RunBoundMs);
    RowRun &run = m_rows.at(row);
    const ProgramRun &ended = m_runs.run(run.process);
    const QString mismatch = firstMismatch(ended, run.workspace->workspace(), run.before,
                                           run.c->site, {u"网"_s, spec.expected, spec.exitCode});
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    const QByteArray said = ended.out + ended.err;
    QVERIFY2(said.contains(spec.says), said.right(600).constData());
    const QString wrong = run.c->check();
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

QTEST_GUILESS_MAIN(TestRealWeb)
#include "tst_realweb.moc"
