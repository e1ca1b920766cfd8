#include "trace/probe_protocol.h"

#include "trace/icmp_packet.h"

#include <arpa/inet.h>
#include <algorithm>
#include <cstring>

namespace quokka::trace::probe {

namespace {

// Request: 'Q' 'P' version ttl | destination (4, network order) | sequence (2, big end) | 0 0
//   IPv6:  'Q' 'P' version ttl | 0 0 0 0 | sequence (2) | 6 0 | destination (16)
// Hello:   'Q' 'H' 2 0 | 0 0 0 0 | 0 0 | 0 0
// Answer (Single): 'Q' 'A' 1 status | node (4, network order) | sequence (2) | round trip ms (2)
//   IPv6 node:     'Q' 'A' 1 status | 0 0 0 0 | sequence (2) | round trip ms (2) | node (16)
// Answer (Rounds): 'Q' 'A' 2 status | node (4, network order) | sequence (2) | kind | 0
//                  | round trip in microseconds (4, big end)
//   IPv6 node:     the same with the node field zero, 6 for the 0, and the node (16) after
constexpr std::uint8_t kSingle = std::uint8_t(Version::Single);
constexpr std::uint8_t kRounds = std::uint8_t(Version::Rounds);

bool KnownStatus(std::uint8_t status, Version version)
{
    const auto last = version == Version::Rounds ? Status::Sent : Status::NoRoute;
    return status >= std::uint8_t(Status::Ready) && status <= std::uint8_t(last);
}

std::uint32_t Read32(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return std::uint32_t(icmp::Read16(bytes, at)) << 16 | icmp::Read16(bytes, at + 2);
}

// Puts ADDRESS into a message whose IPv4 field is at byte 4: there, or for IPv6 at the end.
void PutAddress(Message &m, const NetAddress &address)
{
    if (address.IsV6()) {
        const auto &bytes = address.V6Bytes();
        m.insert(m.end(), bytes.begin(), bytes.end());
    } else {
        const std::uint32_t v4 = address.V4NetworkOrder();
        std::memcpy(m.data() + 4, &v4, 4);
    }
}

// The address of a message of BASE bytes, or of BASE + 16 with an IPv6 address after a zero
// IPv4 field; nothing for any other shape. An answer's zero IPv4 field is no node at all.
std::optional<NetAddress> GetAddress(std::span<const std::uint8_t> bytes, std::size_t base, bool zeroIsNone)
{
    if (bytes.size() == base) {
        std::uint32_t v4;
        std::memcpy(&v4, bytes.data() + 4, 4);
        return v4 == 0 && zeroIsNone ? NetAddress() : NetAddress::V4(v4);
    }
    if (bytes.size() != base + kAddress6Size || bytes[4] || bytes[5] || bytes[6] || bytes[7])
        return std::nullopt;
    std::array<std::uint8_t, 16> v6;
    std::memcpy(v6.data(), bytes.data() + base, v6.size());
    return NetAddress::V6(v6);
}

} // namespace

Message EncodeRequest(const Request &request, Version version)
{
    Message m{'Q', 'P', std::uint8_t(version), std::uint8_t(request.ttl), 0, 0, 0, 0, 0, 0, 0, 0};
    icmp::Write16(m, 8, request.seq);
    if (request.destination.IsV6())
        m[10] = kFamily6;
    PutAddress(m, request.destination);
    return m;
}

Parsed ParseRequest(std::span<const std::uint8_t> bytes, Version version)
{
    Parsed parsed;
    if (bytes.size() < kMessageSize || bytes[0] != 'Q' || bytes[1] != 'P' || bytes[2] != std::uint8_t(version)
        || bytes[11] != 0 || (bytes[10] != 0 && bytes[10] != kFamily6)
        || bytes.size() != (bytes[10] == kFamily6 ? kWideMessageSize : kMessageSize))
        return parsed;
    const auto destination = GetAddress(bytes, kMessageSize, false);
    if (!destination)
        return parsed;
    parsed.request.ttl = bytes[3];
    parsed.request.destination = *destination;
    parsed.request.seq = icmp::Read16(bytes, 8);
    if (version == Version::Rounds && parsed.request.ttl == 0)
        return parsed;
    const bool allowed = parsed.request.ttl >= 1 && ProbeableDestination(parsed.request.destination);
    parsed.verdict = allowed ? Verdict::Accepted : Verdict::Refused;
    return parsed;
}

Message EncodeHello()
{
    return Message{'Q', 'H', kRounds, 0, 0, 0, 0, 0, 0, 0, 0, 0};
}

bool IsHello(std::span<const std::uint8_t> bytes)
{
    const Message hello = EncodeHello();
    return bytes.size() == hello.size() && std::memcmp(bytes.data(), hello.data(), hello.size()) == 0;
}

bool ProbeableDestination(std::uint32_t networkOrder)
{
    const std::uint32_t address = ntohl(networkOrder);
    const std::uint32_t first = address >> 24;
    return first != 0 && first != 127 && first < 224; // 224/4 multicast, 240/4 reserved
}

bool ProbeableDestination(const NetAddress &address)
{
    if (address.IsV4())
        return ProbeableDestination(address.V4NetworkOrder());
    if (!address.IsV6())
        return false;
    const auto &b = address.V6Bytes();
    if (b[0] == 0xFF)
        return false; // multicast
    const bool zeroTen = std::all_of(b.begin(), b.begin() + 10, [](std::uint8_t x) { return x == 0; });
    if (zeroTen && b[10] == 0xFF && b[11] == 0xFF)
        return false; // IPv4-mapped
    const bool zeroFifteen = zeroTen && std::all_of(b.begin() + 10, b.end() - 1, [](std::uint8_t x) { return x == 0; });
    return !(zeroFifteen && (b[15] == 0 || b[15] == 1)); // unspecified, loop-back
}

Message EncodeAnswer(const Answer &answer)
{
    Message m{'Q', 'A', kSingle, std::uint8_t(answer.status), 0, 0, 0, 0, 0, 0, 0, 0};
    icmp::Write16(m, 8, answer.seq);
    icmp::Write16(m, 10, answer.roundTripMs);
    PutAddress(m, answer.node);
    return m;
}

std::optional<Answer> ParseAnswer(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < kMessageSize || bytes[0] != 'Q' || bytes[1] != 'A' || bytes[2] != kSingle
        || !KnownStatus(bytes[3], Version::Single))
        return std::nullopt;
    const auto node = GetAddress(bytes, kMessageSize, true);
    if (!node)
        return std::nullopt;
    Answer answer;
    answer.status = Status(bytes[3]);
    answer.node = *node;
    answer.seq = icmp::Read16(bytes, 8);
    answer.roundTripMs = icmp::Read16(bytes, 10);
    return answer;
}

