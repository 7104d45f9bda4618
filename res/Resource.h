#pragma once

// Ids of the program's own commands, resources and status-bar panes.
namespace Cmd {
enum : int {
    CloseFinishedMonitors = 32771,
    Parse = 32772,
    Run = 32773,
    Stop = 32774,
    LogOn = 32775,
    InsertModelVariable = 32777,
    Options = 32779,
    InsertStatement = 32780,
    GoToLine = 32790,
    ViewProblems = 32791,
    ViewRuns = 32792,
    SaveConsoleAs = 32795,
    FindPrevious = 32796,
    ExportRunData = 32797,
    ViewConsole = 32798,
    ViewTrend = 32799,
    ExportRunReport = 32800,
};
} // namespace Cmd

namespace Res {
enum : int {
    MainFrame = 128,  // menu, tool bar and icon of the main frame; the menu shown without documents
    ProgramDoc = 129, // program document template, menu and icon
    MonitorDoc = 130, // monitor document template, menu and icon
    AboutDialog = 100,
    OptionsDialog = 132,
    SchedulerTimer = 101,
};
} // namespace Res

// Indices of the main frame's status-bar panes.
namespace Pane {
enum : int { Prompt = 0, Clients = 1, KernelTime = 2, KernelState = 3, CapsLock = 4, NumLock = 5 };
} // namespace Pane

namespace Str {
constexpr const char* AppTitle = "KelmDesk";
constexpr const char* Ready = "Ready";
} // namespace Str
