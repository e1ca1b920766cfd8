// Benchmark: `quokka-quokka --lookup -` over a file of random IPv4 addresses, and over one of
// a million mixed ones (nine IPv4 to one IPv6), from process start to end with the answers
// written to a file, against the same loop in Python with python3-maxminddb's C extension
// reading the source MMDBs. Both must answer every line and agree on the country wherever both
// place an address. The program answers large reads on two threads, the reader on one.
#include "test_support.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <string_view>
#include <string>
#include <vector>

namespace {

struct Timed {
    double seconds = 1e9, processorSeconds = 1e9;
    bool ok = false;
};

// Runs ARGS with standard input from INPUT and standard output to OUTPUT.
Timed Run(const std::vector<std::string> &args, const std::string &input, const std::string &output)
{
    Timed timed;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int in = ::open(input.c_str(), O_RDONLY);
        const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0)
            ::_exit(127);
        testsupport::ExecOrExit(args);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid)
        return timed;
    timed.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    timed.processorSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    timed.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return timed;
}

std::vector<std::string> Lines(const std::string &path)
{
    std::ifstream file(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    return lines;
}

// The tab-separated fields of LINE, into FIELDS.
void Fields(std::string_view line, std::vector<std::string_view> &fields)
{
    fields.clear();
    for (std::size_t tab; (tab = line.find('\t')) != std::string_view::npos; line.remove_prefix(tab + 1))
        fields.push_back(line.substr(0, tab));
    if (!line.empty())
        fields.push_back(line);
}

// Lines where the two disagree: another address, or another country where both have one.
int Disagreements(const std::vector<std::string> &ours, const std::vector<std::string> &theirs)
{
    int differing = 0;
    std::vector<std::string_view> a, b;
    for (std::size_t i = 0; i < ours.size(); ++i) {
        Fields(ours[i], a);
        Fields(theirs[i], b);
        const bool bothPlaced = a.size() == 10 && a[2] != "-" && b.size() == 6;
        if (a.empty() || b.empty() || a[0] != b[0] || (bothPlaced && a[2] != b[1])) {
            if (++differing <= 3)
                std::fprintf(stderr, "differ:\n  %s\n  %s\n", ours[i].c_str(), theirs[i].c_str());
        }
    }
    return differing;
}

// Reads each file of PATHS once, so that the runs after it find them in the page cache.
void Warm(const std::vector<std::string> &paths)
{
    std::vector<char> buffer(1 << 20);
    for (const std::string &path : paths) {
        const int fd = ::open(path.c_str(), O_RDONLY);
        while (fd >= 0 && ::read(fd, buffer.data(), buffer.size()) > 0) {
        }
        if (fd >= 0)
            ::close(fd);
    }
}

// The program (fastest of three runs) and the Python reader (one run, after the input, the
// program with its tables and the reader's files have been read once) on INPUT (COUNT lines),
// printed under TITLE; false when a run fails, a line is missing or the two disagree.
bool Compare(const char *title, const std::filesystem::path &dir, const std::string &input, std::size_t count,
             const std::vector<std::string> &reader)
{
    const std::string ourOutput = dir / "ours.txt", theirOutput = dir / "theirs.txt";
    std::vector<std::string> files{input, QUOKKA_PROGRAM};
    files.insert(files.end(), reader.begin() + 1, reader.end());
    Warm(files);
    const Timed theirs = Run(reader, input, theirOutput);
    Timed ours;
    for (int round = 0; round < 3; ++round) {
        const Timed a = Run({QUOKKA_PROGRAM, "--lookup", "-"}, input, ourOutput);
        if (!a.ok || !theirs.ok) {
            std::fprintf(stderr, "a run failed: quokka-quokka %s, python3-maxminddb %s\n", a.ok ? "ran" : "failed",
                         theirs.ok ? "ran" : "failed");
            return false;
        }
        ours.seconds = std::min(ours.seconds, a.seconds);
        ours.processorSeconds = std::min(ours.processorSeconds, a.processorSeconds);
    }
    const std::vector<std::string> ourLines = Lines(ourOutput), theirLines = Lines(theirOutput);
    if (ourLines.size() != count || theirLines.size() != count) {
        std::fprintf(stderr, "lines answered: %zu and %zu of %zu\n", ourLines.size(), theirLines.size(), count);
        return false;
    }
    const int differing = Disagreements(ourLines, theirLines);
    std::printf("%zu %s, start to end, output to a file, files in the page cache:\n", count, title);
    // Large reads are answered on two threads, so the program's processor time can exceed its time.
    std::printf("quokka-quokka --lookup - (two threads, fastest of 3): %.3f s (processor %.3f s), %.0f lines/s\n",
                ours.seconds, ours.processorSeconds, double(count) / ours.seconds);
    std::printf("python3-maxminddb (C, mmap, one thread, one run):    %.3f s (processor %.3f s), %.0f lines/s\n", theirs.seconds,
                theirs.processorSeconds, double(count) / theirs.seconds);
    std::printf("ratio (python3-maxminddb time / ours): %.2f (processor time %.2f)\n", theirs.seconds / ours.seconds,
                theirs.processorSeconds / ours.processorSeconds);
    std::printf("lines disagreeing on address or country: %d\n", differing);
    return differing == 0;
}

void WriteIpv4(std::ostream &out, std::uint32_t a)
{
    out << (a >> 24) << '.' << ((a >> 16) & 255) << '.' << ((a >> 8) & 255) << '.' << (a & 255) << '\n';
}

// A random address of the prefixes where most of the IPv6 source's networks lie.
void WriteIpv6(std::ostream &out, std::mt19937 &random)
{
    static const unsigned kTops[] = {0x2001, 0x2400, 0x2600, 0x2a00, 0x2800, 0x2c00};
    const unsigned top = kTops[random() % std::size(kTops)];
    char text[64];
    std::snprintf(text, sizeof text, "%x:%x:%x:%x::%x\n", top | (top == 0x2001 ? 0 : unsigned(random() % 0x1000)),
                  unsigned(random() % 0x10000), unsigned(random() % 0x10000), unsigned(random() % 0x10000),
                  unsigned(random() % 0x10000));
    out << text;
}

} // namespace

