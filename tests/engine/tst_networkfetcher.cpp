// The network fetch slots against the local test server: what a completion
// reports and leaves on disk for good pages, HTTP errors, dropped
// connections, redirects, size caps, refused addresses and file names, and
// that abandoned or replaced fetches never complete; cookies last one run.
#include "demosite/statichttpserver.h"
#include "engine/networkfetcher.h"
#include "faultserver.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace caiji;

class TestNetworkFetcher : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void completion_data();
    void completion();
    void refusedRequestsCompleteLater_data();
    void refusedRequestsCompleteLater();
    void abandonedFetchNeverCompletes();
    void newFetchOnSlotReplacesOld();
    void cookiesLastOneRun_data();
    void cookiesLastOneRun();

private:
    QString page() const { return m_dir->filePath(u"page .txt"_s); }

    StaticHttpServer m_server;
    caiji::test::FaultServer m_faults; // records the headers of each request
    std::unique_ptr<QTemporaryDir> m_dir;
};

namespace {

constexpr int WaitMs = 20000;

// The folder's file names, to see that nothing (no ".part") is left behind.
QStringList filesIn(const QString &path)
{
    return QDir(path).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

} // namespace

void TestNetworkFetcher::initTestCase()
{
    m_server.setPage(u"/ok.htm"_s, "<html>hello</html>"_ba);
    m_server.setPage(u"/chinese.htm"_s, QStringLiteral("<p>中文</p>").toUtf8());
    m_server.setStatus(u"/404.htm"_s, 404);
    m_server.setStatus(u"/500.htm"_s, 500);
    m_server.setDropConnection(u"/drop.htm"_s);
    m_server.setRedirect(u"/moved.htm"_s, u"/ok.htm"_s);
    m_server.setRedirect(u"/loop1.htm"_s, u"/loop2.htm"_s);
    m_server.setRedirect(u"/loop2.htm"_s, u"/loop1.htm"_s);
    m_server.setPage(u"/slow.htm"_s, "<html>late</html>"_ba);
    m_server.setDelay(u"/slow.htm"_s, 200);
    m_server.setHugeBody(u"/huge.htm"_s, NetworkFetcher::MaxPageBytes + 1);
    m_server.setHugeBody(u"/big.bin"_s, NetworkFetcher::MaxPageBytes + 1);
    m_server.setPage(u"/empty.htm"_s, QByteArray());
    m_server.setStatus(u"/400.htm"_s, 400);
    // Ten redirects are followed, eleven are too many.
    for (int n = 2; n <= 11; ++n)
        m_server.setRedirect(u"/hop%1.htm"_s.arg(n), u"/hop%1.htm"_s.arg(n + 1));
    m_server.setRedirect(u"/hop12.htm"_s, u"/ok.htm"_s);
    QVERIFY(m_server.listen());
    const QByteArray article = "<html>" + QByteArray(4000, 'a') + " the end</html>";
    const QByteArray gzipped = caiji::test::FaultServer::gzip(article);
    const QByteArray zlibbed = qCompress(article).mid(4); // without Qt's length
    m_faults.setEncoded(u"/f/gzip.htm"_s, gzipped, "gzip"_ba, gzipped.size());
    m_faults.setEncoded(u"/f/raw-deflate.htm"_s, zlibbed.mid(2).chopped(4), "deflate"_ba, -1);
    m_faults.setEncoded(u"/f/gzip-cut.htm"_s, gzipped.left(gzipped.size() * 6 / 10), "gzip"_ba,
                        gzipped.size());
    m_faults.setEncoded(u"/f/gzip-cut-unannounced.htm"_s, gzipped.left(gzipped.size() * 6 / 10),
                        "gzip"_ba, -1);
    m_faults.setEncoded(u"/f/brotli.htm"_s, article, "br"_ba, article.size());
    m_faults.setPage(u"/login.htm"_s, "<html>in</html>"_ba);
    m_faults.setCookie(u"/login.htm"_s, "session=abc123; Path=/"_ba);
    m_faults.setPage(u"/member.htm"_s, "<html>member</html>"_ba);
    QVERIFY(m_faults.listen());
}

void TestNetworkFetcher::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestNetworkFetcher::completion_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<qint64>("count"); // -1: no file is left
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("text"); // the status, or how the failure begins
    const QByteArray article = "<html>" + QByteArray(4000, 'a') + " the end</html>";

