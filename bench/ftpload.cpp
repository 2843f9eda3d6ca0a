// ftpload: the load generator of the benchmarks, written so that it is never
// what limits the figures. Every mode prints one line of results.
//
//   ftpload download PORT USER PASS NAME           MB/s of one passive RETR
//   ftpload upload PORT USER PASS NAME BYTES       MB/s of one passive STOR
//   ftpload tcp-download FILE                      MB/s of a plain loopback copy (sendfile into a socket)
//   ftpload tcp-upload DIR BYTES                   MB/s of a plain loopback copy into a file
//   ftpload sessions PORT USER PASS CLIENTS SECONDS DIR FILE
//        each client loops: connect, login, PWD, CWD DIR, PASV+LIST, PASV+RETR FILE, QUIT;
//        prints sessions/s, the p50 and p99 session latency in ms, the sessions
//        completed and this process's own CPU seconds
//   ftpload smallfiles PORT USER PASS DIR COUNT BYTES  files/s up, then down, on one connection
//   ftpload idle PORT USER PASS COUNT              logs COUNT connections in and holds them
//        until standard input closes
//   ftpload listing PORT USER PASS COMMAND DIR     entries/s of one passive LIST or MLSD of DIR
//   ftpload resume PORT USER PASS NAME OFFSET      MB/s of one passive binary RETR from OFFSET (REST)
//   ftpload abort PORT USER PASS NAME              ms from ABOR, sent 1 MiB into a binary RETR,
//        to the reply that ends the abort
//   ftpload tls MODE ...                           download, upload or sessions over FTPS: AUTH TLS,
//        PBSZ 0, PROT P, data connections resuming the control connection's session
//   ftpload tls-ceiling FILE CERT KEY              MB/s of a plain loopback TLS copy of FILE
//        (256 KiB writes, the ciphers both sides agree on by default)
//
// Data and control connections are ended with a reset (SO_LINGER 0) by this
// side once the server has said all it had to, so that finished connections
// leave no TIME_WAIT entries to fill the loopback port range at hundreds of
// sessions per second; the server's own close then finds a reset connection.
// With FTPLOAD_CLOSE=fin in the environment they are closed as real clients
// close them, and TIME_WAIT entries pile up as they do on a real server.
#include <arpa/inet.h>
#include <sched.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#ifdef FTPLOAD_TLS
#include <openssl/err.h>
#include <openssl/ssl.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

#ifdef FTPLOAD_TLS
SSL_CTX* tlsClient = nullptr;  // set once before any thread starts: every connection speaks FTPS
#else
using SSL = void;
using SSL_SESSION = void;
#endif

[[noreturn]] void Fail(const char* what) {
    std::perror(what);
    std::exit(1);
}

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// The benchmark runs servers on core 0 and this load generator on core 1; the
// plain-copy ceilings put their serving side where a server would be.
void MoveToServerCore() {
    cpu_set_t core;
    CPU_ZERO(&core);
    CPU_SET(0, &core);
    sched_setaffinity(0, sizeof core, &core);
}

void Reset(int fd) {
    static const bool ordinary = getenv("FTPLOAD_CLOSE") != nullptr && std::string(getenv("FTPLOAD_CLOSE")) == "fin";
    linger hard{1, 0};
    if (!ordinary) setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    close(fd);
}

// A peer that stops answering fails the run instead of hanging it.
void TimeOut(int fd) {
    timeval limit{30, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

int Connect(uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    TimeOut(fd);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) Fail("connect");
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

int Listen(uint16_t* port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof at;
    if (bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || listen(fd, 16) != 0) Fail("listen");
    getsockname(fd, reinterpret_cast<sockaddr*>(&at), &length);
    *port = ntohs(at.sin_port);
    return fd;
}

void SendAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        ssize_t sent = send(fd, data, length, MSG_NOSIGNAL);
        if (sent <= 0) Fail("send");
        data += sent;
        length -= static_cast<size_t>(sent);
    }
}

// A connection, plain or TLS.
struct Link {
    int Fd = -1;
    SSL* Ssl = nullptr;
};

ssize_t LinkRecv(Link& link, char* buffer, size_t size) {
#ifdef FTPLOAD_TLS
    if (link.Ssl != nullptr) {
        size_t got = 0;
        return SSL_read_ex(link.Ssl, buffer, size, &got) == 1 ? static_cast<ssize_t>(got) : 0;
    }
#endif
    return recv(link.Fd, buffer, size, 0);
}

