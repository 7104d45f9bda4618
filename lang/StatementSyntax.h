#pragma once

#include <optional>
#include <string>

// Text form of one KELM statement line: a trigger followed by an operation. The kind values are the
// positions of the keywords in the alphabetically sorted keyword tables below; -1 is no choice.

enum class TriggerKind : int { NoChoice = -1, After = 0, At = 1, When = 2 };

enum class OperationKind : int { NoChoice = -1, Ramp = 0, Send = 1, Set = 2, Stop = 3 };

inline constexpr int kTriggerKindCount = 3;
inline constexpr int kOperationKindCount = 4;

// Indexed by kind value. "set" is only a name to show: a set statement has no keyword in a line.
inline constexpr const char* kTriggerKeywords[kTriggerKindCount] = {"after", "at", "when"};
inline constexpr const char* kOperationKeywords[kOperationKindCount] = {"ramp", "send", "set", "stop"};

// The opcodes offered for a send, sorted; any other opcode text is allowed.
inline constexpr const char* kSendOpcodes[] = {"ModelFreeze", "ModelRun", "SetModelParameter", "SetVariable"};

// The keyword of a kind; empty for no choice or a value outside the table.
const char* triggerKeyword(TriggerKind kind);
const char* operationKeyword(OperationKind kind);

// Every part except the two kinds is kept as text, exactly as typed or parsed (UTF-8). The
// initial values are those of a fresh statement.
struct StatementFields
{
    TriggerKind trigger = TriggerKind::At;
    std::string date;
    std::string hours = "0";
    std::string minutes = "0";
    std::string seconds = "0";
    std::string expression;
    OperationKind operation = OperationKind::Set;
    std::string tag;
    std::string value;
    std::string rampTime;
    std::string rampStep;
    std::string opcode = "SetVariable";
    std::string arguments;
};

// A failure is its message text alone; std::nullopt is success.
using StatementError = std::optional<std::string>;

// Fills fields from line. Fields are written as they are reached, so after a failure the ones before
// the failure point have changed; fields the line does not mention keep their values. An empty line
// changes nothing and succeeds.
StatementError ParseStatement(const std::string& line, StatementFields& fields);

// The reading that programs are checked and run with: as ParseStatement, except that a send's
// arguments may nest parentheses, and text after the statement or inside a time constant's
// parentheses after its "]" is a fault that names its column ("Unexpected text after the statement
// at column 16."). line holds no trailing comment.
StatementError ParseProgramStatement(const std::string& line, StatementFields& fields);

// The statement line, without a line terminator.
std::string ComposeStatement(const StatementFields& fields);

// The first missing field's message, or std::nullopt when the record is complete enough to use.
StatementError ValidateStatement(const StatementFields& fields);
