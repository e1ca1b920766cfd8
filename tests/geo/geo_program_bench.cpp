// Benchmark: what the linked-in table costs the running program. Resident memory after the
// main dialog is shown and after 10,000 lookups, against the table's size; time from start to
// the dialog shown, with the table linked in and without it; and the peak memory of
// `quokka-quokka --lookup` with 10,000 addresses.
#include "test_support.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <sched.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct Run {
    double secondsToShown = -1;
    long shownKb = -1, shownAnonKb = -1, shownFileKb = -1;
    long lookedUpKb = -1, lookedUpAnonKb = -1, lookedUpFileKb = -1, peakKb = -1;
    int matches = -1;
    bool ok = false;
};

// Starts ARGS with standard output on a pipe; reads the probe's lines as they come. With a
// PROCESSOR (0, 1, ...), the program runs on that one alone.
Run Start(const std::vector<std::string> &args, int processor = -1)
{
    Run run;
    int out[2];
    if (::pipe(out) != 0)
        return run;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (processor >= 0) {
            cpu_set_t only;
            CPU_ZERO(&only);
            CPU_SET(processor, &only);
            ::sched_setaffinity(0, sizeof only, &only);
        }
        ::dup2(out[1], 1);
        ::close(out[0]);
        ::close(out[1]);
        testsupport::ExecOrExit(args);
    }
    ::close(out[1]);
    FILE *lines = ::fdopen(out[0], "r");
    char line[256];
    while (lines && std::fgets(line, sizeof line, lines)) {
        if (std::sscanf(line, "shown %ld %ld %ld", &run.shownKb, &run.shownAnonKb, &run.shownFileKb) == 3)
            run.secondsToShown = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::sscanf(line, "looked-up %ld %ld %ld %d", &run.lookedUpKb, &run.lookedUpAnonKb, &run.lookedUpFileKb,
                    &run.matches);
    }
    if (lines)
        std::fclose(lines);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    run.peakKb = usage.ru_maxrss;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main()
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::string config = std::filesystem::temp_directory_path() / ("quokka-geo-bench-" + std::to_string(::getpid()));
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    const double tableMb = double(std::filesystem::file_size(QUOKKA_GEO_TABLE_FILE)) / (1 << 20);

    // A program linked moments ago may still have its pages under write-back, and a first start
    // maps pages no later start has to: both are written out and warmed before the timed starts.
    ::sync();
    Start({QUOKKA_PROBE_WITH_TABLE});
    Start({QUOKKA_PROBE_WITHOUT_TABLE});
    // The two starts of a pair run on one processor, the pairs on each in turn, and which of the
    // two goes first alternates: the processors of a virtual machine need not be equally fast
    // (one may share its core with the host's other work for a while), and starts left to the
    // scheduler fell to one of them by turns, the same one for every start with the table.
    constexpr int kPairs = 9;
    std::vector<double> with, without;
    Run last;
    const int processors = std::max(1, int(::sysconf(_SC_NPROCESSORS_ONLN)));
    for (int i = 0; i < kPairs; ++i) {
        Run embedded, none;
        if (i / processors % 2 == 0) {
            embedded = Start({QUOKKA_PROBE_WITH_TABLE}, i % processors);
            none = Start({QUOKKA_PROBE_WITHOUT_TABLE}, i % processors);
        } else {
            none = Start({QUOKKA_PROBE_WITHOUT_TABLE}, i % processors);
            embedded = Start({QUOKKA_PROBE_WITH_TABLE}, i % processors);
        }
        if (!embedded.ok || !none.ok || embedded.secondsToShown < 0 || none.secondsToShown < 0) {
            std::fprintf(stderr, "a start-up probe failed\n");
            return 1;
        }
        with.push_back(embedded.secondsToShown);
        without.push_back(none.secondsToShown);
        last = embedded;
    }
    const auto bytes6 = std::filesystem::file_size(QUOKKA_GEO6_TABLE_FILE);
    const auto programBytes = std::filesystem::file_size(QUOKKA_PROGRAM);
    const auto pageRounded6 = (bytes6 + 4095) / 4096 * 4096; // the table's section is page-aligned
    std::printf("table: %.1f MiB linked in, and the IPv6 table %.1f MiB\n", tableMb, double(bytes6) / (1 << 20));
    std::printf("program: %.1f MiB with the IPv6 table, %.1f MiB without it (less its page-aligned section)\n",
                double(programBytes) / (1 << 20), double(programBytes - pageRounded6) / (1 << 20));
    std::printf("resident after the main dialog is shown: %.1f MiB (private %.1f, file pages %.1f)\n",
                last.shownKb / 1024.0, last.shownAnonKb / 1024.0, last.shownFileKb / 1024.0);
    std::printf("resident after 10,000 lookups (%d matched): %.1f MiB (private %.1f, file pages %.1f); "
                "growth %.1f MiB = %.1f%% of the table, shared page cache that the kernel may drop\n",
                last.matches, last.lookedUpKb / 1024.0, last.lookedUpAnonKb / 1024.0, last.lookedUpFileKb / 1024.0,
                (last.lookedUpKb - last.shownKb) / 1024.0, 100.0 * (last.lookedUpKb - last.shownKb) / 1024.0 / tableMb);
    std::printf("start to dialog shown, median of %d: %.1f ms with the tables (IPv4, IPv6, AS), %.1f ms without; ratio %.2f\n",
                kPairs, Median(with) * 1000, Median(without) * 1000, Median(with) / Median(without));

    std::vector<std::string> lookup = {QUOKKA_PROGRAM, "--lookup"};
    std::mt19937 random(3);
    std::uniform_int_distribution<unsigned> octet(0, 255);
    for (int i = 0; i < 10000; ++i)
        lookup.push_back(std::to_string(octet(random)) + '.' + std::to_string(octet(random)) + '.'
                         + std::to_string(octet(random)) + '.' + std::to_string(octet(random)));
    const Run one = Start({QUOKKA_PROGRAM, "--lookup", "8.8.8.8"});
    const Run many = Start(lookup);
    std::filesystem::remove_all(config);
    if (!one.ok || !many.ok) {
        std::fprintf(stderr, "quokka-quokka --lookup failed\n");
        return 1;
    }
    std::printf("quokka-quokka --lookup, peak resident: %.1f MiB for 1 address, %.1f MiB for 10,000\n",
                one.peakKb / 1024.0, many.peakKb / 1024.0);
    return 0;
}
