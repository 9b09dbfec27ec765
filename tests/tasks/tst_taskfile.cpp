// The task definition file reader: plain entries, level sections, a-lists,
// display specs and the task-start reading, each by the format's exact rules.
#include "tasks/taskfile.h"
#include "text/numbers.h"
#include "text/readtext.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace caiji;

class TestTaskFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void entryValueWithoutPresenceTest_data();
    void entryValueWithoutPresenceTest();
    void presentEntryValue_data();
    void presentEntryValue();
    void levelSections_data();
    void levelSections();
    void alistEntries_data();
    void alistEntries();
    void displaySpecsWalk_data();
    void displaySpecsWalk();
    void displaySpecsStopAtFifty();
    void displaySpecAddressesField();

    void readTaskDefinitionReadsAll();
    void readTaskDefinitionHighLevels();
    void readTaskDefinitionMissingUr();
    void readTaskDefinitionKeepsAbsentValues();
    void readTaskDefinitionFromEncodedFiles_data();
    void readTaskDefinitionFromEncodedFiles();
};

namespace {

// Rows of optional results: `found` false means nothing was cut.
void addOptionalColumns()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("value");
}

void compareOptional(const std::optional<QString> &actual, bool found, const QString &value)
{
    QCOMPARE(actual.has_value(), found);
    if (found)
        QCOMPARE(*actual, value);
}

} // namespace

void TestTaskFile::entryValueWithoutPresenceTest_data()
{
    addOptionalColumns();
    QTest::addColumn<QString>("key");

    QTest::newRow("present") << u"x ur=[[1|a|b]] y"_s << true << u"1|a|b"_s << u"ur"_s;
    QTest::newRow("empty value") << u"ur=[[]]"_s << true << QString() << u"ur"_s;
    QTest::newRow("spans lines, single ] and [")
        << u"ur=[[a[b]c\r\nd]]"_s << true << u"a[b]c\r\nd"_s << u"ur"_s;
    QTest::newRow("first occurrence") << u"ur=[[a]]ur=[[b]]"_s << true << u"a"_s << u"ur"_s;
    QTest::newRow("missing: cut from char 5") << u"abcdefg]]"_s << true << u"efg"_s << u"ur"_s;
    QTest::newRow("missing: ]] at char 5") << u"abcd]]ur"_s << true << QString() << u"ur"_s;
    QTest::newRow("missing: key case-sensitive") << u"UR=[[1|a]]"_s << true << u"[1|a"_s << u"ur"_s;
    QTest::newRow("missing: text too short") << u"ab]]"_s << false << QString() << u"ur"_s;
    QTest::newRow("missing: empty text") << QString() << false << QString() << u"ur"_s;
    QTest::newRow("unclosed") << u"ur=[[1|a"_s << false << QString() << u"ur"_s;
    QTest::newRow("closed only before the key") << u"x]] ur=[[1"_s << false << QString() << u"ur"_s;
    QTest::newRow("uc") << u"ur=[[1]]uc=[[ 3 ]]"_s << true << u" 3 "_s << u"uc"_s;
    QTest::newRow("w1") << u"w1=[[2]]"_s << true << u"2"_s << u"w1"_s;
    QTest::newRow("missing a10: cut from char 6")
        << u"abcdefgh]]"_s << true << u"fgh"_s << u"a10"_s;
}

void TestTaskFile::entryValueWithoutPresenceTest()
{
    QFETCH(QString, text);
    QFETCH(bool, found);
    QFETCH(QString, value);
    QFETCH(QString, key);
    compareOptional(entryValue(text, key), found, value);
}

void TestTaskFile::presentEntryValue_data()
{
    addOptionalColumns();
    QTest::addColumn<QString>("key");

    QTest::newRow("present") << u"a1=[[x]]"_s << true << u"x"_s << u"a1"_s;
    QTest::newRow("missing") << u"abcdefg]]"_s << false << QString() << u"a1"_s;
    QTest::newRow("unclosed") << u"a1=[[x"_s << false << QString() << u"a1"_s;
    QTest::newRow("empty") << u"a1=[[]]"_s << true << QString() << u"a1"_s;
    QTest::newRow("first occurrence") << u"a1=[[x]]a1=[[y]]"_s << true << u"x"_s << u"a1"_s;
}

