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
    std::vector<int> lineStarts; // lineCount is lineStarts.size()
};
