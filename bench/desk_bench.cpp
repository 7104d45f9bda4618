// What a user of the whole program feels, against bare Qt programs measured in the same run:
//   desk_bench idle [seconds] [rounds]   CPU and wake-ups of an idle KelmDesk, logged on to a paused
//                                        kernel, against a bare main window with the same 50 ms tick
//   desk_bench keys [keys]               keystroke in the middle of a 100,000-line program, from the
//                                        key event to the event-loop pass that painted it, typed at a
//                                        human rate (one key every 120 ms into each), key by key
//                                        alternately into KelmDesk's main window and a bare
//                                        QPlainTextEdit with the program view's font and no wrapping;
//                                        wall time and UI-thread CPU; and the UI thread's CPU in the
//                                        two seconds after a pause in typing
//   desk_bench startup [rounds]          process start to the main window's first paint, offscreen,
//                                        against a bare main window with the same menus, tool bar,
//                                        status panes and icons
// Programs run as processes of their own, alternately, with QT_QPA_PLATFORM=offscreen unless the
// environment names another platform.

#include "bench/BenchSupport.h"

#include "app/CKelmDeskApp.h"
#include "app/CMainFrame.h"
#include "editor/CEditorView.h"
#include "res/Fonts.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMainWindow>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include <dirent.h>
#include <spawn.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>

extern char** environ;

namespace {

// Processor time (ns) and context switches (wake-ups) of every thread of a process.
struct ProcessLoad
{
    double cpuMs = 0;
    long switches = 0;
};

ProcessLoad loadOf(pid_t pid)
{
    ProcessLoad load;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(tasks.c_str());
    if (!dir)
        return load;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        const std::string task = tasks + "/" + entry->d_name;
        std::ifstream sched(task + "/schedstat");
        double runNs = 0;
        sched >> runNs;
        load.cpuMs += runNs / 1e6;
        std::ifstream status(task + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                load.switches += std::atol(line.substr(line.find(':') + 1).c_str());
        }
    }
    closedir(dir);
    return load;
}

// Starts a program with extra environment variables; with out >= 0 its standard output goes there.
pid_t spawn(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& extraEnv, int out = -1)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        if (!extraEnv.count(entry.substr(0, entry.find('='))))
            env.push_back(entry);
    }
    for (const auto& [key, value] : extraEnv)
        env.push_back(key + "=" + value);
    std::vector<char*> argv, envp;
    for (const std::string& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (out >= 0)
        posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? pid : -1;
}

void stop(pid_t pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

std::string selfPath()
{
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    return length > 0 ? std::string(self, std::size_t(length)) : std::string();
}

// The bare idle program: a main window and a single-shot timer re-armed 50 ms after each tick.
int runBareIdle(int argc, char** argv)
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.resize(900, 640);
    window.show();
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, [&timer] { timer.start(50); });
    timer.start(1000);
    return QApplication::exec();
}

std::string scratchFolder()
{
    char name[] = "/tmp/desk-bench-XXXXXX";
    return mkdtemp(name) ? std::string(name) : std::string();
}

void writeSettings(const std::string& configHome, int instance)
{
    const std::string folder = configHome + "/Vantrel";
    mkdir(folder.c_str(), 0700);
    std::ofstream(folder + "/kelmdesk.conf")
        << "[settings]\ndef_hostname=127.0.0.1\ndef_instance=" << instance << "\ndef_logon=on\n";
}

