#pragma once
// The 124-byte row of the geolocation table, as the builder writes it: little-endian
// addresses, ASCII texts ended by one NUL and filled with 0xFE, packed doubles at 108 and 116.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace geotable {

constexpr std::size_t kRowSize = 124;
constexpr std::size_t kCountryCode = 8, kCountryCodeSize = 3;
constexpr std::size_t kCountryName = 11, kCountryNameSize = 32;
constexpr std::size_t kRegion = 43, kRegionSize = 32;
constexpr std::size_t kCity = 75, kCitySize = 33;
constexpr std::size_t kLatitude = 108, kLongitude = 116;
constexpr std::size_t kMaxText = 32;
constexpr unsigned char kFill = 0xFE;

// The table covers exactly this span; the row without location reads "-".
constexpr std::uint32_t kFirstCovered = 0x01000100; // 1.0.1.0
constexpr std::uint32_t kLastCovered = 0xDFFFFFFF;  // 223.255.255.255
constexpr std::string_view kNoLocation = "-";

using Row = std::array<unsigned char, kRowSize>;

// A place as the table stores it; texts already plain ASCII.
struct Place {
    std::string countryCode;
    std::string countryName;
    std::string region;
    std::string city;
    double latitude = 0.0;
    double longitude = 0.0;
};

// The row for FIRST..LAST (inclusive) at PLACE; texts are truncated to 32 characters.
Row EncodeRow(std::uint32_t first, std::uint32_t last, const Place &place);
// The row for a range the source does not locate: "-" texts, coordinates 0.0.
Row NoLocationRow(std::uint32_t first, std::uint32_t last);
// The row that ends the table: addresses 0, every text empty, coordinates 0.0.
Row TerminatingRow();

// Writes TEXT into a field of SIZE bytes: truncated to 32 characters, then one NUL when it
// is shorter than the field, then 0xFE up to the field's end.
void PutText(unsigned char *field, std::size_t size, std::string_view text);
void PutU32(unsigned char *at, std::uint32_t value);
void PutDouble(unsigned char *at, double value);
std::uint32_t GetU32(const unsigned char *at);
double GetDouble(const unsigned char *at);
// A field's value: its bytes up to the first NUL or the end of the field.
std::string_view GetText(const unsigned char *field, std::size_t size);

// "a.b.c.d" for a key in host order.
std::string DottedQuad(std::uint32_t address);

} // namespace geotable
