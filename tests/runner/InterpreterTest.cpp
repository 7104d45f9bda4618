#include "runner/Interpreter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

using namespace kelm;

namespace {

// A kernel of plain numeric tags; unknown tags, rejected writes and a lost connection on demand.
class FakeKernel : public KernelPort
{
public:
    KernelReply read(const std::string& tag) override
    {
        ++reads;
        if (lostNow())
            return KernelReply::lost("gone");
        const auto it = tags.find(tag);
        if (it == tags.end())
            return KernelReply::failed(KernelError::NoSuchVariable, "no such variable");
        return KernelReply::number(it->second);
    }
    KernelReply write(const std::string& tag, double value) override
    {
        if (lostNow())
            return KernelReply::lost("gone");
        if (tags.find(tag) == tags.end())
            return KernelReply::failed(KernelError::NoSuchVariable, "no such variable");
        if (value > limit)
            return KernelReply::failed(-7, "out of range");
        tags[tag] = value;
        writes.push_back({tag, value});
        return KernelReply::number(value);
    }
    KernelReply control(SendKind kind) override
    {
        sent.push_back(kind == SendKind::ModelRun ? "run" : "freeze");
        return KernelReply();
    }
    KernelReply opcode(const std::string& name, const std::vector<std::string>& arguments) override
    {
        std::string text = name;
        for (const std::string& a : arguments)
            text += "," + a;
        sent.push_back(text);
        return KernelReply::failed(-1, "unknown kind");
    }

    bool lostNow() { return loseAfter >= 0 && calls++ >= loseAfter; }

    std::map<std::string, double> tags{{"A:X", 0}, {"T:L", 1}, {"B:Y", 0}};
    std::vector<std::pair<std::string, double>> writes;
    std::vector<std::string> sent;
    double limit = 1e9;
    int reads = 0;
    int loseAfter = -1;
    int calls = 0;
};

// Each report as a short text: "205 text", "508 4", "510 4/3", "511".
class Recorder : public Reporter
{
public:
    void report(const Report& r) override
    {
        std::string text = std::to_string(r.kind);
        switch (r.kind) {
        case ClientMessageKind::PrintText:
            text += " " + r.text;
            if (!text.empty() && text.back() == '\n')
                text.pop_back();
            break;
        case ClientMessageKind::LineCurrent:
        case ClientMessageKind::LineHighlight:
            text += " " + std::to_string(r.line);
            break;
        case ClientMessageKind::LineStamp:
            text += " " + std::to_string(r.line) + "/" + std::to_string(r.status);
            break;
        // Live states: "521 3 false T:L=2.5", "522 2 90", "523 1 4/10", "524 1 7", "520 12 1", "525 2 4".
        case ClientMessageKind::LiveWhen:
            text += " " + std::to_string(r.line) + (r.status ? " true" : " false");
            for (std::size_t i = 0; i < r.tags.size(); ++i)
                text += " " + r.tags[i] + "=" + formatNumber(r.values.at(i));
            break;
        case ClientMessageKind::LiveDue:
        case ClientMessageKind::LiveWritten:
            text += " " + std::to_string(r.line) + " " + formatNumber(r.values.at(0));
            break;
        case ClientMessageKind::LiveRamp:
            text +=
                " " + std::to_string(r.line) + " " + formatNumber(r.values.at(0)) + "/" + formatNumber(r.values.at(1));
            break;
        case ClientMessageKind::LiveClock:
            text += " " + formatNumber(r.values.at(0)) + " " + std::to_string(r.status);
            break;
        case ClientMessageKind::LiveNotFired:
            for (int line : r.lines)
                text += " " + std::to_string(line);
            break;
        default:
            break;
        }
        texts.push_back(text);
        times.push_back(r.time);
        endsInLineFeed.push_back(r.kind != ClientMessageKind::PrintText || (!r.text.empty() && r.text.back() == '\n'));
    }
    std::vector<std::string> take()
    {
        std::vector<std::string> out;
        out.swap(texts);
        return out;
    }
    std::vector<std::string> texts;
    std::vector<double> times;
    std::vector<bool> endsInLineFeed;
};

// Kernel time and wall clock driven by the test; the wall clock is far from the kernel time, so the
// kernel time counts as elapsed, not calendar.
class InterpreterTest : public ::testing::Test
{
protected:
    void load(const std::string& text) { program = readProgram(text); }

