#include "trace/icmp_packet.h"

#include <cstring>

namespace icmp {
namespace {

constexpr std::uint8_t kEchoReply = 0;
constexpr std::uint8_t kEchoRequest = 8;
constexpr std::size_t kMinIpHeader = 20;
constexpr std::uint8_t kProtocolIcmp = 1;

bool IsErrorReport(std::uint8_t type)
{
    // Destination unreachable, source quench, redirect, time exceeded, parameter problem.
    return type == 3 || type == 4 || type == 5 || type == 11 || type == 12;
}

// The IP header length of an IPv4 packet that carries ICMP, or 0 when it is not one.
std::size_t IcmpOffset(std::span<const std::uint8_t> packet)
{
    if (packet.size() < kMinIpHeader || (packet[0] >> 4) != 4)
        return 0;
    const std::size_t length = std::size_t(packet[0] & 0x0F) * 4;
    if (length < kMinIpHeader || packet.size() < length + kHeaderSize || packet[9] != kProtocolIcmp)
        return 0;
    return length;
}

bool IsOurEcho(std::span<const std::uint8_t> icmpHeader, std::uint8_t type, Request request)
{
    return icmpHeader[0] == type && icmpHeader[1] == 0 && Read16(icmpHeader, 4) == request.id
        && Read16(icmpHeader, 6) == request.seq;
}

} // namespace

std::uint16_t Read16(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return std::uint16_t(bytes[at] << 8 | bytes[at + 1]);
}

void Write16(std::span<std::uint8_t> bytes, std::size_t at, std::uint16_t value)
{
    bytes[at] = std::uint8_t(value >> 8);
    bytes[at + 1] = std::uint8_t(value);
}

std::array<std::uint8_t, kPayloadSize> RequestPayload()
{
    std::array<std::uint8_t, kPayloadSize> payload{};
    std::memcpy(payload.data(), "Data Buffer", 11);
    return payload;
}

std::uint16_t Checksum(std::span<const std::uint8_t> bytes)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        sum += std::uint32_t(bytes[i] << 8 | bytes[i + 1]);
    if (bytes.size() % 2)
        sum += std::uint32_t(bytes.back() << 8);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return std::uint16_t(~sum);
}

std::vector<std::uint8_t> BuildEchoRequest(std::uint16_t id, std::uint16_t seq)
{
    std::vector<std::uint8_t> packet(kHeaderSize + kPayloadSize, 0);
    packet[0] = kEchoRequest;
    Write16(packet, 4, id);
    Write16(packet, 6, seq);
    const auto payload = RequestPayload();
    std::memcpy(packet.data() + kHeaderSize, payload.data(), payload.size());
    Write16(packet, 2, Checksum(packet));
    return packet;
}

std::optional<std::uint32_t> AnswerFromRawPacket(std::span<const std::uint8_t> packet, Request request)
{
    const std::size_t offset = IcmpOffset(packet);
    if (offset == 0)
        return std::nullopt;
    std::uint32_t source;
    std::memcpy(&source, packet.data() + 12, 4);
    const auto message = packet.subspan(offset);
    if (message[0] == kEchoReply)
        return IsOurEcho(message, kEchoReply, request) ? std::optional(source) : std::nullopt;
    if (!IsErrorReport(message[0]))
        return std::nullopt;
    // An error report quotes the offending packet's IP header and its first 8 bytes.
    const auto quoted = message.subspan(kHeaderSize);
    const std::size_t quotedOffset = IcmpOffset(quoted);
    if (quotedOffset == 0)
        return std::nullopt;
    return IsOurEcho(quoted.subspan(quotedOffset), kEchoRequest, request) ? std::optional(source)
                                                                          : std::nullopt;
}

bool IsEchoReplyTo(std::span<const std::uint8_t> message, std::uint16_t seq)
{
    return message.size() >= kHeaderSize && message[0] == kEchoReply && Read16(message, 6) == seq;
}

bool QuotesEchoRequest(std::span<const std::uint8_t> quoted, std::uint16_t seq)
{
    return quoted.size() >= kHeaderSize && quoted[0] == kEchoRequest && Read16(quoted, 6) == seq;
}

} // namespace icmp
