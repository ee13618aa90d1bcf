// SPDX-License-Identifier: GPL-3.0-or-later
// Soak: the real executable under 50 concurrent loopback clients and 20,000 mixed requests (song lists, downloads,
// "/hello", unknown tracks and paths, bytes that are not HTTP, downloads abandoned half way), while 1,000 more
// connections say nothing until the server's header time limit closes them without a word. Every answer is checked
// against what it must carry: each list against a body computed here from the library this program writes, each
// download against the file's bytes. At the end the server's sockets and open files and its memory must be back
// where they started. Prints a table of figures; exits 1 when anything was wrong.
//
//   soak <pellisor executable> [requests] [clients]
//
// It runs the executable with a home folder of its own, so it needs port 4556 free. Plain C++ and POSIX on
// purpose: of the project it shares only the rule for which songs a handset is given, so that the lists it expects
// cannot drift from the server's.

#include "../library/PlayableTrack.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <random>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int port = 4556;
constexpr int trackCount = 240;
// Past this nothing new starts; every request in flight still has its own time limit.
constexpr auto issueDeadline = std::chrono::minutes(4);
constexpr int answerTimeoutMs = 30000;
constexpr int silentConnections = 1000;

// ---- The library ---------------------------------------------------------------------------------------------

struct Track
{
    int id;
    std::string name, artist, album; // album empty: the list says "Unknown Album"
    std::string fileName;            // as on disk, UTF-8
    std::size_t size;
    bool playable;                   // listed and downloadable
    bool disabled;
};

unsigned char songByte(int id, std::size_t i)
{
    return static_cast<unsigned char>((i * 31 + std::size_t(id) * 17 + (i >> 12)) & 0xff);
}

std::vector<Track> makeTracks()
{
    std::vector<Track> tracks;
    for (int k = 0; k < trackCount; ++k) {
        Track t;
        t.id = 1000 + k;
        t.name = k % 9 == 0 ? " Caf\xc3\xa9 & <Bar> " + std::to_string(k) + " " : "Song " + std::to_string(k);
        t.artist = k % 5 == 0 ? "" : "Artist " + std::to_string(k % 13);
        t.album = k % 4 == 0 ? "" : "Album & Co " + std::to_string(k % 17);
        const bool lossless = k % 7 == 3;
        t.disabled = k % 11 == 5;
        static const char *const extensions[] = {".mp3", ".m4a", ".aac", ".wav", ".wma"};
        t.fileName = (k % 6 == 1 ? "r\xc3\xa9sum\xc3\xa9 & more " : "track ") + std::to_string(k)
                     + (lossless ? ".flac" : extensions[k % 5]);
        // Where writeHome() puts the file does not change what the rule says of its name.
        t.playable = PlayableTrack::isPlayable(t.disabled, "file://localhost/Media/" + t.fileName);
        t.size = k % 10 == 0 ? (std::size_t(4) << 20) + std::size_t(k) : std::size_t(16 * 1024 + k * 2731);
        tracks.push_back(t);
    }
    return tracks;
}

std::string xmlEscaped(const std::string &text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string percentEncoded(const std::string &path)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string songBytes(const Track &t)
{
    std::string bytes(t.size, '\0');
    for (std::size_t i = 0; i < t.size; ++i)
        bytes[i] = char(songByte(t.id, i));
    return bytes;
}

void writeHome(const fs::path &home, const std::vector<Track> &tracks)
{
    fs::create_directories(home / "Media");
    fs::create_directories(home / "Music/iTunes");
    std::ostringstream xml;
    xml << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple Computer//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">\n<dict>\n"
           "\t<key>Major Version</key><integer>1</integer>\n\t<key>Tracks</key>\n\t<dict>\n";
    for (const Track &t : tracks) {
        const fs::path file = home / "Media" / t.fileName;
        const std::string bytes = songBytes(t);
        std::ofstream(file, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));

        xml << "\t\t<key>" << t.id << "</key>\n\t\t<dict>\n\t\t\t<key>Track ID</key><integer>" << t.id
            << "</integer>\n\t\t\t<key>Name</key><string>" << xmlEscaped(t.name) << "</string>\n";
        if (!t.artist.empty())
            xml << "\t\t\t<key>Artist</key><string>" << xmlEscaped(t.artist) << "</string>\n";
        if (!t.album.empty())
            xml << "\t\t\t<key>Album</key><string>" << xmlEscaped(t.album) << "</string>\n";
        if (t.disabled)
            xml << "\t\t\t<key>Disabled</key><true/>\n";
        xml << "\t\t\t<key>Location</key><string>file://localhost" << xmlEscaped(percentEncoded(file.string()))
            << "</string>\n\t\t</dict>\n";
    }
    xml << "\t</dict>\n\t<key>Playlists</key>\n\t<array/>\n</dict>\n</plist>\n";
    std::ofstream(home / "Music/iTunes/iTunes Music Library.xml") << xml.str();
}

