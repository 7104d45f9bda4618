#include "lang/Program.h"
#include "runner/Runner.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace kelm;

namespace {

// The message of the one faulty line text, or "" when it reads as a statement.
std::string faultOf(const std::string& line)
{
    Statement s;
    std::string fault;
    const LineKind kind = readLine(line, 1, s, fault);
    EXPECT_NE(kind, LineKind::Comment) << line;
    return kind == LineKind::Faulty ? fault : std::string();
}

Statement statementOf(const std::string& line)
{
    Statement s;
    std::string fault;
    EXPECT_EQ(readLine(line, 7, s, fault), LineKind::Statement) << line << ": " << fault;
    return s;
}

} // namespace

TEST(Program, LinesAreNumberedFromOneWithCommentsAndBlankLinesKept)
{
    const Program p = readProgram("\xEF\xBB\xBF* heading\r\n"
                                  "\r\n"
                                  "   // indented comment\r\n"
                                  "after (5) stop // trailing comment\r\n"
                                  "when ({A://x} > 1) stop\r\n"
                                  "bogus\r\n"
                                  "at (1) {B} = 2");
    ASSERT_EQ(p.lines.size(), 7u);
    EXPECT_EQ(p.lines[0], "* heading");
    EXPECT_EQ(p.lines[1], "");
    EXPECT_EQ(p.lines[3], "after (5) stop // trailing comment");
    ASSERT_EQ(p.statements.size(), 3u);
    EXPECT_EQ(p.statements[0].line, 4);
    EXPECT_EQ(p.statements[1].line, 5);
    EXPECT_EQ(p.statements[1].condition.tags(), std::vector<std::string>{"A://x"});
    EXPECT_EQ(p.statements[2].line, 7);
    ASSERT_EQ(p.faults.size(), 1u);
    EXPECT_EQ(p.faults[0].line, 6);
    EXPECT_EQ(p.faults[0].message, "Don't recognize keyword.");
    EXPECT_EQ(p.statementCount(), 4);

    // A file with CR alone as its line end; a final line end adds no line.
    EXPECT_EQ(readProgram("after (1) stop\r* c\rstop\r").lines,
              (std::vector<std::string>{"after (1) stop", "* c", "stop"}));
    EXPECT_EQ(readProgram("a\nb\n").lines.size(), 2u);
    EXPECT_TRUE(readProgram("").lines.empty());
}

TEST(Program, TextThatIsNotUtf8IsReadAsLatin1)
{
    const Program p = readProgram("* caf\xE9\nafter (1) stop\n");
    EXPECT_EQ(p.lines[0], "* caf\xC3\xA9");
    EXPECT_EQ(p.statements.size(), 1u);
}

TEST(Program, StatementsReadIntoTriggersAndOperations)
{
    Statement s = statementOf("AT ( [24-12-98 6:30:05.50] ) {T101:LEVEL}=  {T101:LEVEL} + 1");
    EXPECT_EQ(s.line, 7);
    EXPECT_EQ(s.trigger, TriggerKind::At);
    EXPECT_TRUE(s.dated);
    EXPECT_EQ(s.date.day, 24);
    EXPECT_EQ(s.date.month, 12);
    EXPECT_EQ(s.date.year, 2098);
    EXPECT_DOUBLE_EQ(s.seconds, 6 * 3600 + 30 * 60 + 5.5);
    EXPECT_EQ(s.operation, OperationKind::Set);
    EXPECT_EQ(s.tag, "T101:LEVEL");
    EXPECT_EQ(s.tags(), std::vector<std::string>{"T101:LEVEL"});

    s = statementOf("after ([02:05.00]) ramp( {FV101:POS} , 2 * 10 , 120 , 2.5 ) ");
    EXPECT_EQ(s.trigger, TriggerKind::After);
    EXPECT_DOUBLE_EQ(s.seconds, 125);
    EXPECT_EQ(s.operation, OperationKind::Ramp);
    EXPECT_EQ(s.tag, "FV101:POS");
    EXPECT_DOUBLE_EQ(s.rampTime, 120);
    EXPECT_DOUBLE_EQ(s.rampStep, 2.5);

    s = statementOf("when (({A} > 1) and ({B} < 2)) send(SetVariable, {C:D}, {A} * 2)");
    EXPECT_EQ(s.trigger, TriggerKind::When);
    EXPECT_EQ(s.send, SendKind::SetVariable);
    EXPECT_EQ(s.tag, "C:D");
    EXPECT_EQ(s.tags(), (std::vector<std::string>{"A", "B", "C:D"}));

    s = statementOf("after (0) send(SetModelParameter, speed, 2)");
    EXPECT_EQ(s.send, SendKind::Other);
    EXPECT_EQ(s.opcode, "SetModelParameter");
    EXPECT_EQ(s.arguments, (std::vector<std::string>{"speed", "2"}));

    EXPECT_EQ(statementOf("after (2.5 ) stop").seconds, 2.5);
    EXPECT_EQ(statementOf("at ([1:00:00]) stop").seconds, 3600);
}

