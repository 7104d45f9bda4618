#include "tests/kernel/AppFixture.h"

#include "kernel/KernelConnection.h"
#include "vmsg/Message.h"
#include "vmsg/vmsg.h"

#include <QTcpServer>

namespace {

const QString noTime = QStringLiteral("               00:00:00");

void pushStatus(vmsgMsgPort& m, double t, int s)
{
    m.push(t);
    m.push_divider();
    m.push(s);
    m.push_divider();
}

// A loopback port on which nothing listens.
int freePort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    const int port = server.serverPort();
    server.close();
    return port;
}

class KernelStatusTest : public AppFixture
{
protected:
    void decode(double t, int s, int kind = 32)
    {
        vmsgMsgPort m;
        pushStatus(m, t, s);
        DecodeKernelStatus(kind, &m);
    }
};

} // namespace

TEST_F(KernelStatusTest, EachStateHasItsTextAndOthersLeavePaneThree)
{
    decode(3725.9, 0);
    EXPECT_EQ(pane(Pane::KernelState), "No model loaded");
    EXPECT_EQ(pane(Pane::KernelTime), "01:02:05");
    decode(3726.0, 1);
    EXPECT_EQ(pane(Pane::KernelState), "Running");
    decode(3727.0, 2);
    EXPECT_EQ(pane(Pane::KernelState), "Paused");
    EXPECT_EQ(pane(Pane::KernelTime), "01:02:07");

    decode(10.0, 7);
    EXPECT_EQ(pane(Pane::KernelState), "Paused");
    EXPECT_EQ(pane(Pane::KernelTime), "00:00:10");
    decode(11.0, -1);
    EXPECT_EQ(pane(Pane::KernelState), "Paused");
    EXPECT_EQ(pane(Pane::KernelTime), "00:00:11");
    EXPECT_FALSE(app->calendarTime);
}

TEST_F(KernelStatusTest, LoadingOrUnloadingAModelCountsAsANewModel)
{
    decode(1.0, 1);
    const int first = KernelModelGeneration();
    decode(2.0, 2); // running to paused: the same model
    decode(3.0, 1);
    EXPECT_EQ(KernelModelGeneration(), first);
    decode(4.0, 0);
    EXPECT_EQ(KernelModelGeneration(), first + 1);
    decode(5.0, 0);
    EXPECT_EQ(KernelModelGeneration(), first + 1);
    decode(6.0, 2);
    EXPECT_EQ(KernelModelGeneration(), first + 2);
    decode(7.0, 2, 33); // not a status
    EXPECT_EQ(KernelModelGeneration(), first + 2);
}

TEST_F(KernelStatusTest, LongLayoutWithStateTwoShowsPaused)
{
    vmsgMsgPort m;
    m.push(3);
    m.push_divider();
    m.push("model");
    m.push_divider();
    pushStatus(m, 3725.9, 2);
    DecodeKernelStatus(32, &m);
    EXPECT_EQ(pane(Pane::KernelState), "Paused");
    EXPECT_EQ(pane(Pane::KernelTime), "01:02:05");
}

TEST_F(KernelStatusTest, ARecentTimeIsCalendarTimeAndShowsTheWorkstationClock)
{
    decode(double(fixedNow) - 100.0, 1);
    EXPECT_TRUE(app->calendarTime);
    EXPECT_EQ(pane(Pane::KernelTime), "05-03-07 14:03:09");
    EXPECT_EQ(FormatKernelTime(0.0), "05-03-07 14:03:09");

    // Exactly 356 days before now counts as elapsed time.
    decode(double(fixedNow) - 30758400.0, 1);
    EXPECT_FALSE(app->calendarTime);
    EXPECT_EQ(pane(Pane::KernelTime), "317318:03:09");
    EXPECT_EQ(FormatKernelTime(61.0), "00:01:01");
}

TEST_F(KernelStatusTest, OtherKindsAndLayoutsAreIgnoredWhole)
{
    setPane(Pane::KernelTime, "T");
    setPane(Pane::KernelState, "S");
    app->calendarTime = true;

    decode(5.0, 1, 33);
    vmsgMsgPort wrong;
    wrong.push(5.0);
    wrong.push(1);
    DecodeKernelStatus(32, &wrong);
    vmsgMsgPort empty;
    DecodeKernelStatus(32, &empty);
    DecodeKernelStatus(32, nullptr);

    EXPECT_EQ(pane(Pane::KernelTime), "T");
    EXPECT_EQ(pane(Pane::KernelState), "S");
    EXPECT_TRUE(app->calendarTime);
}

TEST_F(KernelStatusTest, DisconnectionForgetsTheHandleAndResetsThePanes)
{
    app->kernelHandle = 9;
    decode(100.0, 1);
    ASSERT_TRUE(IsLoggedOn());
    EXPECT_EQ(GetKernelHandle(), 9);
    OnKernelDisconnected();
    EXPECT_FALSE(IsLoggedOn());
    EXPECT_EQ(app->kernelHandle, 0);
    EXPECT_EQ(pane(Pane::KernelTime), noTime);
    EXPECT_EQ(pane(Pane::KernelState), "Not logged on");
}

TEST_F(KernelStatusTest, AKernelThatIsNotThereFailsSilently)
{
    const int port = freePort();
    ASSERT_NE(port, 0);
    qputenv("NORVEX_PORT_BASE", QByteArray::number(port));
    const QString timeBefore = pane(Pane::KernelTime);
    EXPECT_FALSE(LogOnKernel("127.0.0.1", 0, true));
    EXPECT_EQ(app->kernelHandle, 0);
    EXPECT_EQ(pane(Pane::KernelTime), timeBefore);
    EXPECT_EQ(pane(Pane::KernelState), "Not logged on      ");
    EXPECT_FALSE(LogOnKernel("", 0, false));
    EXPECT_EQ(messageBoxes, 0);
    qunsetenv("NORVEX_PORT_BASE");
}

TEST_F(KernelStatusTest, ANewLogOnFirstLogsOffEvenWhenItFails)
{
    const int port = freePort();
    ASSERT_NE(port, 0);
    qputenv("NORVEX_PORT_BASE", QByteArray::number(port));
    app->kernelHandle = 9;
    decode(100.0, 1);
    EXPECT_FALSE(LogOnKernel("127.0.0.1", 0, false));
    EXPECT_EQ(app->kernelHandle, 0);
    EXPECT_EQ(pane(Pane::KernelTime), noTime);
    EXPECT_EQ(pane(Pane::KernelState), "Not logged on");
    qunsetenv("NORVEX_PORT_BASE");
}

TEST_F(KernelStatusTest, AHostNameOverNinetyNineCharactersIsRefusedBeforeAnythingChanges)
{
    const int port = freePort();
    ASSERT_NE(port, 0);
    qputenv("NORVEX_PORT_BASE", QByteArray::number(port));
    app->kernelHandle = 9;
    decode(100.0, 1);
    EXPECT_FALSE(LogOnKernel(QString(100, QLatin1Char('h')), 0, false));
    EXPECT_EQ(app->kernelHandle, 9);
    EXPECT_EQ(pane(Pane::KernelState), "Running");

    // 99 characters are tried: the old connection goes, the log-on fails.
    EXPECT_FALSE(LogOnKernel(QString(99, QLatin1Char('h')), 0, false));
    EXPECT_EQ(app->kernelHandle, 0);
    EXPECT_EQ(pane(Pane::KernelState), "Not logged on");
    qunsetenv("NORVEX_PORT_BASE");
}