// The list as the handset must receive it, worked out from the tracks themselves: markup characters as entities,
// white space trimmed, and the one non-ASCII letter used here (é) as its base letter.
std::string listField(const std::string &text)
{
    std::string ascii;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "\xc3\xa9") == 0) {
            ascii += 'e';
            ++i;
        } else {
            ascii += text[i];
        }
    }
    std::string encoded = xmlEscaped(ascii);
    const auto first = encoded.find_first_not_of(" \t\r\n");
    const auto last = encoded.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? std::string() : encoded.substr(first, last - first + 1);
}

std::string expectedList(const std::vector<Track> &tracks)
{
    std::string body = "<songs>\r\n";
    for (const Track &t : tracks) {
        if (!t.playable)
            continue;
        body += "<song><trackid>" + std::to_string(t.id) + "</trackid><name>" + listField(t.name) + "</name><album>"
                + (t.album.empty() ? "Unknown Album" : listField(t.album)) + "</album><artist>"
                + (t.artist.empty() ? "Unknown Artist" : listField(t.artist)) + "</artist><filename>"
                + listField(t.fileName) + "</filename></song>\r\n";
    }
    return body + "</songs>";
}

std::string head(int code, const char *reason, std::size_t length)
{
    return "HTTP/1.1 " + std::to_string(code) + " " + reason
           + "\r\nContent-Type: text/plain\r\nConnection: close\r\nContent-Length: " + std::to_string(length)
           + "\r\n\r\n";
}

// ---- The client ----------------------------------------------------------------------------------------------

int connectToServer()
{
    const int descriptor = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(descriptor, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(descriptor);
        return -1;
    }
    return descriptor;
}

bool sendAll(int descriptor, const std::string &bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(descriptor, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += std::size_t(n);
    }
    return true;
}

struct Received
{
    std::string bytes;
    bool ended = false; // the server closed (or reset) the connection
    bool reset = false;
};

// Reads until the server ends the stream, `limit` bytes have come, or the time is up.
Received receive(int descriptor, std::size_t limit = std::string::npos)
{
    Received r;
    char buffer[64 * 1024];
    const auto deadline = Clock::now() + std::chrono::milliseconds(answerTimeoutMs);
    while (r.bytes.size() < limit && Clock::now() < deadline) {
        pollfd readable{descriptor, POLLIN, 0};
        if (::poll(&readable, 1, 200) <= 0)
            continue;
        const ssize_t n = ::recv(descriptor, buffer, std::min(sizeof buffer, limit - r.bytes.size()), 0);
        if (n > 0) {
            r.bytes.append(buffer, std::size_t(n));
        } else if (n == 0 || errno != EINTR) {
            r.ended = true;
            r.reset = n < 0 && errno == ECONNRESET;
            break;
        }
    }
    return r;
}

// ---- The run -------------------------------------------------------------------------------------------------

enum Kind { List, ListBB10, Download, Hello, UnknownTrack, UnknownPath, NotHTTP, Abandoned, KindCount };
const char *const kindNames[] = {"list",       "list bb10",    "download", "hello",
                                 "unknown id", "unknown path", "not HTTP", "abandoned download"};
// Out of 100 requests.
constexpr int kindWeights[] = {18, 5, 35, 15, 5, 5, 7, 10};

struct KindStats
{
    long count = 0;
    long wrong = 0;      // answered, but not exactly as it must be
    long lost = 0;       // no answer, or a cut one, to a request that deserved one
    long wrongBytes = 0; // bytes that differ from what was due, or are missing
    long long bytes = 0; // received
    std::vector<double> millis;
};

struct Shared
{
    std::vector<Track> tracks;
    std::vector<const Track *> playable;
    std::map<int, std::string> downloadAnswers; // by track ID: head and file bytes, made once
    std::string listAnswer;
    std::atomic<long> next{0};
    long total = 0;
    Clock::time_point stopIssuing;
    std::mutex lock;
    KindStats stats[KindCount];
    std::vector<std::string> firstProblems;
};

