// Reading fetched pages (readtext) and task definition files (getuc,
// decodeTaskText) from real encoded files made with iconv
// (tests/data/make-fixtures.sh).
#include "text/readtext.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace caiji;

class TestReadText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void readtextDecodes_data();
    void readtextDecodes();
    void readtextUndeclared_data();
    void readtextUndeclared();
    void readtextCountsCharacters_data();
    void readtextCountsCharacters();
    void serverCharset_data();
    void serverCharset();
    void readtextUnreadableIsEmpty();
    void utf8FormEqualsDecodedText();

    void getucReadsNumber_data();
    void getucReadsNumber();
    void getucUnreadableIsZeroNotStale();
    void taskFilesOfBothOrigins_data();
    void taskFilesOfBothOrigins();
    void decodeTaskTextChoosesUtf8OrGb18030();

private:
    QString readtextFixture(const char *name) const;
    QString writeFile(const QString &name, const QByteArray &bytes);

    QTemporaryDir m_dir;
};

namespace {

QString fixture(const QString &relative)
{
    return QStringLiteral(CAIJI_TEST_DATA) + u'/' + relative;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

const QString padding500 = u"<!--"_s + QString(479, u'x') + u"-->"_s;

} // namespace

void TestReadText::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QFile::exists(fixture(u"readtext/gb2312.html"_s)));
    QCOMPARE(padding500.size(), 486);
}

QString TestReadText::writeFile(const QString &name, const QByteArray &bytes)
{
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    file.write(bytes);
    return path;
}

void TestReadText::readtextDecodes_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("expected");

    QTest::newRow("gb2312 declared")
        << u"gb2312.html"_s << u"<meta charset=gb2312><p>信息采集测试</p>"_s;
    QTest::newRow("upper-case declaration, GBK-only character")
        << u"gbk-upper.html"_s
        << u"<META CONTENT=\"text/html; CHARSET=GB2312\"><p>王堃的新闻</p>"_s;
    QTest::newRow("utf-8 declared")
        << u"utf8.html"_s << u"<meta charset=utf-8><p>信息采集测试</p>"_s;
    QTest::newRow("utf-8 declared, BOM dropped")
        << u"utf8-bom.html"_s << u"<meta charset=utf-8><p>信息采集测试</p>"_s;
    QTest::newRow("big5 declared") << u"big5.html"_s << u"<META charset=BIG5><p>繁體中文測試</p>"_s;
    QTest::newRow("utf-8 then gb2312: gb2312")
        << u"both-utf8-first.html"_s
        << u"<meta charset=utf-8><meta charset=gb2312><p>信息采集</p>"_s;
    QTest::newRow("gb2312 then utf-8: gb2312")
        << u"both-gb2312-first.html"_s
        << u"<meta charset=gb2312><meta charset=utf-8><p>信息采集</p>"_s;
    QTest::newRow("declaration ending at character 500")
        << u"decl-ends-at-500.html"_s << padding500 + u"charset=gb2312<p>信息采集</p>"_s;
    QTest::newRow("blanks around = go to the sniff")
        << u"blanks.html"_s << u"<meta charset = gb2312><p>信息采集测试</p>"_s;
    QTest::newRow("undeclared UTF-8") << u"undeclared-utf8.html"_s << u"<p>信息采集测试</p>"_s;
    QTest::newRow("undeclared with 0xFE: first read")
        << u"undeclared-gbk-fe.html"_s << u"<p>湖北政府服务</p><!-- end of page -->"_s;
    QTest::newRow("ten ASCII characters") << u"ten.txt"_s << u"0123456789"_s;
    QTest::newRow("gb2312 past 4 KB, Chinese in its head")
        << u"gb2312-over-4k.html"_s
        << u"<meta charset=gb2312><p>信息采集</p>"_s + QString(5000, u'x') + u"<p>结尾</p>"_s;
}

void TestReadText::readtextDecodes()
{
    QFETCH(QString, file);
    QFETCH(QString, expected);
    QCOMPARE(readtext(fixture(u"readtext/"_s + file)), expected);
}

void TestReadText::readtextUndeclared_data()
{
    // Pages that declare nothing and are not UTF-8: read as GB18030 or Big5,
    // as the detector judges, no longer as UTF-8 turned to replacement marks.
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("kept");

    QTest::newRow("undeclared GBK") << u"undeclared-gbk.html"_s << u"信息采集测试"_s;
    QTest::newRow("declaration ending at character 501")
        << u"decl-ends-at-501.html"_s << u"信息采集"_s;
    QTest::newRow("ten GBK characters, 20 bytes")
        << u"ten-chinese-gbk.txt"_s << u"一二三四五六七八九十"_s;
    QTest::newRow("a GBK sentence") << u"undeclared-gbk-long.html"_s << u"简体中文"_s;
    QTest::newRow("a Big5 sentence") << u"undeclared-big5.html"_s << u"繁體中文"_s;
}

