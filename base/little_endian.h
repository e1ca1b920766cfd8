#pragma once
// Little-endian numbers in byte buffers at any alignment, as the table files and their rows
// store them: read where they lie, written in place.
#include <QtEndian>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace quokka {

inline std::uint32_t ReadLe32(const unsigned char *at)
{
    return qFromLittleEndian<quint32>(at);
}

// The number at OFFSET of BYTES (OFFSET + 4 within BYTES).
inline std::uint32_t ReadLe32(std::span<const unsigned char> bytes, std::size_t offset)
{
    return ReadLe32(bytes.data() + offset);
}

inline double ReadLeDouble(const unsigned char *at)
{
    return std::bit_cast<double>(std::uint64_t(qFromLittleEndian<quint64>(at)));
}

inline void WriteLe32(unsigned char *at, std::uint32_t value)
{
    qToLittleEndian<quint32>(value, at);
}

inline void AppendLe32(std::vector<unsigned char> &bytes, std::uint32_t value)
{
    bytes.resize(bytes.size() + 4);
    WriteLe32(bytes.data() + bytes.size() - 4, value);
}

inline void WriteLeDouble(unsigned char *at, double value)
{
    qToLittleEndian<quint64>(std::bit_cast<std::uint64_t>(value), at);
}

} // namespace quokka
