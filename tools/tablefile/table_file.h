#pragma once
// What the table tools share: dotted quads, a table file that appears whole or not at all, the
// checkers' list of faults, and the command line around a builder and a checker.
#include <QSaveFile>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace quokka::tools::tablefile {

// "a.b.c.d" for a key in host order.
std::string DottedQuad(std::uint32_t address);

// Writes the table file PATH whole or not at all: the bytes go to a temporary file beside it
// that replaces PATH on Commit(); without Commit() PATH is left as it was. Throws
// std::runtime_error when the file cannot be written.
class TableWriter {
public:
    explicit TableWriter(const std::string &path);

    void Write(const void *data, std::size_t size);
    void Write(std::span<const unsigned char> bytes) { Write(bytes.data(), bytes.size()); }
    void Commit();

private:
    std::string m_path;
    QSaveFile m_file;
};

// The faults a checker found: all counted, the first few described.
struct Faults {
    static constexpr std::size_t kKept = 20;
    std::vector<std::string> faults;
    std::size_t faultCount = 0;

    // DESCRIBE runs only for a fault that is kept.
    void Add(const std::function<std::string()> &describe);
    bool ok() const { return faultCount == 0; }
};

// A checker for the --check command: the faults of TABLE, its figures written to FIGURES.
using Checker = std::function<Faults(std::span<const unsigned char> table, std::string &figures)>;

// The Checker of a table's CHECK, whose result is Faults with the table's figures, and of the
// FORMAT of those figures.
template <class Result, class Figures>
Checker CheckWithFigures(Result (*check)(std::span<const unsigned char>), std::string (*format)(const Figures &))
{
    return [check, format](std::span<const unsigned char> table, std::string &figures) {
        const Result result = check(table);
        figures = format(result.figures);
        return Faults(result);
    };
}

// The --check command of a table tool: maps PATH, runs CHECK on its bytes, prints the figures
// CHECK wrote and the faults it found. Returns the exit status: 0 when the table passed.
// Throws std::runtime_error when PATH cannot be mapped.
int CheckTableFile(const char *tool, const std::string &path, const Checker &check);

// A table tool: its name (the start of its messages), the operands of --build as the usage
// shows them (the last one is the table written), the build, which returns its figures for the
// line printed after it, and the checker.
struct TableTool {
    const char *name;
    const char *buildOperands;
    std::function<std::string(const std::vector<std::string> &operands)> build;
    Checker check;
};

// The command line of a table tool: "--build OPERANDS..." or "--check TABLE"; anything else
// prints the usage. Returns the exit status: 0 done, 1 failed (the reason on standard error),
// 2 usage.
int RunTableTool(int argc, char **argv, const TableTool &tool);

} // namespace quokka::tools::tablefile
