#pragma once

// A KELM program file read into its statements: one statement per line, "*" and "//" lines and blank
// lines are comments, and "//" outside braces starts a comment at the end of a statement.

#include "lang/Expression.h"
#include "lang/StatementSyntax.h"

#include <string>
#include <string_view>
#include <vector>

namespace kelm {

enum class SendKind { ModelRun, ModelFreeze, SetVariable, Other };

struct CalendarDate
{
    int day = 0;
    int month = 0;
    int year = 0; // four digits: 2000 + yy
};

struct Statement
{
    int line = 0; // 1-based line of the file
    TriggerKind trigger = TriggerKind::At;
    double seconds = 0.0; // after: the delay; at: the time, or with a date the time of that day
    bool dated = false;
    CalendarDate date;
    Expression condition; // when
    OperationKind operation = OperationKind::Stop;
    std::string tag;  // set, ramp, send(SetVariable)
    Expression value; // set, ramp target, send(SetVariable) value
    double rampTime = 0.0;
    double rampStep = 0.0;
    SendKind send = SendKind::Other;
    std::string opcode;
    std::vector<std::string> arguments; // send: each argument's text, trimmed

    // Every tag the statement names: the condition's, the written tag, the value's.
    std::vector<std::string> tags() const;
};

struct LineFault
{
    int line = 0;
    std::string message;
};

struct Program
{
    std::vector<std::string> lines;    // every line of the file, as UTF-8, without its line end
    std::vector<Statement> statements; // the statements that read without fault, in line order
    std::vector<LineFault> faults;     // the faulty statement lines, in line order

    int statementCount() const { return int(statements.size() + faults.size()); }
};

// Outcome of reading one line.
enum class LineKind { Comment, Statement, Faulty };

// Reads one line (without its line end). A statement is written to statement, a fault's message to
// fault.
LineKind readLine(const std::string& line, int number, Statement& statement, std::string& fault);

// Splits content (UTF-8, or any other bytes read as Latin-1) into lines at LF, CR LF or, in a file
// without LF, CR, and reads each.
Program readProgram(std::string_view content);

// The largest program file read; larger ones are refused.
constexpr long long kMaxProgramBytes = 64LL * 1024 * 1024;

// Reads a program file. False with a reason (for "Cannot read NAME: reason") when it is missing, not
// a regular file, too large, unreadable or not text (it holds NUL bytes).
bool loadProgram(const std::string& path, Program& program, std::string& error);

// The last part of path, as the program's name.
std::string fileNameOf(const std::string& path);

// The one diagnostic of a parse: line -1 and "NAME: N statements, no errors." for a clean program,
// else the first faulty line and its message with the number of faulty lines.
struct ParseReport
{
    int line = -1;
    std::string text;
};
ParseReport parseReport(const std::string& name, const Program& program);

// The diagnostic of a program file that cannot be read: "Cannot read NAME: reason." (NAME empty:
// "the program").
std::string unreadableText(const std::string& name, const std::string& reason);

// The longest diagnostic, listing line or console text shown, in bytes; see displayText.
constexpr std::size_t kMaxShownText = 4000;

// Text made safe to show: valid UTF-8 (other bytes read as Latin-1), control characters other than
// tab shown as their control pictures (U+2400 + c), at most maxBytes bytes, cut at a character with
// "...".
std::string displayText(std::string_view text, std::size_t maxBytes);

} // namespace kelm
