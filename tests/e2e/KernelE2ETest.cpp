// Before any Qt header, whose slots macro would take the name of a member of its records.
#include "vmsg/Context.h"

#include "tests/e2e/SimProcess.h"

#include "app/CKelmDeskApp.h"
#include "app/CMainFrame.h"
#include "core/CSettingsKey.h"
#include "framework/CStatusBar.h"
#include "framework/MessageBox.h"
#include "framework/Modal.h"
#include "kernel/KernelConnection.h"
#include "res/Resource.h"
#include "vmsg/Peer.h"
#include "vmsg/vmsg.h"
#include "tests/common/TestSupport.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include <atomic>
#include <csignal>
#include <thread>

namespace {

using namespace std::chrono_literals;

const QString noTime = QStringLiteral("               00:00:00");

// KelmDesk in this process against simulators on loopback ports of its own.
class KernelE2ETest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        resetSettings();
        base = freePortBase(3);
        ASSERT_NE(base, 0);
        qputenv("NORVEX_PORT_BASE", QByteArray::number(base));
        m_oldBox = KMessageBox::setHook([this](const KMessageBox::Request&) {
            ++messageBoxes;
            return QMessageBox::Ok;
        });
    }

    void TearDown() override
    {
        Modal::setDialogHook({});
        app.reset();
        KMessageBox::setHook(std::move(m_oldBox));
        qunsetenv("NORVEX_PORT_BASE");
        resetSettings();
    }

    std::unique_ptr<SimProcess> startSim(const QStringList& arguments)
    {
        auto sim = std::make_unique<SimProcess>(base, arguments);
        EXPECT_TRUE(sim->waitUntilListening()) << sim->log().toStdString();
        return sim;
    }

    // Starts KelmDesk; with logOn the default kernel is 127.0.0.1, instance 0 ("def_logon" = "on").
    void startDesk(bool logOn)
    {
        app = std::make_unique<CKelmDeskApp>();
        QStringList args{QStringLiteral("kelmdesk")};
        if (logOn)
            args << QStringLiteral("-host") << QStringLiteral("127.0.0.1") << QStringLiteral("-instance")
                 << QStringLiteral("0");
        ASSERT_TRUE(app->initInstance(args));
        ASSERT_NE(app->statusBar(), nullptr);
        for (int i = 0; i < app->statusBar()->paneCount(); ++i)
            widths.push_back(app->statusBar()->pane(i)->width());
    }

    QString pane(int index) const { return app->statusBar()->paneText(index); }
    bool paneShows(int index, const QString& text)
    {
        return waitFor([&] { return pane(index) == text; });
    }

    void expectWidthsKept()
    {
        for (int i = 1; i < app->statusBar()->paneCount(); ++i)
            EXPECT_EQ(app->statusBar()->pane(i)->width(), widths.at(std::size_t(i))) << "pane " << i;
        const QLabel* time = app->statusBar()->pane(Pane::KernelTime);
        EXPECT_GE(time->contentsRect().width(), time->fontMetrics().horizontalAdvance(pane(Pane::KernelTime)));
    }

    // Answers the log-on dialog with host and instance texts, then OK.
    void answerLogOn(const QString& host, const QString& instance)
    {
        Modal::setDialogHook([host, instance](QDialog& d) {
            auto* hostBox = d.findChild<QComboBox*>("hostname");
            auto* instanceEdit = d.findChild<QLineEdit*>("instance");
            ASSERT_TRUE(hostBox && instanceEdit);
            hostBox->setEditText(host);
            instanceEdit->setText(instance);
            QTest::mouseClick(d.findChild<QPushButton*>("ok1"), Qt::LeftButton);
        });
    }

    int base = 0;
    int messageBoxes = 0;
    std::unique_ptr<CKelmDeskApp> app;
    std::vector<int> widths;

private:
    KMessageBox::Hook m_oldBox;
};

} // namespace

