// The memory the monitor's statistics hold: feeds them ROUNDS made-up rounds of HOPS hops (at
// most 29, what a round probes), one round a second, and prints after each hour of rounds and
// after the last "rounds R rows N heap MIB rss MIB": the heap in use beyond what it was before
// the statistics were made, and the process's resident size. A tenth of the probes are lost,
// and hop 5 answers from two addresses in turn, so there is one row more than hops.
//   monitor_memory ROUNDS HOPS
#include "app/monitor_statistics.h"

#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace monitor = quokka::app::monitor;

namespace {

double HeapMiB()
{
    const struct mallinfo2 info = ::mallinfo2();
    return double(info.uordblks + info.hblkhd) / (1024 * 1024);
}

double ResidentMiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atof(line.c_str() + 6) / 1024; // kB
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: monitor_memory ROUNDS HOPS\n");
        return 2;
    }
    const int rounds = std::atoi(argv[1]), hops = std::atoi(argv[2]);
    QStringList addresses;
    for (int ttl = 1; ttl <= hops; ++ttl)
        addresses << QStringLiteral("198.51.100.%1").arg(ttl);
    const QString other = QStringLiteral("203.0.113.5");
    const QDateTime wallTime = QDateTime::currentDateTimeUtc();

    const double heapBefore = HeapMiB();
    monitor::Statistics statistics;
    for (int round = 1; round <= rounds; ++round) {
        const qint64 atMs = qint64(round) * 1000;
        for (int ttl = 1; ttl <= hops; ++ttl) {
            if ((round * 7 + ttl * 3) % 10 == 0) {
                statistics.Lost(round, ttl, atMs);
                continue;
            }
            const QString &address = ttl == 5 && round % 2 == 0 ? other : addresses[ttl - 1];
            statistics.Answered(round, ttl, address, 10.0 + ttl + (round % 13) * 0.25, atMs, wallTime.addMSecs(atMs),
                                ttl == hops);
        }
        if (round % 3600 == 0 || round == rounds)
            std::printf("rounds %d rows %lld heap %.2f rss %.2f\n", round, statistics.Rows().size(),
                        HeapMiB() - heapBefore, ResidentMiB());
    }
    return 0;
}
