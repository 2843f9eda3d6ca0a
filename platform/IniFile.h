// Settings files in the INI format, read by inih (Debian's libinih): the one
// place that knows the library. Without it at build time, no file can be read
// and IniAvailable() says so.
#pragma once

#include <functional>
#include <string>

bool IniAvailable();

// One `name = value` of a file: its section ("" before the first), and the
// line it is on. The callback returns false to refuse it.
using IniEntryHandler = std::function<bool(const std::string& section, const std::string& name,
                                           const std::string& value, int line)>;

// Reads the file, calling each for every entry in order: 0 when all was read
// and taken, -1 when the file cannot be opened (errno says why), else the line
// of the first entry refused or the first line that is not an entry, a
// section or a comment, whichever comes first (no entry is passed on after a
// refusal).
int ReadIniFile(const std::string& path, const IniEntryHandler& each);
