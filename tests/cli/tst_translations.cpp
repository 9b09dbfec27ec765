// Which language the program speaks: the messages locale read from the
// environment as gettext reads it, and the translations installed for it.
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include "app/translations.h"

using namespace Qt::StringLiterals;

class TestTranslations : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void messagesLocale_data();
    void messagesLocale();
    void installed_data();
    void installed();
    void withoutQtTranslations();
};

void TestTranslations::messagesLocale_data()
{
    QTest::addColumn<QStringList>("variables"); // NAME=value
    QTest::addColumn<QString>("locale");

    const auto row = [](const char *name, const QStringList &variables, const QString &locale) {
        QTest::newRow(name) << variables << locale;
    };
    row("nothing set", {}, u"C"_s);
    row("LANG", {u"LANG=zh_CN.UTF-8"_s}, u"zh_CN"_s);
    row("bare language", {u"LANG=zh"_s}, u"zh_CN"_s);
    row("codeset and modifier", {u"LANG=zh_TW.Big5@stroke"_s}, u"zh_TW"_s);
    row("LC_MESSAGES over LANG", {u"LC_MESSAGES=zh_CN.UTF-8"_s, u"LANG=en_US.UTF-8"_s}, u"zh_CN"_s);
    row("LC_ALL over LC_MESSAGES", {u"LC_ALL=en_US.UTF-8"_s, u"LC_MESSAGES=zh_CN.UTF-8"_s},
        u"en_US"_s);
    row("LC_ALL=C over LANG", {u"LC_ALL=C"_s, u"LANG=zh_CN.UTF-8"_s}, u"C"_s);
    row("empty LC_ALL is unset", {u"LC_ALL="_s, u"LANG=zh_CN.UTF-8"_s}, u"zh_CN"_s);
    row("LANGUAGE's first entry wins", {u"LANG=en_US.UTF-8"_s, u"LANGUAGE=zh_CN:en"_s}, u"zh_CN"_s);
    row("LANGUAGE under C.UTF-8 is ignored", {u"LANG=C.UTF-8"_s, u"LANGUAGE=zh_CN"_s}, u"C"_s);
    row("LANGUAGE under POSIX is ignored", {u"LC_ALL=POSIX"_s, u"LANGUAGE=zh_CN"_s}, u"C"_s);
    row("LANGUAGE alone is ignored", {u"LANGUAGE=zh_CN"_s}, u"C"_s);
}

void TestTranslations::messagesLocale()
{
    QFETCH(QStringList, variables);
    QFETCH(QString, locale);
    QProcessEnvironment environment;
    for (const QString &variable : variables)
        environment.insert(variable.section(u'=', 0, 0), variable.section(u'=', 1));
    const QLocale found = caiji::Translations::messagesLocale(environment);
    QCOMPARE(found.name(), locale);
    QCOMPARE(caiji::Translations::isChinese(found), locale.startsWith(u"zh"_s));
}

void TestTranslations::installed_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("copied"); // the command line's "copied"
    QTest::addColumn<QString>("undo");   // the text boxes' "&Undo"

    const QString program = u"caiji_zh_CN.qm"_s;
    QTest::newRow("zh_CN") << u"zh_CN"_s << QStringList{program, u"qtbase_zh_CN.qm"_s}
                           << u"已复制"_s << u"撤消(&U)"_s;
    QTest::newRow("zh_TW: Qt's traditional texts")
        << u"zh_TW"_s << QStringList{program, u"qtbase_zh_TW.qm"_s} << u"已复制"_s << u"復原(&U)"_s;
    QTest::newRow("zh_HK falls back to traditional")
        << u"zh_HK"_s << QStringList{program, u"qtbase_zh_TW.qm"_s} << u"已复制"_s << u"復原(&U)"_s;
    QTest::newRow("zh_SG falls back to simplified")
        << u"zh_SG"_s << QStringList{program, u"qtbase_zh_CN.qm"_s} << u"已复制"_s << u"撤消(&U)"_s;
    // The window's English translation has no entries yet, so nothing loads:
    // the sources show, English for the command line, Chinese for the window.
    QTest::newRow("C") << u"C"_s << QStringList() << u"copied"_s << u"&Undo"_s;
    QTest::newRow("en_US") << u"en_US"_s << QStringList() << u"copied"_s << u"&Undo"_s;
    QTest::newRow("de_DE") << u"de_DE"_s << QStringList() << u"copied"_s << u"&Undo"_s;
}

void TestTranslations::installed()
{
    QFETCH(QString, locale);
    QFETCH(QStringList, files);
    QFETCH(QString, copied);
    QFETCH(QString, undo);
    // Built in, so that translating caiji_en.ts is all an English window needs.
    QVERIFY(QFile::exists(u":/i18n/caiji_en.qm"_s));
    {
        const caiji::Translations translations{QLocale(locale)};
        QStringList names;
        for (const QString &file : translations.files())
            names << QFileInfo(file).fileName();
        QCOMPARE(names, files);
        QCOMPARE(QCoreApplication::translate("CommandLine", "copied"), copied);
        QCOMPARE(QCoreApplication::translate("QLineEdit", "&Undo"), undo);
    }
    // Gone with the object.
    QCOMPARE(QCoreApplication::translate("CommandLine", "copied"), u"copied"_s);
    QCOMPARE(QCoreApplication::translate("QLineEdit", "&Undo"), u"&Undo"_s);
}

void TestTranslations::withoutQtTranslations()
{
    // Without Qt's translations the program still speaks Chinese.
    QTemporaryDir empty;
    QVERIFY(empty.isValid());
    const caiji::Translations translations(QLocale(u"zh_CN"_s), empty.path());
    QCOMPARE(translations.files().size(), 1);
    QCOMPARE(QCoreApplication::translate("CommandLine", "copied"), u"已复制"_s);
    QCOMPARE(QCoreApplication::translate("QLineEdit", "&Undo"), u"&Undo"_s);
}

QTEST_GUILESS_MAIN(TestTranslations)
#include "tst_translations.moc"
