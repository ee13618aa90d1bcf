// SPDX-License-Identifier: GPL-3.0-or-later
// End-to-end performance of the real executable over loopback, each figure next to a floor or anchor measured in
// the same run on the same machine:
//
//   1. "/getSongList" on a 100,000-track library: latency, peak memory, memory once it is over (and over 100 lists)
//   2. the same at every library size, to see that time grows linearly with the file
//   3. "/getSong" of a 1 GiB file: throughput and memory; three in a row by curl against nginx serving the file
//   4. "/hello" latency while 8 clients download as fast as they can
//   5. "/hello" with a new connection per request under wrk, 50 connections
//   6. the first "/getSongList" of a freshly started server, 100,000 tracks
//   7. "/hello" latency while one client lists 100,000 tracks back to back
//   8. two lists sent at the same instant against one alone
//   9. the list a handset usually meets, the first after 10 s of idleness, with transparent huge pages and without
//  10. the window's look at a 100,000-track library none of whose song files are here: read afresh, and taken from
//      a list just made
//
// Prints one Markdown table; --plot-data writes the per-size figures for gnuplot. --responsiveness-only takes
// only what the event loop and the cores make of lists of 100,000 tracks (1, 6, 7, 8, 9): a few minutes.
//
//   pellisor_perf [--runs N] [--sizes 10000,25000,...] [--data DIR] [--list-requests N] [--max-load L]
//                 [--load-wait SECONDS] [--plot-data FILE] [--no-micro] [--lists-only] [--network-only]
//                 [--responsiveness-only] [--binary FILE]
//
// The libraries and the 1 GiB song are generated once into the data folder (deterministic, so they are reused).
// The executable runs with a home folder of its own and needs port 4556, which it waits for. Plain C++ and POSIX:
// nothing of what it measures is linked in. Every loop is bounded in count and time, and a watchdog ends the whole
// run (and the server it started) if it overruns.

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/sendfile.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int serverPort = 4556;
constexpr std::int64_t songBytes = std::int64_t(1) << 30;
constexpr int downloaders = 8;
constexpr auto downloadPhase = std::chrono::seconds(10);
// How long a handset's user usually leaves the server alone between two lists, at the least.
constexpr auto idlePause = std::chrono::seconds(10);
constexpr int ioTimeoutMs = 60000;
constexpr auto wholeRunLimit = std::chrono::minutes(40);

std::atomic<pid_t> g_serverPid{0};
std::atomic<pid_t> g_nginxPid{0};

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> v)
{
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Nearest rank.
double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    const size_t rank = size_t(std::ceil(p / 100.0 * double(v.size())));
    return v[std::min(v.size() - 1, rank == 0 ? 0 : rank - 1)];
}

std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char *fmt, ...)
{
    char buffer[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buffer, sizeof buffer, fmt, args);
    va_end(args);
    return buffer;
}

[[noreturn]] void fail(const std::string &why)
{
    std::fprintf(stderr, "pellisor_perf: %s\n", why.c_str());
    for (const pid_t pid : {g_serverPid.load(), g_nginxPid.load()}) {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    std::exit(1);
}

std::string loadAverage()
{
    std::ifstream in("/proc/loadavg");
    double a = 0, b = 0, c = 0;
    in >> a >> b >> c;
    return format("%.2f %.2f %.2f", a, b, c);
}

double loadAverage1()
{
    std::ifstream in("/proc/loadavg");
    double a = 99;
    in >> a;
    return a;
}

// ---- The server's memory -------------------------------------------------------------------------------------

std::int64_t statusKb(pid_t pid, const char *field)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    const size_t n = std::strlen(field);
    while (std::getline(in, line)) {
        if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':')
            return std::atoll(line.c_str() + n + 1);
    }
    return -1;
}

std::int64_t rssKb(pid_t pid) { return statusKb(pid, "VmRSS"); }

