// A WHOIS server for tests: listens on ADDRESS port 43 and treats every connection the same
// way, as MODE says. Prints one "R" on standard output once it listens.
//
//   whois_test_server ADDRESS RECORD_FILE MODE [ARGUMENT]
//     iana DIR     reads the query line, answers with DIR/<query> or else DIR/default
//     answer FILE  reads the query line, answers with the file's bytes, closes
//     silent       reads the query line, then sends nothing until the client goes away
//     close        closes each connection at once, reading nothing
//     big BYTES    reads the query line, sends BYTES bytes of text lines, closes
//     reset FILE   reads the query line, sends the file's bytes, then resets the connection
//     stall FILE   reads the query line, sends the file's bytes, then sends nothing more until
//                  the client goes away
//     trickle      reads the query line, then sends one short line every 100 ms until the
//                  client goes away
//
// The bytes of each query read are appended to RECORD_FILE before the answer goes out.
#include <arpa/inet.h>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <netinet/in.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

struct Settings {
    std::string recordFile;
    std::string mode;
    std::string argument;
};

std::mutex g_recordLock;

std::string ReadFile(const std::string &path, bool *found = nullptr)
{
    std::ifstream in(path, std::ios::binary);
    if (found)
        *found = bool(in);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Reads up to the first line feed (or end of stream, or 5 s of nothing), as the query.
std::string ReadQuery(int fd)
{
    timeval timeout{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    std::string query;
    char c;
    while (query.size() < 4096 && ::recv(fd, &c, 1, 0) == 1) {
        query.push_back(c);
        if (c == '\n')
            break;
    }
    return query;
}

void Record(const Settings &settings, const std::string &query)
{
    const std::lock_guard<std::mutex> lock(g_recordLock);
    std::ofstream out(settings.recordFile, std::ios::binary | std::ios::app);
    out << query;
}

void SendAll(int fd, const std::string &bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return; // the client went away
        sent += std::size_t(n);
    }
}

std::string IanaAnswer(const std::string &dir, std::string query)
{
    while (!query.empty() && (query.back() == '\n' || query.back() == '\r'))
        query.pop_back();
    bool found = false;
    std::string answer;
    if (!query.empty() && query.find('/') == std::string::npos)
        answer = ReadFile(dir + "/" + query, &found);
    return found ? answer : ReadFile(dir + "/default");
}

std::string BigAnswer(std::size_t bytes)
{
    std::string answer;
    answer.reserve(bytes);
    for (int line = 0; answer.size() < bytes; ++line)
        answer += "remarks: line " + std::to_string(line) + " of a very long answer\n";
    answer.resize(bytes);
    return answer;
}

// Reads and drops what the client sends until it closes or fails.
void WaitForClientToLeave(int fd)
{
    timeval forever{0, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &forever, sizeof forever);
    char sink[256];
    while (::recv(fd, sink, sizeof sink, 0) > 0) {
    }
}

// Sends a numbered line every 100 ms until a send fails because the client went away.
void Trickle(int fd)
{
    for (int line = 0;; ++line) {
        const std::string text = "remarks: drip " + std::to_string(line) + "\n";
        if (::send(fd, text.data(), text.size(), MSG_NOSIGNAL) != ssize_t(text.size()))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

void Serve(int fd, const Settings &settings)
{
    if (settings.mode == "close") {
        ::close(fd);
        return;
    }
    const std::string query = ReadQuery(fd);
    Record(settings, query);
    if (settings.mode == "iana") {
        SendAll(fd, IanaAnswer(settings.argument, query));
    } else if (settings.mode == "answer") {
        SendAll(fd, ReadFile(settings.argument));
    } else if (settings.mode == "big") {
        SendAll(fd, BigAnswer(std::strtoul(settings.argument.c_str(), nullptr, 10)));
    } else if (settings.mode == "reset") {
        SendAll(fd, ReadFile(settings.argument));
        linger abort{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    } else if (settings.mode == "silent") {
        WaitForClientToLeave(fd);
    } else if (settings.mode == "stall") {
        SendAll(fd, ReadFile(settings.argument));
        WaitForClientToLeave(fd);
    } else if (settings.mode == "trickle") {
        Trickle(fd);
    }
    ::close(fd);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s ADDRESS RECORD_FILE MODE [ARGUMENT]\n", argv[0]);
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    const Settings settings{argv[2], argv[3], argc > 4 ? argv[4] : ""};
    // ADDRESS is IPv4 or IPv6 text.
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    v4.sin_port = htons(43);
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(43);
    const bool isV6 = std::strchr(argv[1], ':') != nullptr;
    const bool parsed = isV6 ? ::inet_pton(AF_INET6, argv[1], &v6.sin6_addr) == 1 : ::inet_pton(AF_INET, argv[1], &v4.sin_addr) == 1;
    const int listener = ::socket(isV6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    const sockaddr *address = isV6 ? reinterpret_cast<const sockaddr *>(&v6) : reinterpret_cast<const sockaddr *>(&v4);
    if (!parsed || ::bind(listener, address, isV6 ? sizeof v6 : sizeof v4) != 0
        || ::listen(listener, 16) != 0) {
        std::fprintf(stderr, "whois_test_server: cannot listen on %s:43: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    std::fputs("R", stdout);
    std::fflush(stdout);
    for (;;) {
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return 1;
        }
        std::thread(Serve, fd, settings).detach();
    }
}
