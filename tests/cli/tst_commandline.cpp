// The command line of the built program, run as a separate process: output
// as UTF-8, exit codes, and one line on stderr for every usage error.
#include <QDir>
#include <QProcess>
#include <QTest>

#include "programrun.h"

using namespace Qt::StringLiterals;

class TestCommandLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void helpExitsZero();
    void htm2txtPrintsUtf8_data();
    void htm2txtPrintsUtf8();
    void usageErrors_data();
    void usageErrors();
};

namespace {

using Result = caiji::test::ProgramRun;

Result runCaiji(const QStringList &arguments, const QString &locale = {})
{
    QProcessEnvironment environment;
    if (!locale.isEmpty()) {
        environment.insert(u"LC_ALL"_s, locale);
        environment.insert(u"LANG"_s, locale);
    }
    return caiji::test::runProgram(QStringLiteral(CAIJI_BINARY), arguments, 30000, environment);
}

QString fixture(const QString &relative)
{
    return QStringLiteral(CAIJI_TEST_DATA) + u'/' + relative;
}

} // namespace

void TestCommandLine::initTestCase()
{
    QVERIFY2(QFile::exists(QStringLiteral(CAIJI_BINARY)), CAIJI_BINARY);
}

void TestCommandLine::helpExitsZero()
{
    for (const QString &option : {u"--help"_s, u"-h"_s, u"help"_s}) {
        const Result result = runCaiji({option});
        QCOMPARE(result.exitCode, 0);
        QVERIFY(result.out.startsWith("Usage: caiji"));
        QVERIFY(result.out.contains("htm2txt FILE"));
        QCOMPARE(result.err, QByteArray());
    }
}

void TestCommandLine::htm2txtPrintsUtf8_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("text");

    QTest::newRow("gb2312 page") << u"readtext/gb2312.html"_s << u"信息采集测试\r\n"_s;
    QTest::newRow("big5 page") << u"readtext/big5.html"_s << u"繁體中文測試\r\n"_s;
    QTest::newRow("utf-8 page with BOM") << u"readtext/utf8-bom.html"_s << u"信息采集测试\r\n"_s;
    QTest::newRow("short file: nothing") << u"readtext/nine.txt"_s << QString();
}

void TestCommandLine::htm2txtPrintsUtf8()
{
    QFETCH(QString, file);
    QFETCH(QString, text);
    const Result result = runCaiji({u"htm2txt"_s, fixture(file)});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out, text.toUtf8());
    QCOMPARE(result.err, QByteArray());
    // UTF-8 whatever the locale says.
    const Result plainLocale = runCaiji({u"htm2txt"_s, fixture(file)}, u"C"_s);
    QCOMPARE(plainLocale.exitCode, 0);
    QCOMPARE(plainLocale.out, text.toUtf8());
}

void TestCommandLine::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("unknown command") << QStringList{u"frobnicate"_s};
    QTest::newRow("unknown command with a file")
        << QStringList{u"frobnicate"_s, fixture(u"readtext/ten.txt"_s)};
    QTest::newRow("htm2txt without FILE") << QStringList{u"htm2txt"_s};
    QTest::newRow("htm2txt with two files") << QStringList{
        u"htm2txt"_s, fixture(u"readtext/ten.txt"_s), fixture(u"readtext/nine.txt"_s)};
    QTest::newRow("htm2txt missing file")
        << QStringList{u"htm2txt"_s, fixture(u"readtext/no-such-file.html"_s)};
    QTest::newRow("htm2txt on a folder") << QStringList{u"htm2txt"_s, fixture(u"readtext"_s)};
}

void TestCommandLine::usageErrors()
{
    QFETCH(QStringList, arguments);
    const Result result = runCaiji(arguments);
    QCOMPARE(result.exitCode, 2);
    QCOMPARE(result.out, QByteArray());
    QVERIFY2(result.err.startsWith("caiji: "), result.err.constData());
    QVERIFY2(result.err.endsWith('\n'), result.err.constData());
    QCOMPARE(result.err.count('\n'), 1);
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
