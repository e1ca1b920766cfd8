#pragma once
// ICMP echo packets as bytes: building the request and deciding whether a received packet
// answers it. Pure functions, no sockets, so they can be tested with captured bytes.
#include "trace/icmp_socket.h"

#include <array>
#include <linux/filter.h>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace quokka::trace::icmp {

constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kPayloadSize = 32;

// A 16-bit field in network byte order (big end first) at byte AT.
std::uint16_t Read16(std::span<const std::uint8_t> bytes, std::size_t at);
void Write16(std::span<std::uint8_t> bytes, std::size_t at, std::uint16_t value);

// The echo payload: "Data Buffer", a NUL, then 20 zero bytes.
std::array<std::uint8_t, kPayloadSize> RequestPayload();

// Internet checksum (one's complement sum of 16-bit words).
std::uint16_t Checksum(std::span<const std::uint8_t> bytes);

// An echo request (type 8) with identifier ID and sequence SEQ, checksum filled in.
std::vector<std::uint8_t> BuildEchoRequest(std::uint16_t id, std::uint16_t seq);

// The request a probe waits for. Identifier and sequence are compared as on the wire; the
// destination is in network byte order.
struct Request {
    std::uint16_t id = 0;
    std::uint16_t seq = 0;
    std::uint32_t destination = 0;
};

// The kind of an error report of ICMP type TYPE.
AnswerKind ReportKind(std::uint8_t type);

// An answer to one of the echo requests that carry one identifier and go to one destination,
// whichever sequence it names: the answering node (network byte order), the sequence, the kind.
struct Match {
    std::uint32_t node = 0;
    std::uint16_t seq = 0;
    AnswerKind kind = AnswerKind::EchoReply;
    bool operator==(const Match &) const = default;
};

// A packet read from a raw ICMP socket, IP header first: an echo reply with identifier ID from
// DESTINATION, or an error report (unreachable, source quench, redirect, time exceeded,
// parameter problem) quoting an echo request with identifier ID sent to DESTINATION.
std::optional<Match> MatchRawPacket(std::span<const std::uint8_t> packet, std::uint16_t id, std::uint32_t destination);

// A packet read from a raw ICMP socket, IP header first. Returns the answering node
// (network byte order) when the packet is an echo reply to REQUEST from its destination, or
// an error report (unreachable, source quench, redirect, time exceeded, parameter problem)
// quoting REQUEST as sent to its destination.
std::optional<std::uint32_t> AnswerFromRawPacket(std::span<const std::uint8_t> packet, Request request);

// A classic socket filter for a raw ICMP socket whose echo requests carry identifier ID: it
// passes echo replies with that identifier and error reports that quote an echo request with
// it, and drops everything else before it is queued. Attach with SO_ATTACH_FILTER.
std::vector<sock_filter> RawSocketFilter(std::uint16_t id);

// An ICMP message read from a ping socket (no IP header; the kernel already matched the
// identifier) that came from SOURCE: true when it is an echo reply to REQUEST from its
// destination.
bool IsEchoReplyTo(std::span<const std::uint8_t> message, std::uint32_t source, Request request);
// The same for any sequence: the sequence of an echo reply from DESTINATION.
std::optional<std::uint16_t> EchoReplySequence(std::span<const std::uint8_t> message, std::uint32_t source,
                                               std::uint32_t destination);

// The bytes the kernel returns with a queued ICMP error on a ping socket: the quoted ICMP
// header of the offending packet, and in the message's name the destination it was sent to
// (ORIGINAL). True when it quotes an echo request to REQUEST's destination with its sequence.
bool QuotesEchoRequest(std::span<const std::uint8_t> quoted, std::uint32_t original, Request request);
// The same for any sequence: the sequence of the quoted echo request sent to DESTINATION.
std::optional<std::uint16_t> QuotedSequence(std::span<const std::uint8_t> quoted, std::uint32_t original,
                                            std::uint32_t destination);

// ICMPv6 echo. On an ICMPv6 socket, ping or raw, the kernel computes the checksum (it covers
// a pseudo-header of both addresses) and a raw socket receives no IPv6 header: a message
// starts at its ICMPv6 header and its source is the message's name.
constexpr std::size_t kIpv6HeaderSize = 40;

// An ICMPv6 echo request (type 128) with identifier ID, sequence SEQ and the IPv4 request's
// payload; the checksum is left at zero.
std::vector<std::uint8_t> BuildEchoRequest6(std::uint16_t id, std::uint16_t seq);

// The kind of an ICMPv6 error report of TYPE (1 unreachable, 3 time exceeded).
AnswerKind ReportKind6(std::uint8_t type);

// An answer to one of the ICMPv6 echo requests with one identifier to one destination.
struct Match6 {
    NetAddress node{};
    std::uint16_t seq = 0;
    AnswerKind kind = AnswerKind::EchoReply;
    bool operator==(const Match6 &) const = default;
};

// An ICMPv6 message read from a raw socket that came from SOURCE: an echo reply (129) with
// identifier ID from DESTINATION, or an error report (unreachable, packet too big, time
// exceeded, parameter problem) whose quoted packet, an IPv6 header without extension headers
// and an ICMPv6 echo request, is ours: identifier ID, sent to DESTINATION.
std::optional<Match6> MatchRawMessage6(std::span<const std::uint8_t> message, const NetAddress &source,
                                       std::uint16_t id, const NetAddress &destination);

// The raw ICMPv6 socket's filter for identifier ID, as RawSocketFilter is for IPv4, on
// messages that start at their ICMPv6 header.
std::vector<sock_filter> RawSocketFilter6(std::uint16_t id);

// On an ICMPv6 ping socket: the sequence of an echo reply from DESTINATION (SOURCE), and the
// sequence of the echo request an error report quotes, sent to DESTINATION (ORIGINAL).
std::optional<std::uint16_t> EchoReplySequence6(std::span<const std::uint8_t> message, const NetAddress &source,
                                                const NetAddress &destination);
std::optional<std::uint16_t> QuotedSequence6(std::span<const std::uint8_t> quoted, const NetAddress &original,
                                             const NetAddress &destination);

} // namespace quokka::trace::icmp