void TestTaskFile::presentEntryValue()
{
    QFETCH(QString, text);
    QFETCH(bool, found);
    QFETCH(QString, value);
    QFETCH(QString, key);
    compareOptional(caiji::presentEntryValue(text, key), found, value);
}

void TestTaskFile::levelSections_data()
{
    addOptionalColumns();
    QTest::addColumn<int>("level");

    QTest::newRow("level 1") << u"x<getm1>\r\nw1=[[1]]\r\n<getm1>y"_s << true
                             << u"\r\nw1=[[1]]\r\n"_s << 1;
    QTest::newRow("empty section") << u"<getm2><getm2>"_s << true << QString() << 2;
    QTest::newRow("lone marker") << u"<getm1>w1=[[1]]"_s << false << QString() << 1;
    QTest::newRow("missing") << u"w1=[[1]]"_s << false << QString() << 1;
    QTest::newRow("third marker ignored") << u"<getm1>a<getm1>b<getm1>"_s << true << u"a"_s << 1;
    QTest::newRow("level 10, 8-char marker") << u"<getm10>ten<getm10>"_s << true << u"ten"_s << 10;
    QTest::newRow("level 30") << u"<getm30>last<getm30>"_s << true << u"last"_s << 30;
    QTest::newRow("1 not confused with 10")
        << u"<getm10>ten<getm10><getm1>one<getm1>"_s << true << u"one"_s << 1;
    QTest::newRow("10 not confused with 1")
        << u"<getm1>one<getm1><getm10>ten<getm10>"_s << true << u"ten"_s << 10;
    QTest::newRow("only level 10, level 1 missing")
        << u"<getm10>ten<getm10>"_s << false << QString() << 1;
    QTest::newRow("marker case-sensitive") << u"<GETM1>a<GETM1>"_s << false << QString() << 1;
    QTest::newRow("other level between")
        << u"<getm1>a<getm2>b<getm2>c<getm1>"_s << true << u"a<getm2>b<getm2>c"_s << 1;
}

void TestTaskFile::levelSections()
{
    QFETCH(QString, text);
    QFETCH(bool, found);
    QFETCH(QString, value);
    QFETCH(int, level);
    compareOptional(levelSection(text, level), found, value);
}

void TestTaskFile::alistEntries_data()
{
    addOptionalColumns();
    QTest::addColumn<int>("k");

    const QString both = u"a1=[[1|x|y||||]]\r\na10=[[0|p|s||||]]"_s;
    QTest::newRow("a1") << both << true << u"1|x|y||||"_s << 1;
    QTest::newRow("a10, 6-char key marker") << both << true << u"0|p|s||||"_s << 10;
    QTest::newRow("a30") << u"a30=[[z]]"_s << true << u"z"_s << 30;
    QTest::newRow("a1 missing, a10 present") << u"a10=[[0|p|s||||]]"_s << false << QString() << 1;
    QTest::newRow("a1 missing, a11 present") << u"a11=[[0]]a12=[[0]]"_s << false << QString() << 1;
    QTest::newRow("a10 missing, a1 present") << u"a1=[[1]]"_s << false << QString() << 10;
    QTest::newRow("unclosed") << u"a3=[[0|x"_s << false << QString() << 3;
    QTest::newRow("first occurrence") << u"a2=[[first]]a2=[[second]]"_s << true << u"first"_s << 2;
    QTest::newRow("inside a section counts")
        << u"<getm1>a4=[[in]]<getm1>"_s << true << u"in"_s << 4;
}

void TestTaskFile::alistEntries()
{
    QFETCH(QString, text);
    QFETCH(bool, found);
    QFETCH(QString, value);
    QFETCH(int, k);
    compareOptional(alistEntry(text, k), found, value);
}

