// The configuration file: a fixed sequence of values, one per line, in an
// order the loader knows. Blank lines and lines that begin with "/" are
// comments; the value "NULL" is the empty text.
#pragma once

#include <cstdio>

// The open file and the number of the last line read from it.
struct ConfigFile {
    FILE* File = nullptr;
    int Line = 0;
};

constexpr int ConfigValueSize = 256;  // a value holds at most 255 characters

// Loads servers and users; false when the file cannot be read or is refused
// (a console line then says why). Nothing stays loaded after a refusal.
bool LoadConfig(const char* path);
// The same from an open file, read from its current position.
bool LoadConfigFrom(FILE* file);

// Reads the next value into buffer (ConfigValueSize bytes) and returns its
// length; 0 with an empty buffer for "NULL" and at the end of the file.
int GetData(ConfigFile& file, char* buffer);

// Reads at most size - 1 characters up to and including a newline into buffer
// (cleared first) and removes one trailing newline. Returns the length kept,
// -1 at the end of the file with nothing read, -2 when reading failed.
int fgetline(FILE* file, char* buffer, int size);

char* rtrimstr(char* text);  // removes trailing spaces and carriage returns
char* ltrimstr(char* text);  // removes leading spaces and line feeds

// The number at the start of a value, read as atoi does but clamped to the
// range of a 32-bit signed number instead of overflowing.
int ConfigNumber(const char* value);
