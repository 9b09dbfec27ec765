#include "engine/enginetimer.h"

namespace caiji {

EngineTimer::EngineTimer(QObject *parent) : QObject(parent)
{
    connect(&m_timer, &QTimer::timeout, this, &EngineTimer::tick);
}

void EngineTimer::setInterval(int ms)
{
    m_interval = std::max(0, ms);
    apply();
}

void EngineTimer::setEnabled(bool enabled)
{
    m_enabled = enabled;
    apply();
}

void EngineTimer::setDriven(bool driven)
{
    m_driven = driven;
    apply();
}

void EngineTimer::apply()
{
    // A QTimer with interval 0 would fire on every turn of the event loop.
    if (m_driven && isTicking()) {
        if (!m_timer.isActive() || m_timer.interval() != m_interval)
            m_timer.start(m_interval);
    } else {
        m_timer.stop();
    }
}

} // namespace caiji
