#include "monitor/MonitorText.h"

namespace MonitorText {

int slotWidth(bool calendarTime)
{
    return calendarTime ? 17 : 8;
}

QString listingPrefix(int number, bool calendarTime)
{
    return QString(slotWidth(calendarTime) + 1, QLatin1Char(' ')) + QStringLiteral("%1: ").arg(number, 4);
}

int commentOffset(const QString& text)
{
    if (text.startsWith(QLatin1Char('*')))
        return 0;
    return static_cast<int>(text.indexOf(QLatin1String("//")));
}

QString cutText(const QString& text, int max)
{
    return text.size() > max ? text.left(max - 1) + QChar(0x2026) : text;
}

QString listingText(const QString& text)
{
    QString result = cutText(text, maxListingText);
    for (QChar& c : result) {
        const char16_t u = c.unicode();
        if (u == '\t')
            continue;
        if (u < 0x20)
            c = QChar(0x2400 + u); // the control pictures
        else if (u == 0x7f)
            c = QChar(0x2421);
        else if (u == 0x2028 || u == 0x2029 || u == 0xfdd0 || u == 0xfdd1)
            c = QChar(0xfffd); // would break the line in a text document
    }
    return result;
}

QString consoleLine(const QString& text, const QString& timeText)
{
    QString line = QStringLiteral("[%1] %2").arg(timeText, cutText(text, maxConsoleText));
    if (line.endsWith(QLatin1Char('\n')))
        line.chop(1);
    line += QLatin1String("\r\n");
    return line;
}

QString title(int state, const QString& programName, bool stopping)
{
    const QString name =
        programName.size() > maxTitleName ? programName.left(maxTitleName) + QChar(0x2026) : programName;
    if (stopping && state != 2)
        return QStringLiteral("%1 - Stopping...").arg(name);
    switch (state) {
    case 0:
        return QStringLiteral("%1 - Initializing...").arg(name);
    case 1:
        return QStringLiteral("%1 - Executing").arg(name);
    default:
        return QStringLiteral("%1 - Finished").arg(name);
    }
}

} // namespace MonitorText
