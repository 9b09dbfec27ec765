// Which addresses a site's robots.txt leaves to us, and which proxy a request
// takes: our group or "*", the longest rule, Allow on a tie, "*" and "$";
// the task's proxy before the environment's, no_proxy by name, domain,
// address range and "*".
#include "engine/proxychooser.h"
#include "engine/robotsrules.h"
#include "tasks/networksettings.h"

#include <QTest>
#include <QUrl>

using namespace Qt::StringLiterals;
using namespace caiji;

class TestRobotsRules : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void allows_data();
    void allows();
    void proxyFor_data();
    void proxyFor();
};

void TestRobotsRules::allows_data()
{
    QTest::addColumn<QByteArray>("robots");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<bool>("allowed");
    const QByteArray common = "User-agent: *\nDisallow: /private/\nAllow: /private/open\n"
                              "Disallow: /*.pdf$\nDisallow: /tmp # until June\n";
    QTest::newRow("not named") << common << "/news/1.html"_ba << true;
    QTest::newRow("a prefix") << common << "/private/a.html"_ba << false;
    QTest::newRow("the longer Allow wins") << common << "/private/open/b.html"_ba << true;
    QTest::newRow("* and $") << common << "/docs/x.pdf"_ba << false;
    QTest::newRow("$ ends the address") << common << "/docs/x.pdf?page=2"_ba << true;
    QTest::newRow("a comment is no part of the rule") << common << "/tmp/x"_ba << false;
    QTest::newRow("Allow wins a tie") << "User-agent: *\nDisallow: /a\nAllow: /a\n"_ba
                                      << "/a/b"_ba << true;
    QTest::newRow("our group, not *")
        << "User-agent: *\nDisallow: /\n\nUser-agent: Caiji\nDisallow: /x\n"_ba
        << "/y"_ba << true;
    QTest::newRow("two agents, one group") << "User-agent: other\nUser-agent: *\nDisallow: /y\n"_ba
                                           << "/y"_ba << false;
    QTest::newRow("an empty Disallow forbids nothing") << "User-agent: *\nDisallow:\n"_ba
                                                       << "/y"_ba << true;
    QTest::newRow("rules of another agent only") << "User-agent: other\nDisallow: /\n"_ba
                                                 << "/y"_ba << true;
}

void TestRobotsRules::allows()
{
    QFETCH(QByteArray, robots);
    QFETCH(QByteArray, path);
    QFETCH(bool, allowed);
    QCOMPARE(RobotsRules(robots, "caiji").allows(path), allowed);
}

void TestRobotsRules::proxyFor_data()
{
    QTest::addColumn<QString>("task");          // the task's proxy, if any
    QTest::addColumn<QStringList>("variables"); // name=value
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("through"); // host:port, or empty for direct
    const QStringList http{u"http_proxy=http://p:3128"_s};
    QTest::newRow("http_proxy") << QString() << http << u"http://a.cn/"_s << u"p:3128"_s;
    QTest::newRow("loopback too") << QString() << http << u"http://127.0.0.1:8/"_s << u"p:3128"_s;
    QTest::newRow("not for https") << QString() << http << u"https://a.cn/"_s << QString();
    QTest::newRow("upper case, all_proxy")
        << QString() << QStringList{u"ALL_PROXY=socks5://s:1080"_s} << u"https://a.cn/"_s
        << u"s:1080"_s;
    QTest::newRow("no_proxy: a domain")
        << QString() << http + QStringList{u"no_proxy=.cn"_s} << u"http://www.a.cn/"_s << QString();
    QTest::newRow("no_proxy: not a longer name")
        << QString() << http + QStringList{u"no_proxy=a.cn"_s} << u"http://xa.cn/"_s << u"p:3128"_s;
    QTest::newRow("no_proxy: an address range")
        << QString() << http + QStringList{u"NO_PROXY=10.0.0.0/8"_s} << u"http://10.1.2.3/"_s
        << QString();
    QTest::newRow("no_proxy: *") << QString() << http + QStringList{u"no_proxy=*"_s}
                                 << u"http://a.cn/"_s << QString();
    QTest::newRow("the task's proxy first")
        << u"socks5://t:1081"_s << http + QStringList{u"no_proxy=*"_s} << u"http://a.cn/"_s
        << u"t:1081"_s;
}

void TestRobotsRules::proxyFor()
{
    QFETCH(QString, task);
    QFETCH(QStringList, variables);
    QFETCH(QString, url);
    QFETCH(QString, through);
    QProcessEnvironment environment;
    for (const QString &variable : variables)
        environment.insert(variable.section(u'=', 0, 0), variable.section(u'=', 1));
    QString error;
    const std::optional<QNetworkProxy> own =
        task.isEmpty() ? std::nullopt : NetworkSettings::parseProxy(task, &error);
    const QNetworkProxy proxy = ProxyChooser(own, environment).proxyFor(QUrl(url));
    QCOMPARE(proxy.type() == QNetworkProxy::NoProxy
                 ? QString()
                 : proxy.hostName() + u':' + QString::number(proxy.port()),
             through);
}

QTEST_GUILESS_MAIN(TestRobotsRules)
#include "tst_robotsrules.moc"
