#include "geo/lookup_line.h"

#include "base/little_endian.h"
#include "base/net_address.h"
#include "base/visible_text.h"
#include "geo/coordinate_text.h"
#include "geo/dotted_quad.h"
#include "geo/ipv6_text.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <type_traits>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using quokka::ReadLe32;
using quokka::ReadLeDouble;
namespace quokka::geo {

namespace {

std::string_view Trimmed(std::string_view text)
{
    const std::size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string_view::npos)
        return {};
    return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

// Whether TEXT is all printable ASCII (0x20 to 0x7e), eight bytes at a time.
bool IsPlainAscii(std::string_view text)
{
    constexpr std::uint64_t kOnes = 0x0101010101010101, kHighs = 0x8080808080808080;
    std::size_t at = 0;
    for (; at + 8 <= text.size(); at += 8) {
        std::uint64_t bytes;
        std::memcpy(&bytes, text.data() + at, 8);
        // A byte of 0x80 or more, below 0x20, or 0x7f sets its high bit in one of the three.
        const std::uint64_t delete7f = bytes ^ (0x7f * kOnes);
        if ((bytes | ((bytes - 0x20 * kOnes) & ~bytes) | ((delete7f - kOnes) & ~delete7f)) & kHighs)
            return false;
    }
    for (; at < text.size(); ++at) {
        if (static_cast<unsigned char>(text[at]) < 0x20 || static_cast<unsigned char>(text[at]) >= 0x7f)
            return false;
    }
    return true;
}

// A row's place texts: where each field begins and how long it is.
constexpr std::size_t kFields[][2] = {{GeoRecord::kCountryCode, GeoRecord::kCountryCodeSize},
                                      {GeoRecord::kCountryName, GeoRecord::kCountryNameSize},
                                      {GeoRecord::kRegion, GeoRecord::kRegionSize},
                                      {GeoRecord::kCity, GeoRecord::kCitySize}};

#if defined(__SSE2__)
// A bit for each byte of a row's place texts, from the country code to the city's end.
__extension__ typedef unsigned __int128 TextBits;
constexpr std::size_t kPlaceTexts = GeoRecord::kCity + GeoRecord::kCitySize - GeoRecord::kCountryCode;
static_assert(GeoRecord::kCountryName == GeoRecord::kCountryCode + GeoRecord::kCountryCodeSize
                  && GeoRecord::kRegion == GeoRecord::kCountryName + GeoRecord::kCountryNameSize
                  && GeoRecord::kCity == GeoRecord::kRegion + GeoRecord::kRegionSize && kPlaceTexts <= 128,
              "the place texts lie side by side");

// How far from FROM the first NUL of NULS lies (128 - FROM when none does).
std::size_t FirstNul(TextBits nuls, std::size_t from)
{
    const TextBits rest = nuls >> from;
    const auto low = std::uint64_t(rest), high = std::uint64_t(rest >> 64);
    return low != 0 ? std::size_t(__builtin_ctzll(low)) : high != 0 ? 64 + std::size_t(__builtin_ctzll(high)) : 128 - from;
}
#endif

// Writes the four place fields of the row BYTES at AT, each after a tab, and returns their end,
// where every field's text (up to its NUL or its end; the fill after a NUL is not read) is
// printable ASCII, as in the tables the builder writes; nullptr where one is not. The texts are
// marked sixteen bytes at a time (the last sixteen overlapping the ones before), and each
// field is copied whole (a copy of a known size takes no call) and cut to its text.
char *WritePlainFields(char *at, const unsigned char *bytes)
{
#if defined(__SSE2__)
    TextBits nuls = 0, others = 0; // a bit for each NUL, and for each byte not printable ASCII
    for (std::size_t part = 0; part < kPlaceTexts; part += 16) {
        const std::size_t from = std::min(part, kPlaceTexts - 16);
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes + GeoRecord::kCountryCode + from));
        // Signed: bytes of 0x80 and more are below 0x20 too.
        const __m128i printable = _mm_and_si128(_mm_cmpgt_epi8(c, _mm_set1_epi8(0x1f)), _mm_cmplt_epi8(c, _mm_set1_epi8(0x7f)));
        nuls |= TextBits(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(c, _mm_setzero_si128())))) << from;
        others |= TextBits(unsigned(_mm_movemask_epi8(printable)) ^ 0xFFFF) << from;
    }
    TextBits texts = 0;
    std::size_t lengths[std::size(kFields)];
    for (std::size_t i = 0; i < std::size(kFields); ++i) {
        const std::size_t from = kFields[i][0] - GeoRecord::kCountryCode;
        lengths[i] = std::min(FirstNul(nuls, from), kFields[i][1]);
        texts |= ((TextBits(1) << lengths[i]) - 1) << from;
    }
    if ((others & texts) != 0)
        return nullptr;
    const auto field = [&](std::size_t i, auto size) {
        *at++ = '\t';
        std::memcpy(at, bytes + kFields[i][0], size());
        at += lengths[i];
    };
    field(0, std::integral_constant<std::size_t, GeoRecord::kCountryCodeSize>());
    field(1, std::integral_constant<std::size_t, GeoRecord::kCountryNameSize>());
    field(2, std::integral_constant<std::size_t, GeoRecord::kRegionSize>());
    field(3, std::integral_constant<std::size_t, GeoRecord::kCitySize>());
    return at;
