#include "lang/StatementSyntax.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

StatementFields timed(TriggerKind trigger, const char* hours, const char* minutes, const char* seconds)
{
    StatementFields f;
    f.trigger = trigger;
    f.hours = hours;
    f.minutes = minutes;
    f.seconds = seconds;
    return f;
}

StatementFields withStop(StatementFields f)
{
    f.operation = OperationKind::Stop;
    return f;
}

TEST(ComposeStatement, WorkedExamples)
{
    std::vector<std::pair<StatementFields, std::string>> cases;
    cases.emplace_back(StatementFields{}, "at (0) {} = ");

    StatementFields f = timed(TriggerKind::At, "6", "30", "0");
    f.date = "24-12-98";
    f.tag = "T101";
    f.value = "1";
    cases.emplace_back(f, "at ([24-12-98 6:30:00.00]) {T101} = 1");

    f = timed(TriggerKind::After, "0", "0", "90");
    f.operation = OperationKind::Ramp;
    f.tag = "T101";
    f.value = "50";
    f.rampTime = "120";
    f.rampStep = "10";
    cases.emplace_back(f, "after (90) ramp({T101}, 50, 120, 10)");

    cases.emplace_back(withStop(timed(TriggerKind::After, "0", "2", "90")), "after ([03:30.00]) stop");

    f = timed(TriggerKind::After, "1", "75", "5");
    f.operation = OperationKind::Send;
    f.opcode = "ModelRun";
    cases.emplace_back(f, "after ([2:15:05.00]) send(ModelRun)");

    cases.emplace_back(withStop(timed(TriggerKind::After, "0", "1", "60")), "after ([02:00.00]) stop");

    f = StatementFields{};
    f.trigger = TriggerKind::When;
    f.expression = "{T101} > 50";
    f.operation = OperationKind::Send;
    f.opcode = "SetVariable";
    f.arguments = "x, 3";
    cases.emplace_back(f, "when ({T101} > 50) send(SetVariable, x, 3)");

    for (const auto& [fields, line] : cases)
        EXPECT_EQ(ComposeStatement(fields), line);
}

TEST(ComposeStatement, TimeConstants)
{
    // Bracketed form carries at 60; the plain form never carries and writes whole seconds in full.
    EXPECT_EQ(ComposeStatement(withStop(timed(TriggerKind::After, "0", "0", "60"))), "after (60) stop");
    EXPECT_EQ(ComposeStatement(withStop(timed(TriggerKind::After, "0", "0", "999999"))), "after (999999) stop");
    EXPECT_EQ(ComposeStatement(withStop(timed(TriggerKind::After, "0", "0", "1000000"))), "after (1000000) stop");
    EXPECT_EQ(ComposeStatement(withStop(timed(TriggerKind::After, "0", "60", "0"))), "after ([1:00:00.00]) stop");
    EXPECT_EQ(ComposeStatement(withStop(timed(TriggerKind::After, "2", "59", "60"))), "after ([3:00:00.00]) stop");
    EXPECT_EQ(ComposeStatement(withStop(timed(TriggerKind::At, "1", "0", "7"))), "at ([1:00:07.00]) stop");
    // Integer reads: leading blanks and sign count, fractions and trailing text do not.
    EXPECT_EQ(ComposeStatement(withStop(timed(TriggerKind::After, " +1", "2x", "05.50"))), "after ([1:02:05.00]) stop");
    EXPECT_EQ(ComposeStatement(withStop(timed(TriggerKind::After, "abc", "", "-3"))), "after (-3) stop");
    // Values beyond int range saturate instead of overflowing.
    EXPECT_EQ(ComposeStatement(withStop(timed(TriggerKind::After, "0", "0", "99999999999"))),
              "after (2147483647) stop");
    EXPECT_EQ(ComposeStatement(withStop(timed(TriggerKind::After, "0", "0", "-99999999999"))),
              "after (-2147483648) stop");
    // Seconds in exponent form, as earlier versions wrote them, mean the number they denote.
    EXPECT_EQ(ComposeStatement(withStop(timed(TriggerKind::At, "0", "0", "1.23457e+06"))), "at (1234570) stop");
    EXPECT_EQ(ComposeStatement(withStop(timed(TriggerKind::At, "0", "0", "2.5E1"))), "at (25) stop");
    EXPECT_EQ(ComposeStatement(withStop(timed(TriggerKind::At, "0", "0", "1e99"))), "at (2147483647) stop");
    EXPECT_EQ(ComposeStatement(withStop(timed(TriggerKind::At, "0", "0", "7e"))), "at (7) stop");
    EXPECT_EQ(ComposeStatement(withStop(timed(TriggerKind::After, "0", "99999999999", "0"))),
              "after ([35791394:07:00.00]) stop");

    // A date makes the form bracketed for "after" too, but is written only for "at".
    StatementFields f = withStop(timed(TriggerKind::After, "0", "0", "5"));
    f.date = "01-01-99";
    EXPECT_EQ(ComposeStatement(f), "after ([05.00]) stop");
    f.trigger = TriggerKind::At;
    EXPECT_EQ(ComposeStatement(f), "at ([01-01-99 05.00]) stop");
}

