#include "trace/icmp_packet.h"

#include <cstring>

namespace quokka::trace::icmp {
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

// An echo message of TYPE with identifier ID (any sequence).
bool IsOurEcho(std::span<const std::uint8_t> icmpHeader, std::uint8_t type, std::uint16_t id)
{
    return icmpHeader[0] == type && icmpHeader[1] == 0 && Read16(icmpHeader, 4) == id;
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

AnswerKind ReportKind(std::uint8_t type)
{
    switch (type) {
    case 11:
        return AnswerKind::TimeExceeded;
    case 3:
        return AnswerKind::Unreachable;
    default:
        return AnswerKind::OtherReport;
    }
}

std::optional<Match> MatchRawPacket(std::span<const std::uint8_t> packet, std::uint16_t id, std::uint32_t destination)
{
    const std::size_t offset = IcmpOffset(packet);
    if (offset == 0)
        return std::nullopt;
    std::uint32_t source;
    std::memcpy(&source, packet.data() + 12, 4);
    const auto message = packet.subspan(offset);
    if (message[0] == kEchoReply)
        return IsOurEcho(message, kEchoReply, id) && source == destination
                   ? std::optional(Match{source, Read16(message, 6), AnswerKind::EchoReply})
                   : std::nullopt;
    if (!IsErrorReport(message[0]))
        return std::nullopt;
    // An error report quotes the offending packet's IP header and its first 8 bytes.
    const auto quoted = message.subspan(kHeaderSize);
    const std::size_t quotedOffset = IcmpOffset(quoted);
    if (quotedOffset == 0)
        return std::nullopt;
    std::uint32_t quotedDestination;
    std::memcpy(&quotedDestination, quoted.data() + 16, 4);
    if (quotedDestination != destination)
        return std::nullopt;
    const auto request = quoted.subspan(quotedOffset);
    return IsOurEcho(request, kEchoRequest, id)
               ? std::optional(Match{source, Read16(request, 6), ReportKind(message[0])})
               : std::nullopt;
}

std::optional<std::uint32_t> AnswerFromRawPacket(std::span<const std::uint8_t> packet, Request request)
{
    const auto match = MatchRawPacket(packet, request.id, request.destination);
    return match && match->seq == request.seq ? std::optional(match->node) : std::nullopt;
}

std::vector<sock_filter> RawSocketFilter(std::uint16_t id)
{
    // X holds the offset of the ICMP header less what is being looked at; jumps count the
    // instructions to skip. Loads beyond the packet end the program with 0: dropped.
    constexpr std::uint32_t kPass = ~0U, kDrop = 0;
    return {
        BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0),                 //  0: X = IP header length
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 0),                  //  1: A = ICMP type
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kEchoReply, 0, 2),  //  2: echo reply?
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 4),                  //  3: its identifier
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, id, 16, 17),        //  4: ours: pass, else drop
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 3, 4, 0),           //  5: the error reports
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 4, 3, 0),           //  6
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 5, 2, 0),           //  7
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 11, 1, 0),          //  8
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 12, 0, 12),         //  9: none of them: drop
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 8 + 9),              // 10: the quoted protocol
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kProtocolIcmp, 0, 10), // 11: ICMP, else drop
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 8),                  // 12: quoted version and length
        BPF_STMT(BPF_ALU | BPF_AND | BPF_K, 0x0F),              // 13
        BPF_STMT(BPF_ALU | BPF_LSH | BPF_K, 2),                 // 14: quoted header length
        BPF_STMT(BPF_ALU | BPF_ADD | BPF_X, 0),                 // 15
        BPF_STMT(BPF_MISC | BPF_TAX, 0),                        // 16: X + 8 = quoted ICMP header
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 8),                  // 17: its type
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kEchoRequest, 0, 3), // 18: an echo request, else drop
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 8 + 4),              // 19: its identifier
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, id, 0, 1),          // 20: ours: pass, else drop
        BPF_STMT(BPF_RET | BPF_K, kPass),                       // 21
        BPF_STMT(BPF_RET | BPF_K, kDrop),                       // 22
    };
}

std::optional<std::uint16_t> EchoReplySequence(std::span<const std::uint8_t> message, std::uint32_t source,
                                               std::uint32_t destination)
{
    if (message.size() < kHeaderSize || message[0] != kEchoReply || source != destination)
        return std::nullopt;
    return Read16(message, 6);
}

bool IsEchoReplyTo(std::span<const std::uint8_t> message, std::uint32_t source, Request request)
{
    return EchoReplySequence(message, source, request.destination) == request.seq;
}

std::optional<std::uint16_t> QuotedSequence(std::span<const std::uint8_t> quoted, std::uint32_t original,
                                            std::uint32_t destination)
{
    if (quoted.size() < kHeaderSize || quoted[0] != kEchoRequest || original != destination)
        return std::nullopt;
    return Read16(quoted, 6);
}

