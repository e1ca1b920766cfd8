#pragma once
// One ICMP socket that sends echo requests and recognises the answer to the latest one: an
// unprivileged ping socket or a raw socket. The tracer uses it directly, and the probe
// helper uses it when only the helper may open a raw socket. Standard library only.
#include "base/unique_fd.h"

#include <chrono>
#include <cstdint>
#include <optional>

namespace icmp {

enum class SocketKind { None, Ping, Raw };

// Who answered a probe (network byte order) and after how many whole milliseconds.
struct Echo {
    std::uint32_t node = 0;
    int roundTripMs = 0;
};

class ProbeSocket {
public:
    // An open socket of KIND, or one that is not valid when the system refuses it.
    static ProbeSocket Open(SocketKind kind);
    ProbeSocket() = default;

    bool Valid() const { return m_fd.valid(); }
    SocketKind Kind() const { return m_fd.valid() ? m_kind : SocketKind::None; }

    // Sends one echo request with time-to-live TTL and sequence SEQ to DESTINATION (network
    // order) and waits at most TIMEOUT for an answer to that very request; other traffic and
    // late answers to earlier probes are ignored.
    std::optional<Echo> Probe(std::uint32_t destination, int ttl, std::uint16_t seq,
                              std::chrono::milliseconds timeout);

private:
    bool Send(std::uint32_t destination, int ttl, std::uint16_t seq);
    bool WaitForAnswer(std::uint16_t seq, std::chrono::milliseconds timeout, std::uint32_t &answeredBy);
    bool ReadErrorQueue(std::uint16_t seq, std::uint32_t &answeredBy);
    bool ReadAnswer(std::uint16_t seq, std::uint32_t &answeredBy);
    void DrainPending();

    UniqueFd m_fd;
    SocketKind m_kind = SocketKind::None;
    std::uint16_t m_id = 0; // the raw socket's echo identifier (a ping socket's is the kernel's)
};

} // namespace icmp
