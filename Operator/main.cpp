// Start-up, the console and shutdown.
#include <system_error>

#include "Manager/Manager.h"
#include "Server/Server.h"
#include "Operator/CommandLine.h"
#include "Operator/Console.h"
#include "core/Config.h"
#include "core/Log.h"
#include "core/Records.h"
#include "platform/System.h"

namespace {

bool InitProgram() {
    EmptyTables();
    FTPOK = true;
    StopEvent = WakeCreate();
    if (StopEvent < 0) return false;
    try {
        ManagerThread = std::thread(ManagerInstanceProc);
    } catch (const std::system_error&) {
        return false;
    }
    if (!LoadConfig("./config")) {
        ConsoleText("Load Data false...");
        return false;
    }
    return true;
}

// Ends the supervisor started before a failed start-up.
void AbandonStart() {
    FTPOK = false;
    if (StopEvent >= 0) WakeSignal(StopEvent);
    if (ManagerThread.joinable()) ManagerThread.join();
}

}  // namespace

int main(int argc, char** argv) {
    // Nothing listens before the options are known to be good.
    switch (ReadProgramOptions(argc, argv, &Options)) {
        case CommandLineOutcome::Run: break;
        case CommandLineOutcome::Help: return 0;
        case CommandLineOutcome::Refused: return 2;
    }
    // Before any thread starts, so that every thread inherits the blocked signals.
    SetConsoleStopSignal(SignalsTakeOver());
    if (!InitProgram()) {
        AbandonStart();
        ConsoleFlush();
        return 0;
    }
    if (!InitServer()) {
        ConsoleText("Failed to create thread ...\n");
        AbandonStart();
        PauseConsole();
        ConsoleFlush();
        return 0;
    }
    ConsoleText("Press \"close\" Key to Quit ...\n");
    RunConsole();
    WakeSignal(StopEvent);
    CloseServer();
    PauseConsole();
    ConsoleFlush();
    return 0;
}