bool QuotesEchoRequest(std::span<const std::uint8_t> quoted, std::uint32_t original, Request request)
{
    return QuotedSequence(quoted, original, request.destination) == request.seq;
}

namespace {

constexpr std::uint8_t kEchoRequest6 = 128;
constexpr std::uint8_t kEchoReply6 = 129;
constexpr std::uint8_t kNextHeaderIcmp6 = 58;
constexpr std::uint8_t kLastError6 = 4; // ICMPv6 error types are 1 to 127; 1 to 4 are defined

bool IsErrorReport6(std::uint8_t type)
{
    return type >= 1 && type <= kLastError6;
}

} // namespace

std::vector<std::uint8_t> BuildEchoRequest6(std::uint16_t id, std::uint16_t seq)
{
    std::vector<std::uint8_t> packet(kHeaderSize + kPayloadSize, 0);
    packet[0] = kEchoRequest6;
    Write16(packet, 4, id);
    Write16(packet, 6, seq);
    const auto payload = RequestPayload();
    std::memcpy(packet.data() + kHeaderSize, payload.data(), payload.size());
    return packet;
}

AnswerKind ReportKind6(std::uint8_t type)
{
    switch (type) {
    case 3:
        return AnswerKind::TimeExceeded;
    case 1:
        return AnswerKind::Unreachable;
    default:
        return AnswerKind::OtherReport;
    }
}

std::optional<Match6> MatchRawMessage6(std::span<const std::uint8_t> message, const NetAddress &source,
                                       std::uint16_t id, const NetAddress &destination)
{
    if (message.size() < kHeaderSize || !destination.IsV6())
        return std::nullopt;
    if (message[0] == kEchoReply6)
        return IsOurEcho(message, kEchoReply6, id) && source == destination
                   ? std::optional(Match6{source, Read16(message, 6), AnswerKind::EchoReply})
                   : std::nullopt;
    if (!IsErrorReport6(message[0]))
        return std::nullopt;
    const auto quoted = message.subspan(kHeaderSize);
    if (quoted.size() < kIpv6HeaderSize + kHeaderSize || (quoted[0] >> 4) != 6 || quoted[6] != kNextHeaderIcmp6)
        return std::nullopt;
    std::array<std::uint8_t, 16> quotedDestination;
    std::memcpy(quotedDestination.data(), quoted.data() + 24, 16);
    if (NetAddress::V6(quotedDestination) != destination)
        return std::nullopt;
    const auto request = quoted.subspan(kIpv6HeaderSize);
    return IsOurEcho(request, kEchoRequest6, id)
               ? std::optional(Match6{source, Read16(request, 6), ReportKind6(message[0])})
               : std::nullopt;
}

std::vector<sock_filter> RawSocketFilter6(std::uint16_t id)
{
    // Offsets from the ICMPv6 header; an error report quotes the IPv6 header (40 bytes) at 8
    // and the request's ICMPv6 header at 48. Loads beyond the packet drop it.
    constexpr std::uint32_t kPass = ~0U, kDrop = 0;
    constexpr std::uint32_t kQuoted = kHeaderSize, kQuotedIcmp = kHeaderSize + kIpv6HeaderSize;
    return {
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 0),                          //  0: A = type
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kEchoReply6, 0, 2),         //  1: echo reply?
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 4),                          //  2: its identifier
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, id, 8, 9),                  //  3: ours: pass, else drop
        BPF_JUMP(BPF_JMP | BPF_JGT | BPF_K, kLastError6, 8, 0),         //  4: not an error report
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0, 7, 0),                   //  5: of types 1 to 4: drop
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, kQuoted + 6),                //  6: the quoted next header
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kNextHeaderIcmp6, 0, 5),    //  7: ICMPv6, else drop
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, kQuotedIcmp),                //  8: the quoted type
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kEchoRequest6, 0, 3),       //  9: an echo request, else drop
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, kQuotedIcmp + 4),            // 10: its identifier
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, id, 0, 1),                  // 11: ours: pass, else drop
        BPF_STMT(BPF_RET | BPF_K, kPass),                               // 12
        BPF_STMT(BPF_RET | BPF_K, kDrop),                               // 13
    };
}

std::optional<std::uint16_t> EchoReplySequence6(std::span<const std::uint8_t> message, const NetAddress &source,
                                                const NetAddress &destination)
{
    if (message.size() < kHeaderSize || message[0] != kEchoReply6 || !destination.IsV6() || source != destination)
        return std::nullopt;
    return Read16(message, 6);
}

std::optional<std::uint16_t> QuotedSequence6(std::span<const std::uint8_t> quoted, const NetAddress &original,
                                             const NetAddress &destination)
{
    if (quoted.size() < kHeaderSize || quoted[0] != kEchoRequest6 || !destination.IsV6() || original != destination)
        return std::nullopt;
    return Read16(quoted, 6);
}

} // namespace quokka::trace::icmp
