#include "trace/probe_protocol.h"

#include "trace/icmp_packet.h"

#include <arpa/inet.h>
#include <cstring>

namespace quokka::trace::probe {

namespace {

// Request: 'Q' 'P' version ttl | destination (4, network order) | sequence (2, big end) | 0 0
// Answer:  'Q' 'A' version status | node (4, network order) | sequence (2) | round trip (2)
constexpr std::uint8_t kVersion = 1;

} // namespace

Message EncodeRequest(const Request &request)
{
    Message m{'Q', 'P', kVersion, std::uint8_t(request.ttl)};
    std::memcpy(m.data() + 4, &request.destination, 4);
    icmp::Write16(m, 8, request.seq);
    return m;
}

Parsed ParseRequest(std::span<const std::uint8_t> bytes)
{
    Parsed parsed;
    if (bytes.size() != kMessageSize || bytes[0] != 'Q' || bytes[1] != 'P' || bytes[2] != kVersion || bytes[10] != 0
        || bytes[11] != 0)
        return parsed;
    parsed.request.ttl = bytes[3];
    std::memcpy(&parsed.request.destination, bytes.data() + 4, 4);
    parsed.request.seq = icmp::Read16(bytes, 8);
    const bool allowed = parsed.request.ttl >= 1 && ProbeableDestination(parsed.request.destination);
    parsed.verdict = allowed ? Verdict::Accepted : Verdict::Refused;
    return parsed;
}

bool ProbeableDestination(std::uint32_t networkOrder)
{
    const std::uint32_t address = ntohl(networkOrder);
    const std::uint32_t first = address >> 24;
    return first != 0 && first != 127 && first < 224; // 224/4 multicast, 240/4 reserved
}

Message EncodeAnswer(const Answer &answer)
{
    Message m{'Q', 'A', kVersion, std::uint8_t(answer.status)};
    std::memcpy(m.data() + 4, &answer.node, 4);
    icmp::Write16(m, 8, answer.seq);
    icmp::Write16(m, 10, answer.roundTripMs);
    return m;
}

std::optional<Answer> ParseAnswer(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() != kMessageSize || bytes[0] != 'Q' || bytes[1] != 'A' || bytes[2] != kVersion)
        return std::nullopt;
    const auto status = Status(bytes[3]);
    if (status < Status::Ready || status > Status::NoRoute)
        return std::nullopt;
    Answer answer;
    answer.status = status;
    std::memcpy(&answer.node, bytes.data() + 4, 4);
    answer.seq = icmp::Read16(bytes, 8);
    answer.roundTripMs = icmp::Read16(bytes, 10);
    return answer;
}

} // namespace quokka::trace::probe
