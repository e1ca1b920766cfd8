#include "trace/icmp_socket.h"

#include "trace/icmp_packet.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>
#include <linux/errqueue.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace quokka::trace::icmp {

namespace {

UniqueFd OpenPingSocket(bool v6)
{
    UniqueFd fd(v6 ? ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMPV6)
                   : ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP));
    const int on = 1;
    if (fd.Valid()
        && (v6 ? ::setsockopt(fd.Get(), SOL_IPV6, IPV6_RECVERR, &on, sizeof on)
               : ::setsockopt(fd.Get(), SOL_IP, IP_RECVERR, &on, sizeof on))
               != 0)
        fd.Reset();
    return fd;
}

// The raw ICMPv6 socket's type filter: echo replies and the two reports a route gives.
bool FilterIcmp6Types(int fd)
{
    icmp6_filter filter;
    ICMP6_FILTER_SETBLOCKALL(&filter);
    ICMP6_FILTER_SETPASS(ICMP6_ECHO_REPLY, &filter);
    ICMP6_FILTER_SETPASS(ICMP6_TIME_EXCEEDED, &filter);
    ICMP6_FILTER_SETPASS(ICMP6_DST_UNREACH, &filter);
    return ::setsockopt(fd, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter) == 0;
}

// A raw socket sees every ICMP message of the machine. Its filter keeps only the answers
// that carry identifier ID, so the rest is never queued, and a small receive buffer bounds
// what can wait for it.
UniqueFd OpenRawSocket(std::uint16_t id, bool v6)
{
    UniqueFd fd(v6 ? ::socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMPV6)
                   : ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
    if (!fd.Valid())
        return fd;
    if (v6 && !FilterIcmp6Types(fd.Get())) {
        fd.Reset();
        return fd;
    }
    std::vector<sock_filter> code = v6 ? RawSocketFilter6(id) : RawSocketFilter(id);
    const sock_fprog program{static_cast<unsigned short>(code.size()), code.data()};
    const int bufferBytes = 16 * 1024;
    if (::setsockopt(fd.Get(), SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) != 0
        || ::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes) != 0)
        fd.Reset();
    return fd;
}

// One message read from the socket: its bytes, its sender, and its control data (the error
// report, the arrival stamp). Read in place: the header points into the object itself.
struct ReceivedMessage {
    unsigned char data[1500];
    alignas(cmsghdr) unsigned char control[512]; // read as cmsghdr records
    sockaddr_storage from{};
    iovec io{};
    msghdr header{};

    ssize_t Read(int fd, int flags)
    {
        io = {data, sizeof data};
        header = {};
        header.msg_name = &from;
        header.msg_namelen = sizeof from;
        header.msg_iov = &io;
        header.msg_iovlen = 1;
        header.msg_control = control;
        header.msg_controllen = sizeof control;
        return ::recvmsg(fd, &header, flags);
    }
};

// Asks the kernel to stamp each message with when it arrived.
void StampArrivals(int fd)
{
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
}

// When MESSAGE arrived: the kernel's stamp (wall clock) carried over to the steady clock, or
// now when it has none or the wall clock was set meanwhile. Answers are timed by arrival, not
// by when they were read, so a busy machine neither lengthens a round trip nor lets in an
// answer that came after its time-out.
Clock::time_point ArrivalOf(msghdr &message)
{
    timespec wall{};
    ::clock_gettime(CLOCK_REALTIME, &wall);
    const auto now = Clock::now();
    for (cmsghdr *c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS || c->cmsg_len < CMSG_LEN(sizeof(timespec)))
            continue;
        timespec stamp;
        std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
        const auto age = std::chrono::seconds(wall.tv_sec - stamp.tv_sec)
                         + std::chrono::nanoseconds(wall.tv_nsec - stamp.tv_nsec);
        if (age >= Clock::duration::zero() && age < std::chrono::minutes(1))
            return now - std::chrono::duration_cast<Clock::duration>(age);
    }
    return now;
}