// Peak resident memory from now on: the kernel's high-water mark, reset here, and a sampler as a check on it.
class PeakMemory
{
public:
    explicit PeakMemory(pid_t pid) : m_pid(pid)
    {
        std::ofstream("/proc/" + std::to_string(pid) + "/clear_refs") << "5";
        m_peak = rssKb(pid);
        m_thread = std::thread([this] {
            while (!m_stop.load()) {
                m_peak = std::max(m_peak.load(), rssKb(m_pid));
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
    }
    ~PeakMemory() { stop(); }
    std::int64_t stop()
    {
        if (m_thread.joinable()) {
            m_stop = true;
            m_thread.join();
            m_peak = std::max(m_peak.load(), std::max(statusKb(m_pid, "VmHWM"), rssKb(m_pid)));
        }
        return m_peak;
    }

private:
    pid_t m_pid;
    std::atomic<std::int64_t> m_peak{0};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// ---- Sockets -------------------------------------------------------------------------------------------------

int connectLoopback(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool waitReadable(int fd, int timeoutMs)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0;
}

bool sendAll(int fd, const std::string &bytes)
{
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += size_t(n);
    }
    return true;
}

struct Response
{
    bool ok = false;      // a whole response arrived (status line, header, Content-Length bytes of body)
    int status = 0;
    std::int64_t bodyBytes = 0;
    std::string body;     // kept only when asked
    double ms = 0;        // request sent → last byte of the body received
};

// One request on a new connection. `keepBody` stores the body; `stop`, when set, ends the read early; `sendAt`
// holds the request back, once connected, until then.
Response httpGet(const std::string &target, bool keepBody, const std::atomic<bool> *stop = nullptr,
                 int timeoutMs = ioTimeoutMs, Clock::time_point sendAt = {})
{
    Response r;
    const int fd = connectLoopback(serverPort);
    if (fd < 0)
        return r;
    const std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:4556\r\nUser-Agent: pellisor_perf\r\n\r\n";
    static thread_local std::vector<char> buffer(size_t(1) << 20);
    std::this_thread::sleep_until(sendAt);
    const Clock::time_point start = Clock::now();
    if (!sendAll(fd, request)) {
        ::close(fd);
        return r;
    }
    std::string head;
    std::int64_t contentLength = -1;
    bool inBody = false;
    for (;;) {
        if (stop && stop->load())
            break;
        if (!waitReadable(fd, stop ? 100 : timeoutMs)) {
            if (stop)
                continue;
            break;
        }
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n <= 0)
            break;
        const char *data = buffer.data();
        size_t length = size_t(n);
        if (!inBody) {
            head.append(data, length);
            const size_t end = head.find("\r\n\r\n");
            if (end == std::string::npos)
                continue;
            r.status = std::atoi(head.c_str() + 9);
            const size_t cl = head.find("Content-Length: ");
            contentLength = cl == std::string::npos || cl > end ? -1 : std::atoll(head.c_str() + cl + 16);
            inBody = true;
            const std::string rest = head.substr(end + 4);
            r.bodyBytes = std::int64_t(rest.size());
            if (keepBody)
                r.body = rest;
        } else {
            r.bodyBytes += std::int64_t(length);
            if (keepBody)
                r.body.append(data, length);
        }
        if (contentLength >= 0 && r.bodyBytes >= contentLength) {
            r.ms = msSince(start);
            r.ok = r.bodyBytes == contentLength;
            break;
        }
    }
    ::close(fd);
    return r;
}

// "/hello" on a new connection every 10 ms, for `phase` and until `atLeast` probes (at most 3 minutes): each
// latency, or a failure.
void probeHello(std::chrono::seconds phase, size_t atLeast, std::vector<double> &latencies, int &failures)
{
    const Clock::time_point start = Clock::now();
    while ((Clock::now() - start < phase || latencies.size() + size_t(failures) < atLeast)
           && Clock::now() - start < std::chrono::minutes(3) && latencies.size() < 5000) {
        const Response r = httpGet("/hello", true, nullptr, 5000);
        if (r.ok && r.body == "Hello!")
            latencies.push_back(r.ms);
        else
            ++failures;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool portFree()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(serverPort);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    const bool free = ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return free;
}

// True when the listening socket on port 4556 belongs to `pid` (and not to someone else's server).
bool listensOnPort(pid_t pid)
{
    std::ifstream tcp("/proc/net/tcp");
    std::string line;
    std::getline(tcp, line);
    std::string inode;
    while (std::getline(tcp, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, node;
        fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> node;
        if (state == "0A" && local.size() > 5 && local.substr(local.size() - 5) == ":11CC")
            inode = node;
    }
    if (inode.empty())
        return false;
    std::error_code error;
    for (const auto &entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        std::error_code e;
        if (fs::read_symlink(entry.path(), e).string() == "socket:[" + inode + "]")
            return true;
    }
    return false;
}

// ---- The server process --------------------------------------------------------------------------------------

class Server
{
public:
    Server(std::string binary, fs::path home) : m_binary(std::move(binary)), m_home(std::move(home)) { }
    ~Server() { stop(); }

    pid_t pid() const { return m_pid; }
    // Whether the next start may have transparent huge pages; refused, they are refused to the whole process.
    void allowHugePages(bool allowed) { m_hugePages = allowed; }

    void start()
    {
        for (int attempt = 0; attempt < 5; ++attempt) {
            const Clock::time_point waitStart = Clock::now();
            while (!portFree()) {
                if (msSince(waitStart) > 180000)
                    fail("port 4556 stayed busy for 3 minutes");
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
            }
            launch();
            const Clock::time_point up = Clock::now();
            while (msSince(up) < 20000) {
                if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
                    m_pid = 0;
                    g_serverPid = 0;
                    break;
                }
                if (listensOnPort(m_pid) && httpGet("/hello", true, nullptr, 5000).body == "Hello!")
                    return;
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            stop(); // someone else took the port first, or it did not come up: try again
            std::this_thread::sleep_for(std::chrono::seconds(2));
        }
        fail("could not start " + m_binary + " on port 4556 (see " + (m_home / "pellisor.log").string() + ")");
    }

    void stop()
    {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGTERM);
        const Clock::time_point start = Clock::now();
        while (::waitpid(m_pid, nullptr, WNOHANG) != m_pid) {
            if (msSince(start) > 10000) {
                ::kill(m_pid, SIGKILL);
                ::waitpid(m_pid, nullptr, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        m_pid = 0;
        g_serverPid = 0;
    }

private:
    void launch()
    {
        const fs::path runtime = m_home / "runtime";
        fs::create_directories(runtime);
        fs::permissions(runtime, fs::perms::owner_all);
        const std::string log = (m_home / "pellisor.log").string();
        const pid_t pid = ::fork();
        if (pid < 0)
            fail("fork failed");
        if (pid == 0) {
            ::setenv("HOME", m_home.c_str(), 1);
            ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            ::unsetenv("DISPLAY");
            ::unsetenv("WAYLAND_DISPLAY");
            const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            const int in = ::open("/dev/null", O_RDONLY);
            if (out >= 0) {
                ::dup2(out, 1);
                ::dup2(out, 2);
            }
            if (in >= 0)
                ::dup2(in, 0);
            if (!m_hugePages)
                ::prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0); // kept across exec
            ::execl(m_binary.c_str(), m_binary.c_str(), static_cast<char *>(nullptr));
            ::_exit(127);
        }
        m_pid = pid;
        g_serverPid = pid;
    }

    std::string m_binary;
    fs::path m_home;
    pid_t m_pid = 0;
    bool m_hugePages = true;
};

// ---- Data ----------------------------------------------------------------------------------------------------

void run(const std::vector<std::string> &argv)
{
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        fail("failed: " + argv[0]);
}

fs::path libraryFile(const fs::path &data, int tracks)
{
    return data / ("library-" + std::to_string(tracks) + ".xml");
}

void makeSong(const fs::path &path)
{
    std::error_code error;
    if (fs::file_size(path, error) == std::uintmax_t(songBytes))
        return;
    std::printf("writing a 1 GiB song file %s ...\n", path.c_str());
    std::fflush(stdout);
    const fs::path temporary = path.string() + ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        fail("cannot write " + temporary.string());
    std::vector<char> chunk(size_t(1) << 20);
    for (std::int64_t offset = 0; offset < songBytes; offset += std::int64_t(chunk.size())) {
        for (size_t i = 0; i < chunk.size(); ++i)
            chunk[i] = char((std::uint64_t(offset) + i) * 2654435761u >> 13);
        if (::write(fd, chunk.data(), chunk.size()) != ssize_t(chunk.size()))
            fail("cannot write " + temporary.string());
    }
    ::close(fd);
    fs::rename(temporary, path);
}

void prepareData(const fs::path &data, const std::string &generator, const std::vector<int> &sizes, bool withSong)
{
    fs::create_directories(data);
    for (const int tracks : sizes) {
        const fs::path file = libraryFile(data, tracks);
        if (fs::exists(file))
            continue;
        std::printf("generating %s ...\n", file.c_str());
        std::fflush(stdout);
        run({generator, "--tracks", std::to_string(tracks), "--device-playlist", "Other", "--output", file.string()});
    }
    if (!withSong)
        return;
    makeSong(data / "song-1g.mp3");
    // Small, and it names the song by its absolute path: always written afresh.
    run({generator, "--tracks", "40", "--device-playlist", "Other", "--audio-files",
             (data / "song-1g.mp3").string(), "--output", (data / "download.xml").string()});
}

void useLibrary(const fs::path &home, const fs::path &library)
{
    const fs::path link = home / "Music/iTunes/iTunes Music Library.xml";
    fs::create_directories(link.parent_path());
    std::error_code error;
    fs::remove(link, error);
    fs::create_symlink(library, link);
}

// The floor of a song list: read the file through a small buffer and count '<' with memchr.
double readAndCountFloorMs(const fs::path &file, std::int64_t *count = nullptr)
{
    const Clock::time_point start = Clock::now();
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        fail("cannot read " + file.string());
    std::vector<char> buffer(size_t(1) << 17);
    std::int64_t brackets = 0;
    ssize_t got;
    while ((got = ::read(fd, buffer.data(), buffer.size())) > 0) {
        const char *p = buffer.data();
        const char *end = p + got;
        while ((p = static_cast<const char *>(std::memchr(p, '<', size_t(end - p))))) {
            ++brackets;
            ++p;
        }
    }
    ::close(fd);
    if (count)
        *count = brackets;
    return msSince(start);
}

// `cat file > /dev/null` from the page cache, in GB/s.
double catGBps(const fs::path &file)
{
    const Clock::time_point start = Clock::now();
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    std::vector<char> buffer(size_t(1) << 17);
    std::int64_t total = 0;
    ssize_t got;
    while ((got = ::read(fd, buffer.data(), buffer.size())) > 0)
        total += got;
    ::close(fd);
    return double(total) / (msSince(start) / 1000) / 1e9;
}

// A plain loopback copy of the file: one thread sendfile()s it into a blocking TCP socket, another reads it out
// with the same 1 MiB reads the download client uses. The ceiling for a download on this machine.
double loopbackCopyGBps(const fs::path &file)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || ::listen(listener, 1) != 0
        || ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        fail("loopback anchor: cannot listen");
    std::thread sender([&] {
        const int peer = ::accept(listener, nullptr, nullptr);
        const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        off_t offset = 0;
        while (offset < songBytes) {
            const ssize_t n = ::sendfile(peer, fd, &offset, size_t(songBytes - offset));
            if (n <= 0)
                break;
        }
        ::close(fd);
        ::close(peer);
    });
    const int fd = connectLoopback(ntohs(address.sin_port));
    std::vector<char> buffer(size_t(1) << 20);
    const Clock::time_point start = Clock::now();
    std::int64_t total = 0;
    ssize_t got;
    while ((got = ::recv(fd, buffer.data(), buffer.size(), 0)) > 0)
        total += got;
    const double seconds = msSince(start) / 1000;
    ::close(fd);
    sender.join();
    ::close(listener);
    if (total != songBytes)
        fail("loopback anchor: short copy");
    return double(total) / seconds / 1e9;
}

// The anchor for "/hello": the least a single thread can do per connection on this machine (accept, read the
// request, write a response of the same size, close), driven by the same wrk command.
class TrivialServer
{
public:
    TrivialServer()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
            || ::listen(m_listener, SOMAXCONN) != 0
            || ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            fail("trivial server: cannot listen");
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~TrivialServer()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_listener);
    }
    int port() const { return m_port; }

private:
    void serve()
    {
        static const std::string response =
            "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\nContent-Length: 6\r\n\r\nHello!";
        char buffer[4096];
        while (!m_stop) {
            if (!waitReadable(m_listener, 100))
                continue;
            const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            std::string request;
            while (request.find("\r\n\r\n") == std::string::npos && waitReadable(fd, 1000)) {
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n <= 0)
                    break;
                request.append(buffer, size_t(n));
            }
            sendAll(fd, response);
            ::close(fd);
        }
    }

    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// nginx serving a folder on a free loopback port: one process of this run's own (no daemon, no master), its
// configuration and logs in a temporary folder, ended by its pid.
class NginxServer
{
public:
    explicit NginxServer(const fs::path &root)
    {
        char folder[] = "/tmp/pellisor-perf-nginx-XXXXXX";
        if (!::mkdtemp(folder))
            fail("mkdtemp failed");
        m_folder = folder;
        m_port = freePort();
        const std::string d = m_folder.string();
        std::ofstream(m_folder / "nginx.conf")
            << "daemon off;\nmaster_process off;\nworker_processes 1;\npid " << d << "/nginx.pid;\nerror_log " << d
            << "/error.log;\nevents { worker_connections 64; }\nhttp {\n    access_log off;\n    sendfile on;\n"
            << "    client_body_temp_path " << d << ";\n    proxy_temp_path " << d << ";\n    fastcgi_temp_path " << d
            << ";\n    uwsgi_temp_path " << d << ";\n    scgi_temp_path " << d << ";\n    server {\n        listen 127.0.0.1:"
            << m_port << ";\n        root " << root.string() << ";\n    }\n}\n";
        const char *binary = "/usr/sbin/nginx";
        if (::access(binary, X_OK) != 0)
            fail("nginx is missing: `make bench` installs nginx-light");
        const pid_t pid = ::fork();
        if (pid < 0)
            fail("fork failed");
        if (pid == 0) {
            const int out = ::open((m_folder / "stderr.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            ::dup2(out, 1);
            ::dup2(out, 2);
            ::execl(binary, "nginx", "-p", d.c_str(), "-e", (d + "/error.log").c_str(), "-c",
                    (d + "/nginx.conf").c_str(), static_cast<char *>(nullptr));
            ::_exit(127);
        }
        m_pid = pid;
        g_nginxPid = pid;
        const Clock::time_point start = Clock::now();
        for (;;) {
            if (const int fd = connectLoopback(m_port); fd >= 0) {
                ::close(fd);
                break;
            }
            if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid)
                g_nginxPid = 0;
            if (g_nginxPid == 0 || msSince(start) > 10000)
                fail("nginx did not start (see " + d + "/error.log)");
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    ~NginxServer()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
            g_nginxPid = 0;
        }
        std::error_code error;
        fs::remove_all(m_folder, error);
    }
    int port() const { return m_port; }

private:
    static int freePort()
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
            || ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            fail("no free loopback port for nginx");
        ::close(fd);
        return ntohs(address.sin_port);
    }

    fs::path m_folder;
    int m_port = 0;
    pid_t m_pid = 0;
};

// One download by curl to /dev/null, in GB/s as curl measured it; fails unless all `bytes` arrived with a 200.
double curlGBps(const std::string &url, std::int64_t bytes)
{
    const std::string command = "curl -s -o /dev/null -w '%{http_code} %{size_download} %{speed_download}' '" + url + "'";
    FILE *pipe = ::popen(command.c_str(), "r");
    int status = 0;
    long long size = 0;
    double speed = 0;
    const bool read = pipe && std::fscanf(pipe, "%d %lld %lf", &status, &size, &speed) == 3;
    if (pipe)
        ::pclose(pipe);
    if (!read || status != 200 || size != bytes)
        fail("curl could not download " + url);
    return speed / 1e9;
}

struct WrkResult
{
    bool ok = false;
    double requestsPerSecond = 0;
    double p50Ms = NAN, p99Ms = NAN;
    std::string errors;
};

double wrkMs(const std::string &text)
{
    const double value = std::atof(text.c_str());
    if (text.find("us") != std::string::npos)
        return value / 1000;
    if (text.find("ms") != std::string::npos)
        return value;
    if (text.find('s') != std::string::npos)
        return value * 1000;
    return NAN;
}

WrkResult runWrk(int port, const std::string &path, int connections, int seconds)
{
    WrkResult result;
    const std::string command = format("timeout %d wrk -t2 -c%d -d%ds --timeout 5s --latency -H 'Connection: close' "
                                       "http://127.0.0.1:%d%s 2>&1",
                                       seconds + 30, connections, seconds, port, path.c_str());
    FILE *pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return result;
    char line[512];
    bool distribution = false;
    while (std::fgets(line, sizeof line, pipe)) {
        const std::string text(line);
        std::istringstream words(text);
        std::string first, second;
        words >> first >> second;
        if (first == "Requests/sec:")
            result.requestsPerSecond = std::atof(second.c_str()), result.ok = true;
        else if (text.find("Latency Distribution") != std::string::npos)
            distribution = true;
        else if (distribution && first == "50%")
            result.p50Ms = wrkMs(second);
        else if (distribution && first == "99%")
            result.p99Ms = wrkMs(second), distribution = false;
        else if (first == "Socket" || first == "Non-2xx")
            result.errors += (result.errors.empty() ? "" : "; ") + text.substr(0, text.find_last_not_of("\n") + 1);
    }
    ::pclose(pipe);
    return result;
}

// ---- Micro-benchmarks ----------------------------------------------------------------------------------------

// `options`: more of the micro-benchmarks' own, such as a filter; `library`: a library file instead of its own.
std::map<std::string, double> runMicro(const std::string &binary, const std::string &options = {},
                                       const fs::path &library = {})
{
    std::map<std::string, double> medians;
    const std::string environment = library.empty() ? "" : "PELLISOR_BENCH_LIBRARY='" + library.string() + "' ";
    const std::string command = environment + "'" + binary + "' --benchmark_format=csv --benchmark_repetitions=5 "
                                "--benchmark_report_aggregates_only=true " + options + " 2>/dev/null";
    FILE *pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return medians;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe)) {
        // name,iterations,real_time,cpu_time,time_unit,...
        std::string text(line);
        if (text.rfind("\"BM_", 0) != 0)
            continue;
        const size_t nameEnd = text.find('"', 1);
        const std::string name = text.substr(1, nameEnd - 1);
        std::istringstream fields(text.substr(nameEnd + 2));
        std::string iterations, real;
        std::getline(fields, iterations, ',');
        std::getline(fields, real, ',');
        // "BM_Name/real_time_median": the median of the repetitions, timed by the wall clock.
        const size_t suffix = name.find("/real_time_median");
        if (suffix != std::string::npos)
            medians[name.substr(0, suffix)] = std::atof(real.c_str());
    }
    ::pclose(pipe);
    return medians;
}

