// A whole control connection, driven over a socket pair in a scratch root:
// whatever a client sends, nothing outside the root changes, the counts
// return to zero and no descriptor is left behind.
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "Connection/CommandLoop.h"
#include "core/Config.h"
#include "core/Records.h"
#include "core/Slots.h"
#include "platform/System.h"

namespace {

namespace fs = std::filesystem;

std::string scratch;

std::string Outside() {
    std::ifstream file(scratch + "/outside.txt");
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// The descriptors a connection could leave behind: sockets, events, and
// files and directories of the scratch tree (libFuzzer keeps pipes of its own).
size_t OpenDescriptors() {
    size_t count = 0;
    for (auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        std::string target = fs::read_symlink(entry.path(), error).string();
        if (target.rfind("socket:", 0) == 0 || target.rfind("anon_inode:", 0) == 0 || target.rfind(scratch, 0) == 0)
            ++count;
    }
    return count;
}

void SetUp() {
    char pattern[] = "/tmp/vostrine-fuzz-XXXXXX";
    scratch = mkdtemp(pattern);
    fs::create_directories(scratch + "/root/pub");
    std::ofstream(scratch + "/outside.txt") << "keep me";
    // One server and the account u (password p) with the scratch root, as ./config gives them.
    std::string config = "1\n0\nFuzz\n1\nNULL\n0\n10\nHi\nBye\n0\n1\nu\np\n0\n1\nNULL\n10\n1\nHome\n" + scratch +
                         "/root\n0\n-1\n";
    FILE* file = fmemopen(config.data(), config.size(), "r");
    if (!LoadConfigFrom(file)) __builtin_trap();
    std::fclose(file);
    FTPOK = true;
    StopEvent = WakeCreate();
    std::signal(SIGPIPE, SIG_IGN);  // as the server does: a peer that went away is no reason to die
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = (SetUp(), true);
    (void)ready;
    static size_t baseline = 0;
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) return 0;
    int room = 8 << 20;  // every reply fits: the session runs to its end before anything is read
    setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    setsockopt(pair[1], SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
    // Logged in first half of the time, so that the commands behind the gate run too.
    std::string input = size > 0 && (data[0] & 1) ? "USER u\r\nPASS p\r\n" : "";
    input.append(reinterpret_cast<const char*>(data), size);
    (void)!write(pair[1], input.data(), input.size());
    shutdown(pair[1], SHUT_WR);
    // The slot as a listener would take it, served on this thread. A fuzzing
    // build waits for nothing (a login pause, a data connection), and the
    // session reads the input to its end.
    if (!Connection[0]) Connection[0] = std::make_unique<ConnectionRecord>();
    ConnectionRecord& record = *Connection[0];
    {
        std::lock_guard<std::mutex> hold(SlotLock);
        ConnectionCount = 1;
        Server[0]->OnlineConnections++;
        record.Socket = pair[0];
        record.State = StateLoggedOut;
        record.UserID = -1;
        record.DataSocket = -1;
        record.Generation++;
        record.InUsed = 0xFF;
    }
    ConnectionInstanceProc({0, record.Generation, pair[0], NetAddress{}});
    close(pair[1]);
    if (Server[0]->OnlineConnections.load() != 0 || User[0]->OnlineConnections.load() != 0) __builtin_trap();
    if (Outside() != "keep me") __builtin_trap();
    for (auto& entry : fs::directory_iterator(scratch)) {
        std::string name = entry.path().filename();
        if (name != "root" && name != "outside.txt") __builtin_trap();  // nothing made beside the root
    }
    size_t now = OpenDescriptors();
    if (baseline == 0) baseline = now;
    if (now > baseline) __builtin_trap();  // a descriptor left behind
    static int runs = 0;
    if (++runs % 1000 == 0) {  // what clients made in the root, cleared now and then
        fs::remove_all(scratch + "/root");
        fs::create_directories(scratch + "/root/pub");
    }
    return 0;
}
