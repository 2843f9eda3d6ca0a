#include "platform/Files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Beneath.h"

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
    static const uid_t us = geteuid();
    entry->OwnedByUs = info.st_uid == us;
    entry->Privileged = us == 0;
}

}  // namespace

Descriptor KeepRegularFile(int fd, int64_t* size) {
    Descriptor file(fd);
    struct stat info;
    if (!file.IsOpen() || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return Descriptor();
    if (size != nullptr) *size = info.st_size;
    return file;
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

DirectoryReader::DirectoryReader(Descriptor directory, int root, const char* below) : Root(root), Below(below) {
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
    const char* name = found->d_name;
    // SECURITY: nothing outside the root is described: not the root's parent,
    // nor where a link leads when that is outside (its mode, size, time and
    // even its existence would tell what the server's rights can see).
    bool rootParent = Below.empty() && std::strcmp(name, "..") == 0;
    struct stat info{};
    fstatat(dirfd(directory), rootParent ? "." : name, &info, AT_SYMLINK_NOFOLLOW);
    Describe(info, entry);
    if (S_ISLNK(info.st_mode)) {
        std::string path = Below.empty() ? std::string(name) : Below + "/" + name;
        InfoBeneath({Root, path.c_str()}, entry);  // left as the link itself when it leads outside
    }
    entry->Name = name;
    return true;
}

bool DescribeOpen(int fd, DirectoryEntry* entry) {
    struct stat info;
    if (fstat(fd, &info) != 0) return false;
    entry->Name = "";
    Describe(info, entry);
    return true;
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

int64_t FileReadAt(int fd, void* buffer, size_t size, int64_t offset) {
    for (;;) {
        ssize_t got = pread(fd, buffer, size, static_cast<off_t>(offset));
        if (got >= 0) return got;
        if (errno != EINTR) return -1;
    }
}

bool FileSeek(int fd, int64_t offset) { return lseek(fd, static_cast<off_t>(offset), SEEK_SET) >= 0; }

bool FileTruncate(int fd, int64_t length) { return ftruncate(fd, static_cast<off_t>(length)) == 0; }

int64_t FilePosition(int fd) { return lseek(fd, 0, SEEK_CUR); }

bool LocalCalendarTime(time_t moment, struct tm* calendar) { return localtime_r(&moment, calendar) != nullptr; }

bool UtcCalendarTime(time_t moment, struct tm* calendar) { return gmtime_r(&moment, calendar) != nullptr; }

time_t NowSeconds() { return time(nullptr); }

bool NameMatchesPattern(const char* name, const char* pattern) { return fnmatch(pattern, name, 0) == 0; }

namespace {

// nftw takes no argument for its callback: the count under way, on this thread.
thread_local struct {
    int64_t ByteLimit, FileLimit, *Bytes, *Files;
} counting;

int CountEntry(const char*, const struct stat* info, int kind, struct FTW*) {
    if (kind == FTW_F && S_ISREG(info->st_mode)) {
        *counting.Bytes += info->st_size;
        *counting.Files += 1;
    }
    bool past = (counting.ByteLimit > 0 && *counting.Bytes > counting.ByteLimit) ||
                (counting.FileLimit > 0 && *counting.Files > counting.FileLimit);
    return past ? 1 : 0;  // non-zero stops the walk
}

int startUmask = -1;

}  // namespace

void CountTree(const char* root, int64_t byteLimit, int64_t fileLimit, int64_t* bytes, int64_t* files) {
    counting = {byteLimit, fileLimit, bytes, files};
    nftw(root, CountEntry, 16, FTW_PHYS | FTW_MOUNT);
}

int StartUmask() {
    if (startUmask < 0) {
        startUmask = static_cast<int>(umask(0));
        umask(static_cast<mode_t>(startUmask));
    }
    return startUmask;
}

void ClearProcessUmask() {
    StartUmask();
    umask(0);
}