// The composer writes a send without arguments as "send(OPCODE)".
TEST(Program, SendWithoutArgumentsAsTheComposerWritesIt)
{
    Statement s = statementOf("after (0) send(ModelRun)");
    EXPECT_EQ(s.send, SendKind::ModelRun);
    EXPECT_TRUE(s.arguments.empty());
    s = statementOf("when ({send} > 1) SEND( modelfreeze ) // pause");
    EXPECT_EQ(s.send, SendKind::ModelFreeze);
    s = statementOf("after (1) send(Reset)");
    EXPECT_EQ(s.send, SendKind::Other);
    EXPECT_EQ(s.opcode, "Reset");
}

TEST(Program, FaultyLinesGetOneMessageEach)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"after (5) set {T1} = 2", "Operation keyword not recognized."},
        {"after (5) {T1} 2", "Equal operator expected but not found."},
        {"when () stop", "An expression must be entered."},
        {"after (5) {T1} =", "A tag value must be entered."},
        {"after (5) { } = 1", "A tag name must be entered."},
        {"after (five) stop", "The time must be a number of seconds, or [h:mm:ss.ss]."},
        {"after (-5) stop", "The time must be a number of seconds, or [h:mm:ss.ss]."},
        {"after ([x:01:00.00]) stop", "The hours must be a whole number."},
        {"after ([24-12-24 1:00:00.00]) stop", "Only at takes a date."},
        {"at ([31-02-24 1:00:00.00]) stop", "The date must be a date written dd-mm-yy."},
        {"at ([2024-02-01 1:00:00.00]) stop", "The date must be a date written dd-mm-yy."},
        {"when ({A} >) stop", "Condition: Number, tag or '(' expected at column 6, found the end."},
        {"after (1) {A} = 1 +* 2", "Value: Number, tag or '(' expected at column 4, found \"*\"."},
        {"after (1) ramp({A}, 1, 10, 0)", "The ramp step must be a number of seconds above 0."},
        {"after (1) ramp({A}, 1, soon, 1)", "The ramp time must be a number of seconds."},
        {"after (1) ramp({A}, (, 10, 1)", "Ramp target: Number, tag or '(' expected at column 2, found the end."},
        {"after (1) send(ModelRun, now)", "ModelRun takes no arguments."},
        {"after (1) send(SetVariable, {A})", "SetVariable takes a tag and a value."},
        {"after (1) send(SetVariable, {A}, 1, 2)", "SetVariable takes a tag and a value."},
        {"after (1) send(SetVariable, A}B, 1)", "A tag name cannot hold a brace."},
    };
    for (const auto& [line, message] : cases)
        EXPECT_EQ(faultOf(line), message) << line;
    EXPECT_EQ(faultOf("at ([29-02-24 1:00:00.00]) stop"), "");
}

