#pragma once

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>

// The longest gap between the ticks of a 10 ms timer on the user-interface thread while it runs:
// what a user would feel as a frozen window.
class TimerGaps
{
public:
    TimerGaps()
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            if (m_last >= 0)
                m_longest = std::max(m_longest, now - m_last);
            m_last = now;
        });
        m_clock.start();
        m_timer.start();
    }
    double longestMs() const { return m_longest / 1e6; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = -1;
    qint64 m_longest = 0;
};
