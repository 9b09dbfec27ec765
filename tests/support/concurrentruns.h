// Several runs of the built programs at once, each bounded in time, while
// this process's event loop keeps turning (so servers in the test answer
// them); and a bounded wait for any condition the test stages.
#pragma once

#include "programrun.h"

#include <QProcess>
#include <functional>
#include <memory>
#include <vector>

namespace caiji::test {

class ConcurrentRuns
{
public:
    ConcurrentRuns() = default;
    ~ConcurrentRuns();
    ConcurrentRuns(const ConcurrentRuns &) = delete;
    ConcurrentRuns &operator=(const ConcurrentRuns &) = delete;

    // Starts `program` now; returns its number for run() and process().
    // Requests to 127.0.0.1 go through no proxy unless `extra` says otherwise.
    int start(const QString &program, const QStringList &arguments,
              const QProcessEnvironment &extra = QProcessEnvironment());
    // Waits until every program has ended or `timeoutMs` passed; those still
    // running then are killed (their run says finished = false).
    void waitAll(int timeoutMs);
    // The same for one program; its run.
    const ProgramRun &finish(int number, int timeoutMs);
    bool isRunning(int number) const;
    // Output read so far, and the result once waitAll() returned.
    const ProgramRun &run(int number);
    QProcess &process(int number) { return *m_processes.at(number); }
    int size() const { return int(m_processes.size()); }

private:
    void collect(int number);
    void killIfRunning(int number);

    std::vector<std::unique_ptr<QProcess>> m_processes;
    std::vector<ProgramRun> m_runs;
};

// Turns the event loop until `condition` holds or `timeoutMs` passed; the
// condition's last value.
bool waitUntil(const std::function<bool()> &condition, int timeoutMs);

} // namespace caiji::test
