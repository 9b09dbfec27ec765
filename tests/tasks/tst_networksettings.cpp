// A task's [network] settings read from data/settings.ini: each malformed
// value refused with its key named, list values that hold commas, and
// cookies.txt files (expired cookies left out).
#include "tasks/networksettings.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace caiji;

class TestNetworkSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void read_data();
    void read();
};

namespace {

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

const QByteArray Cookies = "# Netscape HTTP Cookie File\n"
                           ".site.cn\tTRUE\t/\tFALSE\t0\tsession\tabc\n"
                           "#HttpOnly_site.cn\tFALSE\t/m\tTRUE\t4102444800\tuid\t7\n"
                           "site.cn\tFALSE\t/\tFALSE\t946684800\told\tgone\n";

} // namespace

void TestNetworkSettings::read_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("error"); // how the refusal begins; empty: read
    QTest::addColumn<QString>("shown"); // what was read, for a read

    QTest::newRow("every key") << "[network]\nretries=0\nconnectionsPerHost=2\nminDelayMs=500\n"
                                  "robots=true\nuserAgent=Bot/1\ncookiesFile=c.txt\n"
                                  "proxy=socks5://u:p@127.0.0.1:1081\n"_ba
                               << QString() << u"0 2 500 1 2 0 1:127.0.0.1:1081:u"_s;
    QTest::newRow("a header value with commas")
        << "[network]\nheaders=Referer: http://a.cn/, Accept-Language: zh-CN,zh;q=0.9\n"_ba
        << QString() << u"2 6 0 0 0 2 none"_s;
    QTest::newRow("negative retries")
        << "[network]\nretries=-1\n"_ba << u"retries=-1"_s << QString();
    QTest::newRow("more connections than the network layer opens")
        << "[network]\nconnectionsPerHost=8\n"_ba << u"connectionsPerHost=8"_s << QString();
    QTest::newRow("a delay that is no number")
        << "[network]\nminDelayMs=1s\n"_ba << u"minDelayMs=1s"_s << QString();
    QTest::newRow("robots neither true nor false")
        << "[network]\nrobots=yes\n"_ba << u"robots=yes"_s << QString();
    QTest::newRow("a header without a name")
        << "[network]\nheaders=: x\n"_ba << u"headers"_s << QString();
    QTest::newRow("a cookies file of another format")
        << "[network]\ncookiesFile=bad.txt\n"_ba << u"cookiesFile：第1行"_s << QString();
    QTest::newRow("a CA file without certificates")
        << "[network]\ncaFile=c.txt\n"_ba << u"caFile"_s << QString();
}

void TestNetworkSettings::read()
{
    QFETCH(QByteArray, ini);
    QFETCH(QString, error);
    QFETCH(QString, shown);
    QTemporaryDir data;
    QVERIFY(writeFile(data.filePath(u"settings.ini"_s), ini));
    QVERIFY(writeFile(data.filePath(u"c.txt"_s), Cookies));
    QVERIFY(writeFile(data.filePath(u"bad.txt"_s), "name=value; path=/\n"));
    QString why;
    const std::optional<NetworkSettings> read = NetworkSettings::read(data.path(), &why);
    QCOMPARE(read.has_value(), error.isEmpty());
    if (!read) {
        QVERIFY2(why.startsWith(error), qPrintable(why));
        return;
    }
    const NetworkSettings &s = *read;
    const QString proxy = s.taskProxy ? u"%1:%2:%3:%4"_s.arg(int(s.taskProxy->type()))
                                            .arg(s.taskProxy->hostName())
                                            .arg(s.taskProxy->port())
                                            .arg(s.taskProxy->user())
                                      : u"none"_s;
    QCOMPARE(u"%1 %2 %3 %4 %5 %6 %7"_s.arg(s.retries)
                 .arg(s.connectionsPerHost)
                 .arg(s.minDelayMs)
                 .arg(int(s.robots))
                 .arg(s.cookies.size()) // the expired cookie is left out
                 .arg(s.headers.size())
                 .arg(proxy),
             shown);
}

QTEST_GUILESS_MAIN(TestNetworkSettings)
#include "tst_networksettings.moc"