    void start(double t, int state = KernelState::Running)
    {
        interpreter = std::make_unique<Interpreter>(program, kernel, out);
        interpreter->start(t, state, wall);
    }

    void at(double t, int state = KernelState::Running, double wallStep = 0.05)
    {
        wall += wallStep;
        interpreter->update(t, state, wall);
    }

    // Which lines have fired (LineCurrent) in the reports so far.
    std::vector<int> fired()
    {
        std::vector<int> lines;
        for (const std::string& t : out.texts) {
            if (t.rfind("508 ", 0) == 0)
                lines.push_back(std::stoi(t.substr(4)));
        }
        return lines;
    }

    FakeKernel kernel;
    Recorder out;
    Program program;
    std::unique_ptr<Interpreter> interpreter;
    double wall = 1.7e9;
};

using Texts = std::vector<std::string>;

} // namespace

TEST_F(InterpreterTest, OneFiringIsCurrentTextStampRelease)
{
    load("* set one tag\nafter (0) {A:X} = 2 * 2.5\n");
    start(10.0);
    EXPECT_EQ(out.texts, (Texts{"512", "508 2", "205 {A:X} = 5", "510 2/3", "511", "513"}));
    EXPECT_EQ(out.times, std::vector<double>(6, 10.0));
    EXPECT_EQ(kernel.writes, (std::vector<std::pair<std::string, double>>{{"A:X", 5}}));
    EXPECT_TRUE(interpreter->finished());
    for (bool lf : out.endsInLineFeed)
        EXPECT_TRUE(lf);
}

TEST_F(InterpreterTest, AfterIsFromTheStartAtIsAbsoluteWhenIsACondition)
{
    load("after (5) {A:X} = 1\n"
         "at (103) {B:Y} = 1\n"
         "when ({T:L} > 2) {A:X} = 2\n");
    start(100.0);
    at(102.9);
    EXPECT_TRUE(fired().empty());
    at(103.0);
    EXPECT_EQ(fired(), std::vector<int>{2});
    at(104.99);
    at(105.0);
    EXPECT_EQ(fired(), (std::vector<int>{2, 1}));
    at(106.0);
    EXPECT_FALSE(interpreter->ended());
    kernel.tags["T:L"] = 2.5;
    at(106.5);
    EXPECT_EQ(fired(), (std::vector<int>{2, 1, 3}));
    EXPECT_TRUE(interpreter->finished());
    EXPECT_EQ(out.times.back(), 106.5);
}

TEST_F(InterpreterTest, StatementsDueInOneLookFireInOrderOfTimeThenLineAndEachOnlyOnce)
{
    load("when ({T:L} >= 1) {A:X} = {A:X} + 1\n"
         "after (3) {B:Y} = {B:Y} + 1\n"
         "at (1) {A:X} = {A:X} + 10\n"
         "after (1) {A:X} = {A:X} * 2\n"
         "after (10) stop\n");
    start(0.0);
    EXPECT_EQ(fired(), std::vector<int>{1});
    at(5.0);
    // Lines 3 and 4 are due at 1, in line order; line 2 at 3.
    EXPECT_EQ(fired(), (std::vector<int>{1, 3, 4, 2}));
    EXPECT_EQ(kernel.tags["A:X"], 22);
    for (double t = 5.5; t < 9.9; t += 0.5)
        at(t);
    EXPECT_EQ(fired(), (std::vector<int>{1, 3, 4, 2}));
    EXPECT_EQ(kernel.tags["B:Y"], 1);
    at(10.0);
    EXPECT_EQ(fired(), (std::vector<int>{1, 3, 4, 2, 5}));
}

