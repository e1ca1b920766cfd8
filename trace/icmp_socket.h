#pragma once
// One ICMP socket that sends echo requests and recognises the answer to the latest one: an
// unprivileged ping socket or a raw socket. The tracer uses it directly, and the probe
// helper uses it when only the helper may open a raw socket. Standard library only.
#include "base/unique_fd.h"

#include <chrono>
#include <cstdint>

namespace quokka::trace::icmp {

enum class SocketKind { None, Ping, Raw };

// How a probe ended: answered; sent but not answered in time; not sent because the system
// forbids it (a firewall rule), because no route leads to the destination, or because the
// probe helper refuses that destination.
enum class Outcome : std::uint8_t { Answered, NoAnswer, NotPermitted, NoRoute, Refused };

// The outcome of a probe whose sending failed with ERROR (an errno value).
Outcome OutcomeOfSendError(int error);

// How a probe ended, and for an answered one who answered (network byte order) after how
// many whole milliseconds.
struct Echo {
    Outcome outcome = Outcome::NoAnswer;
    std::uint32_t node = 0;
    int roundTripMs = 0;
};

class ProbeSocket {
public:
    // An open socket of KIND, or one that is not valid when the system refuses it.
    static ProbeSocket Open(SocketKind kind);
    ProbeSocket() = default;

    bool Valid() const { return m_fd.Valid(); }
    SocketKind Kind() const { return m_fd.Valid() ? m_kind : SocketKind::None; }

    // Sends one echo request with time-to-live TTL and sequence SEQ to DESTINATION (network
    // order) and waits at most TIMEOUT for an answer to that very request; other traffic and
    // late answers to earlier probes are ignored. An echo reply counts only from DESTINATION,
    // an error report only when it quotes DESTINATION.
    Echo Probe(std::uint32_t destination, int ttl, std::uint16_t seq,
                              std::chrono::milliseconds timeout);

private:
    // 0 once sent, else the errno value of the failure.
    int Send(std::uint32_t destination, int ttl, std::uint16_t seq);
    bool WaitForAnswer(std::uint32_t destination, std::uint16_t seq, std::chrono::milliseconds timeout,
                       std::uint32_t &answeredBy);
    bool ReadErrorQueue(std::uint32_t destination, std::uint16_t seq, std::uint32_t &answeredBy);
    bool ReadAnswer(std::uint32_t destination, std::uint16_t seq, std::uint32_t &answeredBy);
    void DrainPending();

    UniqueFd m_fd;
    SocketKind m_kind = SocketKind::None;
    std::uint16_t m_id = 0; // the raw socket's echo identifier (a ping socket's is the kernel's)
};

} // namespace quokka::trace::icmp
