#pragma once

#include "protocol/KernelStatus.h"

// The kernel's simulation clock and state. The clock stands at 0 without a model, runs at speed
// times the wall clock while running and stands while paused. In calendar mode a loaded model
// starts at the wall-clock time of loading, else at 0.
using protocol::KernelState;

class SimClock
{
public:
    SimClock(double speed, bool calendar) : m_speed(speed), m_calendar(calendar) {}

    KernelState state() const { return m_state; }
    double time() const { return m_time; }
    double speed() const { return m_speed; }
    bool calendar() const { return m_calendar; }

    // Each returns true when the state changed. load() starts paused; wallNow is seconds since 1970.
    bool load(double wallNow);
    bool unload();
    bool run();
    bool freeze();

    // Advances by realSeconds of wall time; returns the simulated seconds that passed.
    double advance(double realSeconds);

private:
    KernelState m_state = KernelState::NoModel;
    double m_time = 0.0;
    double m_speed;
    bool m_calendar;
};
