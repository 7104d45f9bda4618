// ParseStatement on any line, and the round trip of what it read: the composed line parses, gives
// back the same fields, and composes to itself. Times are compared as the composed line writes
// them (a time has many spellings). Two spellings are known not to come back the same and are left
// out: negative hours or minutes (carrying them can empty a bracketed time, which then reads back in
// the plain form), and a date with "after", which writes no date.

#include "fuzz/FuzzCheck.h"
#include "lang/StatementSyntax.h"

#include <string>

namespace {

bool negative(const std::string& text)
{
    const auto at = text.find_first_not_of(" \t\n\v\f\r");
    return at != std::string::npos && text[at] == '-';
}

bool sameOperation(const StatementFields& a, const StatementFields& b)
{
    if (a.operation != b.operation)
        return false;
    switch (a.operation) {
    case OperationKind::Set:
        return a.tag == b.tag && a.value == b.value;
    case OperationKind::Ramp:
        return a.tag == b.tag && a.value == b.value && a.rampTime == b.rampTime && a.rampStep == b.rampStep;
    case OperationKind::Send:
        return a.opcode == b.opcode && a.arguments == b.arguments;
    default:
        return true;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string line(reinterpret_cast<const char*>(data), size);
    StatementFields fields;
    const StatementError error = ParseStatement(line, fields);
    // Whatever the line, the fields compose and validate.
    const std::string composed = ComposeStatement(fields);
    ValidateStatement(fields);
    if (error) {
        FUZZ_CHECK(!error->empty());
        return 0;
    }
    if (line.empty() || negative(fields.hours) || negative(fields.minutes))
        return 0;
    if (fields.trigger == TriggerKind::After && !fields.date.empty())
        return 0;

    StatementFields again;
    const StatementError reread = ParseStatement(composed, again);
    if (reread)
        std::fprintf(stderr, "line: [%s]\ncomposed: [%s]\nerror: %s\n", line.c_str(), composed.c_str(),
                     reread->c_str());
    FUZZ_CHECK(!reread);
    FUZZ_CHECK(again.trigger == fields.trigger);
    if (fields.trigger == TriggerKind::When)
        FUZZ_CHECK(again.expression == fields.expression);
    else if (fields.trigger == TriggerKind::At)
        FUZZ_CHECK(again.date == fields.date);
    const bool operationKept = sameOperation(again, fields);
    const std::string recomposed = ComposeStatement(again);
    if (!operationKept || recomposed != composed)
        std::fprintf(stderr, "line: [%s]\ncomposed: [%s]\nrecomposed: [%s]\n", line.c_str(), composed.c_str(),
                     recomposed.c_str());
    FUZZ_CHECK(operationKept);
    FUZZ_CHECK(recomposed == composed);
    return 0;
}