long differingBytes(const std::string &got, const std::string &due)
{
    long diff = long(std::max(got.size(), due.size()) - std::min(got.size(), due.size()));
    for (std::size_t i = 0; i < std::min(got.size(), due.size()); ++i)
        diff += got[i] != due[i];
    return diff;
}

void runOne(Shared &shared, Kind kind, std::mt19937 &random)
{
    const Track &song = *shared.playable[random() % shared.playable.size()];
    std::string request;
    std::string due; // the whole answer that must come back; empty for none
    switch (kind) {
    case List: request = "GET /getSongList HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"; due = shared.listAnswer; break;
    case ListBB10: request = "GET /getSongList?device=bb10 HTTP/1.1\r\n\r\n"; due = shared.listAnswer; break;
    case Download:
    case Abandoned:
        request = "GET /getSong?xx=" + std::to_string(song.id) + " HTTP/1.1\r\n\r\n";
        due = shared.downloadAnswers.at(song.id);
        break;
    case Hello: request = "GET /hello HTTP/1.1\r\n\r\n"; due = head(200, "OK", 6) + "Hello!"; break;
    case UnknownTrack: {
        const std::string id = std::to_string(5000 + random() % 1000);
        const std::string message = "An unexpected error occurred sending the song '" + id + "': No song with track ID '"
                                    + id + "' could be found.";
        request = "GET /getSong?xx=" + id + " HTTP/1.1\r\n\r\n";
        due = head(400, "Bad Request", message.size()) + message;
        break;
    }
    case UnknownPath: request = "GET /nothing/<b>\"x\" HTTP/1.1\r\n\r\n"; break;
    case NotHTTP:
        request = random() % 2 ? std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11)
                               : "GET / HTTP/1.1\r\nthis is no header line\r\n\r\n";
        break;
    case KindCount: break;
    }

    const auto start = Clock::now();
    const int descriptor = connectToServer();
    Received r;
    bool sent = descriptor >= 0 && sendAll(descriptor, request);
    if (sent) {
        if (kind == Abandoned) {
            r = receive(descriptor, 64 * 1024 + random() % (256 * 1024));
            if (random() % 2) {
                const linger abortive{1, 0}; // a reset instead of an orderly close
                ::setsockopt(descriptor, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
            }
        } else {
            r = receive(descriptor);
        }
    }
    if (descriptor >= 0)
        ::close(descriptor);
    const double millis = std::chrono::duration<double, std::milli>(Clock::now() - start).count();

    std::string problem;
    bool lost = false;
    long wrongBytes = 0;
    switch (kind) {
    case UnknownPath:
        if (!r.ended || r.bytes.rfind("HTTP/1.1 501 Not Implemented\r\n", 0) != 0)
            lost = true;
        else if (r.bytes.find("<b>") != std::string::npos || r.bytes.find("\"x\"") != std::string::npos)
            problem = "the 501 page carries the request's markup";
        break;
    case NotHTTP:
        if (!r.ended || !r.bytes.empty())
            problem = "bytes that are not HTTP got an answer, or the connection stayed open";
        break;
    case Abandoned:
        if (!r.bytes.empty() && due.compare(0, r.bytes.size(), r.bytes) != 0) {
            wrongBytes = differingBytes(r.bytes, due.substr(0, r.bytes.size()));
            problem = "an abandoned download's first bytes are wrong";
        }
        break;
    default:
        if (!sent || !r.ended || r.bytes.size() < due.size()) {
            lost = true;
            wrongBytes = differingBytes(r.bytes, due);
        } else if (r.bytes != due) {
            wrongBytes = differingBytes(r.bytes, due);
            problem = "answer differs from what is due";
        }
        break;
    }

    const std::lock_guard guard(shared.lock);
    KindStats &stats = shared.stats[kind];
    ++stats.count;
    stats.bytes += (long long)r.bytes.size();
    stats.millis.push_back(millis);
    stats.wrongBytes += wrongBytes;
    if (lost) {
        ++stats.lost;
        problem = "no whole answer (" + std::to_string(r.bytes.size()) + " of " + std::to_string(due.size())
                  + " bytes" + (r.reset ? ", reset" : "") + ")";
    } else if (!problem.empty()) {
        ++stats.wrong;
    }
    if (!problem.empty() && shared.firstProblems.size() < 10)
        shared.firstProblems.push_back(std::string(kindNames[kind]) + ": " + problem);
}