void TestTaskFile::displaySpecsWalk_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("specs");

    QTest::newRow("none") << u"ur=[[1]]"_s << QStringList();
    QTest::newRow("empty text") << QString() << QStringList();
    QTest::newRow("three with text between")
        << u"ds=[[0|0|0|0|200|10]]\r\nnote ds=[[1|1|0|10|100|90]]ds=[[2|0|100|10|100|90]]"_s
        << QStringList{u"0|0|0|0|200|10"_s, u"1|1|0|10|100|90"_s, u"2|0|100|10|100|90"_s};
    QTest::newRow("empty entry counts") << u"ds=[[]]ds=[[x]]"_s << QStringList{QString(), u"x"_s};
    // The second search starts at the "]]" that closed the first entry, so the
    // "ds=[[" inside the first value is not read again.
    QTest::newRow("search from the closing ]]") << u"ds=[[ds=[[1]]"_s << QStringList{u"ds=[[1"_s};
    QTest::newRow("a key inside a value is value")
        << u"ds=[[a]]ds=[[b ds=[[c]]"_s << QStringList{u"a"_s, u"b ds=[[c"_s};
    QTest::newRow("stops at the first unclosed") << u"ds=[[a]]ds=[[b"_s << QStringList{u"a"_s};
    QTest::newRow("key case-sensitive") << u"DS=[[a]]ds=[[b]]"_s << QStringList{u"b"_s};
}

void TestTaskFile::displaySpecsWalk()
{
    QFETCH(QString, text);
    QFETCH(QStringList, specs);
    QCOMPARE(displaySpecs(text), specs);
}

void TestTaskFile::displaySpecsStopAtFifty()
{
    QString text;
    QStringList first50;
    for (int i = 0; i < 60; ++i) {
        const QString entry = QString::number(i) + u"|0|0|0|10|10"_s;
        text += u"ds=[["_s + entry + u"]]\r\n"_s;
        if (i < 50)
            first50 << entry;
    }
    QCOMPARE(displaySpecs(text).size(), MaxDisplaySpecs);
    QCOMPARE(displaySpecs(text), first50);
}

void TestTaskFile::displaySpecAddressesField()
{
    // k is 0-based: a "ds" entry whose first part is 2 shows the third field.
    const QStringList specs = displaySpecs(u"ds=[[2|0|0|0|200|100]]"_s);
    QCOMPARE(specs.size(), 1);
    const QStringList parts = specs.first().split(u'|');
    QCOMPARE(parts.size(), 6);
    const QStringList fields = u"^first^second^third"_s.sliced(1).split(u'^');
    QCOMPARE(fields.at(int(numberAtStart(parts[0]))), u"third"_s);
}

void TestTaskFile::readTaskDefinitionReadsAll()
{
    const QString text = u"ur=[[1|http://www.example.com/p|1|3|1|.html]]\r\nuc=[[2]]\r\n"
                         u"<getm1>w1=[[1]]<getm1>\r\n<getm2>w1=[[2]]<getm2>\r\n"
                         u"a1=[[1||||||]]\r\na2=[[0|[|]||||]]\r\n"_s;
    TaskDefinition definition;
    readTaskDefinition(text, definition);
    QCOMPARE(definition.schemeField, (QStringList{u"1"_s, u"http://www.example.com/p"_s, u"1"_s,
                                                  u"3"_s, u"1"_s, u".html"_s}));
    QCOMPARE(definition.section[1], u"w1=[[1]]"_s);
    QCOMPARE(definition.section[2], u"w1=[[2]]"_s);
    QCOMPARE(definition.section[3], QString());
    QCOMPARE(definition.alist[1], u"1||||||"_s);
    QCOMPARE(definition.alist[2], u"0|[|]||||"_s);
    QCOMPARE(definition.section[0], QString()); // index 0 unused
    QCOMPARE(definition.alist[0], QString());
}

void TestTaskFile::readTaskDefinitionHighLevels()
{
    QString text = u"ur=[[2|http://a.b.c/]]"_s;
    for (int k = 1; k <= 31; ++k) {
        const QString n = QString::number(k);
        text +=
            u"<getm"_s + n + u">S"_s + n + u"<getm"_s + n + u">a"_s + n + u"=[[A"_s + n + u"]]"_s;
    }
    TaskDefinition definition;
    readTaskDefinition(text, definition);
    for (int k = 1; k <= MaxLevel; ++k) {
        QCOMPARE(definition.section[k], u"S"_s + QString::number(k));
        QCOMPARE(definition.alist[k], u"A"_s + QString::number(k));
    }
    QCOMPARE(int(definition.section.size()), MaxLevel + 1); // level 31 has no place
}

