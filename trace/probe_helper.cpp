// quokka-quokka-probe: the only part of the program that ever holds CAP_NET_RAW. The program
// starts it with one end of a socket pair as its standard input when neither a ping socket
// nor a raw socket of its own is allowed. It opens its raw sockets (ICMP, and ICMPv6 where
// the system has IPv6), gives up every privilege,
// and then answers fixed-size requests (probe_protocol.h): one at a time for the tracer, or
// many in flight together for rounds of probes. It builds each echo request itself, sends it
// to an allowed destination at a bounded rate, and says who answered, or why nobody did (no
// answer, refused, not permitted, no route). It reads no environment and opens no file; it
// ends when its input closes, when the program that started it dies, or at the first message
// that is not well formed.
#include "trace/icmp_socket.h"
#include "trace/probe_protocol.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <deque>
#include <poll.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <grp.h>

namespace quokka::trace {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kInput = 0;
// At most 200 probes a second, however fast requests come: for the tracer one every 5 ms.
constexpr auto kProbeSpacing = std::chrono::milliseconds(5);
constexpr auto kTimeout = std::chrono::milliseconds(400);
// For rounds: a burst as big as a round, 100 microseconds apart, and the rest at a pace that
// keeps any one second to 200 probes (kBurst + kPerSecond).
constexpr double kBurst = 32;
constexpr double kPerSecond = 168;
constexpr auto kBurstSpacing = std::chrono::microseconds(100);
// A round's probe unanswered this long is forgotten (callers give up within 5 s).
constexpr auto kForget = std::chrono::seconds(10);
// Requests waiting for their turn; beyond this the helper reads no more until some have left.
constexpr std::size_t kMostWaiting = 256;

enum Exit { kEnded = 0, kNoSocket = 2, kPrivilegeKept = 3, kGarbage = 4 };

bool SetCapabilities(const __user_cap_data_struct (&data)[2])
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(SYS_capset, &header, data) == 0;
}

bool HoldsNoCapability()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    for (const auto &set : data)
        if (set.effective || set.permitted || set.inheritable)
            return false;
    return true;
}

// Back to the real user and group when started set-user-ID, then no capability at all, and
// nothing regained by running another program.
bool DropPrivileges()
{
    const uid_t uid = ::getuid();
    const gid_t gid = ::getgid();
    if (::geteuid() != uid || ::getegid() != gid) {
        if (::geteuid() == 0)
            ::setgroups(0, nullptr);
        if (::setresgid(gid, gid, gid) != 0 || ::setresuid(uid, uid, uid) != 0)
            return false;
    }
    ::prctl(PR_SET_KEEPCAPS, 0, 0, 0, 0);
    const __user_cap_data_struct none[2] = {};
    if (!SetCapabilities(none))
        return false;
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return false;
    return HoldsNoCapability() && ::geteuid() == uid && ::getegid() == gid;
}

bool Say(const probe::Answer &answer)
{
    const probe::Message message = probe::EncodeAnswer(answer);
    return ::send(kInput, message.data(), message.size(), MSG_NOSIGNAL) == ssize_t(message.size());
}

