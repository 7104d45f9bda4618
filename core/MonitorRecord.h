#pragma once

#include <QString>

#include <optional>
#include <vector>

class CMonitorDoc;
class CMonitorConsole;

enum class MonitorState { Initializing = 0, Executing = 1, Finished = 2 };

// One per monitor document; lives exactly as long as its document.
struct MonitorRecord
{
    int socket = 0;
    MonitorState state = MonitorState::Initializing;
    CMonitorDoc* document = nullptr;
    CMonitorConsole* console = nullptr;
    std::optional<QString> programName;
    int currentLine = 0;
    // Where listing line k (1-based) starts: lineStarts[k - 1]; lineCount is lineStarts.size().
    std::vector<int> lineStarts;
    // Per line: the width of what fills its time slot now (blanks, then a time text), and where its
    // reported text starts, counted from the line's start. A time text wider than the slot, or a line
    // number of more than 4 digits, widens the line; the later lines' starts move with it.
    std::vector<int> lineSlots;
    std::vector<int> lineTextOffsets;
};
