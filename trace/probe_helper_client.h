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

// The helper program at PATH started with one end of a new socket pair as its standard input
// and no environment: its process and the other end of the pair. None when it cannot start.
struct HelperProcess {
    pid_t pid = -1;
    UniqueFd fd;
};
std::optional<HelperProcess> SpawnProbeHelper(const std::string &path);
// Closes the helper's input, which ends it, and reaps it; kills it when it has not ended
// within WAIT.
void EndProbeHelper(HelperProcess &helper, std::chrono::milliseconds wait);

class ProbeHelperClient {
public:
    // The helper at PATH, started and ready (its raw socket open, its privileges gone); none
    // when it cannot start or does not say it is ready within a second.
    static std::unique_ptr<ProbeHelperClient> Start(const std::string &path);
    ~ProbeHelperClient();
    ProbeHelperClient(const ProbeHelperClient &) = delete;
    ProbeHelperClient &operator=(const ProbeHelperClient &) = delete;

    // The helper's probe of DESTINATION with TTL and SEQ: who answered, or
    // why nobody did (no answer in its 400 ms or a helper that is gone, a refusal, or what
    // the system said to the send).
    icmp::Echo Probe(const NetAddress &destination, int ttl, std::uint16_t seq);

private:
    explicit ProbeHelperClient(HelperProcess helper) : m_helper(std::move(helper)) {}
    // The next answer, waiting until DEADLINE; none on time-out or when the helper is gone.
    std::optional<probe::Answer> Receive(std::chrono::steady_clock::time_point deadline);
    void Stop();

    HelperProcess m_helper;
};

} // namespace quokka::trace
