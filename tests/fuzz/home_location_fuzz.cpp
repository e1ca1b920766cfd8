// Fuzz target for the home point's 8 stored bytes: any stored value decodes without harm;
// exactly 8 bytes decode to the point that encodes back to them, anything else is no home.
#include "geo/home_location.h"
#include "tests/fuzz/fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

using quokka::geo::HomeLocation;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const HomeLocation home = HomeLocation::Decode(bytes);
    if (size != 8) {
        Check(home.x == 0 && home.y == 0 && !home.IsSet());
        return 0;
    }
    Check(home.Encode() == bytes);
    Check(home.IsSet() == (bytes != QByteArray(8, '\0')));
    const std::uint32_t x = std::uint32_t(data[0]) | std::uint32_t(data[1]) << 8
        | std::uint32_t(data[2]) << 16 | std::uint32_t(data[3]) << 24;
    Check(static_cast<std::uint32_t>(home.x) == x);
    const HomeLocation again = HomeLocation::Decode(home.Encode());
    Check(again.x == home.x && again.y == home.y);
    return 0;
}
