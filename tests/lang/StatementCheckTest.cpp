// The runner's reading of a statement line and the editor's live check are one reader: each case
// is checked through both, and both must give the same message.

#include "lang/ProgramCheck.h"
#include "tests/lang/Coloured.h"
#include "lang/Program.h"

#include <gtest/gtest.h>

using namespace kelm;

namespace {

std::string runnerFault(const std::string& line)
{
    Statement s;
    std::string fault;
    return readLine(line, 1, s, fault) == LineKind::Faulty ? fault : std::string();
}

std::string liveFault(const std::string& line)
{
    return ProgramCheck::lineFault(QString::fromStdString(line)).toStdString();
}

void expectFault(const std::string& line, const std::string& message)
{
    EXPECT_EQ(runnerFault(line), message) << line;
    EXPECT_EQ(liveFault(line), message) << line;
}

} // namespace

TEST(StatementCheck, TextAfterACompleteStatementIsAFaultNamingItsColumn)
{
    expectFault("after (5) stopnow", "Unexpected text after the statement at column 15.");
    expectFault("after (5) send(ModelFreeze) send(ModelRun)", "Unexpected text after the statement at column 29.");
    expectFault("after (5) ramp({A}, 1, 10, 1) x", "Unexpected text after the statement at column 31.");
    expectFault("after (5) ramp({A}, 1, 10, 1))", "Unexpected text after the statement at column 30.");
    expectFault("when ({A} > 1) stop stop", "Unexpected text after the statement at column 21.");
    expectFault("at ([00:05.00] soon) stop", "Unexpected text after the time at column 16.");
    // Columns count characters, not bytes.
    expectFault("when ({Ä:Ö} > 1) stop ü", "Unexpected text after the statement at column 23.");

    // A comment, blanks and a line end after the statement stay allowed.
    for (const char* line : {"after (5) stop // now", "after (5) stop   \t", "after (5) send(ModelRun)\r",
                             "at ([00:05.00] ) {A} = 1 // set", "after (1) ramp({A}, 1, 10, 1) //"})
        expectFault(line, "");
}

TEST(StatementCheck, SendArgumentsAreExpressionsWhoseParenthesesNest)
{
    Statement s;
    std::string fault;
    ASSERT_EQ(readLine("after (1) send(SetVariable, {FEED1:TEMP}, (1 + 2) * 3)", 1, s, fault), LineKind::Statement)
        << fault;
    EXPECT_EQ(s.tag, "FEED1:TEMP");
    EXPECT_EQ(s.value.evaluate([](const std::string&) { return ExprResult::of(0); }).value, 9);
    ASSERT_EQ(readLine("when (1) send(Reset, (a, b), c)", 1, s, fault), LineKind::Statement) << fault;
    EXPECT_EQ(s.arguments, (std::vector<std::string>{"(a, b)", "c"}));

    expectFault("after (1) send(SetVariable, {A}, ((1 + 2) * 3)", "Closing bracket expected but not found.");
    expectFault("after (1) send(SetVariable, {A}, (1 + 2)) * 3)", "Unexpected text after the statement at column 43.");
    expectFault("after (1) send(SetVariable, {A}, (1 +) * 3)",
                "SetVariable value: Number, tag or '(' expected at column 5, found \")\".");
    expectFault("after (1) send(ModelRun", "Closing bracket expected but not found.");
    expectFault("after (1) send(ModelRun, (x)", "Closing bracket expected but not found.");
}

TEST(LiveCheck, TokensColourKeywordsTagsNumbersArgumentsAndComments)
{
    EXPECT_EQ(coloured("after (1.5e3) {T101:INLET} = 2.0 // open"),
              "keyword:after number:1.5e3 tag:{T101:INLET} number:2.0 comment:// open");
    EXPECT_EQ(coloured("at ([01-02-24 10:00:00]) stop"), "keyword:at number:[01-02-24 10:00:00] keyword:stop");
    EXPECT_EQ(coloured("after (1) send(SetVariable, {FEED1:TEMP} , (1 + 2) * 3 )"),
              "keyword:after number:1 keyword:send string:{FEED1:TEMP} string:1 + 2 string:* 3")
        << "arguments are strings, their parentheses left plain";
    EXPECT_EQ(coloured("  * a comment line"), "comment:  * a comment line");
    EXPECT_EQ(coloured("when ({T1:A} > 2) {T1:B = 1"), "keyword:when tag:{T1:A} number:2 tag:{T1:B = 1")
        << "an unclosed tag runs to the end";
    EXPECT_EQ(coloured(""), "");
    // A comma inside an argument's own parentheses: the scan must move past it (it once stood still
    // there, adding empty tokens until memory ran out).
    EXPECT_EQ(coloured("when (1) send(Reset, (a, b), c)"),
              "keyword:when number:1 keyword:send string:a string:b string:c");
}
