#include "ascii_text.h"

#include <stdexcept>
#include <unicode/translit.h>
#include <unicode/unistr.h>

namespace quokka::tools::geotable {
namespace {

// Schwa, modifier letters for ayin and hamza, acute accent, ordinal indicators.
constexpr const char *kExtraRules = "\u0259 > a; \u018F > A; \u02BF > \\'; \u02BE > \\'; "
                                    "\u00B4 > \\'; \u00AA > a; \u00BA > o;";

} // namespace

AsciiText::AsciiText()
{
    UErrorCode status = U_ZERO_ERROR;
    m_transliterator.reset(icu::Transliterator::createInstance("Any-Latin; Latin-ASCII",
                                                               UTRANS_FORWARD, status));
    if (U_FAILURE(status) || !m_transliterator)
        throw std::runtime_error(std::string("cannot create the transliterator: ") + u_errorName(status));
    UParseError parseError{};
    m_extras.reset(icu::Transliterator::createFromRules(
        "QuokkaAsciiExtras", icu::UnicodeString::fromUTF8(kExtraRules), UTRANS_FORWARD, parseError, status));
    if (U_FAILURE(status) || !m_extras)
        throw std::runtime_error(std::string("cannot create the transliterator: ") + u_errorName(status));
}

AsciiText::~AsciiText() = default;

const std::string &AsciiText::operator()(std::string_view utf8)
{
    auto found = m_cache.find(std::string(utf8));
    if (found == m_cache.end())
        found = m_cache.emplace(std::string(utf8), Convert(utf8)).first;
    return found->second;
}

std::string AsciiText::Convert(std::string_view utf8) const
{
    bool plain = true;
    for (unsigned char c : utf8)
        plain = plain && c >= 0x20 && c <= 0x7E;
    if (plain)
        return std::string(utf8);
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(
        icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
    m_transliterator->transliterate(text);
    m_extras->transliterate(text);
    std::string result;
    text.toUTF8String(result);
    std::string ascii;
    for (std::size_t i = 0; i < result.size(); ++i) {
        const auto c = static_cast<unsigned char>(result[i]);
        if (c >= 0x20 && c <= 0x7E)
            ascii += char(c);
        else if (c < 0x20 || c == 0x7F)
            ascii += ' ';
        else if ((c & 0xC0) != 0x80) // one '?' per character left over, not per byte
            ascii += '?';
    }
    return ascii;
}

} // namespace quokka::tools::geotable
