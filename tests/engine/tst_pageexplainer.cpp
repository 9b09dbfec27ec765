// Explanations of what a task's rules make of a page: each broken rule is
// named with the reason a rule writer needs, markers are located by line and
// column, and the explanation's outcomes are exactly what the collector's cut
// gives for the same page.
#include "engine/pagecutter.h"
#include "engine/pageexplainer.h"
#include "tempworkspace.h"
#include "text/readtext.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace caiji;
using namespace caiji::test;

class TestPageExplainer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void brokenRules_data();
    void brokenRules();
    void markersLocated();
    void charsetReasons_data();
    void charsetReasons();
};

namespace {

const QString Url = u"http://site.com/a/1.htm"_s;
const QByteArray Page = "<html><head><meta charset=utf-8><title>标题一</title></head>\n"
                        "<body><div class=\"t\">正文 &amp; 更多</div>\n"
                        "<ul><li>甲</li><li>乙</li></ul></body></html>";

// A task of `uc` fields whose level 1 has one marker field, one pattern field
// (both optional unless `alist` is set) and the rest given.
QString task(const QString &marker, const QString &pattern, const QString &rest = QString(),
             const QString &uc = u"3"_s)
{
    const int patterns = pattern.isEmpty() ? 0 : 1;
    return u"ur=[[1|"_s + Url + u"|1|1|1|]]uc=[["_s + uc + u"]]"_s +
           sectionText(
               1,
               {u"1"_s, u"1"_s, u"1"_s, marker, QString::number(patterns), pattern, u"0"_s, {}}) +
           rest;
}

} // namespace