    QTest::newRow("page") << u"/ok.htm"_s << u"page .txt"_s << qint64(18) << "<html>hello</html>"_ba
                          << u"HTTP 200"_s;
    QTest::newRow("bytes kept as sent") << u"/chinese.htm"_s << u"page .txt"_s << qint64(13)
                                        << QStringLiteral("<p>中文</p>").toUtf8() << u"HTTP 200"_s;
    QTest::newRow("empty body") << u"/empty.htm"_s << u"page .txt"_s << qint64(0) << QByteArray()
                                << u"HTTP 200"_s;
    QTest::newRow("empty download")
        << u"/empty.htm"_s << u"empty.bin"_s << qint64(0) << QByteArray() << u"HTTP 200"_s;
    QTest::newRow("redirect followed") << u"/moved.htm"_s << u"page .txt"_s << qint64(18)
                                       << "<html>hello</html>"_ba << u"HTTP 200"_s;
    QTest::newRow("ten redirects followed") << u"/hop3.htm"_s << u"page .txt"_s << qint64(18)
                                            << "<html>hello</html>"_ba << u"HTTP 200"_s;
    QTest::newRow("eleven redirects refused")
        << u"/hop2.htm"_s << u"page .txt"_s << qint64(-1) << QByteArray() << u"重定向过多"_s;
    QTest::newRow("slow") << u"/slow.htm"_s << u"page .txt"_s << qint64(17)
                          << "<html>late</html>"_ba << u"HTTP 200"_s;
    QTest::newRow("400") << u"/400.htm"_s << u"page .txt"_s << qint64(-1) << QByteArray()
                         << u"HTTP 400"_s;
    QTest::newRow("404") << u"/404.htm"_s << u"page .txt"_s << qint64(-1) << QByteArray()
                         << u"HTTP 404"_s;
    QTest::newRow("500") << u"/500.htm"_s << u"page .txt"_s << qint64(-1) << QByteArray()
                         << u"HTTP 500"_s;
    QTest::newRow("missing") << u"/nothing.htm"_s << u"page .txt"_s << qint64(-1) << QByteArray()
                             << u"HTTP 404"_s;
    QTest::newRow("dropped connection")
        << u"/drop.htm"_s << u"page .txt"_s << qint64(-1) << QByteArray() << QString();
    QTest::newRow("endless redirects")
        << u"/loop1.htm"_s << u"page .txt"_s << qint64(-1) << QByteArray() << u"重定向过多"_s;
    QTest::newRow("page past the size cap")
        << u"/huge.htm"_s << u"page .txt"_s << qint64(-1) << QByteArray() << u"超过大小上限"_s;
    QTest::newRow("a download may be larger")
        << u"/big.bin"_s << u"big.bin"_s << qint64(NetworkFetcher::MaxPageBytes + 1) << QByteArray()
        << u"HTTP 200"_s;
    QTest::newRow("gzip inflated")
        << u"/f/gzip.htm"_s << u"page .txt"_s << qint64(article.size()) << article << u"HTTP 200"_s;
    QTest::newRow("raw deflate inflated") << u"/f/raw-deflate.htm"_s << u"page .txt"_s
                                          << qint64(article.size()) << article << u"HTTP 200"_s;
    QTest::newRow("gzip cut, length announced")
        << u"/f/gzip-cut.htm"_s << u"page .txt"_s << qint64(-1) << QByteArray() << u"内容不完整"_s;
    QTest::newRow("gzip download cut, length announced")
        << u"/f/gzip-cut.htm"_s << u"cut.bin"_s << qint64(-1) << QByteArray() << u"内容不完整"_s;
    QTest::newRow("gzip cut, no length") << u"/f/gzip-cut-unannounced.htm"_s << u"page .txt"_s
                                         << qint64(-1) << QByteArray() << u"内容不完整"_s;
    QTest::newRow("an encoding not asked for") << u"/f/brotli.htm"_s << u"page .txt"_s << qint64(-1)
                                               << QByteArray() << u"不支持的内容编码：br"_s;
}

void TestNetworkFetcher::completion()
{
    QFETCH(QString, path);
    QFETCH(QString, fileName);
    QFETCH(qint64, count);
    QFETCH(QByteArray, body);
    QFETCH(QString, text);
    const QString url = path.startsWith(u"/f/"_s) ? m_faults.url(path) : m_server.url(path);

    NetworkFetcher fetcher;
    NetworkSettings once; // each fetch's own outcome; retries are tried through caiji run
    once.retries = 0;
    fetcher.startRun(once);
    fetcher.setAllowedDirectories({m_dir->path()});
    QSignalSpy done(&fetcher, &Fetcher::fetchDone);
    const QString file = m_dir->filePath(fileName);
    fetcher.fetch(7, url, file, u"1"_s, u"^prefix"_s);
    QCOMPARE(done.size(), 0); // never from inside fetch()
    QVERIFY(done.wait(WaitMs));
    QCOMPARE(done.size(), 1);
    const QList<QVariant> args = done.first();
    QCOMPARE(args.at(0).toInt(), 7);
    QCOMPARE(args.at(1).toString(), url);
    QCOMPARE(args.at(2).toString(), file);
    QVERIFY2(args.at(3).toString().startsWith(text), qPrintable(args.at(3).toString()));
    QCOMPARE(args.at(4).toLongLong(), count);
    QCOMPARE(args.at(5).toString(), u"1"_s);
    QCOMPARE(args.at(6).toString(), u"^prefix"_s);

    if (count < 0) {
        QCOMPARE(filesIn(m_dir->path()), QStringList());
    } else {
        QCOMPARE(filesIn(m_dir->path()), QStringList{fileName});
        QCOMPARE(QFileInfo(file).size(), count);
        if (!body.isEmpty()) {
            QFile stored(file);
            QVERIFY(stored.open(QIODevice::ReadOnly));
            QCOMPARE(stored.readAll(), body);
        }
    }
}