void LinkSend(Link& link, const char* data, size_t length) {
#ifdef FTPLOAD_TLS
    if (link.Ssl != nullptr) {
        size_t written = 0;
        if (SSL_write_ex(link.Ssl, data, length, &written) != 1 || written != length) Fail("SSL_write");
        return;
    }
#endif
    SendAll(link.Fd, data, length);
}

#ifdef FTPLOAD_TLS
SSL* StartTls(int fd, SSL_SESSION* resume) {
    SSL* ssl = SSL_new(tlsClient);
    SSL_set_fd(ssl, fd);
    if (resume != nullptr) SSL_set_session(ssl, resume);
    if (SSL_connect(ssl) != 1) {
        ERR_print_errors_fp(stderr);
        Fail("SSL_connect");
    }
    return ssl;
}
#endif

// Ends a connection: TLS says goodbye first, then the reset.
void LinkClose(Link& link) {
#ifdef FTPLOAD_TLS
    if (link.Ssl != nullptr) {
        // A quiet end: a close_notify that cannot be sent any more (the server
        // may have closed first) would otherwise mark the session, which the
        // next data connection resumes, as not resumable.
        SSL_set_quiet_shutdown(link.Ssl, 1);
        SSL_shutdown(link.Ssl);
        SSL_free(link.Ssl);
    }
#endif
    Reset(link.Fd);
}

// A control connection that reads reply lines.
struct Control {
    int Fd;
    Link Channel;
    std::string Pending;

    explicit Control(uint16_t port) : Fd(Connect(port)) {
        Channel.Fd = Fd;
        Reply();
#ifdef FTPLOAD_TLS
        if (tlsClient != nullptr) {
            Expect("AUTH TLS", "234");
            Channel.Ssl = StartTls(Fd, nullptr);
        }
#endif
    }
    ~Control() { LinkClose(Channel); }
    void Send(const char* data, size_t length) { LinkSend(Channel, data, length); }

    std::string Line() {
        for (;;) {
            size_t end = Pending.find('\n');
            if (end != std::string::npos) {
                std::string line = Pending.substr(0, end + 1);
                Pending.erase(0, end + 1);
                return line;
            }
            char buffer[4096];
            ssize_t got = LinkRecv(Channel, buffer, sizeof buffer);
            if (got <= 0) Fail("control connection closed");
            Pending.append(buffer, static_cast<size_t>(got));
        }
    }
    // A whole reply: a multi-line one ("220-...") up to its last line ("220 ...").
    std::string Reply() {
        std::string first = Line();
        if (first.size() < 4 || first[3] != '-') return first;
        for (;;) {
            std::string line = Line();
            if (line.size() >= 4 && line.compare(0, 3, first, 0, 3) == 0 && line[3] == ' ') return line;
        }
    }
    std::string Command(const std::string& text) {
        std::string line = text + "\r\n";
        Send(line.data(), line.size());
        return Reply();
    }
    void Expect(const std::string& text, const char* code) {
        std::string reply = Command(text);
        if (reply.compare(0, 3, code) != 0) {
            std::fprintf(stderr, "%s -> %s", text.c_str(), reply.c_str());
            std::exit(1);
        }
    }
    void Login(const char* user, const char* password) {
        Expect(std::string("USER ") + user, "331");
        Expect(std::string("PASS ") + password, "230");
        if (Channel.Ssl != nullptr) {
            Expect("PBSZ 0", "200");
            Expect("PROT P", "200");
        }
    }
    // PASV, then a connected data socket.
    int Passive() {
        std::string reply = Command("PASV");
        int n[6];
        size_t open = reply.find('(');
        if (open == std::string::npos ||
            std::sscanf(reply.c_str() + open, "(%d,%d,%d,%d,%d,%d)", &n[0], &n[1], &n[2], &n[3], &n[4], &n[5]) != 6) {
            std::fprintf(stderr, "PASV -> %s", reply.c_str());
            std::exit(1);
        }
        return Connect(static_cast<uint16_t>(n[4] * 256 + n[5]));
    }
};

std::vector<char>& Buffer() {
    static thread_local std::vector<char> buffer(1 << 20);
    return buffer;
}

