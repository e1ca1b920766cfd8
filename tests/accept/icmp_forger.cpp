// A hostile neighbour for route-tracing tests. Watches the echo requests that leave on
// INTERFACE and answers each at once with forged ICMP packets that must not count as an
// answer (wrong identifier, wrong sequence, truncated or garbage quoted headers, a quoted
// datagram of another protocol, an echo reply with our identifier and sequence from another
// source, a report quoting our request as sent to another destination), and 450 ms later with
// exactly matching ones, which come too late. Each kind comes from a source address of its own
// (198.51.100.201 to .209, .211, .212), so a forged hop shows which kind got through. On
// SIGTERM or SIGINT it prints how many packets of each kind it sent. With --in-time it also answers each request at once with a matching
// time-exceeded report from 198.51.100.210: a control that shows forgeries do reach the tracer.
// ICMPv6 echo requests get the same forgeries in ICMPv6, from 2001:db8:ff::201 to ::212, and
// a report quoting a header that claims an extension header (::213); with --wrong-version
// also one whose quoted header claims another IP version (::214), which the kernel itself
// passes to ICMPv6 ping sockets, whose reports it matches without showing the quoted header.
//   icmp_forger INTERFACE [--in-time] [--wrong-version]
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <linux/if_packet.h>
#include <map>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

volatile std::sig_atomic_t g_stop = 0;

