#include "tests/kernel/AppFixture.h"

#include "monitor/ClientRouting.h"
#include "vmsg/Message.h"
#include "vmsg/vmsg.h"

namespace {

class ClientRoutingTest : public AppFixture
{
protected:
    // A received status message, as the library hands it to the handler.
    void receiveStatus(int handle, int kind, double t, int s)
    {
        vmsgMsgPort m;
        m.message().handle = handle;
        m.message().kind = kind;
        m.push(t);
        m.push_divider();
        m.push(s);
        m.push_divider();
        OnNonReplyMessage(kind, &m);
    }
};

} // namespace

TEST_F(ClientRoutingTest, ClientLogOnsAndLossesAreNotedInPaneOne)
{
    OnClientNotify(7, 1, 0);
    EXPECT_EQ(pane(Pane::Clients), "New client logged on socket 7");
    OnClientNotify(12, 4, 0);
    EXPECT_EQ(pane(Pane::Clients), "New client logged on socket 12");
    OnClientNotify(7, 0, 0);
    EXPECT_EQ(pane(Pane::Clients), "Client disconnected on socket 7");
    OnClientNotify(12, -2, 0);
    EXPECT_EQ(pane(Pane::Clients), "Client disconnected on socket 12");
    OnClientNotify(3, -1, 0);
    EXPECT_EQ(pane(Pane::Clients), "Client disconnected on socket 12");
}

TEST_F(ClientRoutingTest, LossOfTheKernelResetsTheKernelPanesOnly)
{
    app->kernelHandle = 4;
    receiveStatus(4, 32, 65.0, 1);
    setPane(Pane::Clients, "earlier");
    OnClientNotify(5, 0, 0);
    EXPECT_EQ(app->kernelHandle, 4);
    EXPECT_EQ(pane(Pane::Clients), "Client disconnected on socket 5");
    EXPECT_EQ(pane(Pane::KernelState), "Running");

    setPane(Pane::Clients, "earlier");
    OnClientNotify(4, -2, 0);
    EXPECT_EQ(app->kernelHandle, 0);
    EXPECT_EQ(pane(Pane::KernelState), "Not logged on");
    EXPECT_EQ(pane(Pane::KernelTime), "               00:00:00");
    EXPECT_EQ(pane(Pane::Clients), "earlier");

    // Not logged on, handle 0 is no kernel.
    setPane(Pane::KernelState, "kept");
    OnClientNotify(0, 0, 0);
    EXPECT_EQ(pane(Pane::KernelState), "kept");
    EXPECT_EQ(pane(Pane::Clients), "Client disconnected on socket 0");
}

TEST_F(ClientRoutingTest, OnlyMessagesOfTheKernelConnectionAreDecoded)
{
    app->kernelHandle = 4;
    receiveStatus(4, 32, 65.0, 2);
    EXPECT_EQ(pane(Pane::KernelState), "Paused");
    EXPECT_EQ(pane(Pane::KernelTime), "00:01:05");

    receiveStatus(5, 32, 70.0, 1);
    receiveStatus(4, 205, 71.0, 1);
    OnNonReplyMessage(32, nullptr);
    EXPECT_EQ(pane(Pane::KernelState), "Paused");
    EXPECT_EQ(pane(Pane::KernelTime), "00:01:05");

    app->kernelHandle = 0;
    receiveStatus(0, 32, 80.0, 1);
    EXPECT_EQ(pane(Pane::KernelState), "Paused");
}