void TestReadText::readtextUndeclared()
{
    QFETCH(QString, file);
    QFETCH(QString, kept);
    const QString text = readtext(fixture(u"readtext/"_s + file));
    QVERIFY2(text.contains(kept), qPrintable(text));
    QCOMPARE(unreadableCharacters(text), 0);
}

void TestReadText::readtextCountsCharacters_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("empty");

    QTest::newRow("9 ASCII characters") << u"nine.txt"_s << true;
    QTest::newRow("10 ASCII characters") << u"ten.txt"_s << false;
    QTest::newRow("9 GBK characters in 18 bytes") << u"nine-chinese-gbk.txt"_s << true;
    QTest::newRow("10 GBK characters in 20 bytes") << u"ten-chinese-gbk.txt"_s << false;
}

void TestReadText::readtextCountsCharacters()
{
    QFETCH(QString, file);
    QFETCH(bool, empty);
    QCOMPARE(readtext(fixture(u"readtext/"_s + file)).isEmpty(), empty);
}

void TestReadText::serverCharset_data()
{
    // The server's charset counts when the page declares none; bytes that
    // are UTF-8 stay UTF-8 unless a GB or Big5 name would read them otherwise.
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QString>("set");
    const QByteArray gbk =
        QStringEncoder("GB18030").encode(u"<p>中文网页，服务器声明了字符集。</p>"_s);
    const QByteArray big5 =
        QStringEncoder("Big5").encode(u"<p>繁體中文網頁，伺服器聲明了字元集。</p>"_s);
    const QByteArray utf8 = u"<p>中文网页，字节是UTF-8。</p>"_s.toUtf8();

    QTest::newRow("gbk by the header") << gbk << "gbk"_ba << u"GB18030"_s;
    QTest::newRow("an alias: x-gbk") << gbk << "x-gbk"_ba << u"GB18030"_s;
    QTest::newRow("big5 by the header") << big5 << "big5"_ba << u"Big5"_s;
    QTest::newRow("big5-hkscs by the header") << big5 << "big5-hkscs"_ba << u"Big5-HKSCS"_s;
    QTest::newRow("the page's declaration wins")
        << "<meta charset=gb2312>"_ba + gbk << "big5"_ba << u"GB18030"_s;
    QTest::newRow("UTF-8 bytes stay UTF-8") << utf8 << "gbk"_ba << u"UTF-8"_s;
    QTest::newRow("a header of UTF-8 over GBK bytes: garbled") << gbk << "utf-8"_ba << u"UTF-8"_s;
    QTest::newRow("an unknown name: the bytes decide") << big5 << "koi8-r"_ba << u"Big5"_s;
}

void TestReadText::serverCharset()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, header);
    QFETCH(QString, set);
    PageCharset charset;
    const QString text = decodePage(bytes, &charset, header);
    QCOMPARE(charset.name, set);
    QCOMPARE(decodePageToUtf8(bytes, header), text.toUtf8());
    // Read in the set it was written in, nothing is left undecoded.
    QCOMPARE(unreadableCharacters(text) > 0, header == "utf-8" && !bytes.isValidUtf8());
}

void TestReadText::readtextUnreadableIsEmpty()
{
    QCOMPARE(readtext(fixture(u"readtext/no-such-file.html"_s)), QString());
    QCOMPARE(readtext(QString()), QString());
    QCOMPARE(readtext(m_dir.path()), QString()); // a folder
    // A readable page read before leaves nothing behind.
    QVERIFY(!readtext(fixture(u"readtext/utf8.html"_s)).isEmpty());
    QCOMPARE(readtext(fixture(u"readtext/no-such-file.html"_s)), QString());
}

void TestReadText::utf8FormEqualsDecodedText()
{
    // Every fixture (declared and sniffed, GB18030, Big5, broken UTF-8, a BOM),
    // an empty page and one too short to read.
    QList<QByteArray> pages = {QByteArray(), "<p>abc</p>"_ba, "\xEF\xBB\xBF<p>\xE4\xBF\xA1</p>"_ba};
    const QDir dir(fixture(u"readtext"_s));
    for (const QString &name : dir.entryList(QDir::Files))
        pages << fileBytes(dir.filePath(name));
    QVERIFY(pages.size() > 10);
    for (const QByteArray &page : std::as_const(pages))
        QCOMPARE(decodePageToUtf8(page), decodePage(page).toUtf8());
    // A page already in UTF-8 is passed on as it is, not copied.
    const QByteArray utf8 = fileBytes(fixture(u"readtext/utf8.html"_s));
    QCOMPARE(decodePageToUtf8(utf8).constData(), utf8.constData());
}

