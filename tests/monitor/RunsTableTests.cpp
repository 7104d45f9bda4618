#include "monitor/MonitorText.h"
#include "monitor/RunsTable.h"

#include <gtest/gtest.h>

using namespace RunsTable;

namespace {

const QString dash = QString::fromUtf16(unknown);

RunFacts executing()
{
    RunFacts f;
    f.program = QStringLiteral("tank.kelm");
    f.runNumber = 2;
    f.state = MonitorState::Executing;
    f.openedAt = QDateTime(QDate(2026, 12, 9), QTime(7, 5, 9));
    f.startTime = 100;
    f.latestTime = 3761.9;
    return f;
}

} // namespace

TEST(RunsTable, RowOfARunningProgram)
{
    const QStringList cells = row(executing());
    ASSERT_EQ(cells.size(), ColumnCount);
    ASSERT_EQ(headers().size(), ColumnCount);
    EXPECT_EQ(cells[Program], "tank.kelm");
    EXPECT_EQ(cells[RunsTable::Run], "2");
    EXPECT_EQ(cells[State], "Executing");
    EXPECT_EQ(cells[Started], "07:05:09");
    // Elapsed simulation time since the start, whole seconds.
    EXPECT_EQ(cells[Elapsed], "01:01:01");
    // Not known yet: a dash, not an empty cell or a zero.
    EXPECT_EQ(cells[Fired], dash);
    EXPECT_EQ(cells[Host], dash);
    EXPECT_EQ(cells[Instance], dash);
}

TEST(RunsTable, UnknownStartAndKnownCountsAndKernel)
{
    RunFacts f = executing();
    f.startTime.reset();
    f.runNumber = 0;
    f.openedAt = QDateTime();
    EXPECT_EQ(cell(f, Elapsed), dash);
    EXPECT_EQ(cell(f, RunsTable::Run), dash);
    EXPECT_EQ(cell(f, Started), dash);
    f.fired = 3;
    EXPECT_EQ(cell(f, Fired), dash); // the total is still missing
    f.total = 10;
    EXPECT_EQ(cell(f, Fired), "3 of 10");
    f.host = QStringLiteral("simhost");
    f.instance = QStringLiteral("0");
    EXPECT_EQ(cell(f, Host), "simhost");
    EXPECT_EQ(cell(f, Instance), "0");
    // A kernel time that went back does not give a negative time.
    f.startTime = 50;
    f.latestTime = 20;
    EXPECT_EQ(cell(f, Elapsed), "00:00:00");
}

TEST(RunsTable, StatesAndTheClosedWindow)
{
    RunFacts f = executing();
    f.state = MonitorState::Initializing;
    EXPECT_EQ(stateText(f), "Initializing");
    f.state = MonitorState::Executing;
    f.stopping = true;
    EXPECT_EQ(stateText(f), "Stopping");
    f.windowClosed = true;
    EXPECT_EQ(stateText(f), "Stopping (window closed)");
    f.state = MonitorState::Finished;
    f.windowClosed = false;
    // Finished wins over a stop that was waiting.
    EXPECT_EQ(stateText(f), "Finished");
    f.endedByUser = true;
    EXPECT_EQ(stateText(f), "Ended by the user");
}

TEST(MonitorTitle, StoppingUntilFinished)
{
    EXPECT_EQ(MonitorText::title(1, "tank.kelm", true), "tank.kelm - Stopping...");
    EXPECT_EQ(MonitorText::title(0, "tank.kelm", true), "tank.kelm - Stopping...");
    EXPECT_EQ(MonitorText::title(2, "tank.kelm", true), "tank.kelm - Finished");
    EXPECT_EQ(MonitorText::title(1, "tank.kelm", false), "tank.kelm - Executing");
}
