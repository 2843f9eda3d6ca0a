// The console log: every command, reply and message any thread prints. Each
// call prints its text whole: lines from different threads never mix.
#pragma once

#include <string>
#include <string_view>

void ConsolePrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
void ConsoleText(std::string_view text);

// Waits until everything printed so far has been written.
void ConsoleFlush();

// Formats onto the end of out, whatever the length.
void AppendFormat(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
