#pragma once
// One row of the geolocation table: 124 packed little-endian bytes. The layout and its readers
// live here alone; the table builder adds only the writing. Fields are copied out byte-wise,
// because the two doubles sit at offsets that are not multiples of 8.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

struct GeoRecord {
    static constexpr std::size_t kSize = 124;
    static constexpr std::size_t kFirstAddress = 0;
    static constexpr std::size_t kLastAddress = 4;
    static constexpr std::size_t kCountryCode = 8, kCountryCodeSize = 3;
    static constexpr std::size_t kCountryName = 11, kCountryNameSize = 32;
    static constexpr std::size_t kRegion = 43, kRegionSize = 32;
    static constexpr std::size_t kCity = 75, kCitySize = 33;
    static constexpr std::size_t kLatitude = 108;
    static constexpr std::size_t kLongitude = 116;

    std::array<unsigned char, kSize> bytes{};

    std::uint32_t firstAddress() const { return readU32(kFirstAddress); }
    std::uint32_t lastAddress() const { return readU32(kLastAddress); }
    // A text field's value is its bytes up to the first NUL or the end of the field.
    std::string_view countryCode() const { return text(kCountryCode, kCountryCodeSize); }
    std::string_view countryName() const { return text(kCountryName, kCountryNameSize); }
    std::string_view region() const { return text(kRegion, kRegionSize); }
    std::string_view city() const { return text(kCity, kCitySize); }
    double latitude() const { return readDouble(kLatitude); }
    double longitude() const { return readDouble(kLongitude); }

    // A located row: its country name is neither empty (no match) nor "-" (no location).
    bool hasLocation() const { return bytes[kCountryName] != 0 && bytes[kCountryName] != '-'; }

    std::string_view text(std::size_t offset, std::size_t size) const { return ReadText(bytes.data() + offset, size); }
    std::uint32_t readU32(std::size_t offset) const { return ReadU32(bytes.data() + offset); }
    double readDouble(std::size_t offset) const { return ReadDouble(bytes.data() + offset); }

    // The readers of the layout, on any row's bytes: a little-endian 32-bit number, a
    // little-endian double, and a text field's bytes up to its first NUL or its end.
    static std::uint32_t ReadU32(const unsigned char *at)
    {
        return std::uint32_t(at[0]) | std::uint32_t(at[1]) << 8 | std::uint32_t(at[2]) << 16
            | std::uint32_t(at[3]) << 24;
    }
    static double ReadDouble(const unsigned char *at);
    static std::string_view ReadText(const unsigned char *field, std::size_t size);
};

static_assert(sizeof(GeoRecord) == GeoRecord::kSize);