void TestPageExplainer::brokenRules_data()
{
    QTest::addColumn<QString>("taskText");
    QTest::addColumn<QString>("problem"); // part of the first problem; empty: none
    QTest::addColumn<bool>("yielded");
    const QString good = u"<div class=\"t\">^</div>^\">^</div>^-1^0"_s;
    const QString a1 = u"a1=[[1||||||]]"_s;
    QTest::newRow("every field found") << task(good, u"标题.^-1^0"_s) << QString() << true;
    QTest::newRow("misspelt region start")
        << task(u"<div class=\"x\">^</div>^\">^</div>^-1^0"_s, {})
        << u"区域开始标记“<div class=\"x\">”在页面中找不到"_s << true;
    QTest::newRow("region end missing") << task(u"<div class=\"t\">^</table>^\">^</div>^-1^0"_s, {})
                                        << u"区域结束标记“</table>”"_s << true;
    QTest::newRow("value start missing") << task(u"<div class=\"t\">^</div>^<b>^</div>^-1^0"_s, {})
                                         << u"取值开始标记“<b>”"_s << true;
    QTest::newRow("value end missing") << task(u"<div class=\"t\">^</div>^\">^</b>^-1^0"_s, {})
                                       << u"取值结束标记“</b>”在取值开始之后找不到"_s << true;
    QTest::newRow("value end past the region")
        << task(u"<div class=\"t\">^</div>^\">^</li>^-1^0"_s, {}) << u"区域（块）结束之后"_s
        << true;
    QTest::newRow("invalid pattern") << task(good, u"标题(^-1^0"_s) << u"正则表达式无效"_s << true;
    QTest::newRow("pattern without match")
        << task(good, u"\\d{4}^-1^0"_s) << u"正则表达式“\\d{4}”在页面中没有匹配"_s << true;
    QTest::newRow("a-list must contain fails")
        << task(u"<div class=\"t\">^</div>^\">^</div>^-1^1"_s, {}, u"a1=[[1|||||缺少的词|]]"_s)
        << u"必含：缺少“缺少的词”"_s << false;
    QTest::newRow("a-list must not contain fails")
        << task(u"<div class=\"t\">^</div>^\">^</div>^-1^1"_s, {}, u"a1=[[1||||||更多]]"_s)
        << u"不含：含有“更多”"_s << false;
    QTest::newRow("required field empty")
        << task(u"<div class=\"x\">^</div>^\">^</div>^-1^1"_s, {}, a1) << u"整条记录丢弃"_s
        << false;
    QTest::newRow("record too short")
        << task(u"<div class=\"x\">^</div>^\">^</div>^-1^0"_s, {}, {}, u"60"_s)
        << u"记录被丢弃：记录行只有"_s << false;
    QTest::newRow("level part left out: a download")
        << task(u"<div class=\"t\">^</div>^\">^</div>"_s, {}) << u"没有写层部分，按下载"_s << true;
    // Typed wrong with a Chinese input method, or not a number at all.
    const auto mode = [&](const QString &w1) -> QString {
        return u"uc=[[3]]"_s + sectionText(1, {w1, u"1"_s, u"1"_s, good, u"0"_s, {}, u"0"_s, {}});
    };
    QTest::newRow("w1 not a number") << mode(u"x"_s) << u"w1=[[x]]不是数字"_s << true;
    QTest::newRow("w1 empty") << mode(QString()) << u"w1=[[]]不是数字"_s << true;
    QTest::newRow("w1 a full-width digit") << mode(u"１"_s) << u"“１”用了全角字符"_s << true;
    QTest::newRow("level part with a full-width minus")
        << task(u"<div class=\"t\">^</div>^\">^</div>^－1^0"_s, {}) << u"层部分“－1”用了全角"_s
        << true;
    QTest::newRow("must-not with a trailing ^")
        << task(u"<div class=\"t\">^</div>^\">^</div>^-1^1"_s, {}, u"a1=[[1||||||没有的词^]]"_s)
        << u"有一项是空的"_s << false;
    QTest::newRow("must-contain failing on letter case only")
        << task(u"<div class=\"t\">^</div>^\">^</div>^-1^1"_s, {}, u"a1=[[1|||||AMP|]]"_s)
        << u"只是大小写不同"_s << false;
    QTest::newRow("pattern error told in the pattern as written")
        << task(good, u"\\u6807+*^-1^0"_s)
        << u"前面没有可以重复的内容（要找这个符号本身，在它前面加“\\”）（在第8个字符处）"_s << true;
    QTest::newRow("no section for the level")
        << u"ur=[[1|x|1|1|1|]]uc=[[2]]"_s << u"没有第1层的规则段"_s << true;
    QTest::newRow("page mode 2, second block fails") << u"uc=[[1]]"_s +
                                                            sectionText(1, {u"2"_s,
                                                                            u"<ul>"_s,
                                                                            u"<li>"_s,
                                                                            u"</li>"_s,
                                                                            u"1"_s,
                                                                            u"<li>^</li>^-1^1"_s,
                                                                            u"0"_s,
                                                                            {}}) +
                                                            u"a1=[[0|||||甲|]]"_s
                                                     << u"第2块的块字段1：a列表1的必含"_s << true;
}

void TestPageExplainer::brokenRules()
{
    QFETCH(QString, taskText);
    QFETCH(QString, problem);
    QFETCH(bool, yielded);
    const PageTrace trace = explainPage(taskText, Page, Url, 1, u"HTTP 200"_s);
    if (problem.isEmpty())
        QCOMPARE(trace.firstProblem(), QString());
    else
        QVERIFY2(trace.firstProblem().contains(problem), qPrintable(trace.firstProblem()));
    QCOMPARE(trace.yieldedSomething(), yielded);
    QVERIFY(explanationText(trace).startsWith(problem.isEmpty() ? u"没有问题"_s
                                              : yielded         ? u"请检查："_s
                                                                : u"需要修改："_s));

    // The collector's cut of the same page gives exactly the explained outcomes.
    TaskDefinition definition;
    readTaskDefinition(taskText, definition);
    WValues w;
    const CutResult cut =
        PageCutter(definition, fieldCountOf(taskText), w).cut(decodePage(Page), Url, 1, {});
    QStringList stored, queued;
    for (const RecordTrace &record : trace.records) {
        if (record.outcome == RecordTrace::Outcome::Stored)
            stored << record.line;
        if (record.outcome == RecordTrace::Outcome::Queued)
            queued << record.line;
    }
    QCOMPARE(stored, cut.records);
    QCOMPARE(queued, cut.queueEntries);
}

