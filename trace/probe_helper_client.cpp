#include "trace/probe_helper_client.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>

namespace quokka::trace {
namespace {

using Clock = std::chrono::steady_clock;

// The helper's own 400 ms, its rate spacing and the way there and back.
constexpr auto kAnswerWait = std::chrono::milliseconds(1400);

} // namespace

std::optional<HelperProcess> SpawnProbeHelper(const std::string &path)
{
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0)
        return std::nullopt;
    UniqueFd ours(pair[0]), theirs(pair[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, theirs.Get(), 0); // clears close-on-exec there
    char *const argv[] = {const_cast<char *>(path.c_str()), nullptr};
    char *const envp[] = {nullptr}; // the helper is handed no environment
    pid_t pid = -1;
    const int failed = ::posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, envp);
    posix_spawn_file_actions_destroy(&actions);
    if (failed)
        return std::nullopt;
    return HelperProcess{pid, std::move(ours)};
}

void EndProbeHelper(HelperProcess &helper, std::chrono::milliseconds wait)
{
    helper.fd.Reset(); // its input closes: the helper ends
    if (helper.pid <= 0)
        return;
    const auto step = std::chrono::milliseconds(std::clamp<long>(wait.count() / 50, 1, 10));
    for (const auto deadline = Clock::now() + wait; Clock::now() < deadline;) {
        if (::waitpid(helper.pid, nullptr, WNOHANG) != 0)
            return void(helper.pid = -1);
        std::this_thread::sleep_for(step);
    }
    ::kill(helper.pid, SIGKILL);
    ::waitpid(helper.pid, nullptr, 0);
    helper.pid = -1;
}

std::unique_ptr<ProbeHelperClient> ProbeHelperClient::Start(const std::string &path)
{
    auto helper = SpawnProbeHelper(path);
    if (!helper)
        return nullptr;
    std::unique_ptr<ProbeHelperClient> client(new ProbeHelperClient(std::move(*helper)));
    const auto ready = client->Receive(Clock::now() + probe::kReadyWait);
    if (!ready || ready->status != probe::Status::Ready)
        return nullptr; // the destructor ends and reaps it
    return client;
}

ProbeHelperClient::~ProbeHelperClient()
{
    Stop();
}

void ProbeHelperClient::Stop()
{
    EndProbeHelper(m_helper, std::chrono::milliseconds(500));
}

icmp::Echo ProbeHelperClient::Probe(const NetAddress &destination, int ttl, std::uint16_t seq)
{
    if (!m_helper.fd.Valid())
        return {};
    const probe::Message request = probe::EncodeRequest({destination, ttl & 0xFF, seq});
    if (::send(m_helper.fd.Get(), request.data(), request.size(), MSG_NOSIGNAL) != ssize_t(request.size())) {
        Stop();
        return {};
    }
    const auto deadline = Clock::now() + kAnswerWait;
    for (;;) {
        const auto answer = Receive(deadline);
        if (!answer) {
            Stop(); // a helper that does not answer in time is of no more use
            return {};
        }
        if (answer->seq != seq || answer->status == probe::Status::Ready)
            continue; // a late answer to an earlier request
        switch (answer->status) {
        case probe::Status::Answered: return {icmp::Outcome::Answered, answer->node, answer->roundTripMs};
        case probe::Status::Refused: return {icmp::Outcome::Refused};
        case probe::Status::NotPermitted: return {icmp::Outcome::NotPermitted};
        case probe::Status::NoRoute: return {icmp::Outcome::NoRoute};
        case probe::Status::NoAnswer:
        case probe::Status::Ready:
        case probe::Status::Sent: break;
        }
        return {};
    }
}

std::optional<probe::Answer> ProbeHelperClient::Receive(Clock::time_point deadline)
{
    while (m_helper.fd.Valid()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return std::nullopt;
        pollfd pfd{m_helper.fd.Get(), POLLIN, 0};
        const int ready = ::poll(&pfd, 1, int(left));
        if (ready < 0 && errno != EINTR)
            return std::nullopt;
        if (ready <= 0)
            continue;
        std::uint8_t buffer[probe::kWideMessageSize + 1];
        const ssize_t n = ::recv(m_helper.fd.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            return std::nullopt; // the helper has gone
        if (const auto answer = probe::ParseAnswer({buffer, std::size_t(n)}))
            return answer;
        return std::nullopt; // not the helper's language: trust it no more
    }
    return std::nullopt;
}

} // namespace quokka::trace
