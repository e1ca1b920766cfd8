#pragma once
// Finds the nodes on the way to one destination, IPv4 or IPv6: each probe sends one ICMP (or
// ICMPv6) echo request with the given time-to-live (hop limit) and reports who answered it
// and after how long.
#include "trace/icmp_socket.h"

#include <QString>
#include <QStringList>
#include <memory>

namespace quokka::trace {

class ProbeHelperClient;

// What one probe gives back: the answering node's address (dotted, or IPv6 in RFC 5952
// form), or exactly "Error" when
// nothing answered in time, the round-trip time in whole milliseconds, and how the probe
// ended (a probe that could not be sent is an "Error" too).
struct HopReply {
    QString address;
    int roundTripMs = 0;
    icmp::Outcome outcome = icmp::Outcome::Answered;
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
    // How echo requests are sent, tried in this order: an unprivileged ping socket, a raw
    // socket (root or CAP_NET_RAW), the probe helper (a small program of its own that holds
    // CAP_NET_RAW), or not at all.
    enum class SocketKind { None, Ping, Raw, Helper };

    static constexpr int kTimeoutMs = 400;

    // DESTINATION is IPv4 or IPv6 text; the sockets are of its family. The helper, when
    // needed, is the first of HelperCandidates() that starts and is ready.
    explicit CIcmpTracer(const QString &destination);
    // The same with the helper programs to try given.
    CIcmpTracer(const QString &destination, const QStringList &helpers);
    ~CIcmpTracer() override;
    CIcmpTracer(const CIcmpTracer &) = delete;
    CIcmpTracer &operator=(const CIcmpTracer &) = delete;

    // Sends one echo request with time-to-live TTL and waits at most 400 ms for an answer
    // to that request; other traffic and late answers to earlier probes are ignored.
    HopReply ProbeHop(int ttl) override;

    bool IsValid() const override { return m_bHandleValid; }
    SocketKind Kind() const { return m_kind; }

    // Where the probe helper may be, in the order tried, both found from the running
    // program's folder: the installed layout (../lib/quokka-quokka/ next to the program), and
    // beside the program (the build tree, or the link that the first run puts beside the
    // per-user copy).
    static QStringList HelperCandidates();
    // The first of them that exists (links followed), or the place beside the program when
    // none does.
    static QString HelperLocation();
    // The one line a run lists when no probe can be sent.
    static QString NotPermittedText();
    // The one line a run lists at its first probe to DESTINATION that ended with OUTCOME,
    // for the outcomes that say why a probe was not sent; empty for the others.
    static QString OutcomeText(icmp::Outcome outcome, const QString &destination);

private:
    icmp::ProbeSocket m_socket;
    std::unique_ptr<ProbeHelperClient> m_helper;
    SocketKind m_kind = SocketKind::None;
    NetAddress m_destAddr;
    std::uint16_t m_sequence = 0;
    bool m_bHandleValid = false;
    int m_nFailures = 0;
};

} // namespace quokka::trace