size_t Drain(int fd) {
    size_t total = 0;
    std::vector<char>& buffer = Buffer();
    for (;;) {
        ssize_t got = recv(fd, buffer.data(), buffer.size(), 0);
        if (got <= 0) return total;
        total += static_cast<size_t>(got);
    }
}

size_t Drain(Link& link) {
    if (link.Ssl == nullptr) return Drain(link.Fd);
    size_t total = 0;
    std::vector<char>& buffer = Buffer();
    for (;;) {
        ssize_t got = LinkRecv(link, buffer.data(), buffer.size());
        if (got <= 0) return total;
        total += static_cast<size_t>(got);
    }
}

void SendPattern(Link& link, size_t bytes) {
    std::vector<char>& buffer = Buffer();
    while (bytes > 0) {
        size_t step = std::min(bytes, buffer.size());
        LinkSend(link, buffer.data(), step);
        bytes -= step;
    }
}

void SendPattern(int fd, size_t bytes) {
    Link plain{fd, nullptr};
    SendPattern(plain, bytes);
}

// The data connection after the command that opens it was sent: under TLS
// once the server has sent its preliminary reply and the handshake resumed
// the control connection's session.
Link DataLink(Control& control, int fd) {
    Link link{fd, nullptr};
#ifdef FTPLOAD_TLS
    if (control.Channel.Ssl != nullptr) {
        // A copy: whatever becomes of this connection's session, the control
        // connection's stays resumable for the next data connection.
        SSL_SESSION* session = SSL_SESSION_dup(SSL_get0_session(control.Channel.Ssl));
        link.Ssl = StartTls(fd, session);
        SSL_SESSION_free(session);
    }
#else
    (void)control;
#endif
    return link;
}

// A transfer's two replies: a preliminary one (125 or 150), then 226.
bool Completed(Control& control) {
    return control.Reply()[0] == '1' && control.Reply().compare(0, 3, "226") == 0;
}

// Sends a transfer command and, under TLS, reads its preliminary reply before
// the data connection's handshake, as clients do; true when the reply still
// has to be read (plain connections read it with the final one).
Link StartTransfer(Control& control, int fd, const std::string& command, bool* preliminaryPending) {
    control.Send(command.data(), command.size());
    *preliminaryPending = control.Channel.Ssl == nullptr;
    if (!*preliminaryPending && control.Reply()[0] != '1') Fail(command.c_str());
    return DataLink(control, fd);
}

bool Finished(Control& control, bool preliminaryPending) {
    if (preliminaryPending) return Completed(control);
    return control.Reply().compare(0, 3, "226") == 0;
}

// Downloads one file; returns its size.
size_t Retrieve(Control& control, const char* name) {
    int fd = control.Passive();
    bool pending;
    Link data = StartTransfer(control, fd, std::string("RETR ") + name + "\r\n", &pending);
    size_t bytes = Drain(data);
    LinkClose(data);
    if (!Finished(control, pending)) Fail("RETR");
    return bytes;
}

void Store(Control& control, const char* name, size_t bytes) {
    int fd = control.Passive();
    bool pending;
    Link data = StartTransfer(control, fd, std::string("STOR ") + name + "\r\n", &pending);
    SendPattern(data, bytes);
#ifdef FTPLOAD_TLS
    if (data.Ssl != nullptr) SSL_shutdown(data.Ssl);  // the end of the file, under TLS
#endif
    shutdown(fd, SHUT_WR);
    if (!Finished(control, pending)) Fail("STOR");
    LinkClose(data);
}

void List(Control& control) {
    int fd = control.Passive();
    bool pending;
    Link data = StartTransfer(control, fd, "LIST\r\n", &pending);
    Drain(data);
    LinkClose(data);
    if (!Finished(control, pending)) Fail("LIST");
}

int Download(char** argv) {
    Control control(static_cast<uint16_t>(std::atoi(argv[0])));
    control.Login(argv[1], argv[2]);
    auto start = Clock::now();
    size_t bytes = Retrieve(control, argv[3]);
    std::printf("%.1f\n", bytes / Seconds(start) / 1e6);
    return 0;
}

int Upload(char** argv) {
    Control control(static_cast<uint16_t>(std::atoi(argv[0])));
    control.Login(argv[1], argv[2]);
    size_t bytes = std::strtoull(argv[4], nullptr, 10);
    auto start = Clock::now();
    Store(control, argv[3], bytes);
    std::printf("%.1f\n", bytes / Seconds(start) / 1e6);
    return 0;
}

