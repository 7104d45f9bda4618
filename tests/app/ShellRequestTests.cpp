#include "app/CKelmDeskApp.h"
#include "app/CMainFrame.h"
#include "core/CSettingsKey.h"
#include "app/ShellRequests.h"
#include "app/SingleInstance.h"
#include "editor/ProgramText.h"
#include "framework/CDocument.h"
#include "framework/DocTemplate.h"
#include "framework/MessageBox.h"

#include "tests/common/ChildProcess.h"
#include "tests/common/QtPrinting.h"
#include "tests/common/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QStringList parsed(const QStringList& tokens, ShellRequest::Kind* kind = nullptr, QString* printer = nullptr)
{
    const ShellRequest r = ShellRequests::parse(QStringList{QStringLiteral("kelmdesk")} + tokens);
    if (kind)
        *kind = r.kind;
    if (printer)
        *printer = r.printer;
    return r.files;
}

TEST(ShellRequestParse, RequestsComeFirstAndOpenStopsAtTheProgramsSwitches)
{
    ShellRequest::Kind kind = ShellRequest::None;
    QString printer;
    EXPECT_EQ(parsed({"-open", "a.kelm", "my b.kelm", "-host", "h", "c.kelm"}, &kind),
              (QStringList{"a.kelm", "my b.kelm"}));
    EXPECT_EQ(kind, ShellRequest::Open);
    EXPECT_EQ(parsed({"-open"}, &kind), QStringList());
    EXPECT_EQ(kind, ShellRequest::Open) << "no files: only the window is raised";
    EXPECT_EQ(parsed({"-p", "a.kelm", "x"}, &kind, &printer), QStringList{"a.kelm"});
    EXPECT_EQ(kind, ShellRequest::Print);
    EXPECT_TRUE(printer.isEmpty());
    EXPECT_EQ(parsed({"-pt", "a.kelm", "Office 2"}, &kind, &printer), QStringList{"a.kelm"});
    EXPECT_EQ(printer, "Office 2");
    parsed({"-p"}, &kind);
    EXPECT_EQ(kind, ShellRequest::Malformed);
    parsed({"-pt", "a.kelm"}, &kind);
    EXPECT_EQ(kind, ShellRequest::Malformed);
    parsed({"-p", ""}, &kind);
    EXPECT_EQ(kind, ShellRequest::Malformed) << "an empty name would print a new document";
    parsed({"-pt", "a.kelm", ""}, &kind);
    EXPECT_EQ(kind, ShellRequest::Malformed);
    parsed({"a.kelm"}, &kind);
    EXPECT_EQ(kind, ShellRequest::None) << "a plain file argument is no request";
    parsed({"-editonly", "-open", "a.kelm"}, &kind);
    EXPECT_EQ(kind, ShellRequest::None) << "requests come before the switches";
    parsed({"-OPEN", "a.kelm"}, &kind);
    EXPECT_EQ(kind, ShellRequest::None);
}

TEST(SingleInstanceRequest, NamesSurviveTheWireAndBadDataIsRefused)
{
    const QStringList names = {"/tmp/a b.kelm", "/tmp/\xc3\xa4\ncr\r.kelm", "/x"};
    const QByteArray wire = SingleInstance::encodeRequest(names);
    QStringList files;
    EXPECT_EQ(SingleInstance::decodeRequest(wire, files), SingleInstance::Parse::Complete);
    EXPECT_EQ(files, names);
    EXPECT_EQ(SingleInstance::decodeRequest(wire.left(wire.size() - 1), files), SingleInstance::Parse::Incomplete);
    EXPECT_EQ(SingleInstance::decodeRequest(wire.left(5), files), SingleInstance::Parse::Incomplete);
    EXPECT_EQ(SingleInstance::decodeRequest(wire + "junk", files), SingleInstance::Parse::Invalid);
    EXPECT_EQ(SingleInstance::decodeRequest("GET / HTTP/1.0\r\n\r\n", files), SingleInstance::Parse::Invalid);
    EXPECT_EQ(SingleInstance::decodeRequest(SingleInstance::encodeRequest({}), files), SingleInstance::Parse::Complete);
    EXPECT_TRUE(files.isEmpty());
    const QByteArray endless = wire.left(16) + QByteArray(SingleInstance::MaxRequestBytes + 1, 'a');
    EXPECT_EQ(SingleInstance::decodeRequest(endless, files), SingleInstance::Parse::Invalid);
}

class ShellRequestTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        resetSettings();
        // Never the socket of a KelmDesk the user runs: the test home has a runtime folder of its own.
        ASSERT_TRUE(SingleInstance::socketPath().startsWith(QDir::homePath() + "/"))
            << SingleInstance::socketPath().toStdString();
        QLocalServer::removeServer(SingleInstance::socketPath());
        previous = KMessageBox::setHook([this](const KMessageBox::Request& r) {
            boxes << r.text;
            return QMessageBox::Ok;
        });
        program = dir.filePath(QStringLiteral("tank fill.kelm"));
        QFile f(program);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("* fill the tank\nafter (00:00:10) set {T101:LEVEL} = 2.5\n");
    }
    void TearDown() override
    {
        app.reset();
        KMessageBox::setHook(previous);
    }
    bool start(const QStringList& tokens)
    {
        app = std::make_unique<CKelmDeskApp>();
        return app->initInstance(QStringList{QStringLiteral("kelmdesk")} + tokens);
    }
    QStringList openPaths() const
    {
        QStringList paths;
        for (const auto& t : app->templates())
            for (CDocument* d : t->documents())
                paths << d->pathName();
        return paths;
    }
    // Starts the real program as the desktop would; returns its exit code, or -1 when it did not end.
    int runProgram(const QStringList& args, qint64* elapsedMs = nullptr)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(dir.path());
        QElapsedTimer clock;
        clock.start();
        endWithTest(p);
        p.start(QStringLiteral(KELMDESK_BINARY), args);
        // The event loop of this process, the running instance, keeps going while the program waits.
        if (!QTest::qWaitFor([&p] { return p.state() == QProcess::NotRunning; }, scaledMs(10000))) {
            p.kill();
            p.waitForFinished();
            return -1;
        }
        if (elapsedMs)
            *elapsedMs = clock.elapsed();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

    QTemporaryDir dir;
    QString program;
    std::unique_ptr<CKelmDeskApp> app;
    QStringList boxes;
    KMessageBox::Hook previous;
};

TEST_F(ShellRequestTest, SecondOpenHandsTheFileToTheRunningInstanceAndEnds)
{
    ASSERT_TRUE(start({}));
    app->mainFrame()->showMinimized();
    qint64 elapsed = 0;
    // A relative name, as a terminal would give it, is taken from the caller's folder.
    EXPECT_EQ(runProgram({"-open", "tank fill.kelm"}, &elapsed), 0);
    EXPECT_LT(elapsed, scaledMs(1000));
    KD_TRY_COMPARE(openPaths(), QStringList{program}, 5000);
    KD_TRY_VERIFY(!app->mainFrame()->isMinimized(), 5000);

    // The program's switches after the files are stored by the start that hands over, too.
    EXPECT_EQ(runProgram({"-open", program, "-host", "kernel7"}), 0);
    QSettings childStore(qEnvironmentVariable("XDG_CONFIG_HOME") + "/Vantrel/kelmdesk.conf", QSettings::IniFormat);
    EXPECT_EQ(childStore.value("settings/def_hostname").toString(), "kernel7");

    // Requests are handled in order: once the next one's box is up, the one before has been opened.
    EXPECT_EQ(runProgram({"-open", dir.filePath("missing.kelm")}), 0);
    const QString expected = ProgramText::readFile(dir.filePath("missing.kelm")).error;
    KD_TRY_COMPARE(boxes, QStringList{expected}, 5000);
    EXPECT_EQ(openPaths(), QStringList{program}) << "an open program is activated, not opened twice";
}