void TestPageExplainer::markersLocated()
{
    const PageTrace trace = explainPage(task(u"<div class=\"t\">^</div>^\">^</div>^-1^0"_s, {}),
                                        Page, Url, 1, u"HTTP 200"_s);
    QCOMPARE(trace.records.size(), 1);
    const FieldTrace &field = trace.records[0].fields[1]; // after the page address
    QCOMPARE(field.markers.size(), 4);
    QCOMPARE(field.markers[0].line, 2);
    QCOMPARE(field.markers[0].column, 7);
    QCOMPARE(field.markers[3].line, 2);
    QCOMPARE(field.markers[3].column, 33);
    QCOMPARE(field.value, u"正文 &amp; 更多"_s);
}

void TestPageExplainer::charsetReasons_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("header"); // the server's charset
    QTest::addColumn<QString>("charset");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("problem"); // how the first problem begins; empty: none
    const QByteArray gbk = QByteArray::fromHex("d6d0cec4fefe"); // 中文 and two 0xFE
    QTest::newRow("declared") << Page << QByteArray() << u"UTF-8"_s << u"声明了charset=utf-8"_s
                              << QString();
    const QByteArray undeclared = "<html><title>" + gbk + "</title><body>0123456789</body></html>";
    QTest::newRow("undeclared, GB bytes")
        << undeclared << QByteArray() << u"GB18030"_s << u"字符检测"_s << QString();
    QTest::newRow("undeclared, the server says gbk")
        << undeclared << "gbk"_ba << u"GB18030"_s << u"Content-Type声明了charset=gbk"_s
        << QString();
    // Read in the wrong set, the page fails before any marker: that comes first.
    QTest::newRow("GB bytes the server calls UTF-8")
        << undeclared << "utf-8"_ba << u"UTF-8"_s << u"charset=utf-8"_s << u"字符集不对"_s;
    const QByteArray body = "<body>" + gbk + "0123456789</body></html>";
    // These have no title: a marker is the first problem.
    const QString noTitle = u"标记字段1"_s;
    QTest::newRow("quoted gb2312") << "<html><meta charset=\"gb2312\">" + body << QByteArray()
                                   << u"GB18030"_s << u"gb2312"_s << noTitle;
    QTest::newRow("gbk") << "<html><meta content='text/html; charset=GBK'>" + body << QByteArray()
                         << u"GB18030"_s << u"gbk"_s << noTitle;
    QTest::newRow("quoted big5") << "<html><meta charset='big5'><body>" +
                                        QByteArray::fromHex("a4a4a4e5") + "0123456789</body>"
                                 << QByteArray() << u"Big5"_s << u"big5"_s << noTitle;
    QTest::newRow("undeclared, UTF-8 bytes")
        << QStringLiteral("<html><title>中文</title><body>0123456789</body></html>").toUtf8()
        << QByteArray() << u"UTF-8"_s << u"没有声明"_s << QString();
}

void TestPageExplainer::charsetReasons()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, header);
    QFETCH(QString, charset);
    QFETCH(QString, reason);
    QFETCH(QString, problem);
    const PageTrace trace = explainPage(task(u"<title>^</title>^<title>^</title>^-1^0"_s, {}),
                                        bytes, Url, 1, u"HTTP 200"_s, header);
    QCOMPARE(trace.charset, charset);
    QVERIFY2(trace.charsetReason.contains(reason), qPrintable(trace.charsetReason));
    QVERIFY2(trace.firstProblem().startsWith(problem), qPrintable(trace.firstProblem()));
    QCOMPARE(trace.firstProblem().isEmpty(), problem.isEmpty());
}

QTEST_GUILESS_MAIN(TestPageExplainer)
#include "tst_pageexplainer.moc"