// ---- Report --------------------------------------------------------------------------------------------------

struct Row
{
    std::string target, figure, anchor, goal, met;
};

std::string yesNo(bool met) { return met ? "yes" : "**no**"; }

// Decimal megabytes, like the file sizes they are compared with.
double mb(std::int64_t kb) { return double(kb) * 1024.0 / 1e6; }

struct ListFigures
{
    int tracks = 0;
    double fileMB = 0;
    double medianMs = 0, floorMs = 0;
    double startRssMB = 0, peakRssMB = 0, endRssMB = 0;
    double growthMB = 0; // the most any one list took above the RSS right before it
    std::int64_t songs = 0;
    std::vector<double> times;
};

// `runs` song lists of the library, after one that warms up; the same number of floors interleaved with them.
ListFigures measureList(Server &server, const fs::path &home, const fs::path &library, int tracks, int runs)
{
    ListFigures f;
    f.tracks = tracks;
    f.fileMB = double(fs::file_size(library)) / 1e6;
    useLibrary(home, library);
    readAndCountFloorMs(library); // page cache
    const Response warm = httpGet("/getSongList", true);
    if (!warm.ok || warm.status != 200)
        fail("song list of " + library.string() + " failed");
    for (size_t at = warm.body.find("<song>"); at != std::string::npos; at = warm.body.find("<song>", at + 6))
        ++f.songs;
    std::vector<double> times, floors;
    std::int64_t startKb = 0, peakKb = 0, endKb = 0, growthKb = 0;
    for (int i = 0; i < runs; ++i) {
        std::int64_t brackets = 0;
        floors.push_back(readAndCountFloorMs(library, &brackets));
        if (brackets < f.songs * 10)
            fail("the floor read too little of " + library.string());
        std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the server settles after the last one
        const std::int64_t before = rssKb(server.pid());
        PeakMemory peak(server.pid());
        const Response r = httpGet("/getSongList", false);
        const std::int64_t top = peak.stop();
        if (!r.ok || r.status != 200 || r.bodyBytes != std::int64_t(warm.body.size()))
            fail("song list of " + library.string() + " failed");
        times.push_back(r.ms);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        startKb = i == 0 ? before : startKb;
        peakKb = std::max(peakKb, top);
        growthKb = std::max(growthKb, top - before);
        endKb = std::max(endKb, rssKb(server.pid()));
    }
    f.medianMs = median(times);
    f.times = times;
    f.floorMs = median(floors);
    f.startRssMB = mb(startKb);
    f.peakRssMB = mb(peakKb);
    f.endRssMB = mb(endKb);
    f.growthMB = mb(growthKb);
    std::printf("  %6d tracks, %6.1f MB: list median %7.1f ms (floor %5.1f ms), RSS before %.1f, peak %.1f, after %.1f MB\n",
                tracks, f.fileMB, f.medianMs, f.floorMs, f.startRssMB, f.peakRssMB, f.endRssMB);
    std::fflush(stdout);
    return f;
}

