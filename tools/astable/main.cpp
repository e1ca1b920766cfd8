// quokka-astable: builds the AS table from the source CSV file, or checks a table.
//   quokka-astable --build SOURCE.csv TABLE
//   quokka-astable --check TABLE
#include "as_builder.h"
#include "as_check.h"
#include "table_file.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <string>

namespace {

int Build(const std::string &source, const std::string &table)
{
    const auto start = std::chrono::steady_clock::now();
    const astable::BuildFigures f = astable::BuildTable(source, table);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("quokka-astable: %s: %zu bytes, %zu ranges from %zu source lines (%zu overlapping), "
                "%zu AS entries, %zu distinct names (%zu bytes), %.1f s\n",
                table.c_str(), f.bytes, f.ranges, f.sourceRanges, f.overlapping, f.systems, f.names,
                f.nameBytes, seconds);
    return 0;
}

int Check(const std::string &table)
{
    return tablefile::CheckTableFile("quokka-astable", table, [](std::span<const unsigned char> bytes, std::string &figures) {
        const astable::CheckResult result = astable::CheckTable(bytes);
        figures = astable::FormatFigures(result.figures);
        return tablefile::Faults(result);
    });
}

int Usage()
{
    std::fprintf(stderr, "usage: quokka-astable --build SOURCE.csv TABLE\n"
                         "       quokka-astable --check TABLE\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    try {
        const std::string command = argc > 1 ? argv[1] : "";
        if (command == "--build" && argc == 4)
            return Build(argv[2], argv[3]);
        if (command == "--check" && argc == 3)
            return Check(argv[2]);
        return Usage();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "quokka-astable: %s\n", e.what());
        return 1;
    }
}
