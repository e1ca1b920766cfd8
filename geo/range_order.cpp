#include "geo/range_order.h"

#include "base/little_endian.h"
#include "geo/geo_record.h"

using quokka::ReadLe32;
namespace quokka::geo {

void ForEachOrderFault(std::span<const unsigned char> ranges, std::size_t stride,
                       const std::function<bool(std::size_t index, const char *what)> &fault)
{
    const std::size_t count = ranges.size() / stride;
    const unsigned char *at = ranges.data();
    std::uint32_t previousLast = 0;
    for (std::size_t i = 0; i < count; ++i, at += stride) {
        const std::uint32_t first = ReadLe32(at), last = ReadLe32(at + 4);
        if (first > last && !fault(i, "first address above last address"))
            return;
        if (i > 0 && first <= previousLast
            && !fault(i, "does not start after the previous one ends (out of order or overlapping)"))
            return;
        previousLast = last;
    }
}

} // namespace quokka::geo