#else
    (void)at;
    (void)bytes;
    return nullptr;
#endif
}

// Appends FIRST-LAST, two IPv4 addresses in host order, in dotted-decimal text.
void AppendRange(std::string &out, std::uint32_t first, std::uint32_t last)
{
    char text[32];
    char *at = text;
    for (const std::uint32_t key : {first, last}) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            const unsigned part = (key >> shift) & 255;
            if (part >= 100)
                *at++ = char('0' + part / 100);
            if (part >= 10)
                *at++ = char('0' + part / 10 % 10);
            *at++ = char('0' + part % 10);
            *at++ = shift > 0 ? '.' : '-';
        }
    }
    out.append(text, std::size_t(at - text - 1));
}

// How many addresses ahead of the line being written their rows are asked for.
constexpr std::size_t kAhead = 12;

} // namespace

const GeoDatabase6 &LookupLines::NoTable6()
{
    static const GeoDatabase6 empty({});
    return empty;
}

void LookupLines::Append(std::span<const std::string_view> texts, std::string &out)
{
    m_keys.clear();
    m_keys6.clear();
    m_trimmed.clear();
    m_kinds.clear();
    for (const std::string_view text : texts) {
        std::uint32_t key = 0;
        m_trimmed.push_back(Trimmed(text));
        const std::string_view trimmed = m_trimmed.back();
        if (ParseDottedQuad(trimmed, key)) {
            m_kinds.push_back(Kind::V4);
            m_keys.push_back(key);
            continue;
        }
        // Only a text with a colon can be IPv6: the IPv4 lines of a log pay nothing more.
        Key6 key6;
        if (trimmed.find(':') != std::string_view::npos && ParseIpv6(trimmed, key6)) {
            m_kinds.push_back(Kind::V6);
            m_keys6.push_back(key6);
        } else {
            m_kinds.push_back(Kind::Text);
        }
    }
    m_rows.resize(m_keys.size());
    if (m_copies.size() < m_keys.size())
        m_copies.resize(m_keys.size());
    m_geo.FindKeys(m_keys, m_rows, m_copies);
    m_systems.resize(m_keys.size());
    m_as.FindSystems(m_keys, m_systems);
    m_ranges6.resize(m_keys6.size());
    m_geo6.FindRanges(m_keys6, m_ranges6);
    m_systems6.resize(m_keys6.size());
    m_as.FindSystems6(m_keys6, m_systems6);
    std::size_t address = 0, address6 = 0;
    for (std::size_t i = 0; i < m_trimmed.size(); ++i) {
        switch (m_kinds[i]) {
        case Kind::V4:
            // The system of an address a few lines on is asked for from memory now, and its name
            // half as many lines on, to be there when their lines are written.
            if (address + kAhead < m_rows.size())
                m_as.PrefetchSystem(m_systems[address + kAhead]);
            if (address + kAhead / 2 < m_rows.size())
                m_as.PrefetchName(m_systems[address + kAhead / 2]);
            out += m_trimmed[i]; // an address read as one is plain ASCII
            AppendFields4(out, m_rows[address], &m_copies[address], m_systems[address]);
            ++address;
            break;
        case Kind::V6:
            out += m_trimmed[i];
            AppendFields6(out, m_ranges6[address6], m_systems6[address6]);
            ++address6;
            break;
        case Kind::Text:
            AppendVisible(out, m_trimmed[i], false);
            AppendFields4(out, nullptr, nullptr, AsDatabase::kNoSystem);
            break;
        }
        out += '\n';
    }
}