void TestReadText::getucReadsNumber_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("expected");

    QTest::newRow("12") << QByteArray("ur=[[1|a|1|2|1|b]]\r\nuc=[[12]]\r\n") << 12;
    QTest::newRow("blanks around 7") << QByteArray("uc=[[ 7 ]]") << 7;
    QTest::newRow("blank before, newline after") << QByteArray("uc=[[ 3\r\n]]") << 3;
    QTest::newRow("7.5 to 8") << QByteArray("uc=[[7.5]]") << 8;
    QTest::newRow("6.5 to 6") << QByteArray("uc=[[6.5]]") << 6;
    QTest::newRow("40000") << QByteArray("uc=[[40000]]") << 0;
    QTest::newRow("negative") << QByteArray("uc=[[-2]]") << -2;
    QTest::newRow("letters") << QByteArray("uc=[[abc]]") << 0;
    QTest::newRow("empty value") << QByteArray("uc=[[]]") << 0;
    QTest::newRow("missing ]]") << QByteArray("uc=[[12\r\n") << 0;
    QTest::newRow("first occurrence") << QByteArray("uc=[[4]]uc=[[5]]") << 4;
    QTest::newRow("upper-case key not found") << QByteArray("UC=[[12]]") << 0;
    // Missing key: the value is cut from character 5 up to the first "]]".
    QTest::newRow("upper-case key, char 5 read") << QByteArray("abcd9]]\r\nUC=[[12]]") << 9;
    QTest::newRow("missing key, char 5 no number") << QByteArray("ur=[[7]]") << 0;
    QTest::newRow("empty file") << QByteArray() << 0;
    QTest::newRow("GB18030 comment before")
        << QByteArray(QStringEncoder("GB18030").encode(u"任务说明：\r\nuc=[[6]]"_s)) << 6;
}

void TestReadText::getucReadsNumber()
{
    QFETCH(QByteArray, content);
    QFETCH(int, expected);
    const QString path = writeFile(u"task.txt"_s, content);
    QVERIFY(!path.isEmpty());
    QCOMPARE(int(getuc(path)), expected);
    QCOMPARE(int(fieldCountOf(readTaskText(path))), expected);
}

void TestReadText::getucUnreadableIsZeroNotStale()
{
    const QString good = writeFile(u"good.txt"_s, "uc=[[12]]");
    QCOMPARE(int(getuc(good)), 12);
    // An unreadable file reads as empty text, never as the file read before.
    QCOMPARE(int(getuc(m_dir.filePath(u"missing/task.txt"_s))), 0);
    QCOMPARE(int(getuc(good)), 12);
    QCOMPARE(int(getuc(m_dir.path())), 0); // a folder
    QCOMPARE(readTaskText(m_dir.filePath(u"missing.txt"_s)), QString());
}

void TestReadText::taskFilesOfBothOrigins_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("GB18030 (Chinese Windows)") << u"tasks/task-gb18030.txt"_s;
    QTest::newRow("UTF-8 with BOM") << u"tasks/task-utf8-bom.txt"_s;
}

void TestReadText::taskFilesOfBothOrigins()
{
    QFETCH(QString, file);
    const QString expected =
        u"任务：新闻采集 \U00020BB7\r\nur=[[2|http://www.example.com/|100|/news/||/list/||4||]]\r\n"
        u"uc=[[3]]\r\n<getm1>\r\nw1=[[1]]w2=[[0]]w3=[[1]]w4=[[<h1>^</h1>^^^-1^0]]w5=[[0]]"
        u"w6=[[]]w7=[[0]]w8=[[]]\r\n<getm1>\r\na1=[[1|【|】||||]]\r\nds=[[0|0|0|0|200|10]]\r\n"_s;
    const QString path = fixture(file);
    QCOMPARE(decodeTaskText(fileBytes(path)), expected);
    QCOMPARE(readTaskText(path), expected);
    QCOMPARE(int(getuc(path)), 3);
}

void TestReadText::decodeTaskTextChoosesUtf8OrGb18030()
{
    QCOMPARE(decodeTaskText(QByteArray()), QString());
    QCOMPARE(decodeTaskText("uc=[[2]]"), u"uc=[[2]]"_s);
    QCOMPARE(decodeTaskText("\xEF\xBB\xBFuc=[[2]]"), u"uc=[[2]]"_s);
    // With the BOM dropped, a missing key is cut from the fifth character of
    // the text, not of the bytes.
    QCOMPARE(int(fieldCountOf(decodeTaskText("\xEF\xBB\xBF"
                                             "abcd9]]"))),
             9);
    const QByteArray gbk = QStringEncoder("GB18030").encode(u"采集"_s);
    QCOMPARE(gbk, QByteArray("\xB2\xC9\xBC\xAF"));
    QCOMPARE(decodeTaskText(gbk), u"采集"_s);
    QCOMPARE(decodeTaskText(u"采集"_s.toUtf8()), u"采集"_s);
}

QTEST_GUILESS_MAIN(TestReadText)
#include "tst_readtext.moc"
