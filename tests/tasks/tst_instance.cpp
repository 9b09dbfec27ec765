// One window per workspace: the request a second window sends the first,
// and a workspace that cannot be written told from one that is taken; the built program started
// twice on the same workspace: the second copy ends at once, silently and with code 0, while the
// first goes on; a copy that was killed does not block the next start.
#include "tasks/instancelock.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestInstance : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void showRequestReachesHolder();
    void secondCopyEndsAtOnce();
    void otherWorkspaceRunsBeside();
    void killedCopyDoesNotBlock();
    void headlessRunRefusedBesideWindow();

private:
    // Starts the window on `workspace`; false when it did not come up.
    bool startWindow(QProcess &process, const QString &workspace);
    // The copy ran to its end within the bound; its exit code or -1.
    static int finish(QProcess &process, int ms);
    static void stop(QProcess &process);

    QTemporaryDir m_runtime;
};

namespace {

constexpr int StartBoundMs = 20000;
constexpr int SecondCopyBoundMs = 20000;
// How long a first copy must keep running after the second copy ended.
constexpr int StillRunningMs = 1500;

QString lockFile(const QString &workspace)
{
    return workspace + u"/.caiji.lock"_s;
}

bool makeWorkspace(const QTemporaryDir &dir)
{
    return dir.isValid() && QDir(dir.path()).mkpath(u"task/a/data"_s);
}

// Waits (bounded) until the copy holds the workspace's lock.
bool holdsLock(QProcess &process, const QString &workspace)
{
    for (int i = 0; i < StartBoundMs / 50; ++i) {
        if (QFile::exists(lockFile(workspace)))
            return true;
        if (process.waitForFinished(50))
            return false;
    }
    return false;
}

} // namespace

void TestInstance::initTestCase()
{
    QVERIFY2(QFile::exists(QStringLiteral(CAIJI_BINARY)), CAIJI_BINARY);
    QVERIFY(m_runtime.isValid());
    QVERIFY(QFile::setPermissions(m_runtime.path(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

bool TestInstance::startWindow(QProcess &process, const QString &workspace)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    environment.insert(u"XDG_RUNTIME_DIR"_s, m_runtime.path());
    process.setProcessEnvironment(environment);
    // A long tick: the run does nothing worth waiting for.
    process.start(QStringLiteral(CAIJI_BINARY),
                  {u"--workspace"_s, workspace, u"--tick-ms"_s, u"60000"_s});
    return process.waitForStarted(StartBoundMs);
}

int TestInstance::finish(QProcess &process, int ms)
{
    if (!process.waitForFinished(ms))
        return -1;
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

void TestInstance::stop(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.kill();
    process.waitForFinished(StartBoundMs);
}

void TestInstance::showRequestReachesHolder()
{
    QTemporaryDir dir;
    caiji::InstanceLock holder(dir.path());
    QVERIFY(holder.acquire());
    caiji::InstanceLock second(dir.path());
    // A holder that does not listen (a collection without a window) answers nothing.
    QVERIFY(!second.askHolderToShow(300));
    QVERIFY(holder.listenForOtherCopies());
    QSignalSpy shown(&holder, &caiji::InstanceLock::showRequested);
    QCOMPARE(second.tryAcquire(), caiji::InstanceLock::Outcome::HeldByAnother);
    QCOMPARE(caiji::InstanceLock(dir.filePath(u"missing/ws"_s)).tryAcquire(),
             caiji::InstanceLock::Outcome::CannotWrite);
    QVERIFY(second.askHolderToShow(2000));
    QVERIFY(shown.wait(5000));
    QCOMPARE(shown.size(), 1);
    // Another workspace's holder hears nothing.
    QTemporaryDir other;
    QVERIFY(!caiji::InstanceLock(other.path()).askHolderToShow(300));
    QVERIFY(!shown.wait(300));
}

void TestInstance::secondCopyEndsAtOnce()
{
    QTemporaryDir dir;
    QVERIFY(makeWorkspace(dir));
    QProcess first;
    const auto stopFirst = qScopeGuard([&first] { stop(first); });
    QVERIFY(startWindow(first, dir.path()));
    QVERIFY(holdsLock(first, dir.path()));

    QProcess second;
    const auto stopSecond = qScopeGuard([&second] { stop(second); });
    QVERIFY(startWindow(second, dir.path()));
    QCOMPARE(finish(second, SecondCopyBoundMs), 0);
    QCOMPARE(second.readAllStandardOutput(), QByteArray());
    QCOMPARE(second.readAllStandardError(), QByteArray());

    QVERIFY(!first.waitForFinished(StillRunningMs));
    QCOMPARE(first.state(), QProcess::Running);
    QVERIFY(QFile::exists(lockFile(dir.path())));
}

void TestInstance::otherWorkspaceRunsBeside()
{
    QTemporaryDir one;
    QTemporaryDir two;
    QVERIFY(makeWorkspace(one) && makeWorkspace(two));
    QProcess first;
    QProcess second;
    const auto stopBoth = qScopeGuard([&] {
        stop(first);
        stop(second);
    });
    QVERIFY(startWindow(first, one.path()));
    QVERIFY(holdsLock(first, one.path()));
    QVERIFY(startWindow(second, two.path()));
    QVERIFY(holdsLock(second, two.path()));
    QCOMPARE(first.state(), QProcess::Running);
    QCOMPARE(second.state(), QProcess::Running);
}

void TestInstance::killedCopyDoesNotBlock()
{
    QTemporaryDir dir;
    QVERIFY(makeWorkspace(dir));
    QProcess first;
    const auto stopFirst = qScopeGuard([&first] { stop(first); });
    QVERIFY(startWindow(first, dir.path()));
    QVERIFY(holdsLock(first, dir.path()));
    first.kill();
    QVERIFY(first.waitForFinished(StartBoundMs));
    QVERIFY(QFile::exists(lockFile(dir.path()))); // left behind by the killed copy

    QProcess next;
    const auto stopNext = qScopeGuard([&next] { stop(next); });
    QVERIFY(startWindow(next, dir.path()));
    QVERIFY(!next.waitForFinished(StillRunningMs));
    QCOMPARE(next.state(), QProcess::Running);
}

void TestInstance::headlessRunRefusedBesideWindow()
{
    QTemporaryDir dir;
    QVERIFY(makeWorkspace(dir));
    QProcess window;
    const auto stopWindow = qScopeGuard([&window] { stop(window); });
    QVERIFY(startWindow(window, dir.path()));
    QVERIFY(holdsLock(window, dir.path()));

    QProcess run;
    const auto stopRun = qScopeGuard([&run] { stop(run); });
    run.start(QStringLiteral(CAIJI_BINARY), {u"run"_s, u"--workspace"_s, dir.path()});
    QCOMPARE(finish(run, SecondCopyBoundMs), 2);
    const QByteArray err = run.readAllStandardError();
    QVERIFY2(err.startsWith("caiji: another caiji is running") && err.count('\n') == 1,
             err.constData());
    QCOMPARE(window.state(), QProcess::Running);
}

QTEST_MAIN(TestInstance)
#include "tst_instance.moc"