class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() { if (m_fd >= 0) ::close(m_fd); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

// What the forger learnt from one outgoing echo request.
struct Request {
    bool v6 = false;
    Bytes client6;            // the IPv6 client's address
    std::uint32_t client = 0; // network byte order
    std::uint16_t id = 0, seq = 0;
    Bytes quoted; // its IP header and first 8 ICMP bytes, as a router would quote them
};

struct Forgery {
    Clock::time_point due;
    std::string kind;
    Bytes packet;
};

std::uint16_t Checksum(const std::uint8_t *data, std::size_t size)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        sum += std::uint32_t(data[i] << 8 | data[i + 1]);
    if (size % 2)
        sum += std::uint32_t(data[size - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return std::uint16_t(~sum);
}

Bytes Concat(const Bytes &a, const Bytes &b)
{
    Bytes joined(a.size() + b.size());
    std::memcpy(joined.data(), a.data(), a.size());
    std::memcpy(joined.data() + a.size(), b.data(), b.size());
    return joined;
}

void Put16(Bytes &b, std::size_t at, std::uint16_t v)
{
    b[at] = std::uint8_t(v >> 8);
    b[at + 1] = std::uint8_t(v);
}

// An IPv4 packet from FROM (last octet of 198.51.100.x) to the client carrying ICMP MESSAGE.
Bytes IpPacket(int from, std::uint32_t to, Bytes message)
{
    const std::uint16_t sum = Checksum(message.data(), message.size());
    Put16(message, 2, sum);
    Bytes p(20, 0);
    p[0] = 0x45;
    Put16(p, 2, std::uint16_t(20 + message.size()));
    p[8] = 64;
    p[9] = IPPROTO_ICMP;
    const std::uint32_t source = htonl((198U << 24) | (51U << 16) | (100U << 8) | std::uint32_t(from));
    std::memcpy(&p[12], &source, 4);
    std::memcpy(&p[16], &to, 4);
    Put16(p, 10, Checksum(p.data(), 20));
    return Concat(p, message);
}

Bytes EchoReply(std::uint16_t id, std::uint16_t seq)
{
    Bytes m(8 + 32, 0);
    Put16(m, 4, id);
    Put16(m, 6, seq);
    std::memcpy(&m[8], "Data Buffer", 11);
    return m;
}

Bytes TimeExceeded(const Bytes &quoted)
{
    Bytes m(8, 0);
    m[0] = 11;
    return Concat(m, quoted);
}

// The quoted request with its ICMP identifier or sequence changed.
Bytes QuotedWith(const Request &r, std::uint16_t id, std::uint16_t seq)
{
    Bytes q = r.quoted;
    const std::size_t icmp = std::size_t(q[0] & 0x0F) * 4;
    Put16(q, icmp + 4, id);
    Put16(q, icmp + 6, seq);
    return q;
}

// The quoted request as if it had been sent to another destination.
Bytes QuotedToAnother(const Request &r)
{
    Bytes q = r.quoted;
    const std::size_t header = std::size_t(q[0] & 0x0F) * 4;
    q[19] ^= 0x5A;
    Put16(q, 10, 0);
    Put16(q, 10, Checksum(q.data(), header));
    return q;
}

std::vector<Forgery> ForgeriesFor(const Request &r, bool inTime)
{
    const auto now = Clock::now();
    const auto late = now + std::chrono::milliseconds(450);
    const std::uint16_t otherId = std::uint16_t(r.id ^ 0x5A5A), otherSeq = std::uint16_t(r.seq + 0x300);
    Bytes truncated(r.quoted.begin(), r.quoted.end() - 4);
    Bytes longHeader = r.quoted;
    longHeader[0] = 0x4F; // claims a 60-byte header that is not there
    Bytes shortHeader = r.quoted;
    shortHeader[0] = 0x43; // claims a 12-byte header, shorter than any
    const Bytes junk(r.quoted.size(), 0xA5);
    Bytes udp = r.quoted;
    udp[9] = IPPROTO_UDP;
    std::vector<Forgery> forgeries;
    if (inTime)
        forgeries.push_back({now, "in-time-time-exceeded", IpPacket(210, r.client, TimeExceeded(r.quoted))});
    forgeries.insert(forgeries.end(), {
        {now, "echo-reply-wrong-id", IpPacket(201, r.client, EchoReply(otherId, r.seq))},
        {now, "echo-reply-wrong-seq", IpPacket(202, r.client, EchoReply(r.id, otherSeq))},
        {now, "time-exceeded-wrong-id", IpPacket(203, r.client, TimeExceeded(QuotedWith(r, otherId, r.seq)))},
        {now, "time-exceeded-wrong-seq", IpPacket(204, r.client, TimeExceeded(QuotedWith(r, r.id, otherSeq)))},
        {now, "time-exceeded-truncated", IpPacket(205, r.client, TimeExceeded(truncated))},
        {now, "time-exceeded-garbage", IpPacket(206, r.client, TimeExceeded(longHeader))},
        {now, "time-exceeded-garbage", IpPacket(206, r.client, TimeExceeded(shortHeader))},
        {now, "time-exceeded-garbage", IpPacket(206, r.client, TimeExceeded(junk))},
        {now, "time-exceeded-quoting-udp", IpPacket(207, r.client, TimeExceeded(udp))},
        {now, "echo-reply-other-source", IpPacket(211, r.client, EchoReply(r.id, r.seq))},
        {now, "time-exceeded-other-destination", IpPacket(212, r.client, TimeExceeded(QuotedToAnother(r)))},
        {late, "late-echo-reply", IpPacket(208, r.client, EchoReply(r.id, r.seq))},
        {late, "late-time-exceeded", IpPacket(209, r.client, TimeExceeded(r.quoted))},
    });
    return forgeries;
}

// --- ICMPv6 ---------------------------------------------------------------------------------

// An IPv6 packet from 2001:db8:ff::FROM (FROM in hexadecimal digits as written) to TO
// carrying ICMPv6 MESSAGE, its checksum over the pseudo-header filled in.
Bytes Ip6Packet(int from, const Bytes &to, Bytes message)
{
    Bytes p(40, 0);
    p[0] = 0x60;
    Put16(p, 4, std::uint16_t(message.size()));
    p[6] = IPPROTO_ICMPV6;
    p[7] = 64;
    const std::uint8_t source[16] = {0x20, 0x01, 0x0d, 0xb8, 0x00, 0xff, 0, 0, 0, 0, 0, 0, 0, 0,
                                     std::uint8_t(from / 100), std::uint8_t(from % 100 / 10 * 16 + from % 10)};
    std::memcpy(&p[8], source, 16);
    std::memcpy(&p[24], to.data(), 16);
    Bytes pseudo(p.begin() + 8, p.begin() + 40);
    pseudo.insert(pseudo.end(), {0, 0, std::uint8_t(message.size() >> 8), std::uint8_t(message.size()), 0, 0, 0,
                                 IPPROTO_ICMPV6});
    pseudo.insert(pseudo.end(), message.begin(), message.end());
    Put16(message, 2, Checksum(pseudo.data(), pseudo.size()));
    return Concat(p, message);
}

std::vector<Forgery> Forgeries6For(const Request &r, bool inTime, bool wrongVersion)
{
    const auto now = Clock::now();
    const auto late = now + std::chrono::milliseconds(450);
    const std::uint16_t otherId = std::uint16_t(r.id ^ 0x5A5A), otherSeq = std::uint16_t(r.seq + 0x300);
    const auto reply = [](std::uint16_t id, std::uint16_t seq) {
        Bytes m = EchoReply(id, seq);
        m[0] = 129;
        return m;
    };
    const auto timeExceeded = [](const Bytes &quoted) {
        Bytes m = TimeExceeded(quoted);
        m[0] = 3;
        return m;
    };
    const auto quotedWith = [&r](std::uint16_t id, std::uint16_t seq) {
        Bytes q = r.quoted;
        Put16(q, 40 + 4, id);
        Put16(q, 40 + 6, seq);
        return q;
    };
    Bytes truncated(r.quoted.begin(), r.quoted.end() - 4);
    Bytes extension = r.quoted;
    extension[6] = 0; // a hop-by-hop options header that is not there
    Bytes notV6 = r.quoted;
    notV6[0] = 0x45;
    const Bytes junk(r.quoted.size(), 0xA5);
    Bytes udp = r.quoted;
    udp[6] = IPPROTO_UDP;
    Bytes another = r.quoted;
    another[39] ^= 0x5A;
    const Bytes &to = r.client6;
    std::vector<Forgery> forgeries;
    if (inTime)
        forgeries.push_back({now, "in-time-time-exceeded", Ip6Packet(210, to, timeExceeded(r.quoted))});
    forgeries.insert(forgeries.end(), {
        {now, "echo-reply-wrong-id", Ip6Packet(201, to, reply(otherId, r.seq))},
        {now, "echo-reply-wrong-seq", Ip6Packet(202, to, reply(r.id, otherSeq))},
        {now, "time-exceeded-wrong-id", Ip6Packet(203, to, timeExceeded(quotedWith(otherId, r.seq)))},
        {now, "time-exceeded-wrong-seq", Ip6Packet(204, to, timeExceeded(quotedWith(r.id, otherSeq)))},
        {now, "time-exceeded-truncated", Ip6Packet(205, to, timeExceeded(truncated))},
        {now, "time-exceeded-garbage", Ip6Packet(206, to, timeExceeded(junk))},
        {now, "time-exceeded-extension-header", Ip6Packet(213, to, timeExceeded(extension))},
        {now, "time-exceeded-quoting-udp", Ip6Packet(207, to, timeExceeded(udp))},
        {now, "echo-reply-other-source", Ip6Packet(211, to, reply(r.id, r.seq))},
        {now, "time-exceeded-other-destination", Ip6Packet(212, to, timeExceeded(another))},
        {late, "late-echo-reply", Ip6Packet(208, to, reply(r.id, r.seq))},
        {late, "late-time-exceeded", Ip6Packet(209, to, timeExceeded(r.quoted))},
    });
    if (wrongVersion)
        forgeries.push_back({now, "time-exceeded-not-ipv6", Ip6Packet(214, to, timeExceeded(notV6))});
    return forgeries;
}

// An outgoing ICMPv6 echo request without extension headers, as seen on the interface.
bool ParseRequest6(const std::uint8_t *p, std::size_t n, Request &r)
{
    if (n < 48 || (p[0] >> 4) != 6 || p[6] != IPPROTO_ICMPV6 || p[40] != 128)
        return false;
    r.v6 = true;
    r.client6.assign(p + 8, p + 24);
    r.id = std::uint16_t(p[44] << 8 | p[45]);
    r.seq = std::uint16_t(p[46] << 8 | p[47]);
    r.quoted.assign(p, p + 48);
    return true;
}

// An outgoing IPv4 echo request, as seen on the interface.
bool ParseRequest(const std::uint8_t *p, std::size_t n, Request &r)
{
    if (n < 20 || (p[0] >> 4) != 4 || p[9] != IPPROTO_ICMP)
        return false;
    const std::size_t header = std::size_t(p[0] & 0x0F) * 4;
    if (header < 20 || n < header + 8 || p[header] != 8)
        return false;
    std::memcpy(&r.client, p + 12, 4);
    r.id = std::uint16_t(p[header + 4] << 8 | p[header + 5]);
    r.seq = std::uint16_t(p[header + 6] << 8 | p[header + 7]);
    r.quoted.assign(p, p + header + 8);
    return true;
}

int OpenWatch(const char *interface)
{
    // Outgoing frames reach only sockets of every protocol.
    const int fd = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_ALL));
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_protocol = htons(ETH_P_ALL);
    address.sll_ifindex = int(::if_nametoindex(interface));
    if (fd < 0 || address.sll_ifindex == 0
        || ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        std::perror("icmp_forger: watching the interface");
        return -1;
    }
    return fd;
}