constexpr int freshStarts = 5;
constexpr size_t probesWhileListing = 300;

struct Responsiveness
{
    std::vector<double> helloWhileListing, listsMeanwhile;
    int helloFailures = 0;
    std::vector<double> singles, pairs; // one list alone, then two sent at the same instant until both are done
    std::int64_t pairGrowthKb = 0;
    std::vector<double> firstLists;     // the first list of a fresh server process
    // The first list after the server sat idle for idlePause, with and without huge pages; and the list right
    // before that pause, back to back with the one before it.
    std::vector<double> idleHuge, idleSmall, backToBack;
};

// The server's event loop and cores while it lists `library` (already its library): "/hello" probes while one
// client lists back to back; two lists sent together against one alone, interleaved so that both meet the same
// load; and the first list after each of `freshStarts` starts of the server (left running afterwards).
Responsiveness measureResponsiveness(Server &server, const fs::path &library, int runs)
{
    Responsiveness m;
    const auto listOk = [](const Response &r) {
        if (!r.ok || r.status != 200)
            fail("song list failed while measuring responsiveness");
        return r.ms;
    };
    std::printf("/hello while one client lists back to back (at least %zu probes) ...\n", probesWhileListing);
    std::fflush(stdout);
    std::atomic<bool> stopListing{false};
    std::thread lister([&] {
        while (!stopListing.load())
            m.listsMeanwhile.push_back(listOk(httpGet("/getSongList", false)));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // the first list under way
    probeHello(std::chrono::seconds(5), probesWhileListing, m.helloWhileListing, m.helloFailures);
    stopListing = true;
    lister.join();

    std::printf("one list, then two together (%d times) ...\n", runs);
    std::fflush(stdout);
    for (int i = 0; i < runs; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        m.singles.push_back(listOk(httpGet("/getSongList", false)));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const std::int64_t before = rssKb(server.pid());
        PeakMemory peak(server.pid());
        const Clock::time_point sendAt = Clock::now() + std::chrono::milliseconds(20);
        Clock::time_point done[2];
        std::thread other([&] {
            listOk(httpGet("/getSongList", false, nullptr, ioTimeoutMs, sendAt));
            done[1] = Clock::now();
        });
        listOk(httpGet("/getSongList", false, nullptr, ioTimeoutMs, sendAt));
        done[0] = Clock::now();
        other.join();
        m.pairs.push_back(std::chrono::duration<double, std::milli>(std::max(done[0], done[1]) - sendAt).count());
        m.pairGrowthKb = std::max(m.pairGrowthKb, peak.stop() - before);
    }

    std::printf("first list after a start (%d starts) ...\n", freshStarts);
    std::fflush(stdout);
    for (int i = 0; i < freshStarts; ++i) {
        server.stop();
        readAndCountFloorMs(library); // in the page cache, as a library that the user's computer has just read
        server.start();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        m.firstLists.push_back(listOk(httpGet("/getSongList", false)));
    }

    // Huge pages on and off alternately, so that both meet the same load; a list and another right after it, then
    // a pause in which the system may take back the memory the lists gave up.
    const int idleRuns = std::min(runs, 5);
    std::printf("a list after %lld s of idleness, huge pages on and off (%d times each) ...\n",
                (long long)idlePause.count(), idleRuns);
    std::fflush(stdout);
    for (int i = 0; i < idleRuns; ++i) {
        for (const bool huge : {true, false}) {
            server.stop();
            server.allowHugePages(huge);
            server.start();
            listOk(httpGet("/getSongList", false));
            m.backToBack.push_back(listOk(httpGet("/getSongList", false)));
            std::this_thread::sleep_for(idlePause);
            (huge ? m.idleHuge : m.idleSmall).push_back(listOk(httpGet("/getSongList", false)));
        }
    }
    server.stop();
    server.allowHugePages(true);
    server.start();
    return m;
}

struct Options
{
    std::string binary = PELLISOR_BINARY;
    std::string generator = PELLISOR_LIBRARY_GENERATOR;
    std::string micro = PELLISOR_BENCH_SONGLIST;
    fs::path data;
    int runs = 9;
    std::vector<int> sizes = {10000, 25000, 50000, 75000, 100000};
    int listRequests = 100;
    double maxLoad = 1.0;
    int loadWaitSeconds = 900;
    std::string plotData;
    bool microBenchmarks = true;
    bool listsOnly = false;
    bool networkOnly = false;
    bool responsivenessOnly = false;
};

Options parseOptions(int argc, char **argv)
{
    Options o;
    o.data = PELLISOR_BENCH_DATA;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                fail(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--runs")
            o.runs = std::max(1, std::atoi(value().c_str()));
        else if (arg == "--sizes") {
            o.sizes.clear();
            std::istringstream list(value());
            std::string item;
            while (std::getline(list, item, ','))
                o.sizes.push_back(std::atoi(item.c_str()));
        } else if (arg == "--data")
            o.data = value();
        else if (arg == "--list-requests")
            o.listRequests = std::max(2, std::atoi(value().c_str()));
        else if (arg == "--max-load")
            o.maxLoad = std::atof(value().c_str());
        else if (arg == "--load-wait")
            o.loadWaitSeconds = std::atoi(value().c_str());
        else if (arg == "--plot-data")
            o.plotData = value();
        else if (arg == "--no-micro")
            o.microBenchmarks = false;
        else if (arg == "--lists-only")
            o.listsOnly = true;
        else if (arg == "--network-only")
            o.networkOnly = true;
        else if (arg == "--responsiveness-only")
            o.responsivenessOnly = true;
        else if (arg == "--binary")
            o.binary = value();
        else
            fail("unknown argument " + arg);
    }
    if (o.responsivenessOnly) {
        o.sizes.clear();
        o.microBenchmarks = false;
    }
    std::sort(o.sizes.begin(), o.sizes.end());
    if (std::find(o.sizes.begin(), o.sizes.end(), 100000) == o.sizes.end())
        o.sizes.push_back(100000);
    return o;
}

} // namespace

int main(int argc, char **argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    const Options o = parseOptions(argc, argv);
    std::thread([] {
        std::this_thread::sleep_for(wholeRunLimit);
        fail("the run took longer than its limit");
    }).detach();

    prepareData(o.data, o.generator, o.sizes, !o.listsOnly && !o.responsivenessOnly);
    const fs::path song = o.data / "song-1g.mp3";

    // Figures taken while other work loads the machine are not honest: wait for it to quieten (bounded).
    const Clock::time_point waitStart = Clock::now();
    while (loadAverage1() > o.maxLoad && msSince(waitStart) < o.loadWaitSeconds * 1000.0) {
        std::printf("waiting for the load average to fall below %.2f (now %s) ...\n", o.maxLoad, loadAverage().c_str());
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::seconds(15));
    }
    const std::string loadAtStart = loadAverage();
    std::printf("load average at start: %s\n", loadAtStart.c_str());

    std::map<std::string, double> micro;
    if (o.microBenchmarks) {
        std::printf("micro-benchmarks (10,000 tracks) ...\n");
        std::fflush(stdout);
        micro = runMicro(o.micro, "--benchmark_filter=-Survey");
        std::printf("the window's look at the library (100,000 tracks) ...\n");
        std::fflush(stdout);
        micro.merge(runMicro(o.micro, "--benchmark_filter=Survey", libraryFile(o.data, 100000)));
    }

    char homeTemplate[] = "/tmp/pellisor-perf-XXXXXX";
    if (!::mkdtemp(homeTemplate))
        fail("mkdtemp failed");
    const fs::path home = homeTemplate;
    Server server(o.binary, home);
    useLibrary(home, libraryFile(o.data, o.sizes.front()));
    server.start();
    const std::int64_t freshRssKb = rssKb(server.pid());
    std::printf("server pid %d, RSS %.1f MB before any song list\n", int(server.pid()), mb(freshRssKb));
    // The anchor of every "/hello" under load.
    std::vector<double> idleHello;
    int idleFailures = 0;
    if (!o.listsOnly)
        probeHello(std::chrono::seconds(5), 0, idleHello, idleFailures);

    // 1 and 2: every size, then many lists of the largest.
    std::vector<ListFigures> bySize;
    std::int64_t repeatStartKb = 0, repeatMaxAfterKb = 0, repeatLastKb = 0, repeatPeakKb = 0;
    std::vector<double> repeatTimes;
    if (!o.networkOnly) {
        std::printf("song lists (%d runs per size):\n", o.runs);
        for (const int tracks : o.sizes)
            bySize.push_back(measureList(server, home, libraryFile(o.data, tracks), tracks, o.runs));
        useLibrary(home, libraryFile(o.data, 100000));
    }
    if (!o.networkOnly && !o.responsivenessOnly) {
        std::printf("%d song lists of the 100,000-track library ...\n", o.listRequests);
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        repeatStartKb = rssKb(server.pid());
        PeakMemory peak(server.pid());
        const Clock::time_point start = Clock::now();
        for (int i = 0; i < o.listRequests && msSince(start) < 300000; ++i) {
            const Response r = httpGet("/getSongList", false);
            if (!r.ok || r.status != 200)
                fail("song list failed during the repeated lists");
            repeatTimes.push_back(r.ms);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            repeatLastKb = rssKb(server.pid());
            repeatMaxAfterKb = std::max(repeatMaxAfterKb, repeatLastKb);
        }
        repeatPeakKb = peak.stop();
    }

    if (o.listsOnly) {
        server.stop();
        std::error_code error;
        fs::remove_all(home, error);
        std::printf("%zu lists in a row: median %.1f ms; RSS before %.0f MB, after the last %.0f MB, highest after any "
                    "%.0f MB, peak %.0f MB; load average %s\n",
                    repeatTimes.size(), median(repeatTimes), mb(repeatStartKb), mb(repeatLastKb), mb(repeatMaxAfterKb),
                    mb(repeatPeakKb), loadAverage().c_str());
        return 0;
    }

    // 6 to 8: the event loop and the cores while the server lists the largest library.
    Responsiveness responsiveness;
    if (!o.networkOnly)
        responsiveness = measureResponsiveness(server, libraryFile(o.data, 100000), o.runs);

    std::vector<double> catRates, copyRates, downloadRates, curlRates, nginxRates, busyHello;
    std::int64_t downloadGrowthKb = 0;
    int busyFailures = 0;
    double busyGBps = 0;
    WrkResult wrk, wrkAnchor;
    if (!o.responsivenessOnly) {
        // 3: downloads of the 1 GiB song.
        std::printf("downloads of a 1 GiB file ...\n");
        std::fflush(stdout);
        useLibrary(home, o.data / "download.xml");
        const Response list = httpGet("/getSongList", true);
        const size_t named = list.body.find("<filename>song-1g.mp3</filename>");
        const size_t idStart = list.body.rfind("<trackid>", named);
        if (!list.ok || named == std::string::npos || idStart == std::string::npos)
            fail("the download library lists no 1 GiB song");
        const std::string songTarget =
            "/getSong?xx=" + list.body.substr(idStart + 9, list.body.find('<', idStart + 9) - idStart - 9);

        for (int i = 0; i < o.runs; ++i) {
            catRates.push_back(catGBps(song));
            copyRates.push_back(loopbackCopyGBps(song));
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            const std::int64_t before = rssKb(server.pid());
            PeakMemory peak(server.pid());
            const Response r = httpGet(songTarget, false);
            const std::int64_t top = peak.stop();
            if (!r.ok || r.status != 200 || r.bodyBytes != songBytes)
                fail("download of the 1 GiB song failed");
            downloadRates.push_back(double(songBytes) / (r.ms / 1000) / 1e9);
            downloadGrowthKb = std::max(downloadGrowthKb, top - before);
        }

        // 3: the same song three times in a row by curl, from this server and from nginx, taking turns at going
        // first so that both meet the same moments of the machine.
        std::printf("curl: three downloads in a row from Pellisor, then from nginx (%d rounds) ...\n", o.runs);
        std::fflush(stdout);
        {
            const NginxServer nginx(o.data);
            const std::string ours = format("http://127.0.0.1:%d", serverPort) + songTarget;
            const std::string theirs = format("http://127.0.0.1:%d/song-1g.mp3", nginx.port());
            for (int i = 0; i < o.runs; ++i) {
                for (int turn = 0; turn < 2; ++turn) {
                    const bool nginxTurn = (turn + i) % 2 == 1;
                    for (int d = 0; d < 3; ++d)
                        (nginxTurn ? nginxRates : curlRates).push_back(curlGBps(nginxTurn ? theirs : ours, songBytes));
                }
            }
        }

        // 4: "/hello" while 8 clients download as fast as they can.
        std::printf("/hello under %d downloads ...\n", downloaders);
        std::fflush(stdout);
        std::atomic<bool> stopDownloads{false};
        std::atomic<std::int64_t> downloaded{0};
        std::vector<std::thread> clients;
        for (int i = 0; i < downloaders; ++i) {
            clients.emplace_back([&] {
                while (!stopDownloads.load())
                    downloaded += httpGet(songTarget, false, &stopDownloads).bodyBytes;
            });
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500)); // all of them streaming
        const Clock::time_point busyStart = Clock::now();
        const std::int64_t busyStartBytes = downloaded.load();
        probeHello(downloadPhase, 0, busyHello, busyFailures);
        const double busySeconds = msSince(busyStart) / 1000;
        stopDownloads = true;
        for (std::thread &t : clients)
            t.join();
        busyGBps = double(downloaded.load() - busyStartBytes) / busySeconds / 1e9;

        // 5: wrk, new connection per request; the same wrk against the trivial server.
        std::printf("wrk on /hello, 50 connections, Connection: close ...\n");
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::seconds(1));
        wrk = runWrk(serverPort, "/hello", 50, 10);
        const TrivialServer trivial;
        wrkAnchor = runWrk(trivial.port(), "/hello", 50, 10);
    }
    const std::int64_t finalRssKb = rssKb(server.pid());
    server.stop();
    std::error_code error;
    fs::remove_all(home, error);
    const std::string loadAtEnd = loadAverage();

    // ---- The table ----
    const auto sizeOf = [&](int tracks) -> const ListFigures * {
        for (const ListFigures &f : bySize)
            if (f.tracks == tracks)
                return &f;
        return nullptr;
    };
    std::vector<Row> rows;
    if (!bySize.empty()) {
        const ListFigures &largest = bySize.back();
        const double fileMB100k = largest.fileMB;
        // Judged on every timed list of the largest library: a few runs are easily swayed by a neighbour's burst.
        std::vector<double> allTimes = largest.times;
        allTimes.insert(allTimes.end(), repeatTimes.begin(), repeatTimes.end());
        const double listMs = median(allTimes);
        rows.push_back({format("1. `/getSongList`, 100,000 tracks: request sent → last byte (median of %zu)", allTimes.size()),
                        format("%.0f ms (median of the first %d: %.0f ms; %lld songs, %.0f MB file)", listMs, o.runs,
                               largest.medianMs, (long long)largest.songs, fileMB100k),
                        format("read file + memchr '<': %.0f ms", largest.floorMs), "≤ 200 ms", yesNo(listMs <= 200)});
        rows.push_back({format("1. memory of one list: peak RSS − RSS right before (the most of %d lists)", o.runs),
                        format("+%.0f MB (peak RSS %.0f MB, RSS before %.0f MB)", largest.growthMB, largest.peakRssMB,
                               largest.startRssMB),
                        format("file %.0f MB (1.6× = %.0f MB)", fileMB100k, 1.6 * fileMB100k), "≤ 1.6 × file",
                        yesNo(largest.growthMB <= 1.6 * fileMB100k)});
        const double repeatGrowthMB = mb(repeatMaxAfterKb - repeatStartKb);
        if (!repeatTimes.empty())
            rows.push_back({format("1. RSS once each list is over, %zu lists in a row", repeatTimes.size()),
                            format("before %.0f MB, after the last %.0f MB, highest after any %.0f MB (+%.1f MB); "
                                   "median %.0f ms, peak %.0f MB",
                                   mb(repeatStartKb), mb(repeatLastKb), mb(repeatMaxAfterKb), repeatGrowthMB,
                                   median(repeatTimes), mb(repeatPeakKb)),
                            format("fresh server before any list: %.0f MB", mb(freshRssKb)), "within 20 MB, no growth",
                            yesNo(repeatGrowthMB <= 20 && repeatTimes.size() == size_t(o.listRequests))});
        // Every size by the same measure, the median of its first runs.
        const double perMB100k = largest.medianMs / largest.fileMB;
        for (const int tracks : {10000, 50000}) {
            const ListFigures *f = sizeOf(tracks);
            if (!f)
                continue;
            const double perMB = f->medianMs / f->fileMB;
            // Linear or better: the largest library costs no more per megabyte than this one (10% for noise).
            const bool ok = perMB100k <= perMB * 1.10;
            rows.push_back({format("2. `/getSongList`, %s tracks", tracks == 10000 ? "10,000" : "50,000"),
                            format("%.1f ms, %.0f MB: %.3f ms/MB (100,000: %.3f ms/MB)", f->medianMs, f->fileMB, perMB,
                                   perMB100k),
                            format("floor %.1f ms (%.3f ms/MB)", f->floorMs, f->floorMs / f->fileMB),
                            "ms/MB at 100,000 ≤ this (+10%)", yesNo(ok)});
        }
    }
    const std::string idleAnchor = format("idle server: p99 %.2f ms, p50 %.2f ms (%zu probes)",
                                          percentile(idleHello, 99), median(idleHello), idleHello.size());
    if (!downloadRates.empty()) {
        const double download = median(downloadRates);
        rows.push_back({"3. `/getSong`, 1 GiB over loopback (median of " + std::to_string(o.runs) + ")",
                        format("%.2f GB/s", download),
                        format("plain loopback sendfile copy %.2f GB/s; cat from page cache %.2f GB/s",
                               median(copyRates), median(catRates)),
                        "≥ 1 GB/s", yesNo(download >= 1.0)});
        const double ours = median(curlRates), theirs = median(nginxRates);
        rows.push_back({format("3. `/getSong`, 1 GiB three times in a row by curl (median of %zu)", curlRates.size()),
                        format("%.2f GB/s (%.2f–%.2f), %.2fx nginx", ours, percentile(curlRates, 0),
                               percentile(curlRates, 100), ours / theirs),
                        format("nginx, same file, same rounds: %.2f GB/s (%.2f–%.2f)", theirs,
                               percentile(nginxRates, 0), percentile(nginxRates, 100)),
                        "≥ 0.9x nginx", yesNo(ours >= 0.9 * theirs)});
        rows.push_back({"3. RSS during a download", format("peak − before: +%.1f MB", mb(downloadGrowthKb)),
                        "file 1074 MB (1 GiB)", "flat (≤ +16 MB)", yesNo(mb(downloadGrowthKb) <= 16)});
        const double busyP99 = percentile(busyHello, 99);
        rows.push_back({format("4. `/hello` while %d clients download (%zu probes, %d failed)", downloaders, busyHello.size(),
                               busyFailures),
                        format("p99 %.2f ms, p50 %.2f ms, max %.2f ms; downloads %.2f GB/s in all", busyP99,
                               median(busyHello), percentile(busyHello, 100), busyGBps),
                        idleAnchor,
                        "p99 ≤ 20 ms", yesNo(busyP99 <= 20 && busyFailures == 0 && busyHello.size() >= 100)});
        rows.push_back({"5. `/hello`, new connection per request (wrk -t2 -c50 -d10s, Connection: close)",
                        wrk.ok ? format("%.0f req/s, p99 %.2f ms, p50 %.2f ms%s", wrk.requestsPerSecond, wrk.p99Ms, wrk.p50Ms,
                                        wrk.errors.empty() ? "" : (" (" + wrk.errors + ")").c_str())
                               : std::string("wrk did not run"),
                        wrkAnchor.ok ? format("one-thread accept/answer/close server: %.0f req/s, p99 %.2f ms",
                                              wrkAnchor.requestsPerSecond, wrkAnchor.p99Ms)
                                     : std::string("-"),
                        "report", wrk.ok ? "reported" : "**no**"});
    }
    if (const Responsiveness &m = responsiveness; !m.firstLists.empty()) {
        const double firstMs = median(m.firstLists);
        const auto each = [](const std::vector<double> &v) {
            std::string text;
            for (const double ms : v)
                text += format("%s%.0f", text.empty() ? "" : ", ", ms);
            return text;
        };
        rows.push_back({format("6. first `/getSongList` after a start, 100,000 tracks (median of %zu fresh starts, "
                               "file in the page cache)", m.firstLists.size()),
                        format("%.0f ms (each: %s ms)", firstMs, each(m.firstLists).c_str()),
                        format("a warm list, median of %d: %.0f ms", o.runs, bySize.back().medianMs), "≤ 300 ms",
                        yesNo(firstMs <= 300)});
        const double p99 = percentile(m.helloWhileListing, 99);
        rows.push_back({format("7. `/hello` while one client lists 100,000 tracks back to back (%zu probes, %d failed)",
                               m.helloWhileListing.size(), m.helloFailures),
                        format("p99 %.2f ms, p50 %.2f ms, max %.2f ms; %zu lists meanwhile, median %.0f ms", p99,
                               median(m.helloWhileListing), percentile(m.helloWhileListing, 100),
                               m.listsMeanwhile.size(), median(m.listsMeanwhile)),
                        idleAnchor, "p99 ≤ 5 ms",
                        yesNo(p99 <= 5 && m.helloFailures == 0 && m.helloWhileListing.size() >= probesWhileListing)});
        const double ratio = median(m.pairs) / median(m.singles);
        rows.push_back({format("8. two `/getSongList` sent at the same instant, 100,000 tracks: until both are done ÷ "
                               "one alone (medians of %zu, interleaved)", m.pairs.size()),
                        format("%.2f× (%.0f ms; peak RSS − before: +%.0f MB)", ratio, median(m.pairs),
                               mb(m.pairGrowthKb)),
                        format("one list alone: %.0f ms", median(m.singles)), "≤ 1.5 × one", yesNo(ratio <= 1.5)});
        rows.push_back({format("9. `/getSongList` after %lld s idle, 100,000 tracks: huge pages on / off (medians of "
                               "%zu each, alternately)", (long long)idlePause.count(), m.idleHuge.size()),
                        format("on %.0f ms, off %.0f ms (on: %s; off: %s ms)", median(m.idleHuge),
                               median(m.idleSmall), each(m.idleHuge).c_str(), each(m.idleSmall).c_str()),
                        format("back to back: %.0f ms", median(m.backToBack)), "on ≤ off (huge pages ship)",
                        yesNo(median(m.idleHuge) <= median(m.idleSmall))});
    }
    if (micro.count("BM_LibrarySurvey") && micro.count("BM_LibrarySurveyFromList")) {
        const double afresh = micro["BM_LibrarySurvey"], fromList = micro["BM_LibrarySurveyFromList"];
        rows.push_back({"10. the window's count of missing files, 100,000-track library, no song file here: from the "
                        "list just made (median of 5)",
                        format("%.0f ms", fromList),
                        format("read afresh, as at start (parse, build and count): %.0f ms", afresh),
                        "well under 1 s (≤ 500 ms)", yesNo(fromList <= 500)});
    }
    if (micro.count("BM_ParseLibrary"))
        rows.push_back({"micro: parse the 10,000-track library (Google Benchmark, median of 5)",
                        format("%.1f ms", micro["BM_ParseLibrary"]), "", "-", "-"});
    if (micro.count("BM_BuildSongList"))
        rows.push_back({"micro: build the body from the parsed 10,000-track library",
                        format("%.1f ms", micro["BM_BuildSongList"]), "", "-", "-"});
    if (micro.count("BM_ParseAndBuild"))
        rows.push_back({"micro: parse + build, 10,000 tracks", format("%.1f ms", micro["BM_ParseAndBuild"]),
                        sizeOf(10000) ? format("end to end over HTTP: %.1f ms", sizeOf(10000)->medianMs) : "", "-",
                        "-"});

    std::printf("\nPellisor performance: %u cores, load average %s at start, %s at the end; server RSS at exit %.0f MB\n\n",
                std::thread::hardware_concurrency(), loadAtStart.c_str(), loadAtEnd.c_str(), mb(finalRssKb));
    std::printf("| Target | Figure | Floor / anchor (same run) | Goal | Met |\n|---|---|---|---|---|\n");
    for (const Row &row : rows)
        std::printf("| %s | %s | %s | %s | %s |\n", row.target.c_str(), row.figure.c_str(), row.anchor.c_str(),
                    row.goal.c_str(), row.met.c_str());
    if (!o.plotData.empty()) {
        std::ofstream out(o.plotData);
        out << "# tracks file_MB list_ms floor_ms rss_before_MB peak_rss_MB peak_minus_before_MB  (load average "
            << loadAtStart << ")\n";
        for (const ListFigures &f : bySize)
            out << f.tracks << ' ' << f.fileMB << ' ' << f.medianMs << ' ' << f.floorMs << ' ' << f.startRssMB << ' '
                << f.peakRssMB << ' ' << f.growthMB << '\n';
        // A second block (gnuplot's index 1): the largest library's first list after a start and two lists at once.
        if (const Responsiveness &m = responsiveness; !m.firstLists.empty())
            out << "\n\n# tracks first_list_after_start_ms two_lists_together_ms one_list_alone_ms\n100000 "
                << median(m.firstLists) << ' ' << median(m.pairs) << ' ' << median(m.singles) << '\n';
    }
    bool allMet = true;
    for (const Row &row : rows)
        allMet = allMet && row.met != "**no**";
    return allMet ? 0 : 1;
}
