// A tick timer as the scheduler sees it: an interval (0 = idle) and an enabled
// flag; it ticks only when enabled and the interval is above 0. Pause and
// continue change only the flag.
#pragma once

#include <QObject>
#include <QTimer>

namespace caiji {

class EngineTimer : public QObject
{
    Q_OBJECT

public:
    explicit EngineTimer(QObject *parent = nullptr);

    int interval() const { return m_interval; }
    bool isEnabled() const { return m_enabled; }
    bool isTicking() const { return m_enabled && m_interval > 0; }

    void setInterval(int ms);
    void setEnabled(bool enabled);
    // Whether the real clock drives ticks; tests call the tick handlers instead.
    void setDriven(bool driven);

Q_SIGNALS:
    void tick();

private:
    void apply();

    QTimer m_timer;
    int m_interval = 0;
    bool m_enabled = true;
    bool m_driven = true;
};

} // namespace caiji
