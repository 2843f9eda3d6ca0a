#include "platform/Files.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

FileKind KindOf(mode_t mode) {
    if (S_ISDIR(mode)) return FileKind::Directory;
    if (S_ISLNK(mode)) return FileKind::Link;
    if (S_ISFIFO(mode)) return FileKind::Fifo;
    if (S_ISSOCK(mode)) return FileKind::Socket;
    if (S_ISCHR(mode)) return FileKind::CharDevice;
    if (S_ISBLK(mode)) return FileKind::BlockDevice;
    return FileKind::File;
}

void Describe(const struct stat& info, DirectoryEntry* entry) {
    entry->IsDirectory = S_ISDIR(info.st_mode);
    entry->LastWrite = info.st_mtime;
    entry->Size = info.st_size;
    entry->Kind = KindOf(info.st_mode);
    entry->Permissions = info.st_mode & 07777;
    entry->Links = info.st_nlink;
    entry->Device = info.st_dev;
    entry->Inode = info.st_ino;
    entry->OwnedByUs = info.st_uid == geteuid();
    entry->Privileged = geteuid() == 0;
}

}  // namespace

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

DirectoryReader::DirectoryReader(Descriptor directory) {
    if (!directory.IsOpen()) return;
    Stream = fdopendir(directory.Get());
    if (Stream != nullptr) directory.Release();  // closedir closes it
}

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
    Describe(info, entry);
    return true;
}

bool DescribeOpen(int fd, DirectoryEntry* entry) {
    struct stat info;
    if (fstat(fd, &info) != 0) return false;
    entry->Name = "";
    Describe(info, entry);
    return true;
}

bool PathInfo(const char* path, DirectoryEntry* entry) {
    struct stat info;
    if (stat(path, &info) != 0) return false;
    entry->Name = "";
    Describe(info, entry);
    return true;
}

Descriptor FileOpenWrite(const char* path, int64_t offset) {
    Descriptor file = RegularFileOnly(open(path, O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0644), nullptr);
    if (!file.IsOpen()) return file;
    off_t moved = offset < 0 ? lseek(file.Get(), 0, SEEK_END) : lseek(file.Get(), static_cast<off_t>(offset), SEEK_SET);
    if (moved < 0) return Descriptor();
    return file;
}

Descriptor FileOpenAppend(const char* path) {
    return Descriptor(open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0640));
}

int64_t FileRead(int fd, void* buffer, size_t size) {
    for (;;) {
        ssize_t got = read(fd, buffer, size);
        if (got >= 0) return got;
        if (errno != EINTR) return -1;
    }
}

bool FileSeek(int fd, int64_t offset) { return lseek(fd, static_cast<off_t>(offset), SEEK_SET) >= 0; }

bool FileTruncate(int fd, int64_t length) { return ftruncate(fd, static_cast<off_t>(length)) == 0; }

int64_t FilePosition(int fd) { return lseek(fd, 0, SEEK_CUR); }

bool PathSetModifyTime(const char* path, time_t moment) {
    timespec times[2];
    times[0].tv_nsec = UTIME_OMIT;  // the access time stays
    times[0].tv_sec = 0;
    times[1].tv_sec = moment;
    times[1].tv_nsec = 0;
    return utimensat(AT_FDCWD, path, times, 0) == 0;
}

bool PathChangeMode(const char* path, unsigned mode) { return chmod(path, static_cast<mode_t>(mode & 07777)) == 0; }

bool LocalCalendarTime(time_t moment, struct tm* calendar) { return localtime_r(&moment, calendar) != nullptr; }

bool UtcCalendarTime(time_t moment, struct tm* calendar) { return gmtime_r(&moment, calendar) != nullptr; }

time_t NowSeconds() { return time(nullptr); }