RoundMessage EncodeRoundAnswer(const RoundAnswer &answer)
{
    RoundMessage m{'Q', 'A', kRounds, std::uint8_t(answer.status), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    icmp::Write16(m, 8, answer.seq);
    m[10] = answer.kind;
    if (answer.node.IsV6())
        m[11] = kFamily6;
    icmp::Write16(m, 12, std::uint16_t(answer.roundTripUs >> 16));
    icmp::Write16(m, 14, std::uint16_t(answer.roundTripUs));
    PutAddress(m, answer.node);
    return m;
}

std::optional<RoundAnswer> ParseRoundAnswer(std::span<const std::uint8_t> bytes)
{
    constexpr auto kLastKind = std::uint8_t(icmp::AnswerKind::OtherReport);
    if (bytes.size() < kRoundAnswerSize || bytes[0] != 'Q' || bytes[1] != 'A' || bytes[2] != kRounds
        || !KnownStatus(bytes[3], Version::Rounds) || bytes[10] > kLastKind || (bytes[11] != 0 && bytes[11] != kFamily6)
        || bytes.size() != (bytes[11] == kFamily6 ? kWideRoundAnswerSize : kRoundAnswerSize))
        return std::nullopt;
    const auto node = GetAddress(bytes, kRoundAnswerSize, true);
    if (!node)
        return std::nullopt;
    RoundAnswer answer;
    answer.status = Status(bytes[3]);
    answer.node = *node;
    answer.seq = icmp::Read16(bytes, 8);
    answer.kind = bytes[10];
    answer.roundTripUs = Read32(bytes, 12);
    return answer;
}

} // namespace quokka::trace::probe
