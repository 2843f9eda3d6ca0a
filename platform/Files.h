// File system calls on open descriptors, one small function per chore. (Paths
// a client names are opened beneath its root: Beneath.h.)
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include "platform/Descriptor.h"

enum class PathKind { Missing, File, Directory, Other };

// Keeps a descriptor only when it is a regular file (its size to *size when
// size is not null); closes it otherwise.
Descriptor KeepRegularFile(int fd, int64_t* size);
// Opens a file for appending whole lines, creating it when missing; not open on failure.
Descriptor FileOpenAppend(const char* path);
// Reads up to size bytes from the current position: the count, 0 at the end, -1 on failure.
int64_t FileRead(int fd, void* buffer, size_t size);
// Reads up to size bytes from offset, leaving the position alone: as FileRead.
int64_t FileReadAt(int fd, void* buffer, size_t size, int64_t offset);
// Moves the position of an open file; false on failure.
bool FileSeek(int fd, int64_t offset);
// Cuts an open file (or lengthens it with zeros) to length bytes.
bool FileTruncate(int fd, int64_t length);
// The current position of an open file, or -1.
int64_t FilePosition(int fd);

// Writes every byte; false on failure (a full disk, for example).
bool FileWriteAll(int fd, const void* data, size_t length);

enum class FileKind : uint8_t { File, Directory, Link, Fifo, Socket, CharDevice, BlockDevice };

// One entry of a directory, as the listings need it.
struct DirectoryEntry {
    const char* Name = "";
    bool IsDirectory = false;
    time_t LastWrite = 0;
    int64_t Size = 0;
    FileKind Kind = FileKind::File;
    unsigned Permissions = 0;  // the low twelve mode bits
    uint64_t Links = 1;
    uint64_t Device = 0, Inode = 0;
    bool OwnedByUs = false;    // owned by the user the server runs as
    bool Privileged = false;   // the server runs as root: every permission is its own
};

// What stat says of an open descriptor (Name is left empty).
bool DescribeOpen(int fd, DirectoryEntry* info);

// Walks the entries of one directory in the order the file system gives them,
// "." and ".." included. The directory lies beneath an account's root, at
// `below` (as Beneath.h names paths): an entry that is a link is described by
// what it leads to only when that lies beneath the root too, otherwise as the
// link itself; the root's ".." is the root.
struct DirectoryReader {
    void* Stream = nullptr;
    int Root = -1;
    std::string Below;
    // An open directory, which the reader then owns.
    DirectoryReader(Descriptor directory, int root, const char* below);
    DirectoryReader(const DirectoryReader&) = delete;
    DirectoryReader& operator=(const DirectoryReader&) = delete;
    ~DirectoryReader();
    bool IsOpen() const { return Stream != nullptr; }
    bool Next(DirectoryEntry* entry);  // false when no entry is left
};

// Whether a name matches a shell pattern (fnmatch(3): *, ?, [...]).
bool NameMatchesPattern(const char* name, const char* pattern);

// Adds up the regular files below a directory (links not followed) into
// *bytes and *files, stopping early once either passes its limit (0: none).
void CountTree(const char* root, int64_t byteLimit, int64_t fileLimit, int64_t* bytes, int64_t* files);

// The process's umask as it started.
int StartUmask();
// Sets the process's umask to 0: every file and directory is then created
// with the mode its caller gives, the umask it wants already applied.
void ClearProcessUmask();

// Local calendar time of a moment, thread-safe; false when it has none.
bool LocalCalendarTime(time_t moment, struct tm* calendar);
// The same in UTC.
bool UtcCalendarTime(time_t moment, struct tm* calendar);
// Seconds since 1970, now.
time_t NowSeconds();