// One look of the runner may span seconds of simulated time (a fast kernel): what each firing does
// and sees is as if the kernel had been looked at every moment.
TEST_F(InterpreterTest, ALookSpanningSecondsFiresAsIfLookedAtEveryMoment)
{
    // Two writes to one tag due in reverse line order: the one due later wins, and each firing is
    // stamped with its due time.
    load("* two writes\nafter (9) {A:X} = 55\nafter (8.5) {A:X} = 44\n");
    start(0.0);
    out.take();
    out.times.clear();
    at(10.0);
    EXPECT_EQ(fired(), (std::vector<int>{3, 2}));
    EXPECT_EQ(kernel.tags["A:X"], 55);
    EXPECT_EQ(out.times.front(), 8.5);
    EXPECT_EQ(out.times[out.times.size() - 2], 9.0); // the last release; then the end, at the look
    EXPECT_EQ(out.times.back(), 10.0);

    // A when true in the same look fires at the time of the look and sees what the timed ones wrote.
    kernel.tags["A:X"] = 0;
    out.texts.clear();
    out.times.clear();
    load("when ({A:X} > 50) {B:Y} = {A:X} + 1\nafter (5) {A:X} = 55\n");
    start(0.0);
    at(10.0);
    EXPECT_EQ(fired(), (std::vector<int>{2, 1}));
    EXPECT_EQ(kernel.tags["B:Y"], 56);
    EXPECT_EQ(out.times[out.texts.size() - 5], 10.0); // line 1's LineCurrent

    // A ramp that completed inside the look is complete for a statement due after it.
    kernel.tags["A:X"] = 0;
    kernel.tags["B:Y"] = 0;
    out.texts.clear();
    out.times.clear();
    load("after (0) ramp({A:X}, 10, 4, 1)\nafter (6) {B:Y} = {A:X}\n");
    start(0.0);
    out.take();
    out.times.clear();
    at(10.0);
    EXPECT_EQ(out.take(), (Texts{"205 Line 1: ramp complete: {A:X} = 10", "510 1/3", "508 2", "205 {B:Y} = 10",
                                 "510 2/3", "511", "513"}));
    EXPECT_EQ(out.times[0], 4.0);
    EXPECT_EQ(out.times[2], 6.0);
    EXPECT_EQ(kernel.tags["B:Y"], 10);
}

TEST_F(InterpreterTest, AStopSuppressesOnlyWhatFallsDueAfterIt)
{
    // Listed first but due last: the earlier statement fires, then the stop ends the run.
    load("after (9) stop\nafter (6) {A:X} = 55\n");
    start(0.0);
    at(10.0);
    EXPECT_EQ(fired(), (std::vector<int>{2, 1}));
    EXPECT_EQ(kernel.tags["A:X"], 55);
    EXPECT_TRUE(interpreter->finished());

    // Due first: what falls due after it in the same look never fires.
    kernel.tags["A:X"] = 0;
    out.texts.clear();
    load("after (6) stop\nafter (9) {A:X} = 55\nwhen (1) {B:Y} = 1\n");
    start(0.0);
    EXPECT_EQ(fired(), std::vector<int>{3});
    at(10.0);
    EXPECT_EQ(fired(), (std::vector<int>{3, 1}));
    EXPECT_EQ(kernel.tags["A:X"], 0);
    EXPECT_EQ(out.texts.back(), "513");
}

TEST_F(InterpreterTest, AnAtAlreadyPastFiresAtOnceSayingHowLate)
{
    load("at (20) {A:X} = 1\nat ([00:01:10.00]) {B:Y} = 1\n");
    start(50.0);
    EXPECT_EQ(out.take(), (Texts{"512", "508 1", "205 Fired 30 s late: its time had passed when the program started.",
                                 "205 {A:X} = 1", "510 1/3", "511"}));
    at(69.5);
    EXPECT_TRUE(out.texts.empty());
    at(70.0);
    EXPECT_EQ(out.take(), (Texts{"508 2", "205 {B:Y} = 1", "510 2/3", "511", "513"}));
}

TEST_F(InterpreterTest, APausedKernelStopsTheProgramsClockWhileConditionsAreStillLookedAt)
{
    load("after (1) {A:X} = 1\nwhen ({T:L} > 5) {B:Y} = 1\n");
    start(0.0, KernelState::Paused);
    // Wall time goes on, kernel time stands: nothing timed fires, and the condition is looked at
    // every 250 ms of wall time: 100 ticks of 0.1 s.
    int before = kernel.reads;
    for (int i = 0; i < 100; ++i)
        at(0.0, KernelState::Paused, 0.1);
    EXPECT_TRUE(fired().empty());
    EXPECT_GE(kernel.reads - before, 30);
    EXPECT_LE(kernel.reads - before, 50);
    // Every kernel time update looks at it, however close together.
    before = kernel.reads;
    at(0.01, KernelState::Running, 0.01);
    at(0.02, KernelState::Running, 0.01);
    EXPECT_EQ(kernel.reads - before, 2);
    at(1.0);
    EXPECT_EQ(fired(), std::vector<int>{1});
}