int idle(int seconds, int rounds)
{
    const int instance = 7 + int(getpid() % 50);
    const std::string portBase = std::to_string(20000 + (getpid() % 20000));
    const std::map<std::string, std::string> simEnv{{"NORVEX_PORT_BASE", portBase}};
    const pid_t sim = spawn({KELMDESK_NORVEXSIM, "--instance", std::to_string(instance), "--state", "paused"}, simEnv);
    usleep(500 * 1000);
    std::printf("idle for %d s after 3 s to settle, %d rounds, alternately; kernel paused\n", seconds, rounds);
    std::vector<double> deskCpu, bareCpu, deskWakes, bareWakes;
    for (int round = 0; round < rounds; ++round) {
        for (const bool desk : {true, false}) {
            const std::string home = scratchFolder();
            writeSettings(home, instance);
            std::map<std::string, std::string> env{
                {"NORVEX_PORT_BASE", portBase}, {"XDG_CONFIG_HOME", home}, {"HOME", home}};
            if (!std::getenv("QT_QPA_PLATFORM"))
                env["QT_QPA_PLATFORM"] = "offscreen";
            const pid_t pid = desk ? spawn({KELMDESK_PROGRAM}, env) : spawn({selfPath(), "bare-idle"}, env);
            sleep(3);
            const ProcessLoad before = loadOf(pid);
            sleep(unsigned(seconds));
            const ProcessLoad after = loadOf(pid);
            stop(pid);
            const double scale = 30.0 / seconds;
            (desk ? deskCpu : bareCpu).push_back((after.cpuMs - before.cpuMs) * scale);
            (desk ? deskWakes : bareWakes).push_back(double(after.switches - before.switches) / seconds);
            std::string remove = "rm -rf '" + home + "'";
            if (std::system(remove.c_str()) != 0)
                std::fprintf(stderr, "could not remove %s\n", home.c_str());
        }
        std::printf("  round %d: KelmDesk %.1f ms CPU per 30 s, %.1f wake-ups/s; bare %.1f ms, %.1f/s\n", round + 1,
                    deskCpu.back(), deskWakes.back(), bareCpu.back(), bareWakes.back());
    }
    stop(sim);
    std::printf("median: KelmDesk %.1f ms CPU per 30 s (%.1f-%.1f), %.1f wake-ups/s; bare %.1f ms (%.1f-%.1f), "
                "%.1f wake-ups/s\n",
                bench::median(deskCpu), *std::min_element(deskCpu.begin(), deskCpu.end()),
                *std::max_element(deskCpu.begin(), deskCpu.end()), bench::median(deskWakes), bench::median(bareCpu),
                *std::min_element(bareCpu.begin(), bareCpu.end()), *std::max_element(bareCpu.begin(), bareCpu.end()),
                bench::median(bareWakes));
    return 0;
}

double monotonicMs()
{
    return bench::cpuMicros(CLOCK_MONOTONIC) / 1000.0;
}

// Prints the time of the first paint (with a text: of the first label painted showing it) and ends
// the process, which the parent then reaps.
class FirstPaint : public QObject
{
public:
    explicit FirstPaint(QString text) : m_text(std::move(text)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Paint)
            return false;
        if (!m_text.isEmpty()) {
            auto* label = qobject_cast<QLabel*>(watched);
            if (!label || label->text().trimmed() != m_text)
                return false;
        }
        // The process's CPU to this point (all threads), beside the wall clock.
        std::printf("%.3f %.3f\n", monotonicMs(), bench::processCpuMicros() / 1000.0);
        std::fflush(stdout);
        _exit(0);
    }

private:
    QString m_text;
};

// The product's window as a bare program rebuilds it: menus with their commands and shortcuts, the
// tool bar's buttons, the status panes' texts.
void describeDesk(QMainWindow& frame)
{
    for (QAction* top : frame.menuBar()->actions()) {
        std::printf("menu\t%s\n", qPrintable(top->text()));
        if (!top->menu())
            continue;
        for (QAction* a : top->menu()->actions()) {
            if (a->isSeparator())
                std::printf("separator\n");
            else
                std::printf("item\t%s\t%s\n", qPrintable(a->text()), qPrintable(a->shortcut().toString()));
        }
    }
    for (QToolBar* bar : frame.findChildren<QToolBar*>()) {
        for (QAction* a : bar->actions())
            std::printf(a->isSeparator() ? "toolseparator\n" : "tool\t%s\n", qPrintable(a->text()));
    }
    for (QLabel* label : frame.statusBar()->findChildren<QLabel*>())
        std::printf("pane\t%s\n", qPrintable(label->text()));
    std::fflush(stdout);
}

int runDesk(int argc, char** argv, const std::string& role)
{
    QApplication qapp(argc, argv);
    FirstPaint probe(role == "desk-logon" ? QStringLiteral("Running") : QString());
    if (role != "describe")
        qapp.installEventFilter(&probe);
    CKelmDeskApp app;
    if (!app.initInstance({QStringLiteral("kelmdesk")}))
        return 1;
    if (role == "describe") {
        describeDesk(*app.mainFrame());
        return 0;
    }
    return QApplication::exec();
}

