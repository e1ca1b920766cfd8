#pragma once
// Country names by two-letter code, from the iso-codes list: the common name where it has
// one, else the name, in plain ASCII. Codes the list lacks come from a short list of our own.
#include <map>
#include <string>

namespace quokka::tools::geotable {

class AsciiText;

using CountryNames = std::map<std::string, std::string>;

// Reads ISO_3166_1_JSON (iso_3166-1.json); throws std::runtime_error when it cannot.
CountryNames LoadCountryNames(const std::string &iso3166Json, AsciiText &ascii);

} // namespace quokka::tools::geotable