int main()
{
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("quokka-stream-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string input = dir / "addresses.txt", mixed = dir / "mixed.txt";
    constexpr std::size_t kAddresses = 300000, kMixed = 1000000;
    {
        std::mt19937 random(17);
        std::ofstream file(input);
        for (std::size_t i = 0; i < kAddresses; ++i)
            WriteIpv4(file, std::uint32_t(random()));
    }
    {
        // Nine IPv4 addresses to one IPv6 address.
        std::mt19937 random(21);
        std::ofstream file(mixed);
        for (std::size_t i = 0; i < kMixed; ++i) {
            if (i % 10 == 9)
                WriteIpv6(file, random);
            else
                WriteIpv4(file, std::uint32_t(random()));
        }
    }
    ::unsetenv("QUOKKA_GEO_TABLE");
    ::unsetenv("QUOKKA_GEO_TABLE_IPV6");
    ::unsetenv("QUOKKA_AS_TABLE");
    bool ok = Compare("random IPv4 addresses", dir, input, kAddresses,
                      {"/usr/bin/python3", QUOKKA_MMDB_READER, QUOKKA_GEO_SOURCE_MMDB});
    ok = Compare("mixed addresses (nine IPv4 to one IPv6)", dir, mixed, kMixed,
                 {"/usr/bin/python3", QUOKKA_MMDB_READER, QUOKKA_GEO_SOURCE_MMDB, QUOKKA_GEO6_SOURCE_MMDB}) && ok;
    std::filesystem::remove_all(dir);
    return ok ? 0 : 1;
}
