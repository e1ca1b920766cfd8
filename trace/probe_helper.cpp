// quokka-quokka-probe: the only part of the program that ever holds CAP_NET_RAW. The program
// starts it with one end of a socket pair as its standard input when neither a ping socket
// nor a raw socket of its own is allowed. It opens its raw socket, gives up every privilege,
// and then answers fixed-size requests (probe_protocol.h) one at a time: it builds each echo
// request itself, sends it to an allowed destination at a bounded rate, and says who
// answered, or why nobody did (no answer, refused, not permitted, no route). It reads no
// environment and opens no file; it ends when its input closes, when the program that
// started it dies, or at the first request that is not well formed.
#include "trace/icmp_socket.h"
#include "trace/probe_protocol.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <grp.h>

namespace quokka::trace {
namespace {

constexpr int kInput = 0;
// At most 200 probes a second, however fast requests come.
constexpr auto kProbeSpacing = std::chrono::milliseconds(5);
constexpr auto kTimeout = std::chrono::milliseconds(400);

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

} // namespace
} // namespace quokka::trace

int main()
{
    using namespace quokka::trace;
    // Die with the program that started this helper, and keep no descriptor but the pair.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    ::close_range(1, ~0U, 0);

    icmp::ProbeSocket socket = icmp::ProbeSocket::Open(icmp::SocketKind::Raw);
    if (!DropPrivileges())
        return kPrivilegeKept;
    if (!socket.Valid())
        return kNoSocket;
    if (!Say({probe::Status::Ready}))
        return kEnded;

    auto nextSend = std::chrono::steady_clock::now();
    for (;;) {
        // One byte more than a request, so that a longer message shows as garbage.
        std::uint8_t buffer[probe::kMessageSize + 1];
        const ssize_t n = ::recv(kInput, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return kEnded;
        const probe::Parsed parsed = probe::ParseRequest({buffer, std::size_t(n)});
        if (parsed.verdict == probe::Verdict::Garbage)
            return kGarbage;
        probe::Answer answer{probe::Status::Refused, parsed.request.seq};
        if (parsed.verdict == probe::Verdict::Accepted) {
            std::this_thread::sleep_until(nextSend);
            nextSend = std::chrono::steady_clock::now() + kProbeSpacing;
            const auto echo = socket.Probe(parsed.request.destination, parsed.request.ttl, parsed.request.seq, kTimeout);
            answer.status = StatusOf(echo.outcome);
            answer.node = echo.node;
            answer.roundTripMs = std::uint16_t(echo.roundTripMs);
        }
        if (!Say(answer))
            return kEnded;
    }
}
