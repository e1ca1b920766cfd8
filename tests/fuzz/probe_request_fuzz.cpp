// Fuzz target for the probe helper's request parser: any bytes a caller can write to the
// helper. Besides not crashing, an accepted request must be exactly one well-formed message
// with a TTL of 1 to 255 and a unicast destination outside the refused networks, and what
// is read must say again what was written; in the language of rounds a TTL of 0 is garbage,
// and an answer read must say again what was written too.
#include "trace/probe_protocol.h"
#include "tests/fuzz/fuzz_check.h"

#include <cstdlib>
#include <cstring>

using namespace quokka::trace;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::span<const std::uint8_t> bytes(data, size);
    (void)probe::ParseAnswer(bytes);
    if (const auto answer = probe::ParseRoundAnswer(bytes)) {
        const probe::RoundMessage again = probe::EncodeRoundAnswer(*answer);
        Check(size == again.size() && std::memcmp(again.data(), data, size) == 0);
    }
    if (probe::IsHello(bytes))
        Check(size == probe::kMessageSize && data[1] == 'H');
    for (const auto version : {probe::Version::Single, probe::Version::Rounds}) {
        const probe::Parsed parsed = probe::ParseRequest(bytes, version);
        if (parsed.verdict == probe::Verdict::Garbage)
            continue;
        const bool wide = size == probe::kWideMessageSize;
        Check((size == probe::kMessageSize || wide) && data[0] == 'Q' && data[1] == 'P'
              && data[2] == std::uint8_t(version) && data[10] == (wide ? probe::kFamily6 : 0));
        const probe::Message again = probe::EncodeRequest(parsed.request, version);
        Check(again.size() == size && std::memcmp(again.data(), data, size) == 0);
        Check(version == probe::Version::Single || parsed.request.ttl != 0);
        if (parsed.verdict == probe::Verdict::Accepted && !wide) {
            const unsigned first = data[4];
            Check(parsed.request.ttl >= 1 && parsed.request.ttl <= 255);
            Check(first != 0 && first != 127 && first < 224);
        }
        if (parsed.verdict == probe::Verdict::Accepted && wide) {
            // Not multicast, not ::ffff:0:0/96, not :: or ::1.
            static const std::uint8_t mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
            static const std::uint8_t zero[15] = {};
            Check(parsed.request.ttl >= 1 && data[12] != 0xFF && std::memcmp(data + 12, mapped, 12) != 0);
            Check(std::memcmp(data + 12, zero, 15) != 0 || data[27] > 1);
        }
    }
    return 0;
}
