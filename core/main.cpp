// Start-up, the console and shutdown.
#include <system_error>

#include "Manager/Manager.h"
#include "Server/Server.h"
#include "core/Config.h"
#include "core/Console.h"
#include "core/Records.h"
#include "platform/System.h"

namespace {

bool InitProgram() {
    ConnectionCount = 0;
    ServerCount = 0;
    UserCount = 0;
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

int main() {
    // Before any thread starts, so that every thread inherits the blocked signals.
    SetConsoleStopSignal(SignalsTakeOver());
    StartConsoleWriter();
    if (!InitProgram()) {
        AbandonStart();
        StopConsoleWriter();
        return 0;
    }
    if (!InitServer()) {
        ConsoleText("Failed to create thread ...\n");
        AbandonStart();
        PauseConsole();
        StopConsoleWriter();
        return 0;
    }
    ConsoleText("Press \"close\" Key to Quit ...\n");
    RunConsole();
    WakeSignal(StopEvent);
    CloseServer();
    PauseConsole();
    StopConsoleWriter();
    return 0;
}
