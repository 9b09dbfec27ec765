#include "concurrentruns.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace caiji::test {

namespace {

constexpr int KillWaitMs = 5000;
constexpr qint64 PollMs = 20;

} // namespace

ConcurrentRuns::~ConcurrentRuns()
{
    for (int i = 0; i < size(); ++i)
        killIfRunning(i);
}

int ConcurrentRuns::start(const QString &program, const QStringList &arguments,
                          const QProcessEnvironment &extra)
{
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"no_proxy"_s, u"127.0.0.1"_s);
    environment.insert(extra);
    process->setProcessEnvironment(environment);
    process->start(program, arguments);
    m_processes.push_back(std::move(process));
    m_runs.emplace_back();
    return int(m_processes.size()) - 1;
}

void ConcurrentRuns::waitAll(int timeoutMs)
{
    waitUntil(
        [this] {
            for (int i = 0; i < size(); ++i) {
                if (isRunning(i))
                    return false;
            }
            return true;
        },
        timeoutMs);
    for (int i = 0; i < size(); ++i)
        killIfRunning(i);
}

const ProgramRun &ConcurrentRuns::finish(int number, int timeoutMs)
{
    waitUntil([&] { return !isRunning(number); }, timeoutMs);
    killIfRunning(number);
    return run(number);
}

bool ConcurrentRuns::isRunning(int number) const
{
    return m_processes.at(number)->state() != QProcess::NotRunning;
}

void ConcurrentRuns::killIfRunning(int number)
{
    QProcess &process = *m_processes.at(number);
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(KillWaitMs);
    }
    collect(number);
}

const ProgramRun &ConcurrentRuns::run(int number)
{
    collect(number);
    return m_runs.at(number);
}

void ConcurrentRuns::collect(int number)
{
    QProcess &process = *m_processes.at(number);
    ProgramRun &run = m_runs.at(number);
    run.out += process.readAllStandardOutput();
    run.err += process.readAllStandardError();
    if (process.state() != QProcess::NotRunning)
        return;
    run.finished =
        process.exitStatus() == QProcess::NormalExit && process.error() != QProcess::FailedToStart;
    run.exitCode = run.finished ? process.exitCode() : -1;
}

bool waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return condition();
        // A short nested loop, so waiting for events does not spin.
        QEventLoop loop;
        QTimer::singleShot(int(std::clamp<qint64>(deadline.remainingTime(), 0, PollMs)), &loop,
                           &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

} // namespace caiji::test