TEST_F(KernelE2ETest, AutomaticLogOnShowsTheRunningKernelAndItsAdvancingTime)
{
    auto sim = startSim({"--speed", "20"});
    startDesk(true);
    EXPECT_TRUE(IsLoggedOn());
    EXPECT_EQ(pane(Pane::KernelState), "Running");
    EXPECT_TRUE(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d$").match(pane(Pane::KernelTime)).hasMatch())
        << pane(Pane::KernelTime).toStdString();
    const QString first = pane(Pane::KernelTime);
    EXPECT_TRUE(waitFor([&] { return pane(Pane::KernelTime) > first; })) << pane(Pane::KernelTime).toStdString();
    EXPECT_FALSE(app->calendarTime);
    EXPECT_TRUE(sim->waitForLog(" logged on"));
    expectWidthsKept();
    EXPECT_EQ(messageBoxes, 0);
}

TEST_F(KernelE2ETest, PausingAndRunningTheSimulatorShowInPaneThree)
{
    auto sim = startSim({"--speed", "5"});
    startDesk(true);
    ASSERT_EQ(pane(Pane::KernelState), "Running");

    vmsg::Peer control;
    const int handle = control.connect("127.0.0.1", base, 10s);
    ASSERT_GT(handle, 0);
    std::unique_ptr<vmsg::Message> reply = control.request(handle, 41, vmsg::Message(), 10s);
    ASSERT_TRUE(reply);
    EXPECT_TRUE(paneShows(Pane::KernelState, "Paused"));
    const QString stopped = pane(Pane::KernelTime);
    EXPECT_TRUE(sim->waitForLog("request kind 41"));

    ::kill(pid_t(sim->pid()), SIGUSR1);
    EXPECT_TRUE(paneShows(Pane::KernelState, "Running"));
    EXPECT_TRUE(waitFor([&] { return pane(Pane::KernelTime) > stopped; }));
    expectWidthsKept();
}

TEST_F(KernelE2ETest, KillingTheKernelShowsNotLoggedOnAndTheBlankTime)
{
    auto sim = startSim({"--state", "none"});
    startDesk(true);
    ASSERT_EQ(pane(Pane::KernelState), "No model loaded");
    EXPECT_EQ(pane(Pane::KernelTime), "00:00:00");
    sim->kill();
    EXPECT_TRUE(paneShows(Pane::KernelState, "Not logged on"));
    EXPECT_EQ(pane(Pane::KernelTime), noTime);
    EXPECT_FALSE(IsLoggedOn());
    expectWidthsKept();
}

TEST_F(KernelE2ETest, TheLogOnCommandMovesToASecondSimulator)
{
    auto first = startSim({"--instance", "0"});
    auto second = startSim({"--instance", "2", "--state", "paused", "--status-layout", "long"});
    startDesk(true);
    ASSERT_EQ(pane(Pane::KernelState), "Running");
    const int firstHandle = GetKernelHandle();

    // Nothing listens at instance 1: the old connection is gone, and the panes say so.
    answerLogOn("127.0.0.1", "1");
    ASSERT_TRUE(app->mainFrame()->runCommand(Cmd::LogOn));
    EXPECT_FALSE(IsLoggedOn());
    EXPECT_EQ(pane(Pane::KernelState), "Not logged on");
    EXPECT_EQ(pane(Pane::KernelTime), noTime);
    EXPECT_TRUE(first->waitForLog(" left"));

    answerLogOn("127.0.0.1", "2nd");
    QStringList history;
    QObject::connect(app->statusBar(), &CStatusBar::paneTextChanged, app.get(),
                     [&history](int index, const QString& text) {
                         if (index == Pane::KernelState || index == Pane::KernelTime)
                             history << QString::number(index) + QLatin1Char('=') + text;
                     });
    ASSERT_TRUE(app->mainFrame()->runCommand(Cmd::LogOn));
    EXPECT_TRUE(IsLoggedOn());
    EXPECT_NE(GetKernelHandle(), firstHandle);
    EXPECT_EQ(pane(Pane::KernelState), "Paused");
    EXPECT_EQ(pane(Pane::KernelTime), "00:00:00");
    EXPECT_TRUE(second->waitForLog(" logged on"));
    EXPECT_EQ(history, (QStringList{"3=Logged on", "2=00:00:00", "3=Paused"}))
        << history.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(readSetting("hostname"), "127.0.0.1");
    EXPECT_EQ(readSetting("instance"), "2nd");

    // The first kernel's end is no longer this connection's business.
    first->kill();
    ::kill(pid_t(second->pid()), SIGUSR1);
    EXPECT_TRUE(paneShows(Pane::KernelState, "Running"));
    EXPECT_TRUE(IsLoggedOn());
    EXPECT_EQ(messageBoxes, 0);
}

TEST_F(KernelE2ETest, AKernelThatIsNotThereLeavesNotLoggedOnWithoutAMessage)
{
    startDesk(true);
    EXPECT_FALSE(IsLoggedOn());
    EXPECT_EQ(pane(Pane::KernelState).trimmed(), "Not logged on");
    EXPECT_EQ(messageBoxes, 0);
    expectWidthsKept();
}

TEST_F(KernelE2ETest, ACalendarKernelShowsTheWorkstationDateAndTime)
{
    auto sim = startSim({"--calendar"});
    startDesk(true);
    EXPECT_TRUE(app->calendarTime);
    EXPECT_TRUE(
        QRegularExpression("^\\d\\d-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$").match(pane(Pane::KernelTime)).hasMatch())
        << pane(Pane::KernelTime).toStdString();
    expectWidthsKept();
}

TEST_F(KernelE2ETest, AKernelThatNeverAnswersLeavesLoggedOnAndTheTime)
{
    // A kernel that accepts the log-on and then keeps silent.
    std::atomic<bool> stop{false};
    std::atomic<int> port{0};
    std::thread kernel([&] {
        vmsg::Peer peer;
        if (!peer.listen("127.0.0.1", base))
            return;
        port = peer.localPort();
        peer.run(std::chrono::milliseconds(20), [&] {
            if (stop)
                peer.stop();
        });
    });
    ASSERT_TRUE(waitFor([&] { return port != 0; }));
    startDesk(false);
    const QString timeBefore = pane(Pane::KernelTime);
    EXPECT_TRUE(LogOnKernel("127.0.0.1", 0, false));
    EXPECT_EQ(pane(Pane::KernelState), "Logged on");
    EXPECT_EQ(pane(Pane::KernelTime), timeBefore);
    stop = true;
    kernel.join();
    EXPECT_TRUE(paneShows(Pane::KernelState, "Not logged on"));
}

namespace {

void storeSettings(std::initializer_list<std::pair<const char*, const char*>> values)
{
    CSettingsKey key;
    ASSERT_TRUE(key.open(CSettingsKey::Write));
    for (const auto& [name, value] : values)
        key.write(name, QString::fromLatin1(value));
}

} // namespace

// The automatic log-on reads the stored defaults: absent host is "localhost", the instance text is
// read as atoi does, and only the exact text "on" counts; edit-only mode does not stop it.
TEST_F(KernelE2ETest, AutomaticLogOnUsesTheStoredDefaultsEvenInEditOnlyMode)
{
    auto sim = startSim({});
    storeSettings({{"def_logon", "on"}, {"def_instance", "abc"}});
    app = std::make_unique<CKelmDeskApp>();
    ASSERT_TRUE(app->initInstance({QStringLiteral("kelmdesk"), QStringLiteral("-editonly")}));
    EXPECT_TRUE(app->m_bEditOnly);
    EXPECT_TRUE(IsLoggedOn()) << "localhost, instance 0";
    EXPECT_TRUE(paneShows(Pane::KernelState, QStringLiteral("Running")));
    EXPECT_EQ(messageBoxes, 0);
}

// Logging on again while logged on first shows the logged-off panes, then the new kernel's.
TEST_F(KernelE2ETest, LoggingOnAgainFirstShowsNotLoggedOn)
{
    auto first = startSim({"--instance", "0"});
    auto second = startSim({"--instance", "1", "--state", "paused"});
    startDesk(true);
    ASSERT_TRUE(paneShows(Pane::KernelState, "Running"));
    ASSERT_TRUE(waitFor([&] { return pane(Pane::KernelTime) != QStringLiteral("00:00:00"); }));
    QStringList history;
    QObject::connect(app->statusBar(), &CStatusBar::paneTextChanged, app.get(),
                     [&history](int index, const QString& text) {
                         if (index == Pane::KernelState || index == Pane::KernelTime)
                             history << QString::number(index) + QLatin1Char('=') + text;
                     });
    answerLogOn("127.0.0.1", "1");
    ASSERT_TRUE(app->mainFrame()->runCommand(Cmd::LogOn));
    EXPECT_EQ(history, (QStringList{"2=" + noTime, "3=Not logged on", "3=Logged on", "2=00:00:00", "3=Paused"}))
        << history.join(QLatin1Char('|')).toStdString();
}

// Edit-only mode registers no handler: the kernel's unasked status never reaches the panes.
TEST_F(KernelE2ETest, EditOnlyModeHandlesNoUnaskedKernelMessage)
{
    // Handlers of earlier starts in this process would hide a registration.
    vmsgMsgPort cleared;
    cleared.register_client_notify({}, 0);
    vmsgRegisterNonReply({});

    auto sim = startSim({});
    storeSettings({{"def_logon", "on"}, {"def_hostname", "127.0.0.1"}, {"def_instance", "0"}});
    app = std::make_unique<CKelmDeskApp>();
    ASSERT_TRUE(app->initInstance({QStringLiteral("kelmdesk"), QStringLiteral("-editonly")}));
    ASSERT_TRUE(IsLoggedOn());
    ASSERT_EQ(pane(Pane::KernelState), QStringLiteral("Running")) << "the status reply is no unasked message";
    const QString time = pane(Pane::KernelTime);
    ::kill(pid_t(sim->pid()), SIGUSR2);
    ASSERT_TRUE(sim->waitForLog("signal -> "));
    // The simulator sent the paused status before it answers this request on the same connection:
    // once the reply is in, the status has been read and waits for a tick, which hands it on.
    vmsgMsgPort ask;
    ASSERT_NE(vmsgRequestBlock(ask, GetKernelHandle(), 32, "   ", 20, nullptr), nullptr);
    KD_TRY_VERIFY(vmsg::Context::global().queued() == 0, 5000);
    EXPECT_EQ(pane(Pane::KernelState), QStringLiteral("Running"));
    EXPECT_EQ(pane(Pane::KernelTime), time);
}

TEST_F(KernelE2ETest, NoAutomaticLogOnUnlessTheSettingIsExactlyOn)
{
    auto sim = startSim({});
    for (const char* value : {"On", "on ", "off"}) {
        storeSettings({{"def_logon", value}, {"def_hostname", "127.0.0.1"}, {"def_instance", "0"}});
        app = std::make_unique<CKelmDeskApp>();
        ASSERT_TRUE(app->initInstance({QStringLiteral("kelmdesk")}));
        EXPECT_FALSE(IsLoggedOn()) << value;
        EXPECT_EQ(pane(Pane::KernelState), QStringLiteral("Not logged on      ")) << value;
        app.reset();
    }
}

TEST_F(KernelE2ETest, SwitchesBeforeTheAutomaticLogOnPickTheKernel)
{
    auto sim = startSim({"--instance", "2", "--state", "paused"});
    storeSettings({{"def_logon", "off"}});
    app = std::make_unique<CKelmDeskApp>();
    ASSERT_TRUE(app->initInstance({QStringLiteral("kelmdesk"), QStringLiteral("-instance"), QStringLiteral("2")}));
    EXPECT_TRUE(IsLoggedOn()) << "-instance writes def_logon=on before the log-on step";
    EXPECT_TRUE(paneShows(Pane::KernelState, QStringLiteral("Paused")));
}
