#pragma once
// The program's side of the probe helper: starts the helper program on one end of a socket
// pair, and asks it for one probe at a time. The helper ends when this object goes.
#include "base/unique_fd.h"
#include "trace/icmp_socket.h"
#include "trace/probe_protocol.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>

namespace quokka::trace {

class ProbeHelperClient {
public:
    // The helper at PATH, started and ready (its raw socket open, its privileges gone); none
    // when it cannot start or does not say it is ready within a second.
    static std::unique_ptr<ProbeHelperClient> Start(const std::string &path);
    ~ProbeHelperClient();
    ProbeHelperClient(const ProbeHelperClient &) = delete;
    ProbeHelperClient &operator=(const ProbeHelperClient &) = delete;

    // The helper's probe of DESTINATION (network order) with TTL and SEQ: who answered, or
    // why nobody did (no answer in its 400 ms or a helper that is gone, a refusal, or what
    // the system said to the send).
    icmp::Echo Probe(std::uint32_t destination, int ttl, std::uint16_t seq);

private:
    ProbeHelperClient(pid_t pid, UniqueFd fd) : m_pid(pid), m_fd(std::move(fd)) {}
    // The next answer, waiting until DEADLINE; none on time-out or when the helper is gone.
    std::optional<probe::Answer> Receive(std::chrono::steady_clock::time_point deadline);
    void Stop();

    pid_t m_pid = -1;
    UniqueFd m_fd;
};

} // namespace quokka::trace