std::uint16_t NextRawIdentifier()
{
    static std::atomic<std::uint16_t> counter{0};
    return std::uint16_t(::getpid() * 31 + counter.fetch_add(1) * 7919);
}

} // namespace

Outcome OutcomeOfSendError(int error)
{
    switch (error) {
    case EPERM:  // a firewall rule dropped or rejected it
    case EACCES: // a broadcast address
        return Outcome::NotPermitted;
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENETDOWN:
        return Outcome::NoRoute;
    case kRefusedError:
        return Outcome::Refused;
    case EAGAIN:  // the send queue is full: the probe is lost as if the network dropped it
    case ENOBUFS:
    case EINTR:   // Send tries again after a signal; should one still end it, the same
    default:
        return Outcome::NoAnswer;
    }
}

ProbeSocket ProbeSocket::Open(SocketKind kind, NetAddress::Family family)
{
    ProbeSocket socket;
    socket.m_kind = kind;
    socket.m_family = family == NetAddress::Family::V6 ? family : NetAddress::Family::V4;
    const bool v6 = socket.m_family == NetAddress::Family::V6;
    if (kind == SocketKind::Ping)
        socket.m_fd = OpenPingSocket(v6);
    else if (kind == SocketKind::Raw) {
        socket.m_id = NextRawIdentifier();
        socket.m_fd = OpenRawSocket(socket.m_id, v6);
    }
    if (socket.m_fd.Valid())
        StampArrivals(socket.m_fd.Get());
    if (!socket.m_fd.Valid() || v6)
        return socket;
    // Type of service 0 and fragmentation allowed, as the request is described.
    const int tos = 0;
    const int pmtu = IP_PMTUDISC_DONT;
    ::setsockopt(socket.m_fd.Get(), SOL_IP, IP_TOS, &tos, sizeof tos);
    ::setsockopt(socket.m_fd.Get(), SOL_IP, IP_MTU_DISCOVER, &pmtu, sizeof pmtu);
    return socket;
}

std::optional<InFlightProbes::Probe> InFlightProbes::Take(std::uint16_t seq)
{
    const auto found = m_probes.find(seq);
    if (found == m_probes.end())
        return std::nullopt;
    const Probe probe = found->second;
    m_probes.erase(found);
    return probe;
}

std::vector<std::uint16_t> InFlightProbes::ExpireSentBefore(Clock::time_point limit)
{
    std::vector<std::pair<Clock::time_point, std::uint16_t>> expired;
    for (auto i = m_probes.begin(); i != m_probes.end();) {
        if (i->second.sentAt < limit) {
            expired.emplace_back(i->second.sentAt, i->first);
            i = m_probes.erase(i);
        } else {
            ++i;
        }
    }
    std::sort(expired.begin(), expired.end());
    std::vector<std::uint16_t> sequences;
    sequences.reserve(expired.size());
    for (const auto &probe : expired)
        sequences.push_back(probe.second);
    return sequences;
}

Echo ProbeSocket::Probe(const NetAddress &destination, int ttl, std::uint16_t seq, std::chrono::milliseconds timeout)
{
    if (!m_fd.Valid())
        return {};
    DrainPending();
    if (const SendResult sent = Send(destination, ttl, seq); !sent.Sent())
        return {OutcomeOfSendError(sent.error)};
    const auto deadline = Clock::now() + timeout;
    while (const auto answer = Receive(destination, deadline)) {
        // One that arrived after the time-out is no answer, even when it is read in time.
        if (answer->seq != seq || answer->roundTripMs > double(timeout.count()))
            continue;
        return {Outcome::Answered, answer->node, int(answer->roundTripMs)};
    }
    return {};
}