TEST(Program, ParseReportNamesTheFirstFaultyLineAndCountsThemAll)
{
    EXPECT_EQ(parseReport("tank.kelm", readProgram("* c\nafter (0) stop\nat (1) stop\n")).text,
              "tank.kelm: 2 statements, no errors.");
    const ParseReport one = parseReport("one.kelm", readProgram("after (0) stop\n"));
    EXPECT_EQ(one.line, -1);
    EXPECT_EQ(one.text, "one.kelm: 1 statement, no errors.");

    const ParseReport faulty = parseReport("b.kelm", readProgram("after (0) stop\n\nnope\nafter (1) set {A} = 1\n"));
    EXPECT_EQ(faulty.line, 3);
    EXPECT_EQ(faulty.text, "b.kelm, line 3: Don't recognize keyword. (2 faulty lines in all)");
}

TEST(Program, FilesThatCannotBeReadSayWhy)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto write = [&](const char* name, const QByteArray& bytes) {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return dir.filePath(name).toStdString();
    };
    Program p;
    std::string error;
    EXPECT_FALSE(loadProgram(dir.filePath("missing.kelm").toStdString(), p, error));
    EXPECT_EQ(error, "No such file or directory");
    EXPECT_FALSE(loadProgram(dir.path().toStdString(), p, error));
    EXPECT_EQ(error, "it is a folder");
    EXPECT_FALSE(loadProgram("", p, error));
    EXPECT_EQ(error, "no file name was given");
    EXPECT_FALSE(loadProgram(write("binary.kelm", QByteArray("after (1) stop\n\0\x01\x02", 18)), p, error));
    EXPECT_EQ(error, "it is not a text file");

    ASSERT_TRUE(loadProgram(write("ok.kelm", "after (1) stop\n"), p, error));
    EXPECT_EQ(p.statements.size(), 1u);
    EXPECT_EQ(fileNameOf("/a/b/ok.kelm"), "ok.kelm");
}

TEST(Program, DisplayTextShowsControlsAndCutsAtACharacter)
{
    EXPECT_EQ(displayText("a\tb\rc\x1b", 100), "a\tb\xE2\x90\x8D"
                                               "c\xE2\x90\x9B");
    EXPECT_EQ(displayText("\xC3\xA9\xC3\xA9\xC3\xA9", 5), "\xC3\xA9\xC3\xA9...");
    EXPECT_EQ(displayText("caf\xE9", 100), "caf\xC3\xA9");
}

TEST(RunnerArguments, EveryValueSwitchTakesTheNextArgumentWhole)
{
    RunnerOptions o;
    std::string error;
    ASSERT_TRUE(
        parseRunnerArguments({"-npstatus", "-host", "-parse", "-instance", "norvex:3", "/tmp/a b.kelm"}, o, error))
        << error;
    EXPECT_FALSE(o.parse);
    EXPECT_TRUE(o.noStatus);
    EXPECT_EQ(o.host, "-parse");
    EXPECT_EQ(o.instance, "norvex:3");
    EXPECT_EQ(o.file, "/tmp/a b.kelm");

    RunnerOptions p;
    ASSERT_TRUE(parseRunnerArguments({"-parse", "-npstatus", ""}, p, error));
    EXPECT_TRUE(p.parse);
    EXPECT_TRUE(p.hasFile);
    EXPECT_EQ(p.file, "");

    RunnerOptions q;
    ASSERT_TRUE(parseRunnerArguments({"--", "-odd.kelm"}, q, error));
    EXPECT_EQ(q.file, "-odd.kelm");

    const auto refused = [](const std::vector<std::string>& arguments) {
        RunnerOptions r;
        std::string message;
        EXPECT_FALSE(parseRunnerArguments(arguments, r, message));
        return message;
    };
    EXPECT_EQ(refused({"-host"}), "-host needs a value");
    EXPECT_EQ(refused({"-fast", "a.kelm"}), "unknown switch -fast");
    EXPECT_EQ(refused({"a.kelm", "b.kelm"}), "only one program file can be given");
    EXPECT_EQ(refused({"-parse"}), "no program file given");

    int n = -1;
    EXPECT_TRUE(instanceNumber("norvex:12", n));
    EXPECT_EQ(n, 12);
    EXPECT_TRUE(instanceNumber("3", n));
    EXPECT_EQ(n, 3);
    EXPECT_FALSE(instanceNumber("norvex:", n));
    EXPECT_FALSE(instanceNumber("norvex:1x", n));
    EXPECT_FALSE(instanceNumber("other:1", n));
}