TEST(ComposeStatement, KindsAndFieldTexts)
{
    StatementFields f = withStop({});
    f.trigger = TriggerKind::When;
    f.expression = "{A} > 1  ";
    EXPECT_EQ(ComposeStatement(f), "when ({A} > 1  ) stop");
    f.trigger = TriggerKind::NoChoice;
    f.operation = OperationKind::NoChoice;
    EXPECT_EQ(ComposeStatement(f), " ({A} > 1  ) ");
    f.trigger = static_cast<TriggerKind>(7);
    f.operation = static_cast<OperationKind>(9);
    EXPECT_EQ(ComposeStatement(f), " ({A} > 1  ) ");

    f = StatementFields{};
    f.tag = " a b ";
    f.value = " 1 ";
    EXPECT_EQ(ComposeStatement(f), "at (0) { a b } =  1 ");
}

struct ParseCase
{
    const char* line;
    StatementFields expected;
};

void expectFields(const StatementFields& actual, const StatementFields& expected, const std::string& line)
{
    SCOPED_TRACE(line);
    EXPECT_EQ(actual.trigger, expected.trigger);
    EXPECT_EQ(actual.date, expected.date);
    EXPECT_EQ(actual.hours, expected.hours);
    EXPECT_EQ(actual.minutes, expected.minutes);
    EXPECT_EQ(actual.seconds, expected.seconds);
    EXPECT_EQ(actual.expression, expected.expression);
    EXPECT_EQ(actual.operation, expected.operation);
    EXPECT_EQ(actual.tag, expected.tag);
    EXPECT_EQ(actual.value, expected.value);
    EXPECT_EQ(actual.rampTime, expected.rampTime);
    EXPECT_EQ(actual.rampStep, expected.rampStep);
    EXPECT_EQ(actual.opcode, expected.opcode);
    EXPECT_EQ(actual.arguments, expected.arguments);
}

TEST(ParseStatement, WorkedExamples)
{
    StatementFields f;
    ASSERT_EQ(ParseStatement("AT ( [24-12-98 6:30:05.50] ) {T101}=  7", f), std::nullopt);
    StatementFields expected = timed(TriggerKind::At, "6", "30", "05.50");
    expected.date = "24-12-98";
    expected.tag = "T101";
    expected.value = "7";
    expectFields(f, expected, "at");
    EXPECT_EQ(ComposeStatement(f), "at ([24-12-98 6:30:05.00]) {T101} = 7");

    f = StatementFields{};
    ASSERT_EQ(ParseStatement("when (({A} > 1) and ({B} < 2)) stop", f), std::nullopt);
    expected = withStop({});
    expected.trigger = TriggerKind::When;
    expected.expression = "({A} > 1) and ({B} < 2)";
    expectFields(f, expected, "when");

    f = StatementFields{};
    f.hours = "4";
    ASSERT_EQ(ParseStatement("after ([02:05.00]) ramp( {T1} , 1 , 2 , 3 ) trailing", f), std::nullopt);
    expected = timed(TriggerKind::After, "4", "02", "05.00");
    expected.operation = OperationKind::Ramp;
    expected.tag = "T1";
    expected.value = "1";
    expected.rampTime = "2";
    expected.rampStep = "3";
    expectFields(f, expected, "ramp");

    f = StatementFields{};
    ASSERT_EQ(ParseStatement("\t after(  12 x ) send ( ModelRun , a, (b ) c", f), std::nullopt);
    expected = timed(TriggerKind::After, "0", "0", "12 x ");
    expected.operation = OperationKind::Send;
    expected.opcode = "ModelRun";
    expected.arguments = "a, (b";
    expectFields(f, expected, "send");
}

