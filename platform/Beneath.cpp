#include "platform/Beneath.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/openat2.h>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// openat2 with RESOLVE_BENEATH; -1 for anything that would leave the root.
int OpenAt2(int root, const char* path, uint64_t flags, uint64_t mode = 0) {
    if (root < 0) return -1;
    open_how how{};
    how.flags = flags | O_CLOEXEC;
    how.mode = mode;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    for (;;) {
        long fd = syscall(SYS_openat2, root, path[0] != '\0' ? path : ".", &how, sizeof how);
        if (fd >= 0 || errno != EINTR) return static_cast<int>(fd);
    }
}

// The directory that holds the last name of a path, and that name.
struct Parent {
    Descriptor Directory;
    std::string Name;
};

bool SplitParent(const Beneath& path, Parent* parent) {
    if (path.IsRoot()) return false;  // the root has no name of its own to act on
    const char* slash = std::strrchr(path.Path, '/');
    std::string directory = slash != nullptr ? std::string(path.Path, static_cast<size_t>(slash - path.Path)) : "";
    parent->Name = slash != nullptr ? slash + 1 : path.Path;
    if (parent->Name.empty() || parent->Name == "." || parent->Name == "..") return false;
    parent->Directory = Descriptor(OpenAt2(path.Root, directory.c_str(), O_PATH | O_DIRECTORY));
    return parent->Directory.IsOpen();
}

// A path the kernel resolves to the file an O_PATH descriptor holds.
std::string MagicPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

}  // namespace

Descriptor RootOpen(const char* path) {
    if (path == nullptr || path[0] == '\0') return Descriptor();  // SECURITY: an empty root is no root
    return Descriptor(open(path, O_PATH | O_DIRECTORY | O_CLOEXEC));
}

PathKind KindBeneath(const Beneath& path) {
    DirectoryEntry info;
    if (!InfoBeneath(path, &info)) return PathKind::Missing;
    if (info.Kind == FileKind::Directory) return PathKind::Directory;
    return info.Kind == FileKind::File ? PathKind::File : PathKind::Other;
}

bool InfoBeneath(const Beneath& path, DirectoryEntry* info) {
    Descriptor found(OpenAt2(path.Root, path.Path, O_PATH));
    return found.IsOpen() && DescribeOpen(found.Get(), info);
}

bool ExistsBeneath(const Beneath& path) {
    if (path.IsRoot()) return path.Root >= 0;
    Parent parent;
    struct stat info;
    return SplitParent(path, &parent) && fstatat(parent.Directory.Get(), parent.Name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

Descriptor OpenReadBeneath(const Beneath& path, int64_t* size) {
    // O_NONBLOCK keeps a FIFO placed in a root from hanging the open.
    return KeepRegularFile(OpenAt2(path.Root, path.Path, O_RDONLY | O_NONBLOCK), size);
}

Descriptor CreateBeneath(const Beneath& path, unsigned mode) {
    if (path.IsRoot()) return Descriptor();
    return KeepRegularFile(OpenAt2(path.Root, path.Path, O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK, mode), nullptr);
}

Descriptor OpenWriteBeneath(const Beneath& path, int64_t offset, unsigned mode) {
    if (path.IsRoot()) return Descriptor();
    Descriptor file = KeepRegularFile(OpenAt2(path.Root, path.Path, O_WRONLY | O_CREAT | O_NONBLOCK, mode), nullptr);
    if (!file.IsOpen()) return file;
    off_t moved = offset < 0 ? lseek(file.Get(), 0, SEEK_END) : lseek(file.Get(), static_cast<off_t>(offset), SEEK_SET);
    return moved < 0 ? Descriptor() : std::move(file);
}

Descriptor OpenDirectoryBeneath(const Beneath& path) {
    return Descriptor(OpenAt2(path.Root, path.Path, O_RDONLY | O_DIRECTORY));
}

DirectoryReader ListDirectoryBeneath(const Beneath& path) {
    return DirectoryReader(OpenDirectoryBeneath(path), path.Root, path.Path);
}

bool RemoveFileBeneath(const Beneath& path) {
    Parent parent;
    return SplitParent(path, &parent) && unlinkat(parent.Directory.Get(), parent.Name.c_str(), 0) == 0;
}

bool RemoveDirectoryBeneath(const Beneath& path) {
    Parent parent;
    return SplitParent(path, &parent) && unlinkat(parent.Directory.Get(), parent.Name.c_str(), AT_REMOVEDIR) == 0;
}

bool CreateDirectoryBeneath(const Beneath& path, unsigned mode) {
    Parent parent;
    return SplitParent(path, &parent) && mkdirat(parent.Directory.Get(), parent.Name.c_str(), mode) == 0;
}

bool RenameBeneath(const Beneath& from, const Beneath& to) {
    Parent source, target;
    if (!SplitParent(from, &source) || !SplitParent(to, &target)) return false;
    int a = source.Directory.Get(), b = target.Directory.Get();
    if (renameat2(a, source.Name.c_str(), b, target.Name.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // File systems without RENAME_NOREPLACE: refuse an existing target, then rename.
    struct stat info;
    if (fstatat(b, target.Name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT) return false;
    return renameat(a, source.Name.c_str(), b, target.Name.c_str()) == 0;
}

bool SetModifyTimeBeneath(const Beneath& path, time_t moment) {
    Descriptor found(OpenAt2(path.Root, path.Path, O_PATH));
    if (!found.IsOpen()) return false;
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;  // the access time stays
    times[1].tv_sec = moment;
    times[1].tv_nsec = 0;
    return utimensat(AT_FDCWD, MagicPath(found.Get()).c_str(), times, 0) == 0;
}

bool ChangeModeBeneath(const Beneath& path, unsigned mode) {
    // SECURITY: never setuid, setgid or sticky bits, never the root itself.
    if (path.IsRoot() || mode > 0777) return false;
    Descriptor found(OpenAt2(path.Root, path.Path, O_PATH));
    return found.IsOpen() && chmod(MagicPath(found.Get()).c_str(), static_cast<mode_t>(mode)) == 0;
}
