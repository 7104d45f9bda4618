#pragma once

// A document that can put its caret on a line (1-based). The program document implements it, so
// that a diagnostic can reach an open program without the monitor knowing the editor.
class LineNavigation
{
public:
    virtual ~LineNavigation() = default;
    virtual void GoToLine(int line) = 0;
};
