// The console log: every command, reply and message any thread prints. Each
// call prints its text whole: lines from different threads never mix.
#pragma once

#include <string>
#include <string_view>

void ConsolePrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
void ConsoleText(std::string_view text);

// The echo of a command received on a socket: "<<socket:KEYWORD argument\r\n".
void ConsoleEchoReceived(int socket, const char* keyword, const char* argument);
// The echo of a text sent on a socket: ">>socket:text" (the text brings its
// own line end). Like the rest of the echo, it ends at a NUL byte.
void ConsoleEchoSent(int socket, std::string_view text);

// A client's text as the console shows it: control bytes and invalid UTF-8 as \xNN.
std::string EscapedForConsole(std::string_view text);

// Waits until everything printed so far has been written.
void ConsoleFlush();

// Formats onto the end of out, whatever the length.
void AppendFormat(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