void TestTaskFile::readTaskDefinitionMissingUr()
{
    TaskDefinition definition;
    // Without "ur=[[" the scheme fields come from character 5 on.
    readTaskDefinition(u"abcd1|x|y]] uc=[[3]]"_s, definition);
    QCOMPARE(definition.schemeField, (QStringList{u"1"_s, u"x"_s, u"y"_s}));
    // A field 0 that is no number stays text; the scheduler decides.
    readTaskDefinition(u"note: only comments here]]"_s, definition);
    QCOMPARE(definition.schemeField, (QStringList{u": only comments here"_s}));
    // Nothing to cut: the scheme fields stay as they were.
    readTaskDefinition(u"ur=[[2|x"_s, definition);
    QCOMPARE(definition.schemeField, (QStringList{u": only comments here"_s}));
    readTaskDefinition(QString(), definition);
    QCOMPARE(definition.schemeField, (QStringList{u": only comments here"_s}));
}

void TestTaskFile::readTaskDefinitionKeepsAbsentValues()
{
    TaskDefinition definition;
    readTaskDefinition(u"ur=[[1|a|1|1|1|b]]<getm2>second<getm2>a3=[[0|x|y||||]]"
                       u"<getm1>first<getm1>a1=[[one]]"_s,
                       definition);
    QCOMPARE(definition.section[2], u"second"_s);
    QCOMPARE(definition.alist[3], u"0|x|y||||"_s);

    // A later file without section 2 and a3, a lone <getm1> and an unclosed a1.
    readTaskDefinition(u"ur=[[2|http://x.y/]]<getm1>new first a1=[[new"_s, definition);
    QCOMPARE(definition.schemeField, (QStringList{u"2"_s, u"http://x.y/"_s}));
    QCOMPARE(definition.section[2], u"second"_s);
    QCOMPARE(definition.alist[3], u"0|x|y||||"_s);
    QCOMPARE(definition.section[1], u"first"_s);
    QCOMPARE(definition.alist[1], u"one"_s);

    // The engine clears the definition at task start: nothing survives then.
    definition = TaskDefinition{};
    readTaskDefinition(u"ur=[[2|http://x.y/]]"_s, definition);
    QCOMPARE(definition.section[2], QString());
    QCOMPARE(definition.alist[3], QString());
    QCOMPARE(definition.section[1], QString());
}

void TestTaskFile::readTaskDefinitionFromEncodedFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("GB18030") << u"task-gb18030.txt"_s;
    QTest::newRow("UTF-8 with BOM") << u"task-utf8-bom.txt"_s;
}

void TestTaskFile::readTaskDefinitionFromEncodedFiles()
{
    QFETCH(QString, file);
    const QString text = readTaskText(QStringLiteral(CAIJI_TEST_DATA) + u"/tasks/"_s + file);
    QVERIFY(!text.isEmpty());
    TaskDefinition definition;
    readTaskDefinition(text, definition);
    QCOMPARE(definition.schemeField,
             (QStringList{u"2"_s, u"http://www.example.com/"_s, u"100"_s, u"/news/"_s, QString(),
                          u"/list/"_s, QString(), u"4"_s, QString(), QString()}));
    QCOMPARE(definition.section[1],
             u"\r\nw1=[[1]]w2=[[0]]w3=[[1]]w4=[[<h1>^</h1>^^^-1^0]]w5=[[0]]w6=[[]]w7=[[0]]"
             u"w8=[[]]\r\n"_s);
    QCOMPARE(definition.alist[1], u"1|【|】||||"_s);
    QCOMPARE(displaySpecs(text), QStringList{u"0|0|0|0|200|10"_s});
    QCOMPARE(int(fieldCountOf(text)), 3);
}

QTEST_GUILESS_MAIN(TestTaskFile)
#include "tst_taskfile.moc"
