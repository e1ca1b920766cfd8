#include "trace/helper_round_source.h"

#include <algorithm>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>

namespace quokka::trace {
namespace {

using Clock = icmp::Clock;

// A helper that says nothing of a probe for this long, beyond what its rate bound allows
// for the round, is of no more use.
constexpr auto kLeaveWait = std::chrono::seconds(2);

// What kept a probe from leaving, as the errno value a socket of this process would give.
int SendErrorOf(probe::Status status)
{
    switch (status) {
    case probe::Status::Sent: return 0;
    case probe::Status::Refused: return icmp::kRefusedError;
    case probe::Status::NotPermitted: return EPERM;
    case probe::Status::NoRoute: return ENETUNREACH;
    case probe::Status::NoAnswer: return ENOBUFS;
    case probe::Status::Ready:
    case probe::Status::Answered: break;
    }
    return EPIPE;
}

// The first message of the helper within a second: its ready in the tracer's language, then
// in the language of rounds.
template <typename Parse>
auto ReadReady(int fd, Parse parse) -> decltype(parse(std::span<const std::uint8_t>()))
{
    pollfd pfd{fd, POLLIN, 0};
    for (const auto deadline = Clock::now() + probe::kReadyWait;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return std::nullopt;
        const int ready = ::poll(&pfd, 1, int(left));
        if (ready < 0 && errno != EINTR)
            return std::nullopt;
        if (ready > 0)
            break;
    }
    std::uint8_t buffer[probe::kWideRoundAnswerSize + 1];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n <= 0)
        return std::nullopt;
    return parse(std::span<const std::uint8_t>(buffer, std::size_t(n)));
}

} // namespace

std::unique_ptr<HelperRoundSource> HelperRoundSource::Start(const std::string &path, const std::string &destination)
{
    auto helper = SpawnProbeHelper(path);
    if (!helper)
        return nullptr;
    const NetAddress to = NetAddress::Parse(destination).value_or(NetAddress::V4(INADDR_NONE));
    std::unique_ptr<HelperRoundSource> source(new HelperRoundSource(std::move(*helper), to));
    const int fd = source->m_helper.fd.Get();
    const auto ready = ReadReady(fd, [](auto bytes) { return probe::ParseAnswer(bytes); });
    if (!ready || ready->status != probe::Status::Ready)
        return nullptr; // the destructor ends and reaps it
    const probe::Message hello = probe::EncodeHello();
    if (::send(fd, hello.data(), hello.size(), MSG_NOSIGNAL) != ssize_t(hello.size()))
        return nullptr;
    const auto rounds = ReadReady(fd, [](auto bytes) { return probe::ParseRoundAnswer(bytes); });
    if (!rounds || rounds->status != probe::Status::Ready)
        return nullptr;
    return source;
}

HelperRoundSource::~HelperRoundSource()
{
    End();
}

void HelperRoundSource::End()
{
    m_leaving.clear();
    EndProbeHelper(m_helper, std::chrono::milliseconds(20));
}

std::vector<RoundSource::Sent> HelperRoundSource::SendRound(std::uint16_t firstSeq, int ttls)
{
    std::vector<Sent> round;
    ttls = std::min(ttls, 255); // a time-to-live is one byte, and 0 would end the helper
    round.reserve(std::size_t(std::max(ttls, 0)));
    for (int ttl = 1; ttl <= ttls; ++ttl)
        round.push_back({std::uint16_t(firstSeq + ttl - 1), ttl, Clock::now(), EPIPE});
    // The rate bound lets a round wait at most its own length at the bound's slowest pace.
    const auto deadline = Clock::now() + kLeaveWait + std::chrono::milliseconds(6) * ttls;
    std::size_t next = 0; // the next probe to hand over
    while (m_helper.fd.Valid() && (next < round.size() || !m_leaving.empty())) {
        if (next < round.size()) {
            const Sent &probe = round[next];
            const probe::Message request
                = probe::EncodeRequest({m_destination, probe.ttl, probe.seq}, probe::Version::Rounds);
            const ssize_t n = ::send(m_helper.fd.Get(), request.data(), request.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n == ssize_t(request.size())) {
                m_leaving[probe.seq] = &round[next++];
                continue;
            }
            if (n >= 0 || (errno != EAGAIN && errno != EINTR)) {
                End();
                break;
            }
        }
        // The helper's words, also while its input is full; then the next request fits.
        if (!ReadOne(deadline, next < round.size()) && Clock::now() >= deadline)
            End();
    }
    m_leaving.clear();
    return round;
}

std::optional<icmp::Answer> HelperRoundSource::Collect(Clock::time_point deadline)
{
    while (m_ready.empty()) {
        if (!m_helper.fd.Valid()) {
            // Nothing can come any more: as with a socket where nothing comes, the wait is
            // the caller's.
            std::this_thread::sleep_until(deadline);
            return std::nullopt;
        }
        if (!ReadOne(deadline, false) && Clock::now() >= deadline)
            return std::nullopt;
    }
    const icmp::Answer answer = m_ready.front();
    m_ready.pop_front();
    return answer;
}

bool HelperRoundSource::ReadOne(Clock::time_point deadline, bool orWritable)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd pfd{m_helper.fd.Get(), short(POLLIN | (orWritable ? POLLOUT : 0)), 0};
    const int ready = ::poll(&pfd, 1, int(std::clamp<long>(left, 0, 60000)));
    if (ready < 0 && errno != EINTR) {
        End();
        return false;
    }
    if (ready <= 0 || !(pfd.revents & (POLLIN | POLLHUP | POLLERR)))
        return false;
    std::uint8_t buffer[probe::kWideRoundAnswerSize + 1];
    const ssize_t n = ::recv(m_helper.fd.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return false;
    const auto answer = n > 0 ? probe::ParseRoundAnswer({buffer, std::size_t(n)}) : std::nullopt;
    if (!answer || answer->status == probe::Status::Ready) {
        End(); // gone, or not the helper's language: trust it no more
        return false;
    }
    Handle(*answer);
    return true;
}

void HelperRoundSource::Handle(const probe::RoundAnswer &answer)
{
    if (answer.status == probe::Status::Answered) {
        if (const auto probe = m_inFlight.Take(answer.seq))
            m_ready.push_back({answer.seq, probe->ttl, answer.node, answer.roundTripUs / 1000.0,
                               icmp::AnswerKind(answer.kind)});
        return;
    }
    const auto leaving = m_leaving.find(answer.seq);
    if (leaving == m_leaving.end())
        return; // a word on a probe of no round being sent
    Sent &probe = *leaving->second;
    m_leaving.erase(leaving);
    probe.at = Clock::now();
    probe.error = SendErrorOf(answer.status);
    if (probe.error == 0)
        m_inFlight.Add(probe.seq, probe.ttl, probe.at);
}

} // namespace quokka::trace
