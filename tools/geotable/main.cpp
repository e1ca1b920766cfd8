// quokka-geotable: builds the geolocation table from the source database, or checks a table.
//   quokka-geotable --build SOURCE.mmdb ISO_3166-1.json TABLE
//   quokka-geotable --check TABLE
#include "ascii_text.h"
#include "country_names.h"
#include "mmdb_source.h"
#include "table_builder.h"
#include "table_check.h"
#include "table_file.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <string>

namespace {

int Build(const std::string &source, const std::string &countries, const std::string &table)
{
    const auto start = std::chrono::steady_clock::now();
    geotable::AsciiText ascii;
    const geotable::CountryNames names = geotable::LoadCountryNames(countries, ascii);
    const geotable::MmdbSource mmdb(source);
    const geotable::BuildFigures f = geotable::BuildTable(mmdb, names, ascii, table);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("quokka-geotable: %s: %zu rows from %zu networks and %zu source records "
                "(%zu without location), %zu distinct texts, %.1f s\n",
                table.c_str(), f.rows, f.networks, f.sourceRecords, f.unlocatedRecords,
                f.distinctStrings, seconds);
    return 0;
}

int Check(const std::string &table)
{
    return tablefile::CheckTableFile("quokka-geotable", table, [](std::span<const unsigned char> bytes, std::string &figures) {
        const geotable::CheckResult result = geotable::CheckTable(bytes);
        figures = geotable::FormatFigures(result.figures);
        return tablefile::Faults(result);
    });
}

int Usage()
{
    std::fprintf(stderr, "usage: quokka-geotable --build SOURCE.mmdb ISO_3166-1.json TABLE\n"
                         "       quokka-geotable --check TABLE\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    try {
        const std::string command = argc > 1 ? argv[1] : "";
        if (command == "--build" && argc == 5)
            return Build(argv[2], argv[3], argv[4]);
        if (command == "--check" && argc == 3)
            return Check(argv[2]);
        return Usage();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "quokka-geotable: %s\n", e.what());
        return 1;
    }
}