TEST_F(InterpreterTest, ARampWritesEachStepAndEndsExactlyOnTheTarget)
{
    load("after (0) ramp({A:X}, 10, 10, 3)\n");
    kernel.tags["A:X"] = 1;
    start(0.0);
    EXPECT_EQ(out.take(),
              (Texts{"512", "508 1", "205 ramp {A:X} from 1 to 10 over 10 s in steps of 3 s", "510 1/1", "511"}));
    for (double t = 0.5; t <= 12.0; t += 0.5)
        at(t);
    ASSERT_EQ(kernel.writes.size(), 4u);
    EXPECT_DOUBLE_EQ(kernel.writes[0].second, 1 + 9 * 0.3);
    EXPECT_DOUBLE_EQ(kernel.writes[1].second, 1 + 9 * 0.6);
    EXPECT_DOUBLE_EQ(kernel.writes[2].second, 1 + 9 * 0.9);
    EXPECT_EQ(kernel.writes[3].second, 10.0);
    EXPECT_EQ(out.take(), (Texts{"205 Line 1: ramp complete: {A:X} = 10", "510 1/3", "513"}));
    EXPECT_EQ(out.times[out.times.size() - 2], 10.0);
}

TEST_F(InterpreterTest, ARampThatFallsBehindWritesOnlyTheLatestValue)
{
    load("after (0) ramp({A:X}, 100, 100, 1)\nafter (1000) stop\n");
    start(0.0);
    at(55.5);
    ASSERT_EQ(kernel.writes.size(), 1u);
    EXPECT_DOUBLE_EQ(kernel.writes[0].second, 55);
    at(200.0);
    ASSERT_EQ(kernel.writes.size(), 2u);
    EXPECT_EQ(kernel.writes[1].second, 100);
}

TEST_F(InterpreterTest, ARampRejectedByTheKernelFailsItsLine)
{
    load("after (0) ramp({A:X}, 100, 10, 5)\n");
    kernel.limit = 60;
    start(0.0);
    out.take();
    at(5.0);
    at(10.0);
    EXPECT_EQ(out.take(), (Texts{"205 Line 1: ramp stopped: {A:X} = 100: out of range", "510 1/2", "509 1", "513"}));
}

TEST_F(InterpreterTest, StopEndsTheProgramAndWhatFollowsDoesNotFire)
{
    load("after (0) ramp({A:X}, 10, 100, 1)\nafter (2) stop\nafter (2) {B:Y} = 1\n");
    start(0.0);
    at(2.0);
    EXPECT_TRUE(interpreter->finished());
    EXPECT_EQ(fired(), (std::vector<int>{1, 2}));
    EXPECT_EQ(out.texts.back(), "513");
    EXPECT_EQ(kernel.tags["B:Y"], 0);
    const std::size_t writes = kernel.writes.size();
    at(50.0);
    EXPECT_EQ(kernel.writes.size(), writes);
}

TEST_F(InterpreterTest, StopRequestFinishesAtOnce)
{
    load("after (100) {A:X} = 1\n");
    start(0.0);
    out.take();
    interpreter->stopByRequest();
    EXPECT_EQ(out.take(), (Texts{"205 Stopped by request", "513"}));
    at(200.0);
    interpreter->stopByRequest();
    EXPECT_TRUE(out.texts.empty());
    EXPECT_TRUE(kernel.writes.empty());
}

TEST_F(InterpreterTest, AStopRequestBeforeTheStartEndsTheRunBeforeAnythingFires)
{
    load("after (0) send(ModelRun)\nat (0) {A:X} = 1\nwhen (1) {B:Y} = 1\n");
    interpreter = std::make_unique<Interpreter>(program, kernel, out);
    interpreter->setStateLines(true);
    interpreter->stopByRequest();
    EXPECT_TRUE(out.texts.empty());
    interpreter->start(0.0, KernelState::Paused, wall);
    EXPECT_EQ(out.take(), (Texts{"512", "205 Kernel: paused", "205 Stopped by request", "513"}));
    EXPECT_TRUE(kernel.sent.empty());
    EXPECT_TRUE(kernel.writes.empty());
    EXPECT_TRUE(interpreter->finished());
}

