#include "platform/Files.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

PathKind PathKindOf(const char* path) {
    struct stat info;
    if (stat(path, &info) != 0) return PathKind::Missing;
    if (S_ISDIR(info.st_mode)) return PathKind::Directory;
    if (S_ISREG(info.st_mode)) return PathKind::File;
    return PathKind::Other;
}

bool PathTimeAndSize(const char* path, time_t* lastWrite, int64_t* size) {
    struct stat info;
    if (stat(path, &info) != 0) return false;
    *lastWrite = info.st_mtime;
    *size = info.st_size;
    return true;
}

int64_t FileSizeOf(const char* path) {
    int64_t size = -1;
    FileOpenRead(path, &size);
    return size;
}

bool FileRemove(const char* path) { return unlink(path) == 0; }

bool DirectoryRemove(const char* path) { return rmdir(path) == 0; }

bool DirectoryCreate(const char* path) { return mkdir(path, 0755) == 0; }

bool PathRenameNoReplace(const char* from, const char* to) {
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // File systems without RENAME_NOREPLACE: refuse an existing target, then rename.
    struct stat info;
    if (lstat(to, &info) == 0 || errno != ENOENT) return false;
    return rename(from, to) == 0;
}

namespace {

// Keeps a descriptor only when it is a regular file.
Descriptor RegularFileOnly(int fd, int64_t* size) {
    Descriptor file(fd);
    struct stat info;
    if (!file.IsOpen() || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return Descriptor();
    if (size != nullptr) *size = info.st_size;
    return file;
}

}  // namespace

Descriptor FileOpenRead(const char* path, int64_t* size) {
    // O_NONBLOCK keeps a FIFO placed in a root from hanging the open.
    return RegularFileOnly(open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC), size);
}

Descriptor FileCreate(const char* path) {
    // O_TRUNC empties only regular files (a FIFO without a reader fails the
    // open, a device ignores it), and only a regular file is kept.
    return RegularFileOnly(open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0644), nullptr);
}

bool FileWriteAll(int fd, const void* data, size_t length) {
    const char* next = static_cast<const char*>(data);
    while (length > 0) {
        ssize_t written = write(fd, next, length);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        next += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

DirectoryReader::DirectoryReader(const char* path) : Stream(opendir(path)) {}

DirectoryReader::~DirectoryReader() {
    if (Stream != nullptr) closedir(static_cast<DIR*>(Stream));
}

bool DirectoryReader::Next(DirectoryEntry* entry) {
    if (Stream == nullptr) return false;
    DIR* directory = static_cast<DIR*>(Stream);
    dirent* found = readdir(directory);
    if (found == nullptr) return false;
    struct stat info{};
    // A link is described by what it points to; a dangling one by itself.
    if (fstatat(dirfd(directory), found->d_name, &info, 0) != 0)
        fstatat(dirfd(directory), found->d_name, &info, AT_SYMLINK_NOFOLLOW);
    entry->Name = found->d_name;
    entry->IsDirectory = S_ISDIR(info.st_mode);
    entry->LastWrite = info.st_mtime;
    entry->Size = info.st_size;
    return true;
}

bool LocalCalendarTime(time_t moment, struct tm* calendar) { return localtime_r(&moment, calendar) != nullptr; }
