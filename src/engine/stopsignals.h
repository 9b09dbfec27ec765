// SIGINT, SIGTERM and SIGHUP as a Qt signal: the handler only writes the
// signal's number into a pipe, and the event loop reads it, so the program
// ends its run in order (transfers aborted, database closed, summary
// printed) instead of dying on the spot.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace caiji {

class StopSignals : public QObject
{
    Q_OBJECT

public:
    // Takes the three signals over while it lives; one object at a time.
    explicit StopSignals(QObject *parent = nullptr);
    ~StopSignals() override;

    // The exit status shells expect after `signalNumber`: 128 + its number.
    static int exitStatus(int signalNumber) { return 128 + signalNumber; }
    // Why the run ended, for its summary: "被中断（SIGINT）".
    static QString reason(int signalNumber);

Q_SIGNALS:
    void received(int signalNumber);

private:
    void readPipe();

    QSocketNotifier *m_notifier = nullptr;
};

} // namespace caiji