int TcpDownload(char** argv) {
    int file = open(argv[0], O_RDONLY);
    struct stat info;
    if (file < 0 || fstat(file, &info) != 0) Fail("open");
    uint16_t port;
    int listener = Listen(&port);
    // The sender is a process of its own, as a server would be.
    pid_t sender = fork();
    if (sender == 0) {
        MoveToServerCore();
        int fd = accept(listener, nullptr, nullptr);
        off_t offset = 0;
        while (offset < info.st_size)
            if (sendfile(fd, file, &offset, static_cast<size_t>(info.st_size - offset)) <= 0) Fail("sendfile");
        close(fd);
        _exit(0);
    }
    auto start = Clock::now();
    int fd = Connect(port);
    size_t bytes = Drain(fd);
    double seconds = Seconds(start);
    waitpid(sender, nullptr, 0);
    close(fd);
    std::printf("%.1f\n", bytes / seconds / 1e6);
    return 0;
}

int TcpUpload(char** argv) {
    std::string path = std::string(argv[0]) + "/tcp-upload.bin";
    size_t bytes = std::strtoull(argv[1], nullptr, 10);
    uint16_t port;
    int listener = Listen(&port);
    pid_t receiver = fork();  // a process of its own, as a server would be
    if (receiver == 0) {
        MoveToServerCore();
        int fd = accept(listener, nullptr, nullptr);
        int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<char> buffer(256 * 1024);
        for (;;) {
            ssize_t got = recv(fd, buffer.data(), buffer.size(), 0);
            if (got <= 0) break;
            if (write(file, buffer.data(), static_cast<size_t>(got)) != got) Fail("write");
        }
        close(file);
        close(fd);
        _exit(0);
    }
    auto start = Clock::now();
    int fd = Connect(port);
    SendPattern(fd, bytes);
    close(fd);
    waitpid(receiver, nullptr, 0);
    std::printf("%.1f\n", bytes / Seconds(start) / 1e6);
    unlink(path.c_str());
    return 0;
}

