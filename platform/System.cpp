#include "platform/System.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <vector>

#ifdef VOSTRINE_WITH_SYSTEMD
#include <systemd/sd-daemon.h>
#endif
#include <csignal>
#include <cstdint>
#include <malloc.h>
#include <poll.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

sigset_t StopSignals() {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    return stopSignals;
}

}  // namespace

int SignalsTakeOver() {
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);  // a write past a file size limit fails instead of killing us
    sigset_t stopSignals = StopSignals();
    if (pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr) != 0) return -1;
    return signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);
}

ProgramSignal SignalsConsume(int signalFd) {
    signalfd_siginfo info{};
    while (read(signalFd, &info, sizeof info) < 0 && errno == EINTR) {
    }
    switch (info.ssi_signo) {
        case SIGINT: return ProgramSignal::Interrupt;
        case SIGTERM: return ProgramSignal::Terminate;
        case SIGHUP: return ProgramSignal::HangUp;
        default: return ProgramSignal::Other;
    }
}

ProgramSignal SignalsWait(int signalFd) {
    pollfd wait = {signalFd, POLLIN, 0};
    while (poll(&wait, 1, -1) < 0 && errno == EINTR) {
    }
    return SignalsConsume(signalFd);
}

uint64_t RaiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
    }
    return limit.rlim_cur;
}

bool FindRunAs(const std::string& user, const std::string& group, RunAs* runAs, std::string* fault) {
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> text(16384);
    if (getpwnam_r(user.c_str(), &entry, text.data(), text.size(), &found) != 0 || found == nullptr) {
        *fault = "--user " + user + ": no such user";
        return false;
    }
    runAs->User = entry.pw_uid;
    runAs->Group = entry.pw_gid;
    runAs->Name = user;
    if (group.empty()) return true;
    struct group groupEntry{};
    struct group* groupFound = nullptr;
    if (getgrnam_r(group.c_str(), &groupEntry, text.data(), text.size(), &groupFound) != 0 || groupFound == nullptr) {
        *fault = "--group " + group + ": no such group";
        return false;
    }
    runAs->Group = groupEntry.gr_gid;
    return true;
}

bool DropPrivileges(const RunAs& runAs, std::string* fault) {
    auto failed = [fault](const char* step) {
        *fault = std::string(step) + ": " + std::strerror(errno);
        return false;
    };
    if (initgroups(runAs.Name.c_str(), runAs.Group) != 0) return failed("initgroups");
    if (setgid(runAs.Group) != 0) return failed("setgid");
    if (setuid(runAs.User) != 0) return failed("setuid");
    if (getuid() != runAs.User || geteuid() != runAs.User || getgid() != runAs.Group || getegid() != runAs.Group) {
        *fault = "the user or group did not change";
        return false;
    }
    if (runAs.User != 0 && setuid(0) == 0) {
        *fault = "root could be taken back";
        return false;
    }
    return true;
}

bool RunningAsRoot() { return geteuid() == 0; }

ProcessFigures ReadProcessFigures() {
    ProcessFigures figures;
    // /proc/self/stat: after the name in parentheses, state is field 3;
    // utime and stime 14 and 15, threads 20, starttime 22 (in clock ticks).
    char stat[1024] = "";
    if (FILE* file = std::fopen("/proc/self/stat", "r")) {
        size_t got = std::fread(stat, 1, sizeof stat - 1, file);
        stat[got] = '\0';
        std::fclose(file);
    }
    const char* fields = std::strrchr(stat, ')');
    unsigned long long utime = 0, stime = 0, threads = 0, start = 0, pages = 0;
    if (fields != nullptr)
        std::sscanf(fields + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu %*d %*d %*d %*d %llu %*d %llu %*u %llu",
                    &utime, &stime, &threads, &start, &pages);
    double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
    figures.CpuSeconds = static_cast<double>(utime + stime) / tick;
    figures.Threads = threads;
    figures.ResidentBytes = pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    // The start: the boot time (btime of /proc/stat) plus the ticks since it.
    unsigned long long boot = 0;
    if (FILE* file = std::fopen("/proc/stat", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, file) != nullptr)
            if (std::sscanf(line, "btime %llu", &boot) == 1) break;
        std::fclose(file);
    }
    figures.StartTimeSeconds = static_cast<double>(boot) + static_cast<double>(start) / tick;
    if (DIR* descriptors = opendir("/proc/self/fd")) {
        while (const dirent* entry = readdir(descriptors))
            if (entry->d_name[0] != '.') ++figures.OpenDescriptors;
        closedir(descriptors);
        --figures.OpenDescriptors;  // the one reading the folder
    }
    return figures;
}

void NotifyServiceManager(const char* state) {
#ifdef VOSTRINE_WITH_SYSTEMD
    sd_notify(0, state);
#else
    (void)state;
#endif
}

void UseOneHeap() { mallopt(M_ARENA_MAX, 1); }

void GiveBackFreeMemory() { malloc_trim(0); }

bool StartThread(void (*body)(void*), void* argument, size_t stackSize) {
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return false;
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_attr_setstacksize(&attributes, stackSize);
    struct Start {
        void (*Body)(void*);
        void* Argument;
    };
    auto* start = new Start{body, argument};
    // The new thread starts with the stop signals blocked, whoever starts it
    // and whenever: only the signal descriptor takes them.
    sigset_t stopSignals = StopSignals(), previous;
    pthread_sigmask(SIG_BLOCK, &stopSignals, &previous);
    pthread_t thread;
    int failed = pthread_create(
        &thread, &attributes,
        [](void* raw) -> void* {
            Start begin = *static_cast<Start*>(raw);
            delete static_cast<Start*>(raw);
            begin.Body(begin.Argument);
            return nullptr;
        },
        start);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    pthread_attr_destroy(&attributes);
    if (failed != 0) delete start;
    return failed == 0;
}

void ConsoleWrite(const char* text, size_t length) {
    while (length > 0) {
        ssize_t written = write(STDOUT_FILENO, text, length);
        if (written < 0) {
            if (errno == EINTR) continue;
            return;  // nowhere left to report a console failure
        }
        text += written;
        length -= static_cast<size_t>(written);
    }
}

ConsoleInput ConsoleRead(char* buffer, size_t size, int signalFd, size_t* count) {
    for (;;) {
        pollfd waits[2] = {{STDIN_FILENO, POLLIN, 0}, {signalFd, POLLIN, 0}};
        int waited = signalFd >= 0 ? 2 : 1;
        if (poll(waits, waited, -1) < 0) {
            if (errno == EINTR) continue;
            return ConsoleInput::Ended;
        }
        if (waited == 2 && (waits[1].revents & POLLIN)) return ConsoleInput::Signalled;
        if (waits[0].revents == 0) continue;
        ssize_t got = read(STDIN_FILENO, buffer, size);
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return ConsoleInput::Ended;  // an unreadable console ends like the end of input
        }
        if (got == 0) return ConsoleInput::Ended;
        *count = static_cast<size_t>(got);
        return ConsoleInput::Read;
    }
}

int WakeCreate() { return eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

void WakeSignal(int wakeFd) {
    uint64_t one = 1;
    while (write(wakeFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void WakeClose(int wakeFd) {
    if (wakeFd >= 0) close(wakeFd);
}

bool WakeWait(int wakeFd, int timeoutMs) {
    pollfd wait = {wakeFd, POLLIN, 0};
    int ready;
    while ((ready = poll(&wait, 1, timeoutMs)) < 0 && errno == EINTR) {
    }
    return ready > 0;
}

int CurrentThreadId() { return static_cast<int>(syscall(SYS_gettid)); }
