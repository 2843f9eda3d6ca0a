// Start-up, the console and shutdown.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "Server/Server.h"
#include "Operator/CommandLine.h"
#include "Operator/Console.h"
#include "core/Accounts.h"
#include "Connection/CommandTable.h"
#include "core/Log.h"
#include "core/Metrics.h"
#include "core/LogFiles.h"
#include "core/Options.h"
#include "core/Records.h"
#include "platform/Crypt.h"
#include "platform/MetricsServer.h"
#include "platform/Net.h"
#include "platform/Sandbox.h"
#include "platform/System.h"
#include "platform/Tls.h"

namespace {

// Every connection holds its control socket and its account's root; a
// transfer adds its data socket (or passive listener), its file and, for
// uploads, a pipe's two ends.
constexpr uint64_t DescriptorsPerConnection = 6;
constexpr uint64_t DescriptorsBesides = 64;

void CheckDescriptorLimit() {
    uint64_t needed = DescriptorsPerConnection * static_cast<uint64_t>(Options.MaxConnections) + DescriptorsBesides;
    uint64_t limit = RaiseDescriptorLimit();
    if (limit < needed)
        ConsolePrintf("The descriptor limit is %llu, too low for %d connections: raise it to %llu "
                      "(ulimit -n, or LimitNOFILE= in the service file).\n",
                      static_cast<unsigned long long>(limit), Options.MaxConnections,
                      static_cast<unsigned long long>(needed));
}

// SECURITY: before any listener or connection thread starts (they inherit
// it), the process's file access is confined to what serving needs: the
// account roots as they resolve now, the logs' folders, the certificate and
// key, and what resolving --passive-address's host name reads.
bool Confine() {
    SandboxRules rules;
    for (int i = 0; i < UserCount; ++i)
        for (int d = 0; d < User[i]->DirectoryCount; ++d) rules.ReadWriteTrees.push_back(User[i]->Directories[d]->Path);
    for (const std::string& log : {Options.TransferLog, Options.AuthLog}) {
        if (log.empty()) continue;
        size_t slash = log.rfind('/');
        rules.AppendDirectories.push_back(slash == std::string::npos ? "." : slash == 0 ? "/" : log.substr(0, slash));
    }
    for (const std::string& file : {Options.TlsCertificate, Options.TlsKey})
        if (!file.empty()) rules.ReadFiles.push_back(file);
    rules.NameResolution = !Options.PassiveHost.empty();
    rules.ProcessFigures = Options.MetricsAddress.Family != AddressFamily::None;
    std::string fault;
    switch (ApplySandbox(rules, &fault)) {
        case SandboxStatus::Applied: return true;
        case SandboxStatus::Unavailable:
            if (Options.Sandbox == 2) {
                std::fprintf(stderr, "vostrine: --sandbox=required: this kernel has no Landlock\n");
                return false;
            }
            ConsoleText("This kernel has no Landlock: running without the sandbox.\n");
            return true;
        case SandboxStatus::Failed: break;
    }
    std::fprintf(stderr, "vostrine: --sandbox: %s\n", fault.c_str());
    return false;
}

// --hash-password: a password from standard input, its hash on standard output.
int PrintPasswordHash() {
    std::string password, hash;
    if (!ReadSecretLine(&password)) {
        std::fprintf(stderr, "vostrine: --hash-password: no password on standard input\n");
        return 2;
    }
    hash = HashPassword(password);
    std::fill(password.begin(), password.end(), '\0');
    if (hash.empty()) {
        std::fprintf(stderr, "vostrine: --hash-password: this vostrine was built without libxcrypt (libcrypt-dev)\n");
        return 2;
    }
    std::printf("%s\n", hash.c_str());
    return 0;
}

// An implicit FTPS port that no enabled server of ./config listens on is
// most likely a typing error: said once at start.
void WarnOfUnservedImplicitPorts() {
    for (uint16_t port : Options.TlsImplicitPorts) {
        bool served = false;
        for (int i = 0; i < ServerCount; ++i)
            served = served || (Server[i]->Port == port && Server[i]->State.load() == 1);
        if (!served) ConsolePrintf("--tls-implicit-ports: no server listens on port %u.\n", static_cast<unsigned>(port));
    }
}

}  // namespace

