// The operator's console: output shared by every thread, the word reader, the
// three views and the console loop.
#pragma once

#include <cstddef>
#include <string_view>

// Every call prints its text whole: lines from different threads never mix.
void ConsolePrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
void ConsoleText(std::string_view text);

// The thread that writes the console's output; until it starts and after it
// stops, texts are written at once by the thread that prints them.
void StartConsoleWriter();
void StopConsoleWriter();  // after writing everything queued
// Waits until everything printed so far has been written.
void ConsoleFlush();

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

// The pause at shutdown: discards the rest of the line that ended the console,
// asks for Enter and waits for it (not at the end of input).
void PauseConsole();
