#include "platform/Sandbox.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/landlock.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/Descriptor.h"

#ifndef LANDLOCK_ACCESS_FS_REFER
#define LANDLOCK_ACCESS_FS_REFER (1ULL << 13)
#endif
#ifndef LANDLOCK_ACCESS_FS_TRUNCATE
#define LANDLOCK_ACCESS_FS_TRUNCATE (1ULL << 14)
#endif

namespace {

// Every filesystem right of Landlock's first ABI, which the ruleset forbids
// unless a rule allows it.
constexpr uint64_t AllFirst = (1ULL << 13) - 1;

constexpr uint64_t ReadFile = LANDLOCK_ACCESS_FS_READ_FILE;
constexpr uint64_t ReadTree = LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR;
// What clients do beneath a root: no execution, no links, devices, FIFOs or sockets.
constexpr uint64_t WriteTree = ReadTree | LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_REMOVE_DIR |
                               LANDLOCK_ACCESS_FS_REMOVE_FILE | LANDLOCK_ACCESS_FS_MAKE_DIR |
                               LANDLOCK_ACCESS_FS_MAKE_REG;
constexpr uint64_t AppendFolder = LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_MAKE_REG;

// What a host name's lookup reads.
constexpr const char* ResolverFiles[] = {"/etc/hosts", "/etc/resolv.conf", "/etc/nsswitch.conf", "/etc/host.conf",
                                         "/etc/gai.conf", "/etc/ld.so.cache"};
constexpr const char* LibraryTrees[] = {"/lib", "/usr/lib", "/lib64"};

}  // namespace

SandboxStatus ApplySandbox(const SandboxRules& rules, std::string* fault) {
    long abi = syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    if (abi < 1) return SandboxStatus::Unavailable;
    uint64_t handled = AllFirst;
    uint64_t extra = 0;  // rights of later ABIs beneath the roots
    if (abi >= 2) handled |= LANDLOCK_ACCESS_FS_REFER, extra |= LANDLOCK_ACCESS_FS_REFER;  // rename across folders
    if (abi >= 3) handled |= LANDLOCK_ACCESS_FS_TRUNCATE, extra |= LANDLOCK_ACCESS_FS_TRUNCATE;
    landlock_ruleset_attr attributes{};
    attributes.handled_access_fs = handled;
    Descriptor ruleset(static_cast<int>(syscall(SYS_landlock_create_ruleset, &attributes, sizeof attributes, 0)));
    auto failed = [fault](const std::string& step) {
        *fault = step + ": " + std::strerror(errno);
        return SandboxStatus::Failed;
    };
    if (!ruleset.IsOpen()) return failed("landlock_create_ruleset");
    auto allow = [&](const std::string& path, uint64_t rights, bool directory) {
        Descriptor opened(open(path.c_str(), O_PATH | O_CLOEXEC | (directory ? O_DIRECTORY : 0)));
        if (!opened.IsOpen()) return true;  // nothing there to allow
        landlock_path_beneath_attr rule{};
        rule.allowed_access = directory ? rights : rights & (ReadFile | LANDLOCK_ACCESS_FS_WRITE_FILE |
                                                              LANDLOCK_ACCESS_FS_TRUNCATE);
        rule.parent_fd = opened.Get();
        return syscall(SYS_landlock_add_rule, ruleset.Get(), LANDLOCK_RULE_PATH_BENEATH, &rule, 0) == 0;
    };
    for (const std::string& root : rules.ReadWriteTrees)
        if (!allow(root, WriteTree | extra, true)) return failed("landlock_add_rule " + root);
    for (const std::string& folder : rules.AppendDirectories)
        if (!allow(folder, AppendFolder, true)) return failed("landlock_add_rule " + folder);
    for (const std::string& file : rules.ReadFiles)
        if (!allow(file, ReadFile, false)) return failed("landlock_add_rule " + file);
    if (rules.NameResolution) {
        for (const char* file : ResolverFiles)
            if (!allow(file, ReadFile, false)) return failed(std::string("landlock_add_rule ") + file);
        for (const char* tree : LibraryTrees)
            if (!allow(tree, ReadTree, true)) return failed(std::string("landlock_add_rule ") + tree);
    }
    if (rules.ProcessFigures && (!allow("/proc/self", ReadTree, true) || !allow("/proc/stat", ReadFile, false)))
        return failed("landlock_add_rule /proc");
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // The sanitizers' reports at exit read the process's own /proc entries.
    if (!allow("/proc/self", ReadTree, true)) return failed("landlock_add_rule /proc/self");
#endif
    tzset();  // the local time zone is read now, while /etc/localtime may be opened
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return failed("no_new_privs");
    if (syscall(SYS_landlock_restrict_self, ruleset.Get(), 0) != 0) return failed("landlock_restrict_self");
    return SandboxStatus::Applied;
}
