// The Landlock sandbox, applied in a child process (it cannot be undone):
// files beneath a root open, files outside every root do not, not even
// through a link inside the root, whoever asks.
#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

#include "platform/Sandbox.h"
#include "tests/unit/TestFiles.h"

TEST(Sandbox, OnlyTheRootsOpen) {
    ScratchDirectory scratch;
    std::string root = scratch.MakeDirectory("root");
    scratch.Write("root/inside.txt", "in");
    std::string outside = scratch.Write("outside.txt", "out");
    std::filesystem::create_symlink("../outside.txt", root + "/leads-out");
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::string fault;
        SandboxStatus status = ApplySandbox({{root}, {}, {}, false}, &fault);
        if (status == SandboxStatus::Unavailable) _exit(77);
        if (status != SandboxStatus::Applied) _exit(1);
        // path, open flags, the error expected (0: it opens)
        const std::tuple<std::string, int, int> cases[] = {
            {root + "/inside.txt", O_RDONLY, 0}, {root + "/new.txt", O_WRONLY | O_CREAT, 0}, {outside, O_RDONLY, EACCES},
            {root + "/leads-out", O_RDONLY, EACCES}, {"/etc/passwd", O_RDONLY, EACCES},
            {scratch.Path + "/made.txt", O_WRONLY | O_CREAT, EACCES}};
        int failures = 0;
        for (const auto& [path, flags, expected] : cases) {
            int fd = open(path.c_str(), flags | O_CLOEXEC, 0644);
            failures += (fd < 0 ? errno : 0) != expected;
            if (fd >= 0) close(fd);
        }
        _exit(failures == 0 ? 0 : 2);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "this kernel has no Landlock";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the sandbox failed; 2: a file opened (or not) against the rules";
}
