// Fuzz target for the probe helper's request parser: any bytes a caller can write to the
// helper. Besides not crashing, an accepted request must be exactly one well-formed message
// with a TTL of 1 to 255 and a unicast destination outside the refused networks, and what
// is read must say again what was written.
#include "trace/probe_protocol.h"
#include "tests/fuzz/fuzz_check.h"

#include <cstdlib>
#include <cstring>

using namespace quokka::trace;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::span<const std::uint8_t> bytes(data, size);
    const probe::Parsed parsed = probe::ParseRequest(bytes);
    if (parsed.verdict == probe::Verdict::Garbage)
        return 0;
    Check(size == probe::kMessageSize && data[0] == 'Q' && data[1] == 'P');
    const probe::Message again = probe::EncodeRequest(parsed.request);
    Check(std::memcmp(again.data(), data, size) == 0);
    if (parsed.verdict == probe::Verdict::Accepted) {
        const unsigned first = data[4];
        Check(parsed.request.ttl >= 1 && parsed.request.ttl <= 255);
        Check(first != 0 && first != 127 && first < 224);
    }
    (void)probe::ParseAnswer(bytes);
    return 0;
}