TEST_F(ShellRequestTest, OpenWithNoneRunningOpensItselfAndKeepsTheSwitches)
{
    ASSERT_TRUE(start({"-open", program, dir.filePath("missing.kelm"), "-editonly"}));
    EXPECT_TRUE(app->m_bEditOnly);
    EXPECT_TRUE(app->mainFrame()->isVisible());
    KD_TRY_COMPARE(openPaths(), QStringList{program}, 5000);
    EXPECT_EQ(boxes, QStringList{ProgramText::readFile(dir.filePath("missing.kelm")).error});

    QLocalSocket probe;
    probe.connectToServer(SingleInstance::socketPath());
    EXPECT_TRUE(probe.waitForConnected(scaledMs(5000))) << "it now takes the requests of later ones";
}

TEST_F(ShellRequestTest, PlainFileArgumentOpensNothing)
{
    ASSERT_TRUE(start({program}));
    // Files a start opens itself are opened from the event loop, before what is posted after it.
    bool turned = false;
    QTimer::singleShot(0, app->mainFrame(), [&turned] { turned = true; });
    KD_TRY_VERIFY(turned, 5000);
    EXPECT_TRUE(openPaths().isEmpty());
}

TEST_F(ShellRequestTest, SocketIsTheUsersAlone)
{
    ASSERT_TRUE(start({}));
    const QByteArray socket = QFile::encodeName(SingleInstance::socketPath());
    const QByteArray folder = QFile::encodeName(QFileInfo(SingleInstance::socketPath()).absolutePath());
    struct stat st = {};
    ASSERT_EQ(::stat(socket.constData(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_uid, ::geteuid());
    EXPECT_EQ(st.st_mode & 077, 0u) << std::oct << st.st_mode;
    ASSERT_EQ(::stat(folder.constData(), &st), 0);
    EXPECT_EQ(st.st_uid, ::geteuid());
    EXPECT_EQ(st.st_mode & 077, 0u) << std::oct << st.st_mode;

    if (::geteuid() != 0)
        return;
    // As another user, with the folders opened for passing through, the socket itself refuses.
    QList<QByteArray> opened;
    for (QString d = QString::fromLocal8Bit(folder); d != QLatin1String("/"); d = QFileInfo(d).absolutePath()) {
        struct stat ds = {};
        if (::stat(QFile::encodeName(d).constData(), &ds) == 0 && !(ds.st_mode & S_IXOTH)) {
            ::chmod(QFile::encodeName(d).constData(), ds.st_mode | S_IXOTH);
            opened << QFile::encodeName(d);
        }
    }
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(3);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, socket.constData(), sizeof(address.sun_path) - 1);
        ::_exit(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    for (const QByteArray& d : opened) {
        struct stat ds = {};
        ::stat(d.constData(), &ds);
        ::chmod(d.constData(), ds.st_mode & ~S_IXOTH);
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1) << "0: another user connected; 3: could not become another user";
}

TEST_F(ShellRequestTest, StaleSocketOfACrashedInstanceIsTakenOver)
{
    // A socket file that nobody listens on, as a killed instance leaves it.
    const QByteArray path = QFile::encodeName(SingleInstance::socketPath());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.constData(), sizeof(address.sun_path) - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(fd);
    ASSERT_TRUE(QFileInfo::exists(SingleInstance::socketPath()));

    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(start({"-open", program}));
    EXPECT_LT(clock.elapsed(), scaledMs(1000));
    KD_TRY_COMPARE(openPaths(), QStringList{program}, 5000);
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join('|').toStdString();

    EXPECT_EQ(runProgram({"-open"}), 0) << "the stale socket is now this instance's";
}

TEST_F(ShellRequestTest, MalformedRequestEndsWithoutAWindow)
{
    EXPECT_FALSE(start({"-pt", program}));
    EXPECT_EQ(app->exitCode(), 2);
    EXPECT_FALSE(app->mainFrame()->isVisible());
}

} // namespace
