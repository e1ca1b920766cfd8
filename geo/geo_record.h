#pragma once
// One row of the geolocation table: 124 packed little-endian bytes. The layout and its readers
// live here alone; the table builder adds only the writing. Fields are copied out byte-wise,
// because the two doubles sit at offsets that are not multiples of 8.
#include "base/little_endian.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quokka::geo {

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

    std::uint32_t FirstAddress() const { return quokka::ReadLe32(bytes.data() + kFirstAddress); }
    std::uint32_t LastAddress() const { return quokka::ReadLe32(bytes.data() + kLastAddress); }
    // A text field's value is its bytes up to the first NUL or the end of the field.
    std::string_view CountryCode() const { return Text(kCountryCode, kCountryCodeSize); }
    std::string_view CountryName() const { return Text(kCountryName, kCountryNameSize); }
    std::string_view Region() const { return Text(kRegion, kRegionSize); }
    std::string_view City() const { return Text(kCity, kCitySize); }
    double Latitude() const { return quokka::ReadLeDouble(bytes.data() + kLatitude); }
    double Longitude() const { return quokka::ReadLeDouble(bytes.data() + kLongitude); }

    // A located row: its country name is neither empty (no match) nor "-" (no location).
    bool HasLocation() const { return bytes[kCountryName] != 0 && bytes[kCountryName] != '-'; }

    std::string_view Text(std::size_t offset, std::size_t size) const { return ReadText(bytes.data() + offset, size); }

    // A text field's bytes, on any row's bytes, up to its first NUL or its end (the numbers
    // are read with base/little_endian.h).
    static std::string_view ReadText(const unsigned char *field, std::size_t size);
};

static_assert(sizeof(GeoRecord) == GeoRecord::kSize);

} // namespace quokka::geo
