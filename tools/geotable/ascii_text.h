#pragma once
// Turns UTF-8 names into plain ASCII ("Any-Latin; Latin-ASCII", then a few letters and marks
// that step keeps, such as the schwa of Azerbaijani names), remembering every string it
// has seen: the source repeats the same few hundred thousand names millions of times.
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include <unicode/translit.h>

namespace quokka::tools::geotable {

class AsciiText {
public:
    AsciiText();
    ~AsciiText();
    AsciiText(const AsciiText &) = delete;
    AsciiText &operator=(const AsciiText &) = delete;

    // TEXT in printable ASCII; what the transliteration leaves outside it becomes '?'.
    const std::string &operator()(std::string_view utf8);
    std::size_t distinctStrings() const { return m_cache.size(); }

private:
    std::string Convert(std::string_view utf8) const;

    std::unique_ptr<icu::Transliterator> m_transliterator;
    std::unique_ptr<icu::Transliterator> m_extras; // letters the ASCII step leaves alone
    std::unordered_map<std::string, std::string> m_cache;
};

} // namespace quokka::tools::geotable
