#include "trace/probe_protocol.h"

#include <cstring>

namespace probe {

namespace {

// Request: 'Q' 'P' version ttl | destination (4, network order) | sequence (2, big end) | 0 0
// Answer:  'Q' 'A' version status | node (4, network order) | sequence (2) | round trip (2)
constexpr std::uint8_t kVersion = 1;

void Put16(Message &m, std::size_t at, std::uint16_t value)
{
    m[at] = std::uint8_t(value >> 8);
    m[at + 1] = std::uint8_t(value);
}

std::uint16_t Get16(std::span<const std::uint8_t> b, std::size_t at)
{
    return std::uint16_t(b[at] << 8 | b[at + 1]);
}

std::uint32_t HostOrder(std::uint32_t networkOrder)
{
    const auto *b = reinterpret_cast<const std::uint8_t *>(&networkOrder);
    return std::uint32_t(b[0]) << 24 | std::uint32_t(b[1]) << 16 | std::uint32_t(b[2]) << 8 | b[3];
}

} // namespace

Message EncodeRequest(const Request &request)
{
    Message m{'Q', 'P', kVersion, std::uint8_t(request.ttl)};
    std::memcpy(m.data() + 4, &request.destination, 4);
    Put16(m, 8, request.seq);
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
    parsed.request.seq = Get16(bytes, 8);
    const bool allowed = parsed.request.ttl >= 1 && ProbeableDestination(parsed.request.destination);
    parsed.verdict = allowed ? Verdict::Accepted : Verdict::Refused;
    return parsed;
}

bool ProbeableDestination(std::uint32_t networkOrder)
{
    const std::uint32_t address = HostOrder(networkOrder);
    const std::uint32_t first = address >> 24;
    return first != 0 && first != 127 && first < 224; // 224/4 multicast, 240/4 reserved
}

Message EncodeAnswer(const Answer &answer)
{
    Message m{'Q', 'A', kVersion, std::uint8_t(answer.status)};
    std::memcpy(m.data() + 4, &answer.node, 4);
    Put16(m, 8, answer.seq);
    Put16(m, 10, answer.roundTripMs);
    return m;
}

std::optional<Answer> ParseAnswer(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() != kMessageSize || bytes[0] != 'Q' || bytes[1] != 'A' || bytes[2] != kVersion)
        return std::nullopt;
    const auto status = Status(bytes[3]);
    if (status != Status::Ready && status != Status::Answered && status != Status::NoAnswer && status != Status::Refused)
        return std::nullopt;
    Answer answer;
    answer.status = status;
    std::memcpy(&answer.node, bytes.data() + 4, 4);
    answer.seq = Get16(bytes, 8);
    answer.roundTripMs = Get16(bytes, 10);
    return answer;
}

} // namespace probe