int runBare(int argc, char** argv, const std::string& role, const std::string& descriptionFile)
{
    QApplication qapp(argc, argv);
    FirstPaint probe(role == "bare-logon" ? QStringLiteral("Running") : QString());
    qapp.installEventFilter(&probe);
    QMainWindow window;
    window.setWindowIcon(QIcon(QStringLiteral(":/kelmdesk/icons/com.vantrel.KelmDesk.svg")));
    window.setCentralWidget(new QMdiArea);
    QToolBar* tools = window.addToolBar(QStringLiteral("Standard"));
    const QStringList icons = QDir(QStringLiteral(":/kelmdesk/toolbar")).entryList();
    int icon = 0;
    QMenu* menu = nullptr;
    QList<QLabel*> panes;
    std::ifstream description(descriptionFile);
    std::string line;
    while (std::getline(description, line)) {
        const QStringList f = QString::fromStdString(line).split(QLatin1Char('\t'));
        if (f[0] == QLatin1String("menu"))
            menu = window.menuBar()->addMenu(f.value(1));
        else if (f[0] == QLatin1String("separator") && menu)
            menu->addSeparator();
        else if (f[0] == QLatin1String("item") && menu)
            menu->addAction(f.value(1))->setShortcut(QKeySequence(f.value(2)));
        else if (f[0] == QLatin1String("toolseparator"))
            tools->addSeparator();
        else if (f[0] == QLatin1String("tool"))
            tools->addAction(QIcon(QStringLiteral(":/kelmdesk/toolbar/") + icons.value(icon++ % int(icons.size()))),
                             f.value(1));
        else if (f[0] == QLatin1String("pane"))
            panes << new QLabel(f.value(1));
    }
    for (int i = 0; i < panes.size(); ++i) {
        if (i == 0)
            window.statusBar()->addWidget(panes[i], 1);
        else
            window.statusBar()->addPermanentWidget(panes[i]);
    }
    window.resize(900, 640);
    window.show();
    if (role == "bare-logon") {
        for (QLabel* pane : panes) {
            if (pane->text().trimmed() == QLatin1String("Not logged on"))
                pane->setText(QStringLiteral("Running"));
        }
    }
    return QApplication::exec();
}

struct StartCost
{
    double wallMs = -1;
    double cpuMs = -1;
};

// Starts a role of this program and waits for its first paint: wall time from the spawn, and the
// child's CPU time to that paint.
StartCost spawnToPaint(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& env)
{
    const double started = monotonicMs();
    std::vector<std::string> all{selfPath()};
    all.insert(all.end(), arguments.begin(), arguments.end());
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return {};
    const pid_t pid = spawn(all, env, fds[1]);
    ::close(fds[1]);
    StartCost cost;
    if (pid > 0) {
        FILE* out = fdopen(fds[0], "r");
        double painted = -1;
        double cpu = -1;
        if (out && std::fscanf(out, "%lf %lf", &painted, &cpu) == 2 && painted > 0) {
            cost.wallMs = painted - started;
            cost.cpuMs = cpu;
        }
        if (out)
            fclose(out);
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    } else {
        ::close(fds[0]);
    }
    return cost;
}

void printRatio(const char* what, const std::vector<double>& desk, const std::vector<double>& bare)
{
    std::vector<double> ratios;
    for (std::size_t i = 0; i < desk.size() && i < bare.size(); ++i)
        ratios.push_back(desk[i] / bare[i]);
    if (ratios.empty()) {
        std::printf("%s: no run painted\n", what);
        return;
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf("%s: KelmDesk %.1f ms, bare %.1f ms (medians); ratio %.2f (pairs: quartiles %.2f-%.2f, all "
                "%.2f-%.2f)\n",
                what, bench::median(desk), bench::median(bare), bench::median(ratios), ratios[ratios.size() / 4],
                ratios[ratios.size() * 3 / 4], ratios.front(), ratios.back());
}

int startup(int rounds)
{
    const std::string home = scratchFolder();
    std::map<std::string, std::string> env{{"XDG_CONFIG_HOME", home}, {"HOME", home}};
    if (!std::getenv("QT_QPA_PLATFORM"))
        env["QT_QPA_PLATFORM"] = "offscreen";
    const std::string description = home + "/window.txt";
    {
        const std::string command = "'" + selfPath() + "' describe > '" + description + "'";
        setenv("XDG_CONFIG_HOME", home.c_str(), 1);
        setenv("HOME", home.c_str(), 1);
        if (!std::getenv("QT_QPA_PLATFORM"))
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "could not describe the main window\n");
            return 1;
        }
    }
    // A kernel for the log-on variant, running, at the default instance of a port base of our own.
    const std::string portBase = std::to_string(20000 + (getpid() % 20000));
    env["NORVEX_PORT_BASE"] = portBase;
    const pid_t sim = spawn({KELMDESK_NORVEXSIM, "--instance", "0"}, {{"NORVEX_PORT_BASE", portBase}});
    usleep(500 * 1000);
    std::printf("start-up, process start to first paint, %d rounds alternately, platform %s\n", rounds,
                std::getenv("QT_QPA_PLATFORM"));
    // Wall time and CPU time of each variant; index 0 KelmDesk, 1 bare; a run that did not paint is left out.
    std::vector<double> wall[2][2], cpu[2][2];
    const auto record = [&](int variant, const StartCost& desk, const StartCost& bare) {
        if (desk.wallMs < 0 || bare.wallMs < 0)
            return;
        wall[variant][0].push_back(desk.wallMs);
        wall[variant][1].push_back(bare.wallMs);
        cpu[variant][0].push_back(desk.cpuMs);
        cpu[variant][1].push_back(bare.cpuMs);
    };
    for (int round = 0; round < rounds; ++round) {
        writeSettings(home, 0);
        std::ofstream(home + "/Vantrel/kelmdesk.conf") << "[settings]\ndef_logon=off\n";
        const StartCost desk = spawnToPaint({"desk"}, env);
        record(0, desk, spawnToPaint({"bare", description}, env));
        writeSettings(home, 0);
        const StartCost deskLogOn = spawnToPaint({"desk-logon"}, env);
        record(1, deskLogOn, spawnToPaint({"bare-logon", description}, env));
    }
    stop(sim);
    printRatio("to the first paint, wall", wall[0][0], wall[0][1]);
    printRatio("to the first paint, CPU", cpu[0][0], cpu[0][1]);
    printRatio("logged on, to \"Running\" painted, wall", wall[1][0], wall[1][1]);
    printRatio("logged on, to \"Running\" painted, CPU", cpu[1][0], cpu[1][1]);
    const std::string remove = "rm -rf '" + home + "'";
    return std::system(remove.c_str()) == 0 ? 0 : 1;
}

