#include "whois/whois_exchange.h"

#include "base/net_address.h"
#include "base/unique_fd.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>

namespace quokka::whois {
namespace {

using Clock = std::chrono::steady_clock;

enum class WaitOutcome { Ready, TimedOut, Stopped, Failed };

// Waits until FD reports EVENTS (or an error), DEADLINE passes or STOP is requested. Polls in
// short slices so that a stop request is seen within one slice.
WaitOutcome WaitForSocket(int fd, short events, Clock::time_point deadline, const ExchangeLimits &limits,
                          const std::stop_token &stop)
{
    for (;;) {
        if (stop.stop_requested())
            return WaitOutcome::Stopped;
        const auto now = Clock::now();
        if (now >= deadline)
            return WaitOutcome::TimedOut;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        pollfd watched{fd, events, 0};
        const int ready = ::poll(&watched, 1, int(std::min(left, limits.slice).count()));
        if (ready > 0)
            return WaitOutcome::Ready;
        if (ready < 0 && errno != EINTR)
            return WaitOutcome::Failed;
    }
}

bool Connect(int fd, const sockaddr_storage &server, socklen_t serverLength, Clock::time_point deadline,
             const ExchangeLimits &limits, const std::stop_token &stop)
{
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&server), serverLength) == 0)
        return true;
    if (errno != EINPROGRESS && errno != EINTR)
        return false;
    if (WaitForSocket(fd, POLLOUT, deadline, limits, stop) != WaitOutcome::Ready)
        return false;
    int error = 0;
    socklen_t length = sizeof error;
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

// The query goes out in one send call; at most 100 bytes always fit a fresh socket's buffer.
bool SendQuery(int fd, const QByteArray &request)
{
    ssize_t sent;
    do {
        sent = ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent == request.size();
}

// Appends what arrives to RESULT until the server closes, a limit passes or an error occurs.
void Receive(int fd, Clock::time_point start, const ExchangeLimits &limits, const std::stop_token &stop,
             ExchangeResult &result)
{
    const auto endOfExchange = start + limits.total;
    auto lastData = Clock::now();
    char chunk[kReceiveChunkBytes];
    for (;;) {
        const bool silenceFirst = lastData + limits.silence < endOfExchange;
        const auto deadline = silenceFirst ? lastData + limits.silence : endOfExchange;
        const WaitOutcome outcome = WaitForSocket(fd, POLLIN, deadline, limits, stop);
        if (outcome == WaitOutcome::TimedOut) { // the answer ends here; what came is kept
            result.cutShort = silenceFirst ? CutShort::Silence : CutShort::TotalTime;
            return;
        }
        if (outcome != WaitOutcome::Ready) {
            result.failed = true;
            return;
        }
        const ssize_t received = ::recv(fd, chunk, sizeof chunk, 0);
        if (received == 0)
            return;
        if (received < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
                continue;
            result.failed = true;
            return;
        }
        lastData = Clock::now();
        const qsizetype room = limits.maxAnswerBytes - result.answer.size();
        result.answer.append(chunk, std::min<qsizetype>(received, room));
        if (result.answer.size() >= limits.maxAnswerBytes) {
            result.cutShort = CutShort::SizeCap;
            return;
        }
    }
}

} // namespace

ExchangeResult RunExchange(const QByteArray &address, std::uint16_t port, const QByteArray &request,
                           const ExchangeLimits &limits, std::stop_token stop)
{
    ExchangeResult result;
    const auto start = Clock::now();
    // The server's address is IPv4 or IPv6 text; the socket is of its family.
    const std::optional<NetAddress> parsed =
        address.contains('\0') ? std::nullopt : NetAddress::Parse(std::string_view(address.constData(), size_t(address.size())));
    sockaddr_storage server{};
    const socklen_t length = parsed ? socklen_t(parsed->ToSockaddr(server, port)) : 0;
    if (length == 0) {
        result.failed = true;
        return result;
    }
    const UniqueFd socket(::socket(server.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
    const auto connectDeadline = start + std::min(limits.connect, limits.total);
    if (!socket.Valid() || !Connect(socket.Get(), server, length, connectDeadline, limits, stop)
        || !SendQuery(socket.Get(), request)) {
        result.failed = true;
        return result;
    }
    Receive(socket.Get(), start, limits, stop, result);
    return result;
}

} // namespace quokka::whois
