// The operator's console: the word reader, the three views, the console loop
// and the pause at the end. (What every thread prints goes through core/Log.h.)
#pragma once

#include <cstddef>

// The console's input: whitespace-separated words from standard input.
// SetConsoleStopSignal gives the descriptor that makes reading stop (SIGINT, SIGTERM).
void SetConsoleStopSignal(int signalFd);
// Reads the next word, cut to size - 1 characters; false at the end of input
// or when a stop signal arrives.
bool ConsoleReadWord(char* word, size_t size);

void ViewConnections();
void ViewServers();
void ViewUsers();

// Runs the console until "close", the end of input or a stop signal.
void RunConsole();

// Without a console (--no-console): waits until a signal stops the program.
void WaitForStopSignal();

// The pause at shutdown: discards the rest of the line that ended the console,
// asks for Enter and waits for it (not at the end of input; nothing at all
// after a stop signal).
void PauseConsole();