int Sessions(char** argv) {
    uint16_t port = static_cast<uint16_t>(std::atoi(argv[0]));
    const char* user = argv[1];
    const char* password = argv[2];
    int clients = std::atoi(argv[3]);
    double seconds = std::atof(argv[4]);
    std::string directory = std::string("CWD ") + argv[5];
    const char* file = argv[6];
    std::atomic<bool> running{true};
    std::vector<std::vector<double>> latencies(static_cast<size_t>(clients));
    std::vector<std::thread> threads;
    auto start = Clock::now();
    for (int i = 0; i < clients; ++i) {
        threads.emplace_back([&, i] {
            while (running) {
                auto begin = Clock::now();
                Control control(port);
                control.Login(user, password);
                control.Expect("PWD", "257");
                control.Expect(directory, "250");
                List(control);
                Retrieve(control, file);
                control.Expect("QUIT", "221");
                latencies[static_cast<size_t>(i)].push_back(Seconds(begin) * 1000);
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    running = false;
    for (auto& thread : threads) thread.join();
    double elapsed = Seconds(start);
    std::vector<double> all;
    for (auto& list : latencies) all.insert(all.end(), list.begin(), list.end());
    std::sort(all.begin(), all.end());
    if (all.empty()) Fail("no session completed");
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    double cpu = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    std::printf("%.1f %.2f %.2f %zu %.3f\n", all.size() / elapsed, all[all.size() / 2], all[all.size() * 99 / 100],
                all.size(), cpu);
    return 0;
}

int SmallFiles(char** argv) {
    Control control(static_cast<uint16_t>(std::atoi(argv[0])));
    control.Login(argv[1], argv[2]);
    control.Expect(std::string("CWD ") + argv[3], "250");
    int count = std::atoi(argv[4]);
    size_t bytes = std::strtoull(argv[5], nullptr, 10);
    auto start = Clock::now();
    for (int i = 0; i < count; ++i) Store(control, ("f" + std::to_string(i)).c_str(), bytes);
    double up = count / Seconds(start);
    start = Clock::now();
    for (int i = 0; i < count; ++i) Retrieve(control, ("f" + std::to_string(i)).c_str());
    double down = count / Seconds(start);
    std::printf("%.1f %.1f\n", up, down);
    return 0;
}

int Listing(char** argv) {
    Control control(static_cast<uint16_t>(std::atoi(argv[0])));
    control.Login(argv[1], argv[2]);
    int data = control.Passive();
    std::string command = std::string(argv[3]) + " " + argv[4] + "\r\n";
    auto start = Clock::now();
    SendAll(control.Fd, command.data(), command.size());
    size_t lines = 0;
    std::vector<char>& buffer = Buffer();
    for (;;) {
        ssize_t got = recv(data, buffer.data(), buffer.size(), 0);
        if (got <= 0) break;
        lines += static_cast<size_t>(std::count(buffer.data(), buffer.data() + got, '\n'));
    }
    Reset(data);
    if (!Completed(control)) Fail("listing");
    std::printf("%.0f\n", lines / Seconds(start));
    return 0;
}

int Resume(char** argv) {
    Control control(static_cast<uint16_t>(std::atoi(argv[0])));
    control.Login(argv[1], argv[2]);
    control.Expect("TYPE I", "200");
    int data = control.Passive();
    control.Expect(std::string("REST ") + argv[4], "350");
    auto start = Clock::now();
    std::string command = std::string("RETR ") + argv[3] + "\r\n";
    SendAll(control.Fd, command.data(), command.size());
    size_t bytes = Drain(data);
    double seconds = Seconds(start);
    Reset(data);
    if (!Completed(control)) Fail("RETR");
    std::printf("%.1f\n", bytes / seconds / 1e6);
    return 0;
}

int Abort(char** argv) {
    Control control(static_cast<uint16_t>(std::atoi(argv[0])));
    control.Login(argv[1], argv[2]);
    control.Expect("TYPE I", "200");
    int data = control.Passive();
    std::string command = std::string("RETR ") + argv[3] + "\r\n";
    SendAll(control.Fd, command.data(), command.size());
    std::vector<char>& buffer = Buffer();
    for (size_t total = 0; total < (1u << 20);) {
        ssize_t got = recv(data, buffer.data(), buffer.size(), 0);
        if (got <= 0) Fail("RETR");
        total += static_cast<size_t>(got);
    }
    auto start = Clock::now();
    // As clients send it: Telnet "interrupt process", then "synch" with its
    // data mark as urgent data, then the command.
    SendAll(control.Fd, "\xff\xf4\xff", 3);
    if (send(control.Fd, "\xf2", 1, MSG_OOB) != 1) Fail("send");
    SendAll(control.Fd, "ABOR\r\n", 6);
    // Reading on from the data connection until the server stops sending, and
    // reading replies: the transfer's 150, perhaps its 426, then ABOR's 225 or 226.
    bool dataOpen = true;
    for (;;) {
        size_t end;
        while ((end = control.Pending.find('\n')) != std::string::npos) {
            std::string line = control.Pending.substr(0, end + 1);
            control.Pending.erase(0, end + 1);
            if (line.compare(0, 3, "225") == 0 || line.compare(0, 3, "226") == 0) {
                std::printf("%.2f\n", Seconds(start) * 1000);
                Reset(data);
                return 0;
            }
        }
        pollfd waits[2] = {{control.Fd, POLLIN, 0}, {dataOpen ? data : -1, POLLIN, 0}};
        if (poll(waits, 2, 10000) <= 0) Fail("no reply to ABOR");
        if (waits[1].revents != 0 && recv(data, buffer.data(), buffer.size(), 0) <= 0) dataOpen = false;
        if (waits[0].revents != 0) {
            char text[4096];
            ssize_t got = recv(control.Fd, text, sizeof text, 0);
            if (got <= 0) Fail("control connection closed");
            control.Pending.append(text, static_cast<size_t>(got));
        }
    }
}

#ifdef FTPLOAD_TLS
SSL_CTX* ClientContext() {
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);  // the benchmark's self-signed certificate
    SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_CLIENT);
    return context;
}
#endif

int Sessions(char** argv);
int Download(char** argv);
int Upload(char** argv);
int Idle(char** argv);

int Tls(int argc, char** argv) {
#ifdef FTPLOAD_TLS
    tlsClient = ClientContext();
    struct Mode {
        const char* Name;
        int Arguments;
        int (*Run)(char**);
    } modes[] = {{"download", 4, Download}, {"upload", 5, Upload}, {"sessions", 7, Sessions}, {"idle", 4, Idle}};
    for (const Mode& mode : modes)
        if (argc == mode.Arguments + 1 && std::strcmp(argv[0], mode.Name) == 0) return mode.Run(argv + 1);
#else
    (void)argc;
    (void)argv;
#endif
    std::fprintf(stderr, "ftpload was built without OpenSSL, or: usage at the top of bench/ftpload.cpp\n");
    return 2;
}

int TlsCeiling(char** argv) {
#ifdef FTPLOAD_TLS
    int file = open(argv[0], O_RDONLY);
    struct stat info;
    if (file < 0 || fstat(file, &info) != 0) Fail("open");
    uint16_t port;
    int listener = Listen(&port);
    pid_t sender = fork();  // the serving side is a process of its own, as a server would be
    if (sender == 0) {
        MoveToServerCore();
        SSL_CTX* server = SSL_CTX_new(TLS_server_method());
        if (SSL_CTX_use_certificate_chain_file(server, argv[1]) != 1 ||
            SSL_CTX_use_PrivateKey_file(server, argv[2], SSL_FILETYPE_PEM) != 1)
            Fail("certificate");
        SSL_CTX_set_mode(server, SSL_MODE_ENABLE_PARTIAL_WRITE);
        int fd = accept(listener, nullptr, nullptr);
        SSL* ssl = SSL_new(server);
        SSL_set_fd(ssl, fd);
        if (SSL_accept(ssl) != 1) Fail("SSL_accept");
        std::vector<char> buffer(256 * 1024);
        for (;;) {
            ssize_t got = read(file, buffer.data(), buffer.size());
            if (got <= 0) break;
            size_t written = 0;
            for (size_t done = 0; done < static_cast<size_t>(got); done += written)
                if (SSL_write_ex(ssl, buffer.data() + done, static_cast<size_t>(got) - done, &written) != 1)
                    Fail("SSL_write");
        }
        SSL_shutdown(ssl);
        close(fd);
        _exit(0);
    }
    tlsClient = ClientContext();
    auto start = Clock::now();
    int fd = Connect(port);
    Link link{fd, StartTls(fd, nullptr)};
    size_t bytes = Drain(link);
    double seconds = Seconds(start);
    waitpid(sender, nullptr, 0);
    LinkClose(link);
    std::printf("%.1f\n", bytes / seconds / 1e6);
    return 0;
#else
    (void)argv;
    Fail("built without OpenSSL");
#endif
}

int Idle(char** argv) {
    uint16_t port = static_cast<uint16_t>(std::atoi(argv[0]));
    int count = std::atoi(argv[3]);
    rlimit descriptors{};
    getrlimit(RLIMIT_NOFILE, &descriptors);
    descriptors.rlim_cur = descriptors.rlim_max;  // thousands of connections
    setrlimit(RLIMIT_NOFILE, &descriptors);
    std::vector<Control*> held;
    for (int i = 0; i < count; ++i) {
        held.push_back(new Control(port));
        held.back()->Login(argv[1], argv[2]);
    }
    std::printf("%d\n", count);
    std::fflush(stdout);
    char c;
    while (read(0, &c, 1) > 0) {
    }
    for (Control* control : held) delete control;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    struct Mode {
        const char* Name;
        int Arguments;
        int (*Run)(char**);
    } modes[] = {{"download", 4, Download},   {"upload", 5, Upload},     {"tcp-download", 1, TcpDownload},
                 {"tcp-upload", 2, TcpUpload}, {"sessions", 7, Sessions}, {"smallfiles", 6, SmallFiles},
                 {"idle", 4, Idle},           {"listing", 5, Listing},   {"resume", 5, Resume},
                 {"abort", 4, Abort}};
    for (const Mode& mode : modes)
        if (argc == mode.Arguments + 2 && std::strcmp(argv[1], mode.Name) == 0) return mode.Run(argv + 2);
    if (argc >= 3 && std::strcmp(argv[1], "tls") == 0) return Tls(argc - 2, argv + 2);
    if (argc == 5 && std::strcmp(argv[1], "tls-ceiling") == 0) return TlsCeiling(argv + 2);
    std::fprintf(stderr, "usage: see the top of bench/ftpload.cpp\n");
    return 2;
}
