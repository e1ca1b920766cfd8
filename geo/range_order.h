#pragma once
// The order a binary search over address ranges needs, checked where a table file is taken
// into use and by the table tools.
#include <cstddef>
#include <functional>
#include <span>

namespace quokka::geo {

// RANGES holds records of STRIDE bytes, each beginning with its first and last address
// (32-bit little-endian). FAULT(index, what) is called for each range whose first address lies
// above its last, and for each that does not start after the previous one ends (out of order
// or overlapping), until it returns false.
void ForEachOrderFault(std::span<const unsigned char> ranges, std::size_t stride,
                       const std::function<bool(std::size_t index, const char *what)> &fault);

} // namespace quokka::geo
