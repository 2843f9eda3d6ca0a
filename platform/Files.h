// File system calls, one small function per chore. Paths are plain local
// paths; symbolic links are followed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "platform/Descriptor.h"

enum class PathKind { Missing, File, Directory, Other };

PathKind PathKindOf(const char* path);

// Last-write time and size of whatever is at path; false when nothing is.
bool PathTimeAndSize(const char* path, time_t* lastWrite, int64_t* size);

// Size of a regular file that can be opened for reading, or -1.
int64_t FileSizeOf(const char* path);

bool FileRemove(const char* path);            // never removes a directory
bool DirectoryRemove(const char* path);       // only an empty one
bool DirectoryCreate(const char* path);       // one level, fails on an existing name
bool PathRenameNoReplace(const char* from, const char* to);  // fails when `to` exists

// Opens a regular file for reading and gives its size; not open when the path
// is not a regular file or cannot be opened.
Descriptor FileOpenRead(const char* path, int64_t* size);
// Creates a file or empties an existing one, for writing; not open on failure.
Descriptor FileCreate(const char* path);
// Writes every byte; false on failure (a full disk, for example).
bool FileWriteAll(int fd, const void* data, size_t length);

// One entry of a directory, as the listing needs it.
struct DirectoryEntry {
    const char* Name;
    bool IsDirectory;
    time_t LastWrite;
    int64_t Size;
};

// Walks the entries of one directory in the order the file system gives them,
// "." and ".." included.
struct DirectoryReader {
    void* Stream = nullptr;
    explicit DirectoryReader(const char* path);
    DirectoryReader(const DirectoryReader&) = delete;
    DirectoryReader& operator=(const DirectoryReader&) = delete;
    ~DirectoryReader();
    bool IsOpen() const { return Stream != nullptr; }
    bool Next(DirectoryEntry* entry);  // false when no entry is left
};

// Local calendar time of a moment, thread-safe; false when it has none.
bool LocalCalendarTime(time_t moment, struct tm* calendar);