void client(Shared &shared, unsigned seed)
{
    std::mt19937 random(seed);
    while (shared.next++ < shared.total && Clock::now() < shared.stopIssuing) {
        int pick = int(random() % 100);
        int kind = 0;
        while (pick >= kindWeights[kind])
            pick -= kindWeights[kind++];
        runOne(shared, Kind(kind), random);
    }
}

// ---- The server process --------------------------------------------------------------------------------------

struct ProcessFigures
{
    long descriptors = -1;
    long rssKilobytes = -1;
    long cpuMillis = -1;
};

ProcessFigures figuresOf(pid_t pid)
{
    ProcessFigures f;
    // Only sockets and files count: a worker thread holds an event descriptor (anon_inode:[eventfd]) until the pool
    // lets it expire, long after the load, and that is the pool's bookkeeping, not a leak.
    std::error_code error;
    long count = 0;
    for (fs::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", error), end; !error && it != end;
         it.increment(error)) {
        std::error_code gone;
        const std::string target = fs::read_symlink(it->path(), gone).string();
        count += !gone && (target.rfind("socket:", 0) == 0 || target.rfind('/', 0) == 0);
    }
    f.descriptors = error ? -1 : count;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0)
            f.rssKilobytes = std::atol(line.c_str() + 6);
    }
    std::ifstream statFile("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    for (int i = 0; i < 13 && fields >> field; ++i) {
        if (i >= 11)
            ticks += std::atol(field.c_str()); // utime, stime
    }
    f.cpuMillis = ticks * 1000 / ::sysconf(_SC_CLK_TCK);
    return f;
}

bool portAnswers()
{
    const int descriptor = connectToServer();
    if (descriptor < 0)
        return false;
    ::close(descriptor);
    return true;
}