int main(int argc, char** argv) {
    UseOneHeap();  // before any thread starts
    // Nothing listens before the options are known to be good.
    switch (ReadProgramOptions(argc, argv, &Options)) {
        case CommandLineOutcome::Run: break;
        case CommandLineOutcome::Help: return 0;
        case CommandLineOutcome::Refused: return 2;
        case CommandLineOutcome::HashPassword: return PrintPasswordHash();
    }
    if (!ResolvePassiveHost()) {
        std::fprintf(stderr, "vostrine: --passive-address %s: does not resolve to an IPv4 address\n",
                     Options.PassiveHost.c_str());
        return 2;
    }
    std::string fault;
    RunAs runAs;
    if (!Options.User.empty() && !FindRunAs(Options.User, Options.Group, &runAs, &fault)) {
        std::fprintf(stderr, "vostrine: %s\n", fault.c_str());
        return 2;
    }
    if (!Options.TlsCertificate.empty() && !TlsSetUp(Options.TlsCertificate, Options.TlsKey, &fault)) {
        std::fprintf(stderr, "vostrine: %s\n", fault.c_str());
        return 2;
    }
    // The endpoint binds with the listeners, before any privilege is dropped.
    NameCommands(CommandRowKeyword, CommandRows());
    if (Options.MetricsAddress.Family != AddressFamily::None && !StartMetricsServer(Options.MetricsAddress, RenderMetrics, &fault)) {
        std::fprintf(stderr, "vostrine: --metrics: %s\n", fault.c_str());
        return 2;
    }
    if (const char* unopened = OpenLogFiles()) {
        std::fprintf(stderr, "vostrine: cannot open the log file %s: %s\n", unopened, std::strerror(errno));
        return 2;
    }
    // Before any thread starts, so that every thread inherits the blocked signals.
    SetConsoleStopSignal(SignalsTakeOver());
    if (TlsReady()) ConsolePrintf("FTPS is on: %s.\n", TlsCertificateSummary().c_str());
    if (Options.MaxConnections != DefaultMaxConnections) CheckDescriptorLimit();
    if (!InitProgram()) {
        AbandonStart();
        ConsoleFlush();
        return 0;
    }
    if (!AttachAccountPolicies(&fault)) {
        std::fprintf(stderr, "vostrine: %s\n", fault.c_str());
        AbandonStart();
        ConsoleFlush();
        return 2;
    }
    PrepareCreationModes();
    WarnOfUnservedImplicitPorts();
    uint16_t ephemeralLow, ephemeralHigh;  // read now: the sandbox may hide /proc from the first PASV
    NetEphemeralPorts(&ephemeralLow, &ephemeralHigh);
    if (Options.Sandbox != 0 && !Confine()) {
        AbandonStart();
        ConsoleFlush();
        return 2;
    }
    if (!InitServer()) {
        ConsoleText("Failed to create thread ...\n");
        AbandonStart();
        PauseConsole();
        ConsoleFlush();
        return 0;
    }
    if (Options.NoConsole && WaitForListeners() == 0) {
        // A service with nothing listening fails, so that its supervisor
        // (systemd's Restart=on-failure) sees it.
        std::fprintf(stderr, "vostrine: no listener could bind:\n%s", ListenerFaults().c_str());
        FTPOK = false;
        WakeSignal(StopEvent);
        CloseServer();
        ConsoleFlush();
        return 1;
    }
    if (!Options.User.empty()) {
        // SECURITY: the ports are bound, the certificate, the key and the
        // logs are open: nothing more needs root.
        WaitForListeners();
        if (!DropPrivileges(runAs, &fault)) {
            std::fprintf(stderr, "vostrine: cannot run as %s: %s\n", Options.User.c_str(), fault.c_str());
            FTPOK = false;
            WakeSignal(StopEvent);
            CloseServer();
            ConsoleFlush();
            return 2;
        }
    } else if (RunningAsRoot() && argc > 1) {
        ConsoleText("Running as root: every client command runs with root's rights; --user NAME drops them.\n");
    }
    if (Options.NoConsole) {
        ConsoleText("Running without a console: SIGTERM or SIGINT stops the server.\n");
        NotifyServiceManager("READY=1");  // every listener has tried its bind (above)
        WaitForStopSignal();
        NotifyServiceManager("STOPPING=1");
    } else {
        ConsoleText("Press \"close\" Key to Quit ...\n");
        RunConsole();
    }
    WakeSignal(StopEvent);
    CloseServer();
    StopMetricsServer();
    PauseConsole();
    ConsoleFlush();
    return 0;
}
