// The default workspace: the program's own folder when it runs from a build
// or unpacked folder, the user's data folder (made and furnished when a
// command needs it) when it is installed; the examples when they are there.
#include "tasks/installlayout.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace caiji;

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

} // namespace

class TestInstallLayout : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void defaultWorkspace_data();
    void defaultWorkspace();
    void installedWorkspaceIsFurnishedOnce();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_data;
};

void TestInstallLayout::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_data = m_dir->filePath(u"xdg-data"_s);
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_data));
}

void TestInstallLayout::defaultWorkspace_data()
{
    QTest::addColumn<QString>("programDir");
    QTest::addColumn<QStringList>("files"); // made before the program starts
    QTest::addColumn<bool>("installed");
    QTest::addColumn<QString>("examples"); // relative to the temporary folder

    const QString shared = u"prefix/share/caiji/"_s;
    const QString examples = u"prefix/share/caiji/examples/workspace"_s;
    const QString demoTask = examples + u"/task/新闻-方案一/data/task.txt"_s;
    QTest::newRow("build folder") << u"build"_s << QStringList{u"build/帮助.doc"_s} << false
                                  << QString();
    QTest::newRow("build folder with its examples")
        << u"build"_s << QStringList{u"build/examples/workspace/task/t/data/task.txt"_s} << false
        << u"build/examples/workspace"_s;
    QTest::newRow("unpacked folder with its tasks")
        << u"caiji"_s << QStringList{u"caiji/帮助.doc"_s, u"caiji/task/n.jpg"_s} << false
        << QString();
    QTest::newRow("bin without shared files, examples present")
        << u"prefix/bin"_s << QStringList{demoTask} << false << QString();
    QTest::newRow("installed prefix with examples")
        << u"prefix/bin"_s
        << QStringList{shared + u"帮助.doc"_s, shared + u"task/n.jpg"_s, demoTask} << true
        << examples;
    // A system that leaves out /usr/share/doc still runs the program.
    QTest::newRow("installed prefix without examples")
        << u"prefix/bin"_s << QStringList{shared + u"帮助.doc"_s, shared + u"task/n.jpg"_s} << true
        << QString();
}

void TestInstallLayout::defaultWorkspace()
{
    QFETCH(QString, programDir);
    QFETCH(QStringList, files);
    QFETCH(bool, installed);
    QFETCH(QString, examples);
    const QString program = m_dir->filePath(programDir);
    QDir().mkpath(program);
    for (const QString &file : files)
        writeFile(m_dir->filePath(file), file.toUtf8());

    const InstallLayout layout(program);
    QCOMPARE(layout.isInstalled(), installed);
    QCOMPARE(layout.examplesWorkspaceDir(),
             examples.isEmpty() ? QString() : m_dir->filePath(examples));
    const QString workspace = layout.defaultWorkspace();
    QVERIFY(!QFileInfo::exists(m_data + u"/caiji"_s));
    if (!installed) {
        QCOMPARE(workspace, program);
        return;
    }
    QCOMPARE(workspace, m_data + u"/caiji"_s);
    QVERIFY(layout.prepareWorkspace(workspace));
    QVERIFY(QFileInfo(workspace + u"/task"_s).isDir());
    for (const QString &copied : {u"task/n.jpg"_s, u"帮助.doc"_s}) {
        QFile file(workspace + u'/' + copied);
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(copied));
        QCOMPARE(file.readAll(), (u"prefix/share/caiji/"_s + copied).toUtf8());
    }
}

void TestInstallLayout::installedWorkspaceIsFurnishedOnce()
{
    const QString program = m_dir->filePath(u"prefix/bin"_s);
    QDir().mkpath(program);
    writeFile(m_dir->filePath(u"prefix/share/caiji/帮助.doc"_s), "help");
    writeFile(m_dir->filePath(u"prefix/share/caiji/task/n.jpg"_s), "picture");
    // The user's own placeholder is never replaced by the shipped one.
    writeFile(m_data + u"/caiji/task/n.jpg"_s, "mine");

    const QString workspace = InstallLayout(program).defaultWorkspace();
    QVERIFY(InstallLayout(program).prepareWorkspace(workspace));
    QFile picture(workspace + u"/task/n.jpg"_s);
    QVERIFY(picture.open(QIODevice::ReadOnly));
    QCOMPARE(picture.readAll(), QByteArray("mine"));
    QVERIFY(QFileInfo::exists(workspace + u"/帮助.doc"_s));
}

QTEST_GUILESS_MAIN(TestInstallLayout)
#include "tst_installlayout.moc"