// IPPROTO_RAW on an IPv6 socket: the packets carry their own header.
int OpenInject6()
{
    const int fd = ::socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
    if (fd < 0)
        std::perror("icmp_forger: raw IPv6 socket");
    return fd;
}

int OpenInject()
{
    const int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
    const int on = 1;
    if (fd < 0 || ::setsockopt(fd, IPPROTO_IP, IP_HDRINCL, &on, sizeof on) != 0) {
        std::perror("icmp_forger: raw socket");
        return -1;
    }
    return fd;
}

void Inject(int fd, int fd6, const Forgery &f, std::map<std::string, int> &sent)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    std::memcpy(&to.sin_addr.s_addr, &f.packet[16], 4);
    sockaddr_in6 to6{};
    to6.sin6_family = AF_INET6;
    std::memcpy(&to6.sin6_addr, &f.packet[24], 16);
    const bool v6 = (f.packet[0] >> 4) == 6;
    if (v6 ? ::sendto(fd6, f.packet.data(), f.packet.size(), 0, reinterpret_cast<sockaddr *>(&to6), sizeof to6) > 0
           : ::sendto(fd, f.packet.data(), f.packet.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to) > 0)
        ++sent[f.kind];
    else
        std::perror("icmp_forger: sendto");
}

void OnSignal(int)
{
    g_stop = 1;
}

} // namespace

