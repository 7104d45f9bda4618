#pragma once

// What the benchmarks share: processor-time clocks, CPU placement, a counter of the calling thread's
// system calls, and child processes that run the same program again in another role (the far end of
// a connection lives in a process of its own, as the kernel and the runners do).

#include <fcntl.h>
#include <linux/perf_event.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace bench {

// Line i of a made-up program: timed writes, a comment, a condition and a ramp, in turn.
inline std::string programLine(int i)
{
    switch (i % 4) {
    case 0:
        return "after (" + std::to_string(i) + ") {T101:INLET} = 1";
    case 1:
        return "* step " + std::to_string(i) + ": fill the tank";
    case 2:
        return "when ({T101:LEVEL} > 2.5) {V101:POS} = 0 // close";
    default:
        return "after (" + std::to_string(i) + ") ramp({P101:SPEED}, 50, 120, 10)";
    }
}

inline double cpuMicros(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return double(ts.tv_sec) * 1e6 + double(ts.tv_nsec) / 1e3;
}

// Processor time of the calling thread, in microseconds (one system call).
inline double threadCpuMicros()
{
    return cpuMicros(CLOCK_THREAD_CPUTIME_ID);
}

// Processor time of the whole process, user and system, in microseconds.
inline double processCpuMicros()
{
    return cpuMicros(CLOCK_PROCESS_CPUTIME_ID);
}

// Peak resident memory of the process in KiB.
inline long peakResidentKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

inline double median(std::vector<double> samples)
{
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

// Keeps the calling thread (and threads it starts later) on one CPU; false where that is not possible.
inline bool pinThread(int cpu)
{
    if (cpu < 0 || cpu >= CPU_SETSIZE)
        return false;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    return sched_setaffinity(0, sizeof one, &one) == 0;
}

inline void unpinThread()
{
    cpu_set_t all;
    CPU_ZERO(&all);
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        CPU_SET(cpu, &all);
    sched_setaffinity(0, sizeof all, &all);
}

// Counts the system calls the calling thread makes, and its socket receives among them, through the
// kernel's trace points (perf events). ok() is false where they cannot be opened.
class SyscallCounter
{
public:
    SyscallCounter()
    {
        m_all = open("raw_syscalls/sys_enter");
        m_receives = open("syscalls/sys_enter_recvfrom");
        m_messageReceives = open("syscalls/sys_enter_recvmsg"); // what Asio's reads use
    }
    ~SyscallCounter()
    {
        for (int fd : {m_all, m_receives, m_messageReceives}) {
            if (fd >= 0)
                ::close(fd);
        }
    }
    SyscallCounter(const SyscallCounter&) = delete;
    SyscallCounter& operator=(const SyscallCounter&) = delete;

    bool ok() const { return m_all >= 0 && m_receives >= 0 && m_messageReceives >= 0; }
    // Calls so far; each reading is itself a call, and counted.
    std::uint64_t calls() const { return read(m_all); }
    // Socket reads so far (recv and recvmsg).
    std::uint64_t receives() const { return read(m_receives) + read(m_messageReceives); }

private:
    static int open(const std::string& event)
    {
        for (const char* root : {"/sys/kernel/tracing/events/", "/sys/kernel/debug/tracing/events/"}) {
            std::ifstream idFile(std::string(root) + event + "/id");
            unsigned long long id = 0;
            if (!(idFile >> id))
                continue;
            perf_event_attr attr{};
            attr.type = PERF_TYPE_TRACEPOINT;
            attr.size = sizeof attr;
            attr.config = id;
            attr.exclude_kernel = 0;
            const int fd = int(syscall(SYS_perf_event_open, &attr, 0, -1, -1, PERF_FLAG_FD_CLOEXEC));
            if (fd >= 0)
                return fd;
        }
        return -1;
    }
    static std::uint64_t read(int fd)
    {
        std::uint64_t value = 0;
        if (fd < 0 || ::read(fd, &value, sizeof value) != ssize_t(sizeof value))
            return 0;
        return value;
    }

    int m_all = -1;
    int m_receives = -1;
    int m_messageReceives = -1;
};

// This program started again with other arguments; its standard output comes back line by line.
class Child
{
public:
    explicit Child(const std::vector<std::string>& arguments)
    {
        // The path is resolved before the fork: under a profiler /proc/self/exe is the profiler, but
        // reading the link gives this program (which then runs natively, unprofiled).
        char self[4096];
        const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
        if (length <= 0)
            return;
        self[length] = '\0';
        int pipeFds[2];
        if (pipe2(pipeFds, O_CLOEXEC) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(pipeFds[1], STDOUT_FILENO);
            std::vector<char*> argv;
            static char name[] = "bench-child";
            argv.push_back(name);
            for (const std::string& a : arguments)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(self, argv.data());
            _exit(127);
        }
        ::close(pipeFds[1]);
        m_out = fdopen(pipeFds[0], "r");
    }
    ~Child()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_out)
            fclose(m_out);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // The next line the child printed, without its end; empty when it ended.
    std::string readLine()
    {
        char line[4096];
        if (!m_out || !fgets(line, sizeof line, m_out))
            return {};
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        return text;
    }
    // Waits for the child's end; its exit status, or -1.
    int wait()
    {
        int status = 0;
        if (m_pid <= 0 || waitpid(m_pid, &status, 0) != m_pid)
            return -1;
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t m_pid = -1;
    FILE* m_out = nullptr;
};

} // namespace bench