// The answers of rounds not yet taken by the program. They wait here rather than in a send
// that blocks, so that answers from the network are timed when they arrive even while the
// program is slow to read.
class Outbox {
public:
    void Say(const probe::RoundAnswer &answer) { m_messages.push_back(probe::EncodeRoundAnswer(answer)); }
    // Hands over what the program's side takes now: false when it has gone.
    bool Flush()
    {
        while (!m_messages.empty()) {
            const probe::RoundMessage &message = m_messages.front();
            const ssize_t n = ::send(kInput, message.data(), message.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                return true;
            if (n != ssize_t(message.size()))
                return false;
            m_messages.pop_front();
        }
        return true;
    }
    std::size_t Size() const { return m_messages.size(); }

private:
    std::deque<probe::RoundMessage> m_messages;
};

// The helper's raw sockets, one per family; the IPv6 one is not valid where the system has
// no IPv6, and probes to IPv6 destinations then find no route.
struct Sockets {
    icmp::ProbeSocket v4;
    icmp::ProbeSocket v6;
    icmp::ProbeSocket &For(const NetAddress &destination) { return destination.IsV6() ? v6 : v4; }
};

// The next message from the program: its length, 0 when the program has gone. One byte more
// than the longest request fits, so that a longer message shows as garbage.
using MessageBuffer = std::uint8_t[probe::kWideMessageSize + 1];
ssize_t ReadMessage(MessageBuffer &buffer)
{
    for (;;) {
        const ssize_t n = ::recv(kInput, buffer, sizeof buffer, 0);
        if (n >= 0 || errno != EINTR)
            return std::max<ssize_t>(n, 0);
    }
}

probe::Status StatusOf(icmp::Outcome outcome)
{
    switch (outcome) {
    case icmp::Outcome::Answered: return probe::Status::Answered;
    case icmp::Outcome::NotPermitted: return probe::Status::NotPermitted;
    case icmp::Outcome::NoRoute: return probe::Status::NoRoute;
    case icmp::Outcome::Refused: return probe::Status::Refused;
    case icmp::Outcome::NoAnswer: break;
    }
    return probe::Status::NoAnswer;
}


// Version 1, the tracer's: each request answered before the next is read. FIRST is the first
// request, already read.
Exit ServeSingle(Sockets &sockets, std::span<const std::uint8_t> first)
{
    auto nextSend = Clock::now();
    MessageBuffer buffer;
    for (std::span<const std::uint8_t> message = first;;) {
        const probe::Parsed parsed = probe::ParseRequest(message);
        if (parsed.verdict == probe::Verdict::Garbage)
            return kGarbage;
        probe::Answer answer{probe::Status::Refused, parsed.request.seq};
        icmp::ProbeSocket &socket = sockets.For(parsed.request.destination);
        if (parsed.verdict == probe::Verdict::Accepted && !socket.Valid()) {
            answer.status = probe::Status::NoRoute;
        } else if (parsed.verdict == probe::Verdict::Accepted) {
            std::this_thread::sleep_until(nextSend);
            nextSend = Clock::now() + kProbeSpacing;
            const auto echo = socket.Probe(parsed.request.destination, parsed.request.ttl, parsed.request.seq, kTimeout);
            answer.status = StatusOf(echo.outcome);
            answer.node = echo.node;
            answer.roundTripMs = std::uint16_t(echo.roundTripMs);
        }
        if (!Say(answer))
            return kEnded;
        const ssize_t n = ReadMessage(buffer);
        if (n == 0)
            return kEnded;
        message = {buffer, std::size_t(n)};
    }
}

// The rate of rounds: a bucket of kBurst probes, refilled at kPerSecond, so that no second
// holds more than kBurst + kPerSecond probes.
class RateBound {
public:
    Clock::time_point NextAllowed() const
    {
        const double missing = 1.0 - Tokens(Clock::now());
        if (missing <= 0)
            return Clock::now();
        return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(missing / kPerSecond));
    }
    void Take(Clock::time_point at)
    {
        m_tokens = Tokens(at) - 1;
        m_at = at;
    }

private:
    double Tokens(Clock::time_point at) const
    {
        return std::min(kBurst, m_tokens + std::chrono::duration<double>(at - m_at).count() * kPerSecond);
    }
    double m_tokens = kBurst;
    Clock::time_point m_at = Clock::now();
};

