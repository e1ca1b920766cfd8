// Probes DESTINATION in ROUNDS rounds, one every INTERVAL_MS, each probe lost after
// TIMEOUT_MS, with the round source the program opens (a ping socket, a raw socket, or the
// probe helper beside this program): every time-to-live from 1 to MAX_TTL in the first round,
// then up to the destination's once it answered. Prints the socket kind
// ("kind raw|ping|helper|none"), the destination's time-to-live ("destination ttl N", 0 when never
// found), then per round "round R ADDRESS..." (each time-to-live's answer, "Error" when lost,
// up to the destination's), per answered probe "rtt R TTL MS", per reason that kept probes
// from leaving "unsent refused|not-permitted|no-route|lost COUNT", and last how the source ended
// with one more round in flight: "ended in MS ms, children none|running|unreaped" (the probe
// helper, when it was the source, must be gone and reaped).
//   probe_rounds DESTINATION ROUNDS INTERVAL_MS TIMEOUT_MS [MAX_TTL]
#include "trace/round_prober.h"

#include <arpa/inet.h>
#include <cerrno>
#include <sys/wait.h>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

using quokka::trace::RoundSource;
namespace icmp = quokka::trace::icmp;

namespace {

struct Result {
    std::string node = "Error";
    double roundTripMs = -1;
    bool destination = false;
};

} // namespace

int main(int argc, char **argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: probe_rounds DESTINATION ROUNDS INTERVAL_MS TIMEOUT_MS [MAX_TTL]\n");
        return 2;
    }
    const std::string destination = argv[1];
    const int rounds = std::atoi(argv[2]);
    const std::chrono::milliseconds interval(std::atoi(argv[3]));
    const std::chrono::milliseconds timeout(std::atoi(argv[4]));
    const int maxTtl = argc > 5 ? std::atoi(argv[5]) : 29;

    auto prober = quokka::trace::OpenRoundSource(destination);
    const char *kinds[] = {"none", "ping", "raw", "helper"};
    std::printf("kind %s\n", kinds[int(prober ? prober->Kind() : icmp::SocketKind::None)]);
    if (!prober)
        return 1;

    std::vector<std::map<int, Result>> results(static_cast<std::size_t>(rounds)); // per round, by time-to-live
    std::map<std::uint16_t, int> roundOfSeq;
    std::map<std::string, int> unsent; // by the reason a probe did not leave
    int ttls = maxTtl;
    int destinationTtl = 0;
    std::uint16_t seq = 1;
    const auto record = [&](const icmp::Answer &answer) {
        const auto found = roundOfSeq.find(answer.seq);
        if (found == roundOfSeq.end())
            return;
        Result &result = results[std::size_t(found->second)][answer.ttl];
        result.node = answer.node.ToString();
        result.roundTripMs = answer.roundTripMs;
        result.destination = answer.kind == icmp::AnswerKind::EchoReply && result.node == destination;
        if (result.destination && (destinationTtl == 0 || answer.ttl < destinationTtl))
            destinationTtl = ttls = answer.ttl;
    };
    auto next = icmp::Clock::now();
    auto lastSent = next;
    for (int round = 0; round < rounds; ++round) {
        for (const RoundSource::Sent &sent : prober->SendRound(seq, ttls)) {
            roundOfSeq[sent.seq] = round;
            if (sent.error != 0) {
                const char *reasons[] = {"answered", "lost", "not-permitted", "no-route", "refused"};
                ++unsent[reasons[int(icmp::OutcomeOfSendError(sent.error))]];
            }
            results[std::size_t(round)].try_emplace(sent.ttl);
            lastSent = sent.at;
        }
        seq = std::uint16_t(seq + ttls);
        next += interval;
        while (const auto answer = prober->Collect(next))
            record(*answer);
        prober->ExpireSentBefore(icmp::Clock::now() - timeout);
    }
    while (const auto answer = prober->Collect(lastSent + timeout))
        record(*answer);
    prober->ExpireSentBefore(icmp::Clock::now());

    std::printf("destination ttl %d\n", destinationTtl);
    for (int round = 0; round < rounds; ++round) {
        std::printf("round %d", round + 1);
        for (const auto &[ttl, result] : results[std::size_t(round)]) {
            std::printf(" %s", result.node.c_str());
            if (result.destination)
                break;
        }
        std::printf("\n");
    }
    for (int round = 0; round < rounds; ++round) {
        for (const auto &[ttl, result] : results[std::size_t(round)]) {
            if (result.roundTripMs >= 0)
                std::printf("rtt %d %d %.3f\n", round + 1, ttl, result.roundTripMs);
        }
    }
    for (const auto &[reason, count] : unsent)
        std::printf("unsent %s %d\n", reason.c_str(), count);
    prober->SendRound(seq, ttls);
    const auto ending = icmp::Clock::now();
    prober.reset();
    const double endMs = std::chrono::duration<double, std::milli>(icmp::Clock::now() - ending).count();
    const pid_t child = ::waitpid(-1, nullptr, WNOHANG);
    const char *children = child > 0 ? "unreaped" : child == 0 || errno != ECHILD ? "running" : "none";
    std::printf("ended in %.0f ms, children %s\n", endMs, children);
    return 0;
}