void LookupLines::AppendFields6(std::string &out, std::uint32_t range, std::uint32_t system)
{
    const unsigned char *row = m_geo6.PlaceRow(range);
    if (row == nullptr) {
        out += "\tno match";
    } else {
        char bounds[2 * NetAddress::kLongestV6Text + 2] = {'\t'};
        char *at = NetAddress::WriteV6(m_geo6.RangeFirst(range).Bytes(), bounds + 1);
        *at++ = '-';
        at = NetAddress::WriteV6(m_geo6.RangeLast(range).Bytes(), at);
        out.append(bounds, std::size_t(at - bounds));
        AppendPlace(out, row, row);
    }
    AppendSystem(out, m_as.System(system));
}

// ROW is where the row lies in the table, COPY its bytes.
void LookupLines::AppendFields4(std::string &out, const unsigned char *row, const GeoRecord *copy, std::uint32_t system)
{
    if (row == nullptr) {
        out += "\tno match";
    } else {
        out += '\t';
        AppendRange(out, copy->FirstAddress(), copy->LastAddress());
        AppendPlace(out, row, copy->bytes.data());
    }
    AppendSystem(out, m_as.System(system));
}

// The place's fields of ROW, a geolocation row of either table, read from BYTES, ROW's bytes
// where they lie or a copy of them. They are gathered in a buffer and appended at once: a
// line is many short pieces.
void LookupLines::AppendPlace(std::string &out, const unsigned char *row, const unsigned char *bytes)
{
    // The four fields whole, each after a tab, then two numbers of at most 24 characters.
    char place[4 * (1 + 33) + 2 * (1 + 32)];
    char *at = WritePlainFields(place, bytes);
    if (at == nullptr) {
        at = place;
        for (const auto &[offset, size] : kFields) {
            *at++ = '\t';
            const std::string_view text = GeoRecord::ReadText(bytes + offset, size);
            if (IsPlainAscii(text)) {
                std::memcpy(at, text.data(), text.size());
                at += text.size();
            } else {
                // A table file need not be the checked ASCII the builder writes: its texts show
                // their control characters too, kept by where they lie in the table.
                out.append(place, std::size_t(at - place));
                at = place;
                AppendVisible(out, {reinterpret_cast<const char *>(row) + offset, text.size()}, true);
            }
        }
    }
    *at++ = '\t';
    at = WriteCoordinate(at, ReadLeDouble(bytes + GeoRecord::kLatitude));
    *at++ = '\t';
    at = WriteCoordinate(at, ReadLeDouble(bytes + GeoRecord::kLongitude));
    out.append(place, std::size_t(at - place));
}

void LookupLines::AppendSystem(std::string &out, const std::optional<AsMatch> &as)
{
    char number[16] = {'\t'};
    char *at = number + 1;
    if (as)
        at = std::to_chars(at, number + sizeof number - 1, as->number).ptr;
    *at++ = '\t';
    out.append(number, std::size_t(at - number));
    if (as)
        AppendVisible(out, as->name, true);
}

void LookupLines::AppendVisible(std::string &out, std::string_view text, bool remember)
{
    if (IsPlainAscii(text)) {
        out += text;
        return;
    }
    const auto convert = [text] {
        return quokka::VisibleText(QString::fromUtf8(text.data(), qsizetype(text.size()))).toStdString();
    };
    if (!remember) {
        out += convert();
        return;
    }
    auto [at, added] = m_visibleNames.try_emplace({text.data(), text.size()});
    if (added)
        at->second = convert();
    out += at->second;
}

std::string LookupLine(const GeoDatabase &geo, const AsDatabase &as, std::string_view text)
{
    return LookupLine(geo, LookupLines::NoTable6(), as, text);
}

std::string LookupLine(const GeoDatabase &geo, const GeoDatabase6 &geo6, const AsDatabase &as, std::string_view text)
{
    LookupLines lines(geo, geo6, as);
    std::string out;
    lines.Append({&text, 1}, out);
    out.pop_back();
    return out;
}

} // namespace quokka::geo