TEST(ParseStatement, FailureMessages)
{
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"every (5) stop", "Don't recognize keyword."},
        {"   ", "Don't recognize keyword."},
        {"at 5 stop", "Opening bracket expected but not found."},
        {"after ([05.00 stop", "Closing bracket on time constant missing."},
        {"after ([05.00] stop", "Closing bracket expected but not found."},
        {"after (5 stop", "Closing bracket expected but not found."},
        {"when ((x) stop", "Closing bracket expected but not found."},
        {"after (5) set {T1} = 2", "Operation keyword not recognized."},
        {"after (5)", "Operation keyword not recognized."},
        {"after (5) {T1 = 2", "Closing brace for model tag missing."},
        {"after (5) {T1} 2", "Equal operator expected but not found."},
        {"after (5) {a}b} = 1", "Equal operator expected but not found."},
        {"after (5) ramp(T1, 1, 2, 3)", "Opening brace for model tag missing."},
        {"after (5) ramp {T1}, 1, 2, 3)", "Opening bracket expected but not found."},
        {"after (5) ramp({T1, 1, 2, 3)", "Closing brace for model tag missing."},
        {"after (5) ramp({T1} 1, 2, 3)", "Comma separator in argument list not found."},
        {"after (5) ramp({T1}, 1 2 3)", "Comma separator in argument list not found."},
        {"after (5) ramp({T1}, 1, 2 3)", "Comma separator in argument list not found."},
        {"after (5) ramp({T1}, 1, 2, 3", "Closing bracket expected but not found."},
        {"after (5) send ModelRun, x)", "Opening bracket expected but not found."},
        {"after (5) send(ModelRun", "Comma separator in argument list not found."},
        {"after (5) send(ModelRun, x", "Closing bracket expected but not found."},
    };
    for (const auto& [line, message] : cases) {
        StatementFields f;
        EXPECT_EQ(ParseStatement(line, f), std::optional<std::string>(message)) << line;
    }
}

TEST(ParseStatement, SendWithoutArgumentsParsesBack)
{
    StatementFields f = timed(TriggerKind::After, "0", "0", "5");
    f.operation = OperationKind::Send;
    f.opcode = "ModelRun";
    const std::string line = ComposeStatement(f);
    EXPECT_EQ(line, "after (5) send(ModelRun)");
    StatementFields parsed;
    parsed.arguments = "left over";
    EXPECT_EQ(ParseStatement(line, parsed), std::nullopt);
    EXPECT_EQ(parsed.operation, OperationKind::Send);
    EXPECT_EQ(parsed.opcode, "ModelRun");
    EXPECT_EQ(parsed.arguments, "");

    // An opcode with a ")" in it is written with its comma, or it would read back cut at the ")".
    ASSERT_EQ(ParseStatement("When()SEND(o),)", parsed), std::nullopt);
    EXPECT_EQ(parsed.opcode, "o)");
    EXPECT_EQ(ComposeStatement(parsed), "when () send(o), )");
    StatementFields reread;
    ASSERT_EQ(ParseStatement(ComposeStatement(parsed), reread), std::nullopt);
    EXPECT_EQ(reread.opcode, "o)");
    EXPECT_EQ(reread.arguments, "");

    // With a comma the line reads as before, the opcode up to the comma.
    EXPECT_EQ(ParseStatement("after (5) send( ModelFreeze , a, b )", parsed), std::nullopt);
    EXPECT_EQ(parsed.opcode, "ModelFreeze");
    EXPECT_EQ(parsed.arguments, "a, b");
}