// The time from posting a key to the event-loop pass after the editor's viewport painted it, in wall
// time and in the UI thread's CPU time (which other processes on the machine do not inflate).
class KeyToPaint : public QObject
{
public:
    struct Cost
    {
        double wallMs = -1;
        double cpuMs = -1;
    };

    explicit KeyToPaint(QWidget* viewport) : m_viewport(viewport) { viewport->installEventFilter(this); }

    // Posts one key; returns its cost to the end of the pass that painted it (-1 when nothing painted).
    Cost type(QWidget* target, int key, const QString& text)
    {
        QEventLoop loop;
        m_loop = &loop;
        m_painted = false;
        QTimer::singleShot(2000, &loop, &QEventLoop::quit);
        const double cpu = bench::threadCpuMicros();
        const double start = monotonicMs();
        QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier, text));
        QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyRelease, key, Qt::NoModifier, text));
        loop.exec();
        m_loop = nullptr;
        if (!m_painted)
            return {};
        return {monotonicMs() - start, (bench::threadCpuMicros() - cpu) / 1000};
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_viewport && event->type() == QEvent::Paint && m_loop && !m_painted) {
            m_painted = true;
            // Posted now, it runs once the pass that paints (and flushes) is over.
            QTimer::singleShot(0, m_loop, &QEventLoop::quit);
        }
        return false;
    }

private:
    QWidget* m_viewport;
    QEventLoop* m_loop = nullptr;
    bool m_painted = false;
};

// Runs the event loop for ms, waiting for events as a user's program does.
void idleFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

std::string bigProgram()
{
    std::string text;
    for (int i = 0; i < 100000; ++i)
        text += bench::programLine(i) + "\n";
    return text;
}

// Puts the cursor at the end of the middle line, in view.
void placeInMiddle(QPlainTextEdit* edit)
{
    QTextCursor cursor(edit->document()->findBlockByNumber(50000));
    cursor.movePosition(QTextCursor::EndOfBlock);
    edit->setTextCursor(cursor);
    edit->centerCursor();
}

// The UI thread's CPU in the two seconds after the last key of a burst typed into the editor.
double pauseCpuMs(QPlainTextEdit* edit, KeyToPaint& probe)
{
    edit->setFocus();
    for (int i = 0; i < 10; ++i) {
        probe.type(edit, i % 2 ? Qt::Key_Backspace : Qt::Key_5, i % 2 ? QString() : QStringLiteral("5"));
        idleFor(120);
    }
    const double cpu = bench::threadCpuMicros();
    idleFor(2000);
    return (bench::threadCpuMicros() - cpu) / 1000;
}

