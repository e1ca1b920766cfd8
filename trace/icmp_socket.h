#pragma once
// One ICMP socket that sends echo requests and recognises their answers: an unprivileged
// ping socket or a raw socket. One probe at a time (Probe) for the tracer and the probe
// helper, or many in flight together (Send, Receive) for rounds of probes. Standard library
// only.
#include "base/net_address.h"
#include "base/unique_fd.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <vector>

namespace quokka::trace::icmp {

// Helper: the probe helper's raw socket, for rounds probed through it (no ProbeSocket opens it).
enum class SocketKind { None, Ping, Raw, Helper };

// How a probe ended: answered; sent but not answered in time; not sent because the system
// forbids it (a firewall rule), because no route leads to the destination, or because the
// probe helper refuses that destination.
enum class Outcome : std::uint8_t { Answered, NoAnswer, NotPermitted, NoRoute, Refused };

// Not an errno value (those are positive): the probe helper refused to send a probe.
constexpr int kRefusedError = -1;

// The outcome of a probe whose sending failed with ERROR (an errno value, or kRefusedError).
Outcome OutcomeOfSendError(int error);

// How a probe ended, and for an answered one who answered after how many whole milliseconds.
struct Echo {
    Outcome outcome = Outcome::NoAnswer;
    NetAddress node{};
    int roundTripMs = 0;
};

using Clock = std::chrono::steady_clock;

// What answered an echo request: the echo reply itself, or an error report about it.
enum class AnswerKind : std::uint8_t { EchoReply, TimeExceeded, Unreachable, OtherReport };

// The echo requests sent and not yet answered nor given up: sequence, time-to-live, send
// time. An answer counts only for a sequence in flight, and only once; a probe given up is
// forgotten, so a late answer to it matches nothing.
class InFlightProbes {
public:
    struct Probe {
        int ttl = 0;
        Clock::time_point sentAt;
    };
    // Sending SEQ again while an older probe with it is in flight replaces the older one.
    void Add(std::uint16_t seq, int ttl, Clock::time_point sentAt) { m_probes[seq] = {ttl, sentAt}; }
    // The probe SEQ answers, no longer in flight; nothing when none is.
    std::optional<Probe> Take(std::uint16_t seq);
    // Gives up the probes sent before LIMIT: their sequences, oldest first.
    std::vector<std::uint16_t> ExpireSentBefore(Clock::time_point limit);
    void Clear() { m_probes.clear(); }
    std::size_t Size() const { return m_probes.size(); }

private:
    std::map<std::uint16_t, Probe> m_probes;
};

// An answer to one of the probes in flight: who answered how, and the round trip from the
// probe's send time to the answer's arrival.
struct Answer {
    std::uint16_t seq = 0;
    int ttl = 0;
    NetAddress node{};
    double roundTripMs = 0;
    AnswerKind kind = AnswerKind::EchoReply;
};

// How a send went: 0 or the errno value of the failure, and when it was sent.
struct SendResult {
    int error = 0;
    Clock::time_point at;
    bool Sent() const { return error == 0; }
};

class ProbeSocket {
public:
    // An open socket of KIND for destinations of FAMILY (ICMP echo for IPv4, ICMPv6 echo for
    // IPv6), or one that is not valid when the system refuses it.
    static ProbeSocket Open(SocketKind kind, NetAddress::Family family = NetAddress::Family::V4);
    ProbeSocket() = default;

    bool Valid() const { return m_fd.Valid(); }
    SocketKind Kind() const { return m_fd.Valid() ? m_kind : SocketKind::None; }
    NetAddress::Family Family() const { return m_family; }

    // Sends one echo request with time-to-live (hop limit) TTL and sequence SEQ to DESTINATION
    // and waits at most TIMEOUT for an answer to that very request (one that arrived later
    // counts for nothing, even when read in time; round trips run from the send to the
    // kernel's arrival stamp); other traffic and
    // late answers to earlier probes are ignored. An echo reply counts only from DESTINATION,
    // an error report only when it quotes DESTINATION. Whatever arrived before, and any
    // probes still in flight, are thrown away first. A destination of the other family than
    // the socket's is never answered.
    Echo Probe(const NetAddress &destination, int ttl, std::uint16_t seq,
                              std::chrono::milliseconds timeout);

    // Sends one echo request with time-to-live (hop limit) TTL and sequence SEQ to DESTINATION
    // without waiting; once sent, it is in flight until answered or given up.
    SendResult Send(const NetAddress &destination, int ttl, std::uint16_t seq);
    // Waits until DEADLINE for the next answer to any probe in flight to DESTINATION, matched
    // as Probe matches; nothing when none came in time.
    std::optional<Answer> Receive(const NetAddress &destination, Clock::time_point deadline);
    // Reads the answers that come until DEADLINE, to be handed out by Receive: between the
    // probes of a round, so that an answer is timed when it arrives, not when the round is sent.
    void Gather(const NetAddress &destination, Clock::time_point deadline);
    // Reads the answers that have arrived by now, without waiting, to be handed out by Receive
    // (which hands out what is ready even after its deadline).
    void ReadArrived(const NetAddress &destination) { ReadArrivals(destination, std::chrono::nanoseconds::zero()); }
    // The socket's descriptor, to wait for its traffic beside other descriptors.
    int Descriptor() const { return m_fd.Get(); }
    // Gives up the probes sent before LIMIT (see InFlightProbes).
    std::vector<std::uint16_t> ExpireSentBefore(Clock::time_point limit) { return m_inFlight.ExpireSentBefore(limit); }
    std::size_t InFlight() const { return m_inFlight.Size(); }
    // Sets the receive buffer to BYTES (the kernel doubles it, within its bound), for the
    // answers of many probes at once.
    bool SetReceiveBuffer(int bytes);

private:
    // Waits at most WAIT for traffic and reads what came; false when the socket failed.
    bool ReadArrivals(const NetAddress &destination, std::chrono::nanoseconds wait);
    void ReadErrorQueue(const NetAddress &destination);
    void ReadAnswers(const NetAddress &destination);
    // Queues the answer to SEQ of KIND from NODE that arrived at ARRIVAL, if SEQ is in flight.
    void Matched(std::uint16_t seq, const NetAddress &node, AnswerKind kind, Clock::time_point arrival);
    void DrainPending();

    InFlightProbes m_inFlight;
    std::deque<Answer> m_ready; // matched answers not yet handed out
    UniqueFd m_fd;
    SocketKind m_kind = SocketKind::None;
    NetAddress::Family m_family = NetAddress::Family::V4;
    std::uint16_t m_id = 0; // the raw socket's echo identifier (a ping socket's is the kernel's)
};

} // namespace quokka::trace::icmp
