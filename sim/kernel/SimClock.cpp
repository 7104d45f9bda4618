#include "sim/kernel/SimClock.h"

#include <cmath>

bool SimClock::load(double wallNow)
{
    if (m_state != KernelState::NoModel)
        return false;
    m_state = KernelState::Paused;
    m_time = m_calendar ? std::floor(wallNow) : 0.0;
    return true;
}

bool SimClock::unload()
{
    if (m_state == KernelState::NoModel)
        return false;
    m_state = KernelState::NoModel;
    m_time = 0.0;
    return true;
}

bool SimClock::run()
{
    if (m_state != KernelState::Paused)
        return false;
    m_state = KernelState::Running;
    return true;
}

bool SimClock::freeze()
{
    if (m_state != KernelState::Running)
        return false;
    m_state = KernelState::Paused;
    return true;
}

double SimClock::advance(double realSeconds)
{
    if (m_state != KernelState::Running || !(realSeconds > 0.0))
        return 0.0;
    const double dt = realSeconds * m_speed;
    m_time += dt;
    return dt;
}
