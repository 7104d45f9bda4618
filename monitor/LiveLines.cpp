#include "monitor/LiveLines.h"

#include "monitor/MonitorText.h"

#include <QStringList>

#include <cmath>

namespace {

const QChar middleDot(0x00B7);
const QChar rightArrow(0x2192);

QString elapsed(double t)
{
    const long long whole = static_cast<long long>(std::trunc(std::min(std::fabs(t), 1e15)));
    return QStringLiteral("%1%2:%3:%4")
        .arg(t <= -1.0 ? QStringLiteral("-") : QString())
        .arg(whole / 3600, 2, 10, QLatin1Char('0'))
        .arg(whole / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(whole % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

LiveLines::Line& LiveLines::touch(int line)
{
    m_changed.insert(line);
    m_dueLines.erase(line);
    return m_lines[line];
}

void LiveLines::setClock(double time, int state)
{
    if (!std::isfinite(time))
        return;
    if (m_hasClock && time == m_clockTime && state == m_clockState)
        return;
    if (!m_hasClock || time != m_clockTime)
        m_changed.insert(m_dueLines.begin(), m_dueLines.end());
    m_hasClock = true;
    m_clockTime = time;
    m_clockState = state;
}

void LiveLines::setFallbackState(int state)
{
    m_fallbackState = state;
}

void LiveLines::setWhen(int line, bool holds, std::vector<TagValue> tags)
{
    Line& l = touch(line);
    l = Line();
    l.kind = Kind::When;
    l.holds = holds;
    l.tags = std::move(tags);
}

void LiveLines::setDue(int line, double due)
{
    Line& l = touch(line);
    l = Line();
    l.kind = Kind::Due;
    l.due = due;
    m_dueLines.insert(line);
}

void LiveLines::setRamp(int line, double value, double target)
{
    Line& l = touch(line);
    l = Line();
    l.kind = Kind::Ramp;
    l.value = value;
    l.target = target;
}

void LiveLines::setWritten(int line, double value)
{
    Line& l = touch(line);
    l = Line();
    l.kind = Kind::Written;
    l.value = value;
}

void LiveLines::setNotFired(int line)
{
    Line& l = touch(line);
    l = Line();
    l.kind = Kind::NotFired;
}

void LiveLines::lineFired(int line)
{
    const auto it = m_lines.find(line);
    if (it == m_lines.end() || it->second.kind == Kind::Written)
        return;
    m_changed.insert(line);
    m_dueLines.erase(line);
    m_lines.erase(it);
}

void LiveLines::setFinished()
{
    m_finished = true;
    m_changed.insert(m_dueLines.begin(), m_dueLines.end());
}

const LiveLines::Line* LiveLines::line(int line) const
{
    const auto it = m_lines.find(line);
    return it == m_lines.end() ? nullptr : &it->second;
}

int LiveLines::kernelState() const
{
    return m_hasClock ? m_clockState : m_fallbackState;
}

QString LiveLines::formatTime(double t) const
{
    return m_formatTime ? m_formatTime(t) : elapsed(t);
}

QString LiveLines::number(double value)
{
    return QString::number(value == 0.0 ? 0.0 : value, 'g', 6);
}

QString LiveLines::countdown(double seconds)
{
    if (!(seconds > 0.0))
        return QStringLiteral("due");
    const long long whole = static_cast<long long>(std::ceil(std::min(seconds, 1e12)));
    if (whole < 3600)
        return QStringLiteral("in %1:%2")
            .arg(whole / 60, 2, 10, QLatin1Char('0'))
            .arg(whole % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("in %1:%2:%3")
        .arg(whole / 3600)
        .arg(whole / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(whole % 60, 2, 10, QLatin1Char('0'));
}

QString LiveLines::text(int line) const
{
    const Line* l = this->line(line);
    if (!l)
        return QString();
    switch (l->kind) {
    case Kind::When: {
        QStringList parts;
        for (const TagValue& t : l->tags)
            parts << t.tag + QLatin1Char(' ') + number(t.value);
        parts.removeAll(QString());
        QString text = parts.join(QStringLiteral(", "));
        text += (text.isEmpty() ? QString() : QStringLiteral(" ")) + middleDot + QLatin1Char(' ') +
                (l->holds ? QStringLiteral("true") : QStringLiteral("false"));
        return MonitorText::cutText(text, MaxText);
    }
    case Kind::Due:
        // Without the runner's clock there is nothing to count from: the due time itself.
        if (!m_hasClock)
            return QStringLiteral("at ") + formatTime(l->due);
        return countdown(l->due - m_clockTime);
    case Kind::Ramp:
        return number(l->value) + QLatin1Char(' ') + rightArrow + QLatin1Char(' ') + number(l->target);
    case Kind::Written:
        return QStringLiteral("wrote ") + number(l->value);
    case Kind::NotFired:
        return QStringLiteral("never fired");
    case Kind::None:
        break;
    }
    return QString();
}

LiveLines::Role LiveLines::role(int line) const
{
    const Line* l = this->line(line);
    if (!l)
        return Role::None;
    switch (l->kind) {
    case Kind::When:
        return l->holds ? Role::Holds : Role::Waiting;
    case Kind::Due:
        return Role::Countdown;
    case Kind::Ramp:
        return Role::Ramp;
    case Kind::Written:
        return Role::Written;
    case Kind::NotFired:
        return Role::NotFired;
    case Kind::None:
        break;
    }
    return Role::None;
}

QString LiveLines::toolTip(int line) const
{
    const Line* l = this->line(line);
    if (!l)
        return QString();
    QStringList rows;
    switch (l->kind) {
    case Kind::When:
        rows << (l->holds ? QStringLiteral("The condition holds.") : QStringLiteral("The condition does not hold."));
        for (const TagValue& t : l->tags)
            rows << QLatin1Char('{') + t.tag + QStringLiteral("} = ") + QString::number(t.value, 'g', 17);
        break;
    case Kind::Due:
        rows << QStringLiteral("Falls due at ") + formatTime(l->due);
        if (m_hasClock) {
            rows << QStringLiteral("Kernel time ") + formatTime(m_clockTime) + QStringLiteral(", ") +
                        countdown(l->due - m_clockTime);
            if (kernelState() == Paused)
                rows << QStringLiteral("The kernel is paused: the countdown stands.");
        }
        break;
    case Kind::Ramp:
        rows << QStringLiteral("Ramping: written last ") + QString::number(l->value, 'g', 17);
        rows << QStringLiteral("Target ") + QString::number(l->target, 'g', 17);
        break;
    case Kind::Written:
        rows << QStringLiteral("Fired and wrote ") + QString::number(l->value, 'g', 17);
        break;
    case Kind::NotFired:
        rows << QStringLiteral("This statement never fired.");
        break;
    case Kind::None:
        break;
    }
    return rows.join(QLatin1Char('\n'));
}

QString LiveLines::kernelNotice() const
{
    if (m_finished)
        return QString();
    switch (kernelState()) {
    case Paused:
        return QString::fromLatin1(MonitorText::kernelPausedNotice);
    case NoModel:
        return QString::fromLatin1(MonitorText::kernelNoModelNotice);
    default:
        return QString();
    }
}

std::vector<int> LiveLines::takeChanged()
{
    std::vector<int> lines(m_changed.begin(), m_changed.end());
    m_changed.clear();
    return lines;
}

bool LiveLines::noticeChanged()
{
    const QString notice = kernelNotice();
    if (notice == m_lastNotice)
        return false;
    m_lastNotice = notice;
    return true;
}

QString LiveLines::withTexts(const QStringList& lines, int firstLine) const
{
    QString out;
    int k = firstLine;
    for (const QString& l : lines) {
        out += l;
        const QString t = text(k++);
        if (!t.isEmpty())
            out += QLatin1String("  ") + t;
        out += QLatin1Char('\n');
    }
    return out;
}