int main(int argc, char **argv)
{
    bool inTime = false, wrongVersion = false;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--in-time") == 0)
            inTime = true;
        else if (std::strcmp(argv[i], "--wrong-version") == 0)
            wrongVersion = true;
        else
            argc = 0;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: icmp_forger INTERFACE [--in-time] [--wrong-version]\n");
        return 2;
    }
    struct sigaction action{};
    action.sa_handler = OnSignal;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    const Fd watch(OpenWatch(argv[1]));
    const Fd inject(OpenInject());
    const Fd inject6(OpenInject6());
    if (watch.Get() < 0 || inject.Get() < 0 || inject6.Get() < 0)
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    std::deque<Forgery> pending;
    std::map<std::string, int> sent;
    while (!g_stop) {
        while (!pending.empty() && pending.front().due <= Clock::now()) {
            Inject(inject.Get(), inject6.Get(), pending.front(), sent);
            pending.pop_front();
        }
        int wait = 100;
        if (!pending.empty())
            wait = int(std::chrono::duration_cast<std::chrono::milliseconds>(pending.front().due - Clock::now()).count()) + 1;
        pollfd pfd{watch.Get(), POLLIN, 0};
        if (::poll(&pfd, 1, wait) <= 0)
            continue;
        std::uint8_t buffer[2048];
        sockaddr_ll from{};
        socklen_t length = sizeof from;
        const ssize_t n = ::recvfrom(watch.Get(), buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr *>(&from), &length);
        Request request;
        if (n <= 0 || from.sll_pkttype != PACKET_OUTGOING)
            continue;
        const bool v4 = from.sll_protocol == htons(ETH_P_IP) && ParseRequest(buffer, std::size_t(n), request);
        if (!v4 && !(from.sll_protocol == htons(ETH_P_IPV6) && ParseRequest6(buffer, std::size_t(n), request)))
            continue;
        // Forgeries are sent in due order: the late ones go after every earlier forgery.
        for (Forgery &f : request.v6 ? Forgeries6For(request, inTime, wrongVersion) : ForgeriesFor(request, inTime)) {
            if (f.due <= Clock::now())
                Inject(inject.Get(), inject6.Get(), f, sent);
            else
                pending.push_back(std::move(f));
        }
    }
    for (const auto &[kind, count] : sent)
        std::printf("sent %s %d\n", kind.c_str(), count);
    return 0;
}
