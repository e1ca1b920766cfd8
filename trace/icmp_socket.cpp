#include "trace/icmp_socket.h"

#include "trace/icmp_packet.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quokka::trace::icmp {

namespace {

using Clock = std::chrono::steady_clock;

UniqueFd OpenPingSocket()
{
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP));
    const int on = 1;
    if (fd.Valid() && ::setsockopt(fd.Get(), SOL_IP, IP_RECVERR, &on, sizeof on) != 0)
        fd.Reset();
    return fd;
}

// A raw socket sees every ICMP message of the machine. Its filter keeps only the answers
// that carry identifier ID, so the rest is never queued, and a small receive buffer bounds
// what can wait for it.
UniqueFd OpenRawSocket(std::uint16_t id)
{
    UniqueFd fd(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
    if (!fd.Valid())
        return fd;
    std::vector<sock_filter> code = RawSocketFilter(id);
    const sock_fprog program{static_cast<unsigned short>(code.size()), code.data()};
    const int bufferBytes = 16 * 1024;
    if (::setsockopt(fd.Get(), SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) != 0
        || ::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes) != 0)
        fd.Reset();
    return fd;
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
    case EAGAIN:  // the send queue is full: the probe is lost as if the network dropped it
    case ENOBUFS:
    case EINTR:   // Send tries again after a signal; should one still end it, the same
    default:
        return Outcome::NoAnswer;
    }
}

ProbeSocket ProbeSocket::Open(SocketKind kind)
{
    ProbeSocket socket;
    socket.m_kind = kind;
    if (kind == SocketKind::Ping)
        socket.m_fd = OpenPingSocket();
    else if (kind == SocketKind::Raw) {
        socket.m_id = NextRawIdentifier();
        socket.m_fd = OpenRawSocket(socket.m_id);
    }
    if (!socket.m_fd.Valid())
        return socket;
    // Type of service 0 and fragmentation allowed, as the request is described.
    const int tos = 0;
    const int pmtu = IP_PMTUDISC_DONT;
    ::setsockopt(socket.m_fd.Get(), SOL_IP, IP_TOS, &tos, sizeof tos);
    ::setsockopt(socket.m_fd.Get(), SOL_IP, IP_MTU_DISCOVER, &pmtu, sizeof pmtu);
    return socket;
}

Echo ProbeSocket::Probe(std::uint32_t destination, int ttl, std::uint16_t seq, std::chrono::milliseconds timeout)
{
    const auto start = Clock::now();
    if (!m_fd.Valid())
        return {};
    if (const int error = Send(destination, ttl, seq))
        return {OutcomeOfSendError(error)};
    std::uint32_t answeredBy = 0;
    if (!WaitForAnswer(destination, seq, timeout, answeredBy))
        return {};
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    return {Outcome::Answered, answeredBy, int(elapsed.count())};
}

int ProbeSocket::Send(std::uint32_t destination, int ttl, std::uint16_t seq)
{
    DrainPending();
    const int hops = ttl & 0xFF;
    if (::setsockopt(m_fd.Get(), SOL_IP, IP_TTL, &hops, sizeof hops) != 0)
        return errno;
    // On a ping socket the kernel puts in its own identifier and checksum.
    const auto packet = BuildEchoRequest(m_id, seq);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = destination;
    for (;;) {
        const ssize_t sent
            = ::sendto(m_fd.Get(), packet.data(), packet.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
        if (sent == ssize_t(packet.size()))
            return 0;
        if (sent >= 0)
            return EMSGSIZE; // cut short: no whole request left
        if (errno != EINTR)
            return errno;
    }
}

// Throws away whatever arrived since the last probe: late answers and queued errors. A
// pending socket error is reported (and cleared) by the receive that meets it.
void ProbeSocket::DrainPending()
{
    unsigned char buffer[1500];
    for (const int flags : {int(MSG_DONTWAIT | MSG_ERRQUEUE), int(MSG_DONTWAIT)}) {
        for (int i = 0; i < 1024; ++i) {
            if (::recv(m_fd.Get(), buffer, sizeof buffer, flags) < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;
        }
    }
}

bool ProbeSocket::WaitForAnswer(std::uint32_t destination, std::uint16_t seq, std::chrono::milliseconds timeout,
                                std::uint32_t &answeredBy)
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd pfd{m_fd.Get(), POLLIN, 0};
        const int ready = ::poll(&pfd, 1, int(left));
        if (ready < 0 && errno != EINTR)
            return false;
        if (ready <= 0)
            continue;
        if ((pfd.revents & POLLERR) && ReadErrorQueue(destination, seq, answeredBy))
            return true;
        if ((pfd.revents & POLLIN) && ReadAnswer(destination, seq, answeredBy))
            return true;
    }
}

// A ping socket receives time-exceeded and unreachable reports on its error queue.
bool ProbeSocket::ReadErrorQueue(std::uint32_t destination, std::uint16_t seq, std::uint32_t &answeredBy)
{
    bool answered = false;
    for (;;) {
        unsigned char data[576];
        unsigned char control[512];
        sockaddr_in from{};
        iovec io{data, sizeof data};
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = sizeof from;
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(m_fd.Get(), &message, MSG_ERRQUEUE | MSG_DONTWAIT);
        if (n < 0)
            break;
        for (cmsghdr *c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level != SOL_IP || c->cmsg_type != IP_RECVERR)
                continue;
            const auto *error = reinterpret_cast<const sock_extended_err *>(CMSG_DATA(c));
            if (error->ee_origin != SO_EE_ORIGIN_ICMP || answered)
                continue;
            // The message's name is the destination the quoted request was sent to.
            const std::uint32_t original = message.msg_namelen >= sizeof from ? from.sin_addr.s_addr : 0;
            if (!QuotesEchoRequest({data, std::size_t(n)}, original, {m_id, seq, destination}))
                continue;
            sockaddr_in offender{};
            std::memcpy(&offender, SO_EE_OFFENDER(error), sizeof offender);
            answeredBy = offender.sin_addr.s_addr;
            answered = true;
        }
    }
    if (m_kind == SocketKind::Raw) {
        int pending = 0;
        socklen_t length = sizeof pending;
        ::getsockopt(m_fd.Get(), SOL_SOCKET, SO_ERROR, &pending, &length);
    }
    return answered;
}

bool ProbeSocket::ReadAnswer(std::uint32_t destination, std::uint16_t seq, std::uint32_t &answeredBy)
{
    for (;;) {
        unsigned char data[1500];
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = ::recvfrom(m_fd.Get(), data, sizeof data, MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr *>(&from), &fromLength);
        if (n < 0)
            return false; // nothing more queued, or a pending error that the error queue holds
        const std::span<const std::uint8_t> bytes(data, std::size_t(n));
        if (m_kind == SocketKind::Ping) {
            if (IsEchoReplyTo(bytes, from.sin_addr.s_addr, {m_id, seq, destination})) {
                answeredBy = from.sin_addr.s_addr;
                return true;
            }
        } else if (const auto source = AnswerFromRawPacket(bytes, {m_id, seq, destination})) {
            answeredBy = *source;
            return true;
        }
    }
}

} // namespace quokka::trace::icmp
