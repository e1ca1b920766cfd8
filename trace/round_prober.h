#pragma once
// Probes a whole round of a route at once: one echo request per time-to-live from 1 to N,
// all in flight together on one socket, and the answers handed back as they come, each
// matched to its own probe by sequence.
#include "trace/icmp_socket.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quokka::trace {

// What probes a route round by round: a socket of this process, or the probe helper
// (helper_round_source.h).
class RoundSource {
public:
    // One probe of a round as sent: its sequence and time-to-live, when it left, and 0 or
    // the errno value that kept it from leaving (icmp::OutcomeOfSendError says what it means).
    struct Sent {
        std::uint16_t seq = 0;
        int ttl = 0;
        icmp::Clock::time_point at;
        int error = 0;
    };

    virtual ~RoundSource() = default;

    virtual icmp::SocketKind Kind() const = 0;
    // Sends TTLS probes, time-to-live 1 to TTLS with sequences FIRST_SEQ onwards (wrapping
    // after 65535), spread over a few milliseconds.
    virtual std::vector<Sent> SendRound(std::uint16_t firstSeq, int ttls) = 0;
    // The next answer to any probe in flight, this round's or an earlier one's, or nothing
    // when none came before DEADLINE.
    virtual std::optional<icmp::Answer> Collect(icmp::Clock::time_point deadline) = 0;
    // Gives up the probes sent before LIMIT, the caller's time-out: their sequences, oldest
    // first. An answer that comes later matches nothing.
    virtual std::vector<std::uint16_t> ExpireSentBefore(icmp::Clock::time_point limit) = 0;
    virtual std::size_t InFlight() const = 0;
};

// The round source for DESTINATION (IPv4 or IPv6 text) the tracer would use: a ping socket,
// else a raw socket, else the first of the tracer's helper programs
// (CIcmpTracer::HelperCandidates) that starts and speaks rounds. Null when none does.
std::unique_ptr<RoundSource> OpenRoundSource(const std::string &destination);
// The same with the helper programs to try given.
std::unique_ptr<RoundSource> OpenRoundSource(const std::string &destination, const std::vector<std::string> &helpers);

class RoundProber : public RoundSource {
public:
    // Between two probes of a round: a round of 29 probes leaves within about 3 ms.
    static constexpr std::chrono::microseconds kSpacing{100};

    // Opens one socket for DESTINATION (IPv4 or IPv6 text) the way the tracer does: a ping
    // socket, else a raw socket; without either the prober is not valid (OpenRoundSource
    // then turns to the probe helper).
    explicit RoundProber(const std::string &destination);

    bool IsValid() const { return m_socket.Valid(); }
    icmp::SocketKind Kind() const override { return m_socket.Kind(); }

    // Probes spaced by kSpacing.
    std::vector<Sent> SendRound(std::uint16_t firstSeq, int ttls) override;
    std::optional<icmp::Answer> Collect(icmp::Clock::time_point deadline) override;
    // Giving probes up is also what keeps an old round's late answer from matching a new
    // probe once the sequences wrap: a sequence comes round again only after 65536 probes
    // (over 20 s at 29 probes every 10 ms), long after a time-out of at most a few seconds
    // has given its earlier probe up.
    std::vector<std::uint16_t> ExpireSentBefore(icmp::Clock::time_point limit) override;
    std::size_t InFlight() const override { return m_socket.InFlight(); }

private:
    icmp::ProbeSocket m_socket;
    NetAddress m_destination;
};

} // namespace quokka::trace