// Composing, parsing and composing again gives the same line: nothing the dialog writes is lost or
// changed by reading it back.
TEST(ComposeStatement, RoundTripsAreStable)
{
    // Negative hours or minutes are left out: carrying them can empty a bracketed time, which then
    // reads back in the plain form (the same time, written differently).
    const char* texts[] = {
        "0",       "1",          "59",          "60",    "61",    "3599", "999999", "1000000",
        "1234567", "2147483647", "99999999999", "1.5e3", "12abc", "",     " +7",    "99999999999999999999999"};
    std::vector<StatementFields> records;
    for (TriggerKind trigger : {TriggerKind::After, TriggerKind::At}) {
        for (const char* h : texts) {
            for (const char* m : texts) {
                for (const char* x : {"0", "59", "60", "1234567", "99999999999", "1.23457e+06"}) {
                    StatementFields f = withStop(timed(trigger, h, m, x));
                    records.push_back(f);
                    // "after" writes no date (its bracketed form then reads back as the plain one).
                    if (trigger == TriggerKind::At) {
                        f.date = "05-03-07";
                        records.push_back(f);
                    }
                }
            }
        }
    }
    StatementFields send = timed(TriggerKind::After, "0", "0", "5");
    send.operation = OperationKind::Send;
    for (const char* opcode : {"ModelRun", "ModelFreeze", "Custom"}) {
        send.opcode = opcode;
        for (const char* args : {"", "a", "{T1}, 3"}) {
            send.arguments = args;
            records.push_back(send);
        }
    }
    for (const StatementFields& f : records) {
        const std::string first = ComposeStatement(f);
        StatementFields parsed;
        ASSERT_EQ(ParseStatement(first, parsed), std::nullopt) << first;
        EXPECT_EQ(ComposeStatement(parsed), first);
    }

    StatementFields f;
    ASSERT_EQ(ParseStatement("at (1234567) stop", f), std::nullopt);
    EXPECT_EQ(ComposeStatement(f), "at (1234567) stop");
    // Carrying huge minutes into hours stays exact in 64 bits.
    const std::string carried = ComposeStatement(withStop(timed(TriggerKind::After, "2147483647", "2147483647", "0")));
    EXPECT_EQ(carried, "after ([2183275041:07:00.00]) stop");
}

TEST(ParseStatement, KeywordsArePrefixesInAnyCase)
{
    StatementFields f;
    f.trigger = TriggerKind::When;
    ASSERT_EQ(ParseStatement("AT(1)Stopped now", f), std::nullopt);
    EXPECT_EQ(f.trigger, TriggerKind::At);
    EXPECT_EQ(f.operation, OperationKind::Stop);
    EXPECT_EQ(ComposeStatement(f), "at (1) stop");

    ASSERT_EQ(ParseStatement("After (2) RAMP({t},a,b,c)", f), std::nullopt);
    EXPECT_EQ(f.trigger, TriggerKind::After);
    EXPECT_EQ(f.operation, OperationKind::Ramp);
    EXPECT_EQ(f.rampStep, "c");
    ASSERT_EQ(ParseStatement("When(x)SEND(op,)", f), std::nullopt);
    EXPECT_EQ(f.trigger, TriggerKind::When);
    EXPECT_EQ(f.operation, OperationKind::Send);
    EXPECT_EQ(f.opcode, "op");
    EXPECT_EQ(f.arguments, "");

    // "at" is tested first, so any word beginning with it is taken as "at".
    EXPECT_EQ(ParseStatement("attention (1) stop", f),
              std::optional<std::string>("Opening bracket expected but not found."));
    EXPECT_EQ(f.trigger, TriggerKind::At);
}

TEST(ParseStatement, FieldTextsAreKeptAndCut)
{
    StatementFields f;
    ASSERT_EQ(ParseStatement("when (  {A} > 1   ) {a} =  b} = x}, y  ", f), std::nullopt);
    EXPECT_EQ(f.expression, "{A} > 1   ");
    EXPECT_EQ(ComposeStatement(f), "when ({A} > 1   ) {a} = b} = x}, y");
    EXPECT_EQ(f.tag, "a");
    EXPECT_EQ(f.value, "b} = x}, y");

    // Anything between "]" and ")" is ignored; a date is split at the first blank.
    ASSERT_EQ(ParseStatement("at ([ 1-2-3   4:5:6:7 ] junk ) stop", f), std::nullopt);
    EXPECT_EQ(f.date, "1-2-3");
    EXPECT_EQ(f.hours, "4");
    EXPECT_EQ(f.minutes, "5:6");
    EXPECT_EQ(f.seconds, "7");
}

