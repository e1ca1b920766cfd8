// Monitors the route to DESTINATION without a window: ROUNDS rounds, one every INTERVAL_MS,
// fed to the monitor's statistics by the monitor's rule. Each round probes every TTL up to
// the destination's (29 until it answered); a probe is lost when no answer came within its
// time-out (the interval, at least 1 s, at most 5 s), so rounds overlap when the interval is
// short. Prints the source's kind ("kind raw|ping|none"), the monitor's report lines, and
// "cpu ROUNDS USER_MS SYSTEM_MS": the processor time of the rounds, start-up left out.
//   monitor_rounds DESTINATION ROUNDS INTERVAL_MS
#include "app/monitor_report.h"
#include "trace/round_prober.h"

#include <arpa/inet.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unordered_map>

namespace icmp = quokka::trace::icmp;
namespace monitor = quokka::app::monitor;

namespace {

struct Probe {
    int round = 0;
    int ttl = 0;
};

double Ms(const timeval &time)
{
    return double(time.tv_sec) * 1000 + double(time.tv_usec) / 1000;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: monitor_rounds DESTINATION ROUNDS INTERVAL_MS\n");
        return 2;
    }
    const char *destination = argv[1];
    const int rounds = std::atoi(argv[2]);
    const std::chrono::milliseconds interval(std::atoi(argv[3]));
    const auto timeout = std::clamp<std::chrono::milliseconds>(interval, std::chrono::seconds(1), std::chrono::seconds(5));
    in_addr destinationAddress{};
    ::inet_pton(AF_INET, destination, &destinationAddress);

    const auto source = quokka::trace::OpenRoundSource(destination);
    const char *kinds[] = {"none", "ping", "raw"};
    std::printf("kind %s\n", source ? kinds[int(source->Kind())] : "none");
    if (!source)
        return 1;

    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    const auto start = icmp::Clock::now();
    const auto msAt = [&](icmp::Clock::time_point at) {
        return qint64(std::chrono::duration_cast<std::chrono::milliseconds>(at - start).count());
    };
    monitor::Statistics statistics;
    std::unordered_map<std::uint16_t, Probe> inFlight; // by sequence
    const auto expire = [&](icmp::Clock::time_point limit) {
        for (const std::uint16_t seq : source->ExpireSentBefore(limit)) {
            const auto probe = inFlight.find(seq);
            if (probe == inFlight.end())
                continue;
            statistics.Lost(probe->second.round, probe->second.ttl, msAt(icmp::Clock::now()));
            inFlight.erase(probe);
        }
    };
    const auto answered = [&](const icmp::Answer &answer) {
        const auto probe = inFlight.find(answer.seq);
        if (probe == inFlight.end())
            return;
        const Probe sent = probe->second;
        inFlight.erase(probe);
        const auto now = icmp::Clock::now();
        // Read after its time-out had passed: lost, however it was read.
        if (answer.roundTripMs > double(timeout.count())) {
            statistics.Lost(sent.round, sent.ttl, msAt(now));
            return;
        }
        char address[INET_ADDRSTRLEN] = {};
        const in_addr node{answer.node};
        ::inet_ntop(AF_INET, &node, address, sizeof address);
        statistics.Answered(sent.round, sent.ttl, QString::fromLatin1(address), answer.roundTripMs, msAt(now),
                            QDateTime::currentDateTimeUtc(),
                            answer.kind == icmp::AnswerKind::EchoReply && answer.node == destinationAddress.s_addr);
    };

    std::uint16_t seq = 1;
    auto next = start;
    for (int round = 1; round <= rounds; ++round) {
        const int ttls = statistics.ProbeTtls();
        for (const auto &sent : source->SendRound(seq, ttls)) {
            if (sent.error != 0)
                statistics.Lost(round, sent.ttl, msAt(sent.at));
            else
                inFlight[sent.seq] = {round, sent.ttl};
        }
        seq = std::uint16_t(seq + ttls);
        next += interval;
        while (const auto answer = source->Collect(next))
            answered(*answer);
        expire(icmp::Clock::now() - timeout);
    }
    const auto end = icmp::Clock::now() + timeout;
    while (const auto answer = source->Collect(end))
        answered(*answer);
    expire(icmp::Clock::now());

    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    for (const QString &line : monitor::ReportLines(statistics, {}))
        std::printf("%s\n", line.toUtf8().constData());
    std::printf("cpu %d %.1f %.1f\n", rounds, Ms(after.ru_utime) - Ms(before.ru_utime),
                Ms(after.ru_stime) - Ms(before.ru_stime));
    return 0;
}
