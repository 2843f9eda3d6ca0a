#include "platform/IniFile.h"

#include <cstdio>

#ifdef VOSTRINE_WITH_INIH
#include <ini.h>

namespace {

struct Reading {
    std::FILE* File;
    const IniEntryHandler& Each;
    int Line = 0;
    int Refused = 0;  // the first line refused
};

// inih's reader: fgets, counting the lines, so that an entry's line is known.
char* ReadLine(char* text, int size, void* stream) {
    auto* reading = static_cast<Reading*>(stream);
    char* got = std::fgets(text, size, reading->File);
    if (got != nullptr) ++reading->Line;
    return got;
}

int TakeEntry(void* context, const char* section, const char* name, const char* value) {
    auto* reading = static_cast<Reading*>(context);
    if (reading->Refused != 0) return 1;  // only the first fault is told
    if (!reading->Each(section, name, value, reading->Line)) reading->Refused = reading->Line;
    return 1;
}

}  // namespace

bool IniAvailable() { return true; }

int ReadIniFile(const std::string& path, const IniEntryHandler& each) {
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) return -1;
    Reading reading{file, each};
    int failed = ini_parse_stream(ReadLine, &reading, TakeEntry, &reading);
    std::fclose(file);
    if (reading.Refused != 0 && (failed <= 0 || reading.Refused < failed)) return reading.Refused;
    return failed < 0 ? -1 : failed;
}

#else

bool IniAvailable() { return false; }
int ReadIniFile(const std::string&, const IniEntryHandler&) { return -1; }

#endif