pid_t launch(const std::string &executable, const fs::path &home)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", home.c_str(), 1);
        ::unsetenv("DISPLAY");
        ::unsetenv("WAYLAND_DISPLAY");
        ::execl(executable.c_str(), executable.c_str(), static_cast<char *>(nullptr));
        std::perror("exec");
        std::_Exit(127);
    }
    return pid;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(p * double(values.size())))];
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <pellisor executable> [requests] [clients]\n", argv[0]);
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    // Both ends of every silent connection count against a limit, here and in the server, which inherits it.
    rlimit descriptorLimit{};
    ::getrlimit(RLIMIT_NOFILE, &descriptorLimit);
    descriptorLimit.rlim_cur = descriptorLimit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &descriptorLimit);
    const long requests = argc > 2 ? std::atol(argv[2]) : 20000;
    const int clients = argc > 3 ? std::atoi(argv[3]) : 50;
    if (portAnswers()) {
        std::fprintf(stderr, "Something already serves port %d; stop it first.\n", port);
        return 2;
    }

    char homeTemplate[] = "/tmp/pellisor-soak-XXXXXX";
    const fs::path home = ::mkdtemp(homeTemplate);
    Shared shared;
    shared.tracks = makeTracks();
    for (const Track &t : shared.tracks) {
        if (t.playable) {
            shared.playable.push_back(&t);
            shared.downloadAnswers[t.id] = head(200, "OK", t.size) + songBytes(t);
        }
    }
    writeHome(home, shared.tracks);
    const std::string body = expectedList(shared.tracks);
    shared.listAnswer = head(200, "OK", body.size()) + body;
    shared.total = requests;

    const pid_t server = launch(argv[1], home);
    const auto launchDeadline = Clock::now() + std::chrono::seconds(20);
    while (!portAnswers() && Clock::now() < launchDeadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!portAnswers()) {
        std::fprintf(stderr, "The server did not start listening on port %d.\n", port);
        ::kill(server, SIGKILL);
        ::waitpid(server, nullptr, 0);
        fs::remove_all(home);
        return 1;
    }

    // One of each first, so that what the server sets up once counts in the starting figures.
    {
        std::mt19937 warmUp(1);
        runOne(shared, List, warmUp);
        runOne(shared, Download, warmUp);
        runOne(shared, Hello, warmUp);
        for (KindStats &stats : shared.stats)
            stats = {};
        shared.firstProblems.clear();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2500)); // the warm-up connections finish lingering
    const ProcessFigures before = figuresOf(server);
    std::vector<int> silent;
    for (int i = 0; i < silentConnections; ++i) {
        if (const int descriptor = connectToServer(); descriptor >= 0)
            silent.push_back(descriptor);
    }

    std::atomic<bool> sampling = true;
    long peakDescriptors = before.descriptors;
    long peakRss = before.rssKilobytes;
    std::thread sampler([&] {
        while (sampling) {
            const ProcessFigures now = figuresOf(server);
            peakDescriptors = std::max(peakDescriptors, now.descriptors);
            peakRss = std::max(peakRss, now.rssKilobytes);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });

    const auto start = Clock::now();
    shared.stopIssuing = start + issueDeadline;
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i)
        threads.emplace_back(client, std::ref(shared), unsigned(1000 + i));
    for (std::thread &thread : threads)
        thread.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

    // Each silent connection is still open or was closed by the server; none may have received a byte.
    long silentClosed = 0, silentAnswered = 0;
    for (const int descriptor : silent) {
        char byte;
        const ssize_t n = ::recv(descriptor, &byte, 1, MSG_DONTWAIT);
        silentAnswered += n > 0;
        silentClosed += n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
        ::close(descriptor);
    }

    // Connections end with a short linger on the server's side; give them that and a little more.
    ProcessFigures after = figuresOf(server);
    const auto settleDeadline = Clock::now() + std::chrono::seconds(10);
    while (after.descriptors > before.descriptors && Clock::now() < settleDeadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        after = figuresOf(server);
    }
    sampling = false;
    sampler.join();

    ::kill(server, SIGTERM);
    int status = 0;
    ::waitpid(server, &status, 0);
    const bool cleanExit = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    fs::remove_all(home);

    long answered = 0, wrong = 0, lost = 0, wrongBytes = 0;
    long long bytes = 0;
    std::vector<double> all;
    std::printf("\n%-20s %8s %7s %6s %11s %9s %9s %9s %10s\n", "request", "count", "wrong", "lost", "wrong bytes",
                "p50 ms", "p99 ms", "max ms", "MB in");
    for (int k = 0; k < KindCount; ++k) {
        const KindStats &s = shared.stats[k];
        std::printf("%-20s %8ld %7ld %6ld %11ld %9.1f %9.1f %9.1f %10.1f\n", kindNames[k], s.count, s.wrong, s.lost,
                    s.wrongBytes, percentile(s.millis, 0.5), percentile(s.millis, 0.99), percentile(s.millis, 1.0),
                    double(s.bytes) / 1e6);
        answered += s.count;
        wrong += s.wrong;
        lost += s.lost;
        wrongBytes += s.wrongBytes;
        bytes += s.bytes;
        all.insert(all.end(), s.millis.begin(), s.millis.end());
    }
    std::printf("%-20s %8ld %7ld %6ld %11ld %9.1f %9.1f %9.1f %10.1f\n\n", "all", answered, wrong, lost, wrongBytes,
                percentile(all, 0.5), percentile(all, 0.99), percentile(all, 1.0), double(bytes) / 1e6);

    const long rssGrowth = after.rssKilobytes - before.rssKilobytes;
    std::printf("clients %d, requests %ld in %.1f s: %.0f requests/s, %.0f MB/s received\n", clients, answered,
                seconds, double(answered) / seconds, double(bytes) / 1e6 / seconds);
    std::printf("server CPU %.1f s; sockets and files open: %ld at start, %ld at peak, %ld at end\n",
                double(after.cpuMillis - before.cpuMillis) / 1000, before.descriptors, peakDescriptors,
                after.descriptors);
    std::printf("server memory (RSS) %.1f MB at start, %.1f MB at peak, %.1f MB at end; exit on SIGTERM %s\n",
                double(before.rssKilobytes) / 1024, double(peakRss) / 1024, double(after.rssKilobytes) / 1024,
                cleanExit ? "clean (0)" : "NOT clean");
    std::printf("silent connections: %zu held, %ld closed by the server, %ld answered\n", silent.size(), silentClosed,
                silentAnswered);
    for (const std::string &problem : shared.firstProblems)
        std::printf("problem: %s\n", problem.c_str());

    // Memory given back to the heap is not always given back to the system: a little growth is the allocator's.
    constexpr long rssSlackKilobytes = 16 * 1024;
    const bool ok = answered == requests && wrong == 0 && lost == 0 && wrongBytes == 0
                    && silent.size() == std::size_t(silentConnections) && silentAnswered == 0
                    && after.descriptors == before.descriptors && rssGrowth <= rssSlackKilobytes && cleanExit;
    std::printf("%s\n", ok ? "soak: passed" : "soak: FAILED");
    return ok ? 0 : 1;
}