void printKeyRatio(const char* what, const std::vector<double>& desk, const std::vector<double>& bare)
{
    std::vector<double> ratios;
    for (std::size_t i = 0; i < desk.size(); ++i)
        ratios.push_back(desk[i] / bare[i]);
    std::sort(ratios.begin(), ratios.end());
    std::printf("  %s: KelmDesk %.3f ms, bare QPlainTextEdit %.3f ms (medians); ratio %.2f (key pairs, quartiles "
                "%.2f-%.2f)\n",
                what, bench::median(desk), bench::median(bare), bench::median(desk) / bench::median(bare),
                ratios[ratios.size() / 4], ratios[ratios.size() * 3 / 4]);
}

int keystrokes(int argc, char** argv, int keys)
{
    QStandardPaths::setTestModeEnabled(true);
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication qapp(argc, argv);
    char folder[] = "/tmp/desk-keys-XXXXXX";
    if (!mkdtemp(folder))
        return 1;
    const std::string path = std::string(folder) + "/big.kelm";
    std::ofstream(path) << bigProgram();

    CKelmDeskApp app;
    if (!app.initInstance({QStringLiteral("kelmdesk"), QStringLiteral("-editonly")}))
        return 1;
    app.mainFrame()->resize(900, 640);
    app.openDocumentFile(QString::fromStdString(path));
    idleFor(500);
    auto* view = app.mainFrame()->findChild<CEditorView*>();
    if (!view)
        return 1;

    QMainWindow bareWindow;
    auto* bare = new QPlainTextEdit;
    bare->setLineWrapMode(QPlainTextEdit::NoWrap);
    bare->setFont(Fonts::programFont(bare->font()));
    bare->setPlainText(QString::fromStdString(bigProgram()));
    bareWindow.setCentralWidget(bare);
    bareWindow.resize(900, 640);
    bareWindow.show();

    placeInMiddle(view);
    placeInMiddle(bare);
    idleFor(1500);
    KeyToPaint deskProbe(view->viewport());
    KeyToPaint bareProbe(bare->viewport());
    // Key by key, alternately, so that both editors see the same state of the machine; each editor
    // still gets one key every 120 ms.
    std::vector<double> deskWall, bareWall, deskCpu, bareCpu;
    for (int i = 0; i < keys; ++i) {
        const bool erase = i % 2 == 1;
        const int key = erase ? Qt::Key_Backspace : Qt::Key_0 + i % 10;
        const QString text = erase ? QString() : QString(QChar('0' + i % 10));
        const KeyToPaint::Cost d = deskProbe.type(view, key, text);
        idleFor(60);
        const KeyToPaint::Cost b = bareProbe.type(bare, key, text);
        idleFor(60);
        if (d.wallMs < 0 || b.wallMs < 0)
            continue;
        deskWall.push_back(d.wallMs);
        bareWall.push_back(b.wallMs);
        deskCpu.push_back(d.cpuMs);
        bareCpu.push_back(b.cpuMs);
    }
    if (deskWall.empty())
        return 1;
    std::printf("keystroke in a 100,000-line program, key to the pass that painted it, %d keys into each editor "
                "alternately, one every 120 ms each (%zu pairs painted):\n",
                keys, deskWall.size());
    printKeyRatio("wall time", deskWall, bareWall);
    printKeyRatio("UI-thread CPU", deskCpu, bareCpu);
    const double deskPause = pauseCpuMs(view, deskProbe);
    const double barePause = pauseCpuMs(bare, bareProbe);
    std::printf("UI-thread CPU in the 2 s after the last key: KelmDesk %.1f ms, bare %.1f ms\n", deskPause, barePause);
    const std::string remove = std::string("rm -rf '") + folder + "'";
    return std::system(remove.c_str()) == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "bare-idle")
        return runBareIdle(argc, argv);
    if (mode == "describe" || mode == "desk" || mode == "desk-logon")
        return runDesk(argc, argv, mode);
    if ((mode == "bare" || mode == "bare-logon") && argc > 2)
        return runBare(argc, argv, mode, argv[2]);
    if (mode == "keys")
        return keystrokes(argc, argv, argc > 2 ? std::atoi(argv[2]) : 60);
    if (mode == "startup")
        return startup(argc > 2 ? std::atoi(argv[2]) : 20);
    if (mode == "idle")
        return idle(argc > 2 ? std::atoi(argv[2]) : 30, argc > 3 ? std::atoi(argv[3]) : 3);
    std::fprintf(stderr, "usage: desk_bench idle [seconds] [rounds] | startup [rounds] | keys [keys]\n");
    return 2;
}
