#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <set>
#include <vector>

// The live state of a monitor's listing lines, as the runner reports it (LiveClock to
// LiveNotFired): what each line waits for, the kernel's clock, and the texts painted beside the
// lines. No widgets; the listing view paints what this holds, so the listing's text stays as the
// runner reported it.
class LiveLines
{
public:
    enum class Kind { None, When, Due, Ramp, Written, NotFired };
    // How a text is coloured: a when's values, a countdown, a ramp, a value written, never fired.
    enum class Role { None, Waiting, Holds, Countdown, Ramp, Written, NotFired };

    struct TagValue
    {
        QString tag;
        double value = 0.0;
        bool operator==(const TagValue& other) const { return tag == other.tag && value == other.value; }
    };

    struct Line
    {
        Kind kind = Kind::None;
        bool holds = false;
        std::vector<TagValue> tags;
        double due = 0.0;
        double value = 0.0;
        double target = 0.0;
    };

    // Kernel states as the protocol numbers them.
    static constexpr int NoModel = 0;
    static constexpr int Running = 1;
    static constexpr int Paused = 2;
    static constexpr int Unknown = -1;

    // Formats a kernel time for tool tips (the monitor uses KelmDesk's time format); by default
    // elapsed "hh:mm:ss".
    void setTimeFormatter(std::function<QString(double)> format) { m_formatTime = std::move(format); }

    void setClock(double time, int state);
    // KelmDesk's own view of the kernel's state, used until the runner reports its clock.
    void setFallbackState(int state);
    void setWhen(int line, bool holds, std::vector<TagValue> tags);
    void setDue(int line, double due);
    void setRamp(int line, double value, double target);
    void setWritten(int line, double value);
    void setNotFired(int line);
    // The line fires (LineCurrent): what it waited for is over.
    void lineFired(int line);
    // The run ended: no more countdowns or kernel notice.
    void setFinished();

    const Line* line(int line) const;
    bool hasClock() const { return m_hasClock; }
    double clockTime() const { return m_clockTime; }
    // The runner's last reported state, else the fallback.
    int kernelState() const;

    // The short text beside a line ("T101:LEVEL 2.41 · false", "in 01:20", "2.41 → 3", "wrote 0",
    // "never fired"), numbers to 6 significant digits; empty when there is none.
    QString text(int line) const;
    Role role(int line) const;
    // The full values, one per line of text.
    QString toolTip(int line) const;
    // Listing lines (line firstLine first) with each line's text after two blanks, where it has one;
    // lines end in "\n".
    QString withTexts(const QStringList& lines, int firstLine) const;
    // What the monitor says about the kernel while the run waits on it; empty while it runs.
    QString kernelNotice() const;

    // The lines whose text may have changed since the last call, in rising order; a clock change
    // counts every countdown line.
    std::vector<int> takeChanged();
    bool noticeChanged();

    // "in 01:20" for 80 s, "in 1:02:03" from an hour on, counted in whole seconds upwards; "due" at
    // or below 0.
    static QString countdown(double seconds);
    static QString number(double value);

    // The longest text beside a line; the tool tip has the rest.
    static constexpr int MaxText = 160;

private:
    Line& touch(int line);
    QString formatTime(double t) const;

    std::map<int, Line> m_lines;
    std::set<int> m_dueLines;
    std::set<int> m_changed;
    bool m_hasClock = false;
    double m_clockTime = 0.0;
    int m_clockState = Unknown;
    int m_fallbackState = Unknown;
    bool m_finished = false;
    QString m_lastNotice;
    std::function<QString(double)> m_formatTime;
};