TEST(ParseStatement, UnmentionedAndFailedFields)
{
    StatementFields f;
    f.date = "d";
    f.hours = "h";
    f.minutes = "m";
    f.tag = "keep";
    ASSERT_EQ(ParseStatement("after (5) stop", f), std::nullopt);
    EXPECT_EQ(f.date, "d");
    EXPECT_EQ(f.hours, "h");
    EXPECT_EQ(f.minutes, "m");
    EXPECT_EQ(f.seconds, "5");
    EXPECT_EQ(f.tag, "keep");

    // Fields before the failure point are already written, the rest keep their values.
    f = StatementFields{};
    EXPECT_TRUE(ParseStatement("when (x) ramp({T1}, 7, 8 9)", f).has_value());
    EXPECT_EQ(f.trigger, TriggerKind::When);
    EXPECT_EQ(f.expression, "x");
    EXPECT_EQ(f.operation, OperationKind::Ramp);
    EXPECT_EQ(f.tag, "T1");
    EXPECT_EQ(f.value, "7");
    EXPECT_EQ(f.rampTime, "");

    f = StatementFields{};
    EXPECT_TRUE(ParseStatement("after (5) {T1} 2", f).has_value());
    EXPECT_EQ(f.trigger, TriggerKind::After);
    EXPECT_EQ(f.seconds, "5");
    EXPECT_EQ(f.tag, "T1");
    EXPECT_EQ(f.value, "");

    f = withStop(timed(TriggerKind::When, "1", "2", "3"));
    EXPECT_EQ(ParseStatement("", f), std::nullopt);
    expectFields(f, withStop(timed(TriggerKind::When, "1", "2", "3")), "empty");
}

TEST(ValidateStatement, FirstMissingFieldInOrder)
{
    StatementFields f;
    f.trigger = TriggerKind::When;
    EXPECT_EQ(ValidateStatement(f), std::optional<std::string>("An expression must be entered."));
    f.expression = " ";
    EXPECT_EQ(ValidateStatement(f), std::optional<std::string>("A tag name must be entered."));
    f.tag = "T";
    EXPECT_EQ(ValidateStatement(f), std::optional<std::string>("A tag value must be entered."));
    f.value = "1";
    EXPECT_EQ(ValidateStatement(f), std::nullopt);

    f = StatementFields{};
    f.operation = OperationKind::Ramp;
    const std::vector<std::pair<std::string StatementFields::*, const char*>> ramp = {
        {&StatementFields::tag, "A ramp tag name must be entered."},
        {&StatementFields::value, "A ramp target value must be entered."},
        {&StatementFields::rampTime, "A ramp total time value must be entered."},
        {&StatementFields::rampStep, "A ramp increment time value must be entered."},
    };
    for (const auto& [field, message] : ramp) {
        EXPECT_EQ(ValidateStatement(f), std::optional<std::string>(message));
        f.*field = "x";
    }
    EXPECT_EQ(ValidateStatement(f), std::nullopt);

    // Only the fields of the chosen operation count; times and arguments are never checked.
    f = timed(TriggerKind::At, "", "", "");
    f.operation = OperationKind::Send;
    f.opcode = "";
    EXPECT_EQ(ValidateStatement(f), std::optional<std::string>("An opcode name must be entered."));
    f.opcode = "Op";
    EXPECT_EQ(ValidateStatement(f), std::nullopt);
    EXPECT_EQ(ValidateStatement(withStop({})), std::nullopt);
}

} // namespace

// The dialog fills its fields from whatever it can read of a line; a program is read strictly.
TEST(ParseProgramStatement, RefusesWhatTheDialogsReadingPassesOver)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"after (5) stopnow", "Unexpected text after the statement at column 15."},
        {"after (5) send(ModelFreeze) send(ModelRun)", "Unexpected text after the statement at column 29."},
        {"after ([02:05.00]) ramp( {T1} , 1 , 2 , 3 ) trailing", "Unexpected text after the statement at column 45."},
        {"at ([05.00] x) stop", "Unexpected text after the time at column 13."},
    };
    for (const auto& [line, message] : cases) {
        StatementFields dialog;
        EXPECT_EQ(ParseStatement(line, dialog), std::nullopt) << line;
        StatementFields program;
        EXPECT_EQ(ParseProgramStatement(line, program), message) << line;
    }

    // Send arguments: cut at the first ")" for the dialog, nested for a program.
    const std::string nested = "when (1) send(SetVariable, {A}, (1 + 2) * 3)";
    StatementFields dialog;
    EXPECT_EQ(ParseStatement(nested, dialog), std::nullopt);
    EXPECT_EQ(dialog.arguments, "{A}, (1 + 2");
    StatementFields program;
    EXPECT_EQ(ParseProgramStatement(nested, program), std::nullopt);
    EXPECT_EQ(program.opcode, "SetVariable");
    EXPECT_EQ(program.arguments, "{A}, (1 + 2) * 3");
    EXPECT_EQ(ParseProgramStatement("after (0) send( ModelRun )", program), std::nullopt);
    EXPECT_EQ(program.opcode, "ModelRun");
    EXPECT_EQ(program.arguments, "");
}
