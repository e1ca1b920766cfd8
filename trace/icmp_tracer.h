#pragma once
// Finds the nodes on the way to one IPv4 destination: each probe sends one ICMP echo request
// with the given time-to-live and reports who answered it and after how long.
#include "base/unique_fd.h"

#include <QString>
#include <array>
#include <cstdint>

// What one probe gives back: the answering node's dotted address, or exactly "Error" when
// nothing answered in time, and the round-trip time in whole milliseconds.
struct HopReply {
    QString address;
    int roundTripMs = 0;
};

// What a run needs of a route tracer: one probe per call. The ICMP tracer below is the
// program's; tests hand in tracers of their own.
class HopProber {
public:
    virtual ~HopProber() = default;
    // False when no probe can be sent at all.
    virtual bool IsValid() const = 0;
    virtual HopReply ProbeHop(int ttl) = 0;
};

class CIcmpTracer final : public HopProber {
public:
    // How echo requests are sent: an unprivileged ping socket, a raw socket (root or
    // CAP_NET_RAW), or not at all.
    enum class SocketKind { None, Ping, Raw };

    static constexpr int kTimeoutMs = 400;

    explicit CIcmpTracer(const QString &destination);
    CIcmpTracer(const CIcmpTracer &) = delete;
    CIcmpTracer &operator=(const CIcmpTracer &) = delete;

    // Sends one echo request with time-to-live TTL and waits at most 400 ms for an answer
    // to that request; other traffic and late answers to earlier probes are ignored.
    HopReply ProbeHop(int ttl) override;

    bool IsValid() const override { return m_bHandleValid; }
    SocketKind Kind() const { return m_kind; }

private:
    bool Send(int ttl);
    bool WaitForAnswer(std::uint32_t &answeredBy);
    bool ReadErrorQueue(std::uint32_t &answeredBy);
    bool ReadAnswer(std::uint32_t &answeredBy);
    void DrainPending();

    UniqueFd m_hIcmp;
    SocketKind m_kind = SocketKind::None;
    std::uint32_t m_destAddr = 0; // network byte order
    std::uint16_t m_id = 0;       // the raw socket's echo identifier
    std::uint16_t m_sequence = 0;
    QString m_destText;
    bool m_bHandleValid = false;
    int m_nFailures = 0;
};