TEST_F(InterpreterTest, KernelStateLinesFollowTheStartAndEachChange)
{
    load("after (5) {A:X} = 1\n");
    interpreter = std::make_unique<Interpreter>(program, kernel, out);
    interpreter->setStateLines(true);
    interpreter->start(0.0, KernelState::Running, wall);
    at(1.0, KernelState::Paused);
    at(1.0, KernelState::Paused);
    at(2.0, KernelState::Running);
    EXPECT_EQ(out.take(), (Texts{"512", "205 Kernel: running", "205 Kernel: paused", "205 Kernel: running"}));
}

TEST_F(InterpreterTest, FaultsAndUnknownTagsAreReportedAtTheStartAndNeverFire)
{
    load("after (0) set {A:X} = 1\n"
         "when ({NOPE:X} > 1) stop\n"
         "after (1) {A:X} = {NOPE:X}\n"
         "at ([24-12-24 06:00:00.00]) stop\n"
         "after (1) {A:X} = 3\n");
    start(0.0);
    EXPECT_EQ(out.take(), (Texts{"512", "205 Line 1: Operation keyword not recognized.", "509 1",
                                 "205 Line 4: a date needs a kernel on calendar time; this statement will not fire.",
                                 "509 4", "205 Line 2: unknown tag {NOPE:X}: no such variable", "509 2",
                                 "205 Line 3: unknown tag {NOPE:X}: no such variable", "509 3"}));
    // The program does not wait for statements that cannot fire.
    at(1.0);
    EXPECT_EQ(out.take(), (Texts{"508 5", "205 {A:X} = 3", "510 5/3", "511", "513"}));
}

TEST_F(InterpreterTest, KernelErrorsFailTheLineInTheKernelsWords)
{
    load("after (0) {A:X} = 5000\nafter (0) send(Reset, 1)\nafter (0) send(ModelRun)\nwhen (1 / {B:Y} > 1) stop\n");
    kernel.limit = 100;
    start(0.0);
    EXPECT_EQ(out.take(), (Texts{"512", "508 1", "205 {A:X} = 5000: out of range", "510 1/2", "511", "509 1", "508 2",
                                 "205 send(Reset, 1): unknown kind", "510 2/2", "511", "509 2", "508 3",
                                 "205 send(ModelRun)", "510 3/3", "511",
                                 // NOLINTNEXTLINE(bugprone-suspicious-missing-comma): one text, wrapped
                                 "205 Line 4: the condition cannot be evaluated: division by zero; this statement "
                                 "will not fire.",
                                 "509 4", "513"}));
    EXPECT_EQ(kernel.sent, (std::vector<std::string>{"Reset,1", "run"}));
}

TEST_F(InterpreterTest, ALostKernelEndsWithoutExecutionFinished)
{
    load("after (0) {A:X} = 1\nafter (5) {B:Y} = {T:L}\n");
    start(0.0);
    kernel.loseAfter = kernel.calls;
    out.take();
    at(5.0);
    EXPECT_EQ(out.take(), (Texts{"508 2", "205 Lost the connection to the kernel: gone"}));
    EXPECT_TRUE(interpreter->ended());
    EXPECT_TRUE(interpreter->lost());
    at(6.0);
    interpreter->stopByRequest();
    EXPECT_TRUE(out.texts.empty());
}

TEST_F(InterpreterTest, ADatedAtFiresAtThatLocalTimeOfACalendarKernel)
{
    load("at ([15-06-24 12:00:30.00]) {A:X} = 1\n");
    const double due = localCalendarTime(CalendarDate{15, 6, 2024}, 12 * 3600 + 30);
    wall = due - 60;
    start(due - 60);
    at(due - 0.5);
    EXPECT_TRUE(fired().empty());
    at(due);
    EXPECT_EQ(fired(), std::vector<int>{1});
    EXPECT_EQ(formatKernelTime(due, wall), "15-06-24 12:00:30");
    EXPECT_EQ(formatKernelTime(3725.9, wall), "01:02:05");
}

// The live state of the lines, as the monitor shows it beside the listing.
class LiveStateTest : public InterpreterTest
{
protected:
    void startLive(double t, int state = KernelState::Running)
    {
        interpreter = std::make_unique<Interpreter>(program, kernel, out);
        interpreter->setLiveReports(true);
        interpreter->start(t, state, wall);
    }

    // The reports so far of one kind (its number as text, "521"), taken out.
    Texts takeKind(const std::string& kind)
    {
        Texts kept;
        for (const std::string& t : out.take()) {
            if (t == kind || t.rfind(kind + " ", 0) == 0)
                kept.push_back(t);
        }
        return kept;
    }