void TestNetworkFetcher::refusedRequestsCompleteLater_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("file"); // relative to the allowed folder
    QTest::newRow("ftp") << u"ftp://127.0.0.1/x.htm"_s << u"page .txt"_s;
    QTest::newRow("file scheme") << u"file:///etc/hostname"_s << u"page .txt"_s;
    QTest::newRow("no host") << u"http:///x.htm"_s << u"page .txt"_s;
    QTest::newRow("not an address") << u"::"_s << u"page .txt"_s;
    QTest::newRow("file outside the folder") << u"/ok.htm"_s << u"../escape .txt"_s;
    QTest::newRow("file in a sub-folder") << u"/ok.htm"_s << u"sub/inner .txt"_s;
}

void TestNetworkFetcher::refusedRequestsCompleteLater()
{
    QFETCH(QString, url);
    QFETCH(QString, file);
    const QString address = url.startsWith(u'/') ? m_server.url(url) : url;
    QVERIFY(QDir(m_dir->path()).mkpath(u"allowed/sub"_s));
    const QString allowed = m_dir->filePath(u"allowed"_s);

    NetworkFetcher fetcher;
    fetcher.setAllowedDirectories({allowed});
    QSignalSpy done(&fetcher, &Fetcher::fetchDone);
    const int requestsBefore = int(m_server.requests().size());
    fetcher.fetch(3, address, allowed + u'/' + file, QString(), QString());
    QCOMPARE(done.size(), 0);
    QVERIFY(done.wait(WaitMs));
    QCOMPARE(done.first().at(4).toLongLong(), qint64(-1));
    QCOMPARE(int(m_server.requests().size()), requestsBefore);
    QCOMPARE(filesIn(m_dir->path()), QStringList());
    QCOMPARE(filesIn(allowed), QStringList());
    QCOMPARE(filesIn(allowed + u"/sub"_s), QStringList());
}

void TestNetworkFetcher::abandonedFetchNeverCompletes()
{
    NetworkFetcher fetcher;
    fetcher.setAllowedDirectories({m_dir->path()});
    QSignalSpy done(&fetcher, &Fetcher::fetchDone);
    fetcher.fetch(1, m_server.url(u"/slow.htm"_s), page(), QString(), QString());
    fetcher.fetch(2, u"ftp://127.0.0.1/x"_s, m_dir->filePath(u"other .txt"_s), QString(),
                  QString());
    fetcher.abandonAll();
    QVERIFY(!done.wait(600)); // past the server's delay
    QCOMPARE(filesIn(m_dir->path()), QStringList());

    // The slots work again afterwards.
    fetcher.fetch(1, m_server.url(u"/ok.htm"_s), page(), QString(), QString());
    QVERIFY(done.wait(WaitMs));
    QCOMPARE(done.first().at(4).toLongLong(), qint64(18));
}

void TestNetworkFetcher::newFetchOnSlotReplacesOld()
{
    NetworkFetcher fetcher;
    fetcher.setAllowedDirectories({m_dir->path()});
    QSignalSpy done(&fetcher, &Fetcher::fetchDone);
    fetcher.fetch(5, m_server.url(u"/slow.htm"_s), m_dir->filePath(u"slow .txt"_s), QString(),
                  QString());
    fetcher.fetch(5, m_server.url(u"/ok.htm"_s), page(), QString(), QString());
    QVERIFY(done.wait(WaitMs));
    QTest::qWait(400); // the slow page would have arrived by now
    QCOMPARE(done.size(), 1);
    QCOMPARE(done.first().at(1).toString(), m_server.url(u"/ok.htm"_s));
    QCOMPARE(filesIn(m_dir->path()), QStringList{u"page .txt"_s});
}

void TestNetworkFetcher::cookiesLastOneRun_data()
{
    QTest::addColumn<bool>("newRun");
    QTest::newRow("same run: sent back") << false;
    QTest::newRow("next run: forgotten") << true;
}

void TestNetworkFetcher::cookiesLastOneRun()
{
    QFETCH(bool, newRun);
    NetworkFetcher fetcher;
    fetcher.setAllowedDirectories({m_dir->path()});
    fetcher.startRun();
    QSignalSpy done(&fetcher, &Fetcher::fetchDone);
    fetcher.fetch(1, m_faults.url(u"/login.htm"_s), page(), QString(), QString());
    QVERIFY(done.wait(WaitMs));
    if (newRun)
        fetcher.startRun();
    fetcher.fetch(1, m_faults.url(u"/member.htm"_s), page(), QString(), QString());
    QVERIFY(done.wait(WaitMs));
    QCOMPARE(done.last().at(4).toLongLong(), qint64(19));

    const caiji::test::FaultServer::Request &request = m_faults.requests().last();
    QCOMPARE(request.path, u"/member.htm"_s);
    QCOMPARE(request.header("Cookie").contains("session=abc123"), !newRun);
}

QTEST_GUILESS_MAIN(TestNetworkFetcher)
#include "tst_networkfetcher.moc"
