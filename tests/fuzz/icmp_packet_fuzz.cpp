// Fuzz target for the ICMP reply parser: any bytes a raw or ping socket can deliver, against
// the request a probe waits for. Besides not crashing, an accepted packet must really answer
// that request: its source comes from the packet, its type, identifier and sequence match,
// and it is about the request's destination (an echo reply from it, an error quoting it).
#include "trace/icmp_packet.h"
#include "tests/fuzz/fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

using namespace quokka::trace;

std::uint16_t Read16(std::span<const std::uint8_t> b, std::size_t at)
{
    return std::uint16_t(b[at] << 8 | b[at + 1]);
}

bool IsErrorReport(std::uint8_t type)
{
    return type == 3 || type == 4 || type == 5 || type == 11 || type == 12;
}

// Where an IPv4 header that carries ICMP ends, checked independently of the parser.
std::size_t IcmpStart(std::span<const std::uint8_t> packet)
{
    Check(packet.size() >= 20 && packet[0] >> 4 == 4 && packet[9] == 1);
    const std::size_t length = std::size_t(packet[0] & 0x0F) * 4;
    Check(length >= 20 && packet.size() >= length + icmp::kHeaderSize);
    return length;
}

void CheckRawAnswer(std::span<const std::uint8_t> packet, icmp::Request request, std::uint32_t source)
{
    std::uint32_t expected;
    std::memcpy(&expected, packet.data() + 12, 4);
    Check(source == expected);
    const auto message = packet.subspan(IcmpStart(packet));
    std::span<const std::uint8_t> echo = message;
    if (message[0] != 0) {
        Check(IsErrorReport(message[0]));
        const auto quoted = message.subspan(icmp::kHeaderSize);
        std::uint32_t quotedDestination;
        std::memcpy(&quotedDestination, quoted.data() + 16, 4);
        Check(quotedDestination == request.destination);
        echo = quoted.subspan(IcmpStart(quoted));
        Check(echo[0] == 8);
    } else {
        Check(source == request.destination);
    }
    Check(echo[1] == 0 && Read16(echo, 4) == request.id && Read16(echo, 6) == request.seq);
}

} // namespace

// The first eight bytes are the request (identifier, sequence, destination as on the wire);
// the rest is the packet. A ping socket's message is taken as coming from the destination and
// as an error about it, and once more from elsewhere, which must never count.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 8)
        return 0;
    icmp::Request request{std::uint16_t(data[0] << 8 | data[1]), std::uint16_t(data[2] << 8 | data[3]), 0};
    std::memcpy(&request.destination, data + 4, 4);
    const std::span<const std::uint8_t> packet(data + 8, size - 8);
    const std::uint32_t elsewhere = request.destination ^ 1;

    if (const auto source = icmp::AnswerFromRawPacket(packet, request))
        CheckRawAnswer(packet, request, *source);
    if (icmp::IsEchoReplyTo(packet, request.destination, request))
        Check(packet.size() >= icmp::kHeaderSize && packet[0] == 0 && Read16(packet, 6) == request.seq);
    Check(!icmp::IsEchoReplyTo(packet, elsewhere, request));
    if (icmp::QuotesEchoRequest(packet, request.destination, request))
        Check(packet.size() >= icmp::kHeaderSize && packet[0] == 8 && Read16(packet, 6) == request.seq);
    Check(!icmp::QuotesEchoRequest(packet, elsewhere, request));

    // Our own request, checksummed, always verifies to zero.
    const auto built = icmp::BuildEchoRequest(request.id, request.seq);
    Check(icmp::Checksum(built) == 0 && icmp::QuotesEchoRequest(built, request.destination, request));
    return 0;
}