    // Drops the clock reports, which change with every look.
    Texts takeWithoutClock()
    {
        Texts kept;
        for (const std::string& t : out.take()) {
            if (t.rfind("520 ", 0) != 0)
                kept.push_back(t);
        }
        return kept;
    }
};

TEST_F(LiveStateTest, AWhenLineShowsItsTagsAndWhetherItHoldsOnlyWhenThatChanges)
{
    load("when ({T:L} > 2 and {A:X} < 5) {B:Y} = 7\n");
    startLive(0.0);
    // A:X is not needed while T:L decides the and; it keeps the value read at the start.
    EXPECT_EQ(takeWithoutClock(), (Texts{"512", "521 1 false T:L=1 A:X=0"}));
    at(1.0, KernelState::Running, 0.3);
    EXPECT_EQ(takeKind("521"), Texts{});
    kernel.tags["T:L"] = 1.5;
    at(2.0, KernelState::Running, 0.3);
    EXPECT_EQ(takeKind("521"), (Texts{"521 1 false T:L=1.5 A:X=0"}));
    kernel.tags["T:L"] = 2.5;
    at(3.0, KernelState::Running, 0.3);
    // The look that finds it true fires it: the state "true" is not sent, the written value is.
    EXPECT_EQ(takeWithoutClock(),
              (Texts{"508 1", "205 {B:Y} = 7", "510 1/3", "524 1 7", "511", "205 1 of 1 statement fired.", "513"}));
}

TEST_F(LiveStateTest, TimedLinesReportWhenTheyFallDueOnceAndTheValueTheyWrote)
{
    load("after (80) stop\nat (30) {A:X} = 4\nafter (0) send(ModelRun)\n");
    startLive(10.0);
    EXPECT_EQ(takeWithoutClock(),
              (Texts{"512", "508 3", "205 send(ModelRun)", "510 3/3", "511", "522 1 90", "522 2 30"}));
    at(20.0, KernelState::Running, 0.3);
    at(20.0, KernelState::Paused, 0.3);
    EXPECT_EQ(takeKind("522"), Texts{});
    at(30.0, KernelState::Running, 0.3);
    EXPECT_EQ(takeWithoutClock(), (Texts{"508 2", "205 {A:X} = 4", "510 2/3", "524 2 4", "511"}));
    at(95.0, KernelState::Running, 0.3);
    EXPECT_EQ(takeWithoutClock(),
              (Texts{"508 1", "205 stop", "510 1/3", "511", "205 3 of 3 statements fired.", "513"}));
}

TEST_F(LiveStateTest, ARampReportsItsValueAndTargetWhileRampingThenWhatItWrote)
{
    load("after (0) ramp({A:X}, 10, 10, 2)\n");
    startLive(0.0);
    EXPECT_EQ(takeKind("523"), (Texts{"523 1 0/10"}));
    at(4.0, KernelState::Running, 0.3);
    EXPECT_EQ(takeKind("523"), (Texts{"523 1 4/10"}));
    // Paused, the ramp holds: nothing new to report.
    at(4.0, KernelState::Paused, 0.3);
    EXPECT_EQ(takeKind("523"), Texts{});
    at(10.0, KernelState::Running, 0.3);
    EXPECT_EQ(takeWithoutClock(), (Texts{"205 Line 1: ramp complete: {A:X} = 10", "510 1/3", "524 1 10",
                                         "205 1 of 1 statement fired.", "513"}));
}

TEST_F(LiveStateTest, TheClockReportsTheKernelsTimeAndStateAtMostFourTimesASecond)
{
    load("after (1000) stop\n");
    startLive(0.0);
    EXPECT_EQ(takeKind("520"), (Texts{"520 0 1"}));
    // Four looks within 0.2 s of wall time: the clock waits, then sends only the latest time.
    for (int i = 1; i <= 4; ++i)
        at(double(i), KernelState::Running, 0.05);
    EXPECT_EQ(takeKind("520"), Texts{});
    at(5.0, KernelState::Paused, 0.1);
    EXPECT_EQ(takeKind("520"), (Texts{"520 5 2"}));
    at(5.0, KernelState::Paused, 0.3);
    EXPECT_EQ(takeKind("520"), Texts{});
}