bool ProbeSocket::SetReceiveBuffer(int bytes)
{
    return ::setsockopt(m_fd.Get(), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0;
}

SendResult ProbeSocket::Send(const NetAddress &destination, int ttl, std::uint16_t seq)
{
    const bool v6 = m_family == NetAddress::Family::V6;
    if (destination.GetFamily() != m_family)
        return {EAFNOSUPPORT, Clock::now()};
    const int hops = ttl & 0xFF;
    if ((v6 ? ::setsockopt(m_fd.Get(), SOL_IPV6, IPV6_UNICAST_HOPS, &hops, sizeof hops)
            : ::setsockopt(m_fd.Get(), SOL_IP, IP_TTL, &hops, sizeof hops))
        != 0)
        return {errno, Clock::now()};
    // On a ping socket the kernel puts in its own identifier and checksum; on an ICMPv6 raw
    // socket its own checksum.
    const auto packet = v6 ? BuildEchoRequest6(m_id, seq) : BuildEchoRequest(m_id, seq);
    sockaddr_storage to{};
    const socklen_t toLength = destination.ToSockaddr(to);
    // An error report that arrived for an earlier probe also leaves its error pending on the
    // socket, and the next send fails with it (and clears it) without sending anything: so a
    // send that fails is tried once more, and only its second failure is this probe's.
    for (int failures = 0;;) {
        // Taken before the request leaves, so no answer can seem to arrive before it.
        const auto at = Clock::now();
        const ssize_t sent
            = ::sendto(m_fd.Get(), packet.data(), packet.size(), 0, reinterpret_cast<sockaddr *>(&to), toLength);
        if (sent == ssize_t(packet.size())) {
            m_inFlight.Add(seq, ttl, at);
            return {0, at};
        }
        if (sent >= 0)
            return {EMSGSIZE, at}; // cut short: no whole request left
        if (errno != EINTR && ++failures == 2)
            return {errno, at};
    }
}

// Throws away whatever arrived since the last probe: late answers and queued errors, and
// the probes in flight. A pending socket error is reported (and cleared) by the receive that
// meets it.
void ProbeSocket::DrainPending()
{
    m_inFlight.Clear();
    m_ready.clear();
    unsigned char buffer[1500];
    for (const int flags : {int(MSG_DONTWAIT | MSG_ERRQUEUE), int(MSG_DONTWAIT)}) {
        for (int i = 0; i < 1024; ++i) {
            if (::recv(m_fd.Get(), buffer, sizeof buffer, flags) < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;
        }
    }
}

std::optional<Answer> ProbeSocket::Receive(const NetAddress &destination, Clock::time_point deadline)
{
    if (!m_fd.Valid())
        return std::nullopt;
    for (;;) {
        if (!m_ready.empty()) {
            const Answer answer = m_ready.front();
            m_ready.pop_front();
            return answer;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left <= std::chrono::milliseconds::zero() || !ReadArrivals(destination, left))
            return std::nullopt;
    }
}

void ProbeSocket::Gather(const NetAddress &destination, Clock::time_point deadline)
{
    if (!m_fd.Valid())
        return;
    for (;;) {
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero() || !ReadArrivals(destination, left))
            return;
    }
}

bool ProbeSocket::ReadArrivals(const NetAddress &destination, std::chrono::nanoseconds wait)
{
    const timespec limit{time_t(wait.count() / 1000000000), long(wait.count() % 1000000000)};
    pollfd pfd{m_fd.Get(), POLLIN, 0};
    const int ready = ::ppoll(&pfd, 1, &limit, nullptr);
    if (ready < 0)
        return errno == EINTR;
    if (ready > 0 && (pfd.revents & POLLERR))
        ReadErrorQueue(destination);
    if (ready > 0 && (pfd.revents & POLLIN))
        ReadAnswers(destination);
    return true;
}

void ProbeSocket::Matched(std::uint16_t seq, const NetAddress &node, AnswerKind kind, Clock::time_point arrival)
{
    if (const auto probe = m_inFlight.Take(seq)) {
        const double ms = std::chrono::duration<double, std::milli>(arrival - probe->sentAt).count();
        m_ready.push_back({seq, probe->ttl, node, ms, kind});
    }
}

// A ping socket receives time-exceeded and unreachable reports on its error queue.
void ProbeSocket::ReadErrorQueue(const NetAddress &destination)
{
    const bool v6 = m_family == NetAddress::Family::V6;
    for (;;) {
        ReceivedMessage received;
        const ssize_t n = received.Read(m_fd.Get(), MSG_ERRQUEUE | MSG_DONTWAIT);
        if (n < 0)
            break;
        msghdr &message = received.header;
        const sockaddr_storage &from = received.from;
        const unsigned char *data = received.data;
        const auto arrival = ArrivalOf(message);
        for (cmsghdr *c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            const bool ours = v6 ? c->cmsg_level == SOL_IPV6 && c->cmsg_type == IPV6_RECVERR
                                 : c->cmsg_level == SOL_IP && c->cmsg_type == IP_RECVERR;
            if (!ours)
                continue;
            sock_extended_err error;
            std::memcpy(&error, CMSG_DATA(c), sizeof error);
            if (error.ee_origin != (v6 ? SO_EE_ORIGIN_ICMP6 : SO_EE_ORIGIN_ICMP))
                continue;
            // The message's name is the destination the quoted request was sent to; the
            // offender, the node that reported, follows the error in the control message.
            const NetAddress original
                = message.msg_namelen > 0 ? NetAddress::FromSockaddr(reinterpret_cast<const sockaddr *>(&from)) : NetAddress();
            const std::span<const std::uint8_t> quoted(data, std::size_t(n));
            std::optional<std::uint16_t> seq;
            if (v6)
                seq = QuotedSequence6(quoted, original, destination);
            else if (original.IsV4())
                seq = QuotedSequence(quoted, original.V4NetworkOrder(), destination.V4NetworkOrder());
            if (!seq)
                continue;
            const std::size_t offenderAt = sizeof(sock_extended_err); // where SO_EE_OFFENDER points
            if (c->cmsg_len < CMSG_LEN(offenderAt + (v6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in))))
                continue;
            sockaddr_storage offender{};
            std::memcpy(&offender, CMSG_DATA(c) + offenderAt, v6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in));
            Matched(*seq, NetAddress::FromSockaddr(reinterpret_cast<sockaddr *>(&offender)),
                    v6 ? ReportKind6(error.ee_type) : ReportKind(error.ee_type), arrival);
            break; // one report per queued error
        }
    }
    if (m_kind == SocketKind::Raw) {
        int pending = 0;
        socklen_t length = sizeof pending;
        ::getsockopt(m_fd.Get(), SOL_SOCKET, SO_ERROR, &pending, &length);
    }
}

