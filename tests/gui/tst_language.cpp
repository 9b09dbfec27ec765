// The window's language: it speaks Chinese until its English translation is
// complete, Qt's own texts (the text boxes' context menus, the file dialog's
// type column) follow it whatever the locale, and the real shell's dialogs say
// 确定 and 取消.
#include <QAbstractButton>
#include <QAbstractFileIconProvider>
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "app/translations.h"
#include "gui/shell.h"

using namespace Qt::StringLiterals;

class TestLanguage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void contextMenus_data();
    void contextMenus();
    void dialogButtons_data();
    void dialogButtons();
};

namespace {

// The captions of the push buttons of the modal dialog `open` shows, which
// is then closed; empty when no dialog came within five seconds. `inspect`
// sees the dialog first.
QStringList buttonsOfDialog(const std::function<void()> &open,
                            const std::function<void(QDialog *)> &inspect = {})
{
    QStringList captions;
    QTimer poll;
    poll.setInterval(10);
    int polls = 0;
    QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog) {
            if (++polls == 500) {
                poll.stop();
                for (QWidget *widget : QApplication::topLevelWidgets())
                    widget->close();
            }
            return;
        }
        poll.stop();
        if (inspect)
            inspect(dialog);
        for (QPushButton *button : dialog->findChildren<QPushButton *>()) {
            if (button->isVisible())
                captions << button->text();
        }
        dialog->reject();
    });
    poll.start();
    open();
    captions.sort();
    return captions;
}

} // namespace

void TestLanguage::contextMenus_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<bool>("plainText"); // the display area's boxes, else a line
    QTest::addColumn<QString>("undo");

    QTest::newRow("zh_CN: line") << u"zh_CN"_s << false << u"撤消(&U)"_s;
    QTest::newRow("zh_CN: display box") << u"zh_CN"_s << true << u"撤消(&U)"_s;
    // The window's English is not complete: Qt's texts are Chinese as it is.
    QTest::newRow("C: line") << u"C"_s << false << u"撤消(&U)"_s;
    QTest::newRow("C: display box") << u"C"_s << true << u"撤消(&U)"_s;
}

void TestLanguage::contextMenus()
{
    QFETCH(QString, locale);
    QFETCH(bool, plainText);
    QFETCH(QString, undo);
    const caiji::Translations translations{caiji::Translations::windowLocale(QLocale(locale))};
    QLineEdit line;
    QPlainTextEdit box;
    const std::unique_ptr<QMenu> menu(plainText ? box.createStandardContextMenu()
                                                : line.createStandardContextMenu());
    QVERIFY(!menu->actions().isEmpty());
    const QString first = menu->actions().constFirst()->text();
    QVERIFY2(first.startsWith(undo), qPrintable(first));
    // The program's own window texts are Chinese either way.
    QCOMPARE(caiji::Shell::title(), u"信息采集"_s);
}

void TestLanguage::dialogButtons_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("dialog");
    QTest::addColumn<QStringList>("captions"); // sorted

    const QStringList ok{u"确定"_s};
    const QStringList okCancel{u"取消"_s, u"确定"_s};
    for (const QString &locale : {u"C"_s, u"zh_CN"_s}) {
        const auto row = [&](const QString &dialog, const QStringList &captions) {
            QTest::addRow("%s: %s", qPrintable(locale), qPrintable(dialog))
                << locale << dialog << captions;
        };
        row(u"inform"_s, ok);
        row(u"confirm"_s, okCancel);
        row(u"showText"_s, ok);
        row(u"about"_s, ok);
        row(u"choose"_s, okCancel);
        row(u"saveFileName"_s, {u"保存"_s, u"取消"_s});
        row(u"openFileName"_s, {u"取消"_s, u"打开"_s});
    }
}

void TestLanguage::dialogButtons()
{
    QFETCH(QString, locale);
    QFETCH(QString, dialog);
    QFETCH(QStringList, captions);
    const caiji::Translations translations{caiji::Translations::windowLocale(QLocale(locale))};
    caiji::Shell shell;
    // Qt's own file dialog where the desktop's would speak another language.
    shell.setNativeFileDialogs(locale != u"C");
    const QHash<QString, std::function<void()>> open = {
        {u"inform"_s, [&] { shell.inform(nullptr, u"任务创建成功!"_s); }},
        {u"confirm"_s, [&] { shell.confirm(nullptr, u"删除？"_s); }},
        {u"showText"_s, [&] { shell.showText(nullptr, u"失败"_s, u"a\tb"_s); }},
        {u"about"_s, [&] { shell.about(nullptr, u"信息采集"_s); }},
        {u"choose"_s,
         [&] {
             shell.choose(nullptr, u"选择"_s, {u"一"_s, u"二"_s});
         }},
        {u"saveFileName"_s,
         [&] { shell.saveFileName(nullptr, u"导出"_s, u"a.csv"_s, u"CSV (*.csv)"_s); }},
        {u"openFileName"_s, [&] { shell.openFileName(nullptr, u"选择"_s, QString(), QString()); }},
    };
    QString folder; // the file dialog's type of a folder, in the window's language
    bool own = false;
    const auto inspect = [&](QDialog *shown) {
        if (auto *files = qobject_cast<QFileDialog *>(shown)) {
            own = files->testOption(QFileDialog::DontUseNativeDialog);
            folder = files->iconProvider()->type(QFileInfo(QDir::tempPath()));
        }
    };
    QCOMPARE(buttonsOfDialog(open.value(dialog), inspect), captions);
    if (dialog.endsWith(u"FileName"))
        QVERIFY(folder == u"文件夹" && own == (locale == u"C"));
}

QTEST_MAIN(TestLanguage)
#include "tst_language.moc"
