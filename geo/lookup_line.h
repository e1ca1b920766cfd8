#pragma once
// The lines of `quokka-quokka --lookup`, one for each address given as an argument or as a
// line of input. Tab-separated: the address, then the geolocation row's range, country code,
// country, region, city, latitude and longitude, or the one field "no match"; every line ends
// with the AS number and organisation of the network announcing the address, both empty when
// the AS table has none. Text that is not an address gets "no match" and two empty fields.
// IPv6 addresses (any text form; the range is written in RFC 5952 form) are answered from the
// IPv6 table with the same fields. Spaces and tabs around an address are ignored; the echoed text, the table's texts and the
// organisation show their control characters (so a tab or line feed in them never starts a
// column or a line).
#include "geo/as_database.h"
#include "geo/geo_database.h"
#include "geo/geo_database6.h"

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quokka::geo {

class LookupLines {
public:
    LookupLines(const GeoDatabase &geo, const GeoDatabase6 &geo6, const AsDatabase &as)
        : m_geo(geo), m_geo6(geo6), m_as(as)
    {
    }
    // Without an IPv6 table: IPv6 addresses get "no match".
    LookupLines(const GeoDatabase &geo, const AsDatabase &as) : LookupLines(geo, NoTable6(), as) {}
    // An empty IPv6 table.
    static const GeoDatabase6 &NoTable6();

    // Appends the line for each of TEXTS, each with its newline, to OUT; the geolocation rows
    // of all of them are searched at once.
    void Append(std::span<const std::string_view> texts, std::string &out);

private:
    enum class Kind : std::uint8_t { Text, V4, V6 };
    // The fields of a line after the echoed text: of an IPv4 address (or of a text that is no
    // address, without a row), and of an IPv6 address.
    void AppendFields4(std::string &out, const unsigned char *row, const GeoRecord *copy, std::uint32_t system);
    void AppendFields6(std::string &out, std::uint32_t range, std::uint32_t system);
    void AppendPlace(std::string &out, const unsigned char *row, const unsigned char *bytes);
    void AppendSystem(std::string &out, const std::optional<AsMatch> &as);
    void AppendVisible(std::string &out, std::string_view text, bool remember);

    const GeoDatabase &m_geo;
    const GeoDatabase6 &m_geo6;
    const AsDatabase &m_as;
    std::vector<std::uint32_t> m_keys;        // the addresses among the texts
    std::vector<const unsigned char *> m_rows; // their rows
    std::vector<GeoRecord> m_copies;           // the bytes of those rows
    std::vector<std::uint32_t> m_systems;      // and their AS table systems
    std::vector<Key6> m_keys6;                 // the IPv6 addresses among the texts
    std::vector<std::uint32_t> m_ranges6;      // their ranges
    std::vector<std::uint32_t> m_systems6;     // and systems
    std::vector<std::string_view> m_trimmed;
    std::vector<Kind> m_kinds;
    // Texts of the tables in their visible form, by where they lie in the table: most lines
    // repeat a text seen before.
    std::map<std::pair<const char *, std::size_t>, std::string> m_visibleNames;
};

// The line for TEXT, without its newline.
std::string LookupLine(const GeoDatabase &geo, const AsDatabase &as, std::string_view text);
std::string LookupLine(const GeoDatabase &geo, const GeoDatabase6 &geo6, const AsDatabase &as, std::string_view text);

} // namespace quokka::geo
