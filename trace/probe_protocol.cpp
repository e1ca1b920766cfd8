#include "trace/probe_protocol.h"

#include "trace/icmp_packet.h"

#include <arpa/inet.h>
#include <cstring>

namespace quokka::trace::probe {

namespace {

// Request: 'Q' 'P' version ttl | destination (4, network order) | sequence (2, big end) | 0 0
// Hello:   'Q' 'H' 2 0 | 0 0 0 0 | 0 0 | 0 0
// Answer (Single): 'Q' 'A' 1 status | node (4, network order) | sequence (2) | round trip ms (2)
// Answer (Rounds): 'Q' 'A' 2 status | node (4, network order) | sequence (2) | kind | 0
//                  | round trip in microseconds (4, big end)
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

} // namespace

Message EncodeRequest(const Request &request, Version version)
{
    Message m{'Q', 'P', std::uint8_t(version), std::uint8_t(request.ttl)};
    std::memcpy(m.data() + 4, &request.destination, 4);
    icmp::Write16(m, 8, request.seq);
    return m;
}

Parsed ParseRequest(std::span<const std::uint8_t> bytes, Version version)
{
    Parsed parsed;
    if (bytes.size() != kMessageSize || bytes[0] != 'Q' || bytes[1] != 'P' || bytes[2] != std::uint8_t(version)
        || bytes[10] != 0 || bytes[11] != 0)
        return parsed;
    parsed.request.ttl = bytes[3];
    std::memcpy(&parsed.request.destination, bytes.data() + 4, 4);
    parsed.request.seq = icmp::Read16(bytes, 8);
    if (version == Version::Rounds && parsed.request.ttl == 0)
        return parsed;
    const bool allowed = parsed.request.ttl >= 1 && ProbeableDestination(parsed.request.destination);
    parsed.verdict = allowed ? Verdict::Accepted : Verdict::Refused;
    return parsed;
}

Message EncodeHello()
{
    return Message{'Q', 'H', kRounds};
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

Message EncodeAnswer(const Answer &answer)
{
    Message m{'Q', 'A', kSingle, std::uint8_t(answer.status)};
    std::memcpy(m.data() + 4, &answer.node, 4);
    icmp::Write16(m, 8, answer.seq);
    icmp::Write16(m, 10, answer.roundTripMs);
    return m;
}

std::optional<Answer> ParseAnswer(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() != kMessageSize || bytes[0] != 'Q' || bytes[1] != 'A' || bytes[2] != kSingle
        || !KnownStatus(bytes[3], Version::Single))
        return std::nullopt;
    Answer answer;
    answer.status = Status(bytes[3]);
    std::memcpy(&answer.node, bytes.data() + 4, 4);
    answer.seq = icmp::Read16(bytes, 8);
    answer.roundTripMs = icmp::Read16(bytes, 10);
    return answer;
}

RoundMessage EncodeRoundAnswer(const RoundAnswer &answer)
{
    RoundMessage m{'Q', 'A', kRounds, std::uint8_t(answer.status)};
    std::memcpy(m.data() + 4, &answer.node, 4);
    icmp::Write16(m, 8, answer.seq);
    m[10] = answer.kind;
    icmp::Write16(m, 12, std::uint16_t(answer.roundTripUs >> 16));
    icmp::Write16(m, 14, std::uint16_t(answer.roundTripUs));
    return m;
}

std::optional<RoundAnswer> ParseRoundAnswer(std::span<const std::uint8_t> bytes)
{
    constexpr auto kLastKind = std::uint8_t(icmp::AnswerKind::OtherReport);
    if (bytes.size() != kRoundAnswerSize || bytes[0] != 'Q' || bytes[1] != 'A' || bytes[2] != kRounds
        || !KnownStatus(bytes[3], Version::Rounds) || bytes[10] > kLastKind || bytes[11] != 0)
        return std::nullopt;
    RoundAnswer answer;
    answer.status = Status(bytes[3]);
    std::memcpy(&answer.node, bytes.data() + 4, 4);
    answer.seq = icmp::Read16(bytes, 8);
    answer.kind = bytes[10];
    answer.roundTripUs = Read32(bytes, 12);
    return answer;
}

} // namespace quokka::trace::probe
