// What a user of the whole program feels, against bare Qt programs measured in the same run:
//   desk_bench idle [seconds] [rounds]   CPU and wake-ups of an idle KelmDesk, logged on to a paused
//                                        kernel, against a bare main window with the same 50 ms tick
//   desk_bench startup [rounds]          process start to the main window's first paint, offscreen,
//                                        against a bare main window with the same menus, tool bar,
//                                        status panes and icons
// Programs run as processes of their own, alternately, with QT_QPA_PLATFORM=offscreen unless the
// environment names another platform.

#include "bench/BenchSupport.h"

#include "app/CKelmDeskApp.h"
#include "app/CMainFrame.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
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

pid_t spawn(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& extraEnv)
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
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0)
        return -1;
    return pid;
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

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "bare-idle")
        return runBareIdle(argc, argv);
    if (mode == "idle")
        return idle(argc > 2 ? std::atoi(argv[2]) : 30, argc > 3 ? std::atoi(argv[3]) : 3);
    std::fprintf(stderr, "usage: desk_bench idle [seconds] [rounds]\n");
    return 2;
}
