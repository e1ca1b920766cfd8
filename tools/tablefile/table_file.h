#pragma once
// What the table tools share: little-endian writing, dotted quads, an output file that appears
// whole or not at all, the checkers' list of faults and the --check command around a checker.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace tablefile {

// "a.b.c.d" for a key in host order.
std::string DottedQuad(std::uint32_t address);

// Writes PATH through PATH.part, renamed to PATH by commit(); a file never committed is removed.
// Throws std::runtime_error when the file cannot be written.
class PartFile {
public:
    explicit PartFile(std::string path);
    ~PartFile();
    PartFile(const PartFile &) = delete;
    PartFile &operator=(const PartFile &) = delete;

    void write(const void *data, std::size_t size);
    void write(std::span<const unsigned char> bytes) { write(bytes.data(), bytes.size()); }
    void commit();

private:
    struct Closer {
        void operator()(std::FILE *file) const { std::fclose(file); }
    };
    std::string m_path, m_partPath;
    std::unique_ptr<std::FILE, Closer> m_file;
    bool m_failed = false;
};

// The faults a checker found: all counted, the first few described.
struct Faults {
    static constexpr std::size_t kKept = 20;
    std::vector<std::string> faults;
    std::size_t faultCount = 0;

    // DESCRIBE runs only for a fault that is kept.
    void add(const std::function<std::string()> &describe);
    bool ok() const { return faultCount == 0; }
};

// The --check command of a table tool: maps PATH, runs CHECK on its bytes, prints the figures
// CHECK wrote and the faults it found. Returns the exit status: 0 when the table passed.
// Throws std::runtime_error when PATH cannot be mapped.
using Checker = std::function<Faults(std::span<const unsigned char> table, std::string &figures)>;
int CheckTableFile(const char *tool, const std::string &path, const Checker &check);

} // namespace tablefile