TEST_F(LiveStateTest, OneLineGetsAtMostFourStatesASecondAndItsLatestStateInTheEnd)
{
    load("when ({T:L} < 0) stop\n");
    startLive(0.0);
    out.take();
    const double first = wall;
    // A new value every 10 ms of wall time for two seconds.
    std::vector<double> sentAt;
    for (int i = 1; i <= 200; ++i) {
        kernel.tags["T:L"] = i;
        at(double(i), KernelState::Running, 0.01);
        if (!takeKind("521").empty())
            sentAt.push_back(wall - first);
    }
    ASSERT_GE(sentAt.size(), 7u);
    EXPECT_LE(sentAt.size(), 8u);
    for (std::size_t i = 1; i < sentAt.size(); ++i)
        EXPECT_GE(sentAt[i] - sentAt[i - 1], 0.25 - 1e-9);
    // The values stop changing: the last one still reaches the monitor once its quarter second is up.
    at(300.0, KernelState::Running, 0.3);
    EXPECT_EQ(takeKind("521"), (Texts{"521 1 false T:L=200"}));
}

TEST_F(LiveStateTest, ARunnerSendsAtMost400StatesASecondAndEveryLineGetsItsTurn)
{
    std::string text;
    for (int i = 0; i < 1000; ++i)
        text += "when ({T:L} < 0) stop\n";
    load(text);
    startLive(0.0);
    std::vector<double> sendTimes;
    std::set<int> linesSeen;
    auto collect = [&] {
        for (const std::string& t : out.take()) {
            if (t.rfind("52", 0) == 0) {
                sendTimes.push_back(wall);
                if (t.rfind("521 ", 0) == 0)
                    linesSeen.insert(std::stoi(t.substr(4)));
            }
        }
    };
    collect();
    for (int i = 1; i <= 400; ++i) {
        kernel.tags["T:L"] = i;
        at(double(i), KernelState::Running, 0.01);
        collect();
    }
    // Any one second of wall time holds at most 400 sends.
    for (std::size_t i = 0; i < sendTimes.size(); ++i) {
        const auto end = std::lower_bound(sendTimes.begin() + std::ptrdiff_t(i), sendTimes.end(), sendTimes[i] + 1.0);
        EXPECT_LE(end - (sendTimes.begin() + std::ptrdiff_t(i)), 400) << "from send " << i;
    }
    // Four seconds of budget: the limit is used, and no line is left waiting behind the first ones.
    EXPECT_GE(sendTimes.size(), 1500u);
    EXPECT_EQ(linesSeen.size(), 1000u);
}

TEST_F(LiveStateTest, TheEndNamesTheLinesThatNeverFired)
{
    load("after (1) {A:X} = 1\n"
         "when ({T:L} > 100) stop\n"
         "after (2) stop\n"
         "after (5) {B:Y} = 1\n"
         "after (0) set {A:X} = 1\n");
    startLive(0.0);
    out.take();
    at(3.0);
    EXPECT_EQ(takeWithoutClock(),
              (Texts{"508 1", "205 {A:X} = 1", "510 1/3", "524 1 1", "511", "508 3", "205 stop", "510 3/3", "511",
                     "525 2 4 5", "205 2 of 5 statements fired. Never fired: lines 2, 4, 5.", "513"}));
}

TEST_F(LiveStateTest, AStopRequestEndsWithTheSummaryToo)
{
    load("after (10) stop\n");
    startLive(0.0);
    out.take();
    interpreter->stopByRequest();
    EXPECT_EQ(out.take(),
              (Texts{"205 Stopped by request", "525 1", "205 0 of 1 statement fired. Never fired: line 1.", "513"}));
}

TEST(FiredSummary, CountsAndNamesAtMostTwentyLines)
{
    EXPECT_EQ(firedSummary(6, 6, {}), "6 of 6 statements fired.");
    EXPECT_EQ(firedSummary(0, 0, {}), "0 of 0 statements fired.");
    std::vector<int> lines;
    for (int i = 1; i <= 25; ++i)
        lines.push_back(i * 2);
    EXPECT_EQ(firedSummary(5, 30, lines), "5 of 30 statements fired. Never fired: lines 2, 4, 6, 8, 10, 12, 14, 16, "
                                          "18, 20, 22, 24, 26, 28, 30, 32, 34, 36, 38, 40 and 5 more.");
}
