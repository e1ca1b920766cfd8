#pragma once
// ICMP echo packets as bytes: building the request and deciding whether a received packet
// answers it. Pure functions, no sockets, so they can be tested with captured bytes.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace icmp {

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

// The request a probe waits for. Identifier and sequence are compared as on the wire.
struct Request {
    std::uint16_t id = 0;
    std::uint16_t seq = 0;
};

// A packet read from a raw ICMP socket, IP header first. Returns the answering node
// (network byte order) when the packet is an echo reply to REQUEST, or an error report
// (unreachable, source quench, redirect, time exceeded, parameter problem) quoting it.
std::optional<std::uint32_t> AnswerFromRawPacket(std::span<const std::uint8_t> packet, Request request);

// An ICMP message read from a ping socket (no IP header; the kernel already matched the
// identifier): true when it is an echo reply with sequence SEQ.
bool IsEchoReplyTo(std::span<const std::uint8_t> message, std::uint16_t seq);

// The bytes the kernel returns with a queued ICMP error on a ping socket: the quoted ICMP
// header of our request. True when it quotes an echo request with sequence SEQ.
bool QuotesEchoRequest(std::span<const std::uint8_t> quoted, std::uint16_t seq);

} // namespace icmp