void ProbeSocket::ReadAnswers(const NetAddress &destination)
{
    for (;;) {
        ReceivedMessage received;
        const ssize_t n = received.Read(m_fd.Get(), MSG_DONTWAIT);
        if (n < 0)
            return; // nothing more queued, or a pending error that the error queue holds
        const auto arrival = ArrivalOf(received.header);
        const unsigned char *data = received.data;
        const sockaddr_storage &from = received.from;
        const std::span<const std::uint8_t> bytes(data, std::size_t(n));
        const NetAddress source = NetAddress::FromSockaddr(reinterpret_cast<const sockaddr *>(&from));
        if (m_family == NetAddress::Family::V6) {
            if (m_kind == SocketKind::Ping) {
                if (const auto seq = EchoReplySequence6(bytes, source, destination))
                    Matched(*seq, source, AnswerKind::EchoReply, arrival);
            } else if (const auto match = MatchRawMessage6(bytes, source, m_id, destination)) {
                Matched(match->seq, match->node, match->kind, arrival);
            }
        } else if (!destination.IsV4()) {
            continue;
        } else if (m_kind == SocketKind::Ping) {
            if (const auto seq = EchoReplySequence(bytes, source.V4NetworkOrder(), destination.V4NetworkOrder()))
                Matched(*seq, source, AnswerKind::EchoReply, arrival);
        } else if (const auto match = MatchRawPacket(bytes, m_id, destination.V4NetworkOrder())) {
            Matched(match->seq, NetAddress::V4(match->node), match->kind, arrival);
        }
    }
}

} // namespace quokka::trace::icmp