// Version 2, for rounds: requests are read while earlier probes are waiting for their turn or
// in flight, and every answer says which sequence it answers.
Exit ServeRounds(Sockets &sockets)
{
    Outbox outbox;
    outbox.Say({probe::Status::Ready});
    std::deque<probe::Request> waiting;
    RateBound rate;
    NetAddress destination; // of the probes in flight
    auto lastSent = Clock::now() - kBurstSpacing;
    for (;;) {
        if (!outbox.Flush())
            return kEnded;
        sockets.v4.ExpireSentBefore(Clock::now() - kForget);
        sockets.v6.ExpireSentBefore(Clock::now() - kForget);
        Clock::time_point wake = Clock::now() + std::chrono::seconds(1);
        if (!waiting.empty()) {
            wake = std::max(rate.NextAllowed(), lastSent + kBurstSpacing);
            if (wake <= Clock::now()) {
                const probe::Request request = waiting.front();
                waiting.pop_front();
                if (request.destination != destination) {
                    sockets.For(destination).ExpireSentBefore(Clock::time_point::max()); // forgets the old ones
                    destination = request.destination;
                }
                icmp::ProbeSocket &socket = sockets.For(destination);
                if (!socket.Valid()) {
                    outbox.Say({probe::Status::NoRoute, request.seq});
                    continue;
                }
                const icmp::SendResult sent = socket.Send(request.destination, request.ttl, request.seq);
                rate.Take(sent.at);
                lastSent = sent.at;
                outbox.Say({sent.Sent() ? probe::Status::Sent : StatusOf(icmp::OutcomeOfSendError(sent.error)),
                            request.seq});
                continue;
            }
        }
        // More requests only while few wait for their turn and the program takes its answers.
        const bool reading = waiting.size() < kMostWaiting && outbox.Size() < kMostWaiting;
        // An invalid descriptor (-1) is left out of the wait.
        pollfd fds[3] = {{kInput, short((reading ? POLLIN : 0) | (outbox.Size() ? POLLOUT : 0)), 0},
                         {sockets.v4.Descriptor(), POLLIN, 0}, {sockets.v6.Descriptor(), POLLIN, 0}};
        const auto wait = std::max(wake - Clock::now(), Clock::duration::zero());
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait);
        const timespec limit{time_t(seconds.count()), long((wait - seconds).count())};
        if (::ppoll(fds, 3, &limit, nullptr) < 0) {
            if (errno == EINTR)
                continue;
            return kEnded;
        }
        for (std::size_t i = 1; i < 3; ++i) {
            if (!fds[i].revents)
                continue;
            // A socket of the other family than the probes in flight: read and matched to nothing.
            icmp::ProbeSocket &socket = i == 1 ? sockets.v4 : sockets.v6;
            socket.ReadArrived(destination);
            while (const auto answer = socket.Receive(destination, Clock::now())) {
                const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                    std::chrono::duration<double, std::milli>(answer->roundTripMs));
                const auto roundTrip = std::uint32_t(std::clamp<std::int64_t>(us.count(), 0, UINT32_MAX));
                outbox.Say({probe::Status::Answered, answer->seq, answer->node, std::uint8_t(answer->kind), roundTrip});
            }
        }
        if (fds[0].revents & (POLLHUP | POLLERR))
            return kEnded;
        if (fds[0].revents & POLLIN) {
            MessageBuffer buffer;
            const ssize_t n = ReadMessage(buffer);
            if (n == 0)
                return kEnded;
            const std::span<const std::uint8_t> message(buffer, std::size_t(n));
            if (probe::IsHello(message))
                return kGarbage; // the language is chosen once
            const probe::Parsed parsed = probe::ParseRequest(message, probe::Version::Rounds);
            if (parsed.verdict == probe::Verdict::Garbage)
                return kGarbage;
            if (parsed.verdict == probe::Verdict::Refused)
                outbox.Say({probe::Status::Refused, parsed.request.seq});
            else
                waiting.push_back(parsed.request);
        }
    }
}

} // namespace
} // namespace quokka::trace

int main()
{
    using namespace quokka::trace;
    // Die with the program that started this helper, and keep no descriptor but the pair.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    ::close_range(1, ~0U, 0);

    Sockets sockets{icmp::ProbeSocket::Open(icmp::SocketKind::Raw),
                    icmp::ProbeSocket::Open(icmp::SocketKind::Raw, quokka::NetAddress::Family::V6)};
    if (!DropPrivileges())
        return kPrivilegeKept;
    if (!sockets.v4.Valid())
        return kNoSocket;
    if (!Say({probe::Status::Ready}))
        return kEnded;

    // The first message chooses the language: the hello of rounds, or the tracer's first request.
    MessageBuffer first;
    const ssize_t n = ReadMessage(first);
    if (n == 0)
        return kEnded;
    if (probe::IsHello({first, std::size_t(n)}))
        return ServeRounds(sockets);
    return ServeSingle(sockets, {first, std::size_t(n)});
}
