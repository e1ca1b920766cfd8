#include "trace/icmp_tracer.h"

#include "trace/icmp_packet.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

UniqueFd OpenPingSocket()
{
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP));
    const int on = 1;
    if (fd.valid() && ::setsockopt(fd.get(), SOL_IP, IP_RECVERR, &on, sizeof on) != 0)
        fd.reset();
    return fd;
}

UniqueFd OpenRawSocket()
{
    UniqueFd fd(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
    if (!fd.valid())
        return fd;
    // Let through only echo replies and the error reports that can quote a request.
    icmp_filter filter{};
    filter.data = ~((1U << ICMP_ECHOREPLY) | (1U << ICMP_DEST_UNREACH) | (1U << ICMP_SOURCE_QUENCH)
                    | (1U << ICMP_REDIRECT) | (1U << ICMP_TIME_EXCEEDED) | (1U << ICMP_PARAMETERPROB));
    ::setsockopt(fd.get(), SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
    return fd;
}

std::uint16_t NextRawIdentifier()
{
    static std::atomic<std::uint16_t> counter{0};
    return std::uint16_t(::getpid() * 31 + counter.fetch_add(1) * 7919);
}

QString DottedText(std::uint32_t networkOrder)
{
    char text[INET_ADDRSTRLEN] = {};
    in_addr address{};
    address.s_addr = networkOrder;
    ::inet_ntop(AF_INET, &address, text, sizeof text);
    return QString::fromLatin1(text);
}

} // namespace

CIcmpTracer::CIcmpTracer(const QString &destination) : m_destText(destination)
{
    in_addr address{};
    // Text that is not an address probes the all-ones address, which nothing answers.
    m_destAddr = ::inet_pton(AF_INET, destination.toLatin1().constData(), &address) == 1 ? address.s_addr
                                                                                      : INADDR_NONE;
    m_hIcmp = OpenPingSocket();
    m_kind = SocketKind::Ping;
    if (!m_hIcmp.valid()) {
        m_hIcmp = OpenRawSocket();
        m_kind = SocketKind::Raw;
        m_id = NextRawIdentifier();
    }
    if (!m_hIcmp.valid()) {
        m_kind = SocketKind::None;
        return;
    }
    // Type of service 0 and fragmentation allowed, as the request is described.
    const int tos = 0;
    const int pmtu = IP_PMTUDISC_DONT;
    ::setsockopt(m_hIcmp.get(), SOL_IP, IP_TOS, &tos, sizeof tos);
    ::setsockopt(m_hIcmp.get(), SOL_IP, IP_MTU_DISCOVER, &pmtu, sizeof pmtu);
    m_bHandleValid = true;
    m_nFailures = 0;
}

HopReply CIcmpTracer::ProbeHop(int ttl)
{
    HopReply reply;
    std::uint32_t answeredBy = 0;
    const auto start = Clock::now();
    if (m_bHandleValid && Send(ttl) && WaitForAnswer(answeredBy)) {
        m_nFailures = 0;
        reply.roundTripMs = int(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
        reply.address = DottedText(answeredBy);
        return reply;
    }
    ++m_nFailures;
    reply.roundTripMs = kTimeoutMs;
    reply.address = QStringLiteral("Error");
    return reply;
}

bool CIcmpTracer::Send(int ttl)
{
    DrainPending();
    const int hops = ttl & 0xFF;
    if (::setsockopt(m_hIcmp.get(), SOL_IP, IP_TTL, &hops, sizeof hops) != 0)
        return false;
    ++m_sequence;
    // On a ping socket the kernel puts in its own identifier and checksum.
    const auto packet = icmp::BuildEchoRequest(m_id, m_sequence);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = m_destAddr;
    return ::sendto(m_hIcmp.get(), packet.data(), packet.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to)
        == ssize_t(packet.size());
}

// Throws away whatever arrived since the last probe: late answers and queued errors. A
// pending socket error is reported (and cleared) by the receive that meets it.
void CIcmpTracer::DrainPending()
{
    unsigned char buffer[1500];
    for (const int flags : {int(MSG_DONTWAIT | MSG_ERRQUEUE), int(MSG_DONTWAIT)}) {
        for (int i = 0; i < 1024; ++i) {
            if (::recv(m_hIcmp.get(), buffer, sizeof buffer, flags) < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;
        }
    }
}

bool CIcmpTracer::WaitForAnswer(std::uint32_t &answeredBy)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(kTimeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd pfd{m_hIcmp.get(), POLLIN, 0};
        const int ready = ::poll(&pfd, 1, int(left));
        if (ready < 0 && errno != EINTR)
            return false;
        if (ready <= 0)
            continue;
        if ((pfd.revents & POLLERR) && ReadErrorQueue(answeredBy))
            return true;
        if ((pfd.revents & POLLIN) && ReadAnswer(answeredBy))
            return true;
    }
}

// A ping socket receives time-exceeded and unreachable reports on its error queue.
bool CIcmpTracer::ReadErrorQueue(std::uint32_t &answeredBy)
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
        const ssize_t n = ::recvmsg(m_hIcmp.get(), &message, MSG_ERRQUEUE | MSG_DONTWAIT);
        if (n < 0)
            break;
        for (cmsghdr *c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level != SOL_IP || c->cmsg_type != IP_RECVERR)
                continue;
            const auto *error = reinterpret_cast<const sock_extended_err *>(CMSG_DATA(c));
            if (error->ee_origin != SO_EE_ORIGIN_ICMP || answered)
                continue;
            if (!icmp::QuotesEchoRequest({data, std::size_t(n)}, m_sequence))
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
        ::getsockopt(m_hIcmp.get(), SOL_SOCKET, SO_ERROR, &pending, &length);
    }
    return answered;
}

bool CIcmpTracer::ReadAnswer(std::uint32_t &answeredBy)
{
    for (;;) {
        unsigned char data[1500];
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = ::recvfrom(m_hIcmp.get(), data, sizeof data, MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr *>(&from), &fromLength);
        if (n < 0)
            return false; // nothing more queued, or a pending error that the error queue holds
        const std::span<const std::uint8_t> bytes(data, std::size_t(n));
        if (m_kind == SocketKind::Ping) {
            if (icmp::IsEchoReplyTo(bytes, m_sequence)) {
                answeredBy = from.sin_addr.s_addr;
                return true;
            }
        } else if (const auto source = icmp::AnswerFromRawPacket(bytes, {m_id, m_sequence})) {
            answeredBy = *source;
            return true;
        }
    }
}
