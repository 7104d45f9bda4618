#pragma once

#include <QString>

// The text forms of a monitor: listing prefixes, comment parts, console lines, titles and the
// listing's colours. No widgets.
namespace MonitorText {

// Width of the time slot at the start of every listing line: a calendar time takes 17 characters,
// an elapsed one 8.
int slotWidth(bool calendarTime);

// The prefix of listing line number: the blank time slot, a blank, the number right-aligned in 4
// columns (wider when it needs more), a colon and a blank.
QString listingPrefix(int number, bool calendarTime);

// Offset in text where its comment part starts: 0 for a text that begins with "*", else the first
// "//"; -1 when there is none.
int commentOffset(const QString& text);

// text, or its first max - 1 characters and an ellipsis when it is longer than max.
QString cutText(const QString& text, int max);

// The longest diagnostic text a message box shows.
inline constexpr int maxDiagnosticText = 4096;

// A reported text made fit for one listing line: line breaks and other control characters become
// visible symbols, and a text longer than maxListingText is cut with an ellipsis.
QString listingText(const QString& text);
inline constexpr int maxListingText = 4096;

// "[time] text" ending in CR LF. A text that ends in a line feed has it replaced; one that does not
// gets CR LF added, so every console text is one line. Other line breaks inside stay. A text longer
// than maxConsoleText is cut with an ellipsis, so that a console's memory has a bound.
QString consoleLine(const QString& text, const QString& timeText);
inline constexpr int maxConsoleText = 4096;

// The most lines a listing takes; later listing lines are dropped (a program's file is far shorter).
inline constexpr int maxListingLines = 200000;

// The time text of a disconnection, in place of a formatted time.
inline constexpr const char* unknownTime = "??:??:??";

inline constexpr const char* startedText = "--- Started execution ---\n";
inline constexpr const char* finishedText = "--- Finished normally ---\n";
inline constexpr const char* abnormalText = "--- Program terminated abnormally ---\n";
// The user ended the runner's process after a Stop it did not answer.
inline constexpr const char* endedByUserText = "--- Program ended by the user ---\n";
// A runner KelmDesk did not start cannot be ended from here.
inline constexpr const char* notEndedText =
    "--- Not ended 5 seconds after Stop; KelmDesk did not start this runner and cannot end it ---\n";

// How long a Stop is given before the runner is offered to be ended, and how long a runner asked to
// end (SIGTERM) is given before it is ended at once (SIGKILL).
inline constexpr int stopWaitMs = 5000;
inline constexpr int endGraceMs = 2000;

// What a monitor says while its program waits on the kernel.
inline constexpr const char* kernelPausedNotice = "Kernel paused: the program waits, countdowns stand";
inline constexpr const char* kernelNoModelNotice = "Kernel has no model loaded: the program waits";

// "%s - Initializing...", "%s - Executing" or "%s - Finished" for state 0, 1 or 2 with name (a name
// longer than maxTitleName is cut after maxTitleName characters, with an ellipsis). While a Stop
// waits for the program's end (stopping, state 0 or 1): "%s - Stopping...".
QString title(int state, const QString& name, bool stopping = false);
inline constexpr int maxTitleName = 200;

struct Rgb
{
    int red, green, blue;
};

// Colours of the listing. "Automatic" parts use the view's own text colour.
inline constexpr Rgb prefixColour{0, 119, 0};
inline constexpr Rgb commentColour{0, 170, 0};
inline constexpr Rgb timeColour{0, 0, 170};
inline constexpr Rgb doneColour{136, 136, 136};
inline constexpr Rgb highlightColour{255, 136, 0};
inline constexpr Rgb activeStampColour{0, 0, 136};

// How MarkLine colours a line.
enum class LineMark { MarkCurrent = 0, MarkDone = 1, MarkHighlight = 2, MarkStamp = 3 };

} // namespace MonitorText
