// Long addresses through the real fetcher and file system: whatever the
// length of an address's encoded name, its page and its download are stored
// under the name the collector reads, with room for every suffix the program
// adds (" .txt" and the temporary file's).
#include "demosite/statichttpserver.h"
#include "engine/enginestate.h"
#include "engine/networkfetcher.h"
#include "text/names.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace caiji;

class TestLongNames : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void storedWhateverTheLength_data();
    void storedWhateverTheLength();

private:
    StaticHttpServer m_server;
};

namespace {

// The length of an address's encoded name before any shortening.
qsizetype encodedBytes(const QString &url)
{
    QString name = url;
    for (QChar c : QStringView(u"\\/:*?\"<>|"))
        name.replace(c, u"\u2640x"_s);
    return name.toUtf8().size();
}

// An address on the server whose encoded name is `bytes` long; the path or
// the query grows.
QString addressWithNameBytes(const StaticHttpServer &server, qsizetype bytes, bool query)
{
    QString url = server.url(query ? u"/q?id=1&x="_s : u"/"_s);
    while (encodedBytes(url) < bytes)
        url += u'a';
    return url;
}

} // namespace

void TestLongNames::initTestCase()
{
    QVERIFY(m_server.listen());
}

void TestLongNames::storedWhateverTheLength_data()
{
    QTest::addColumn<qsizetype>("bytes");
    QTest::addColumn<bool>("download");
    QTest::addColumn<bool>("query");
    for (qsizetype bytes = 240; bytes <= 256; ++bytes) {
        for (bool download : {false, true}) {
            QTest::addRow("%lld bytes, %s", qlonglong(bytes), download ? "download" : "page")
                << bytes << download << (bytes % 2 == 0);
        }
    }
}

void TestLongNames::storedWhateverTheLength()
{
    QFETCH(qsizetype, bytes);
    QFETCH(bool, download);
    QFETCH(bool, query);
    QTemporaryDir dir;
    EngineState state;
    state.taskDir = dir.path();
    QVERIFY(QDir(dir.path()).mkpath(u"web"_s) && QDir(dir.path()).mkpath(u"wek"_s));
    const QString url = addressWithNameBytes(m_server, bytes, query);
    QCOMPARE(encodedBytes(url), bytes);
    const QByteArray body = "<html>" + url.toUtf8() + "</html>";
    m_server.setPage(
        QUrl(url).toString(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::FullyEncoded), body);

    NetworkFetcher fetcher;
    fetcher.setAllowedDirectories({state.webDir(), state.wekDir()});
    const QString file = download ? state.downloadFile(url) : state.pageFile(url);
    QVERIFY(QFileInfo(file).fileName().toUtf8().size() <= 255);
    QSignalSpy done(&fetcher, &Fetcher::fetchDone);
    fetcher.fetch(1, url, file, download ? u"0"_s : u"1"_s, QString());
    QVERIFY(done.wait(20000));
    QCOMPARE(done[0][3].toString(), u"HTTP 200"_s); // a status, not a failure
    QCOMPARE(done[0][4].toLongLong(), body.size());
    QFile stored(file);
    QVERIFY(stored.open(QIODevice::ReadOnly));
    QCOMPARE(stored.readAll(), body);
    // Nothing else is left: no temporary file.
    QCOMPARE(QDir(QFileInfo(file).absolutePath()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

QTEST_GUILESS_MAIN(TestLongNames)
#include "tst_longnames.moc"
