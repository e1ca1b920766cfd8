// Time of one two-step lookup (IANA, then the referred server) against the test servers:
// our client against Debian's whois client (-I: ask IANA and follow its referral), same run.
#include "test_support.h"
#include "whois/whois_client.h"

#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

using quokka::whois::CWhois;
using namespace Qt::StringLiterals;

constexpr int kRounds = 30;

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

template <class Lookup>
std::vector<double> TimeRounds(Lookup lookup, bool *ok)
{
    std::vector<double> times;
    for (int i = 0; i < kRounds; ++i) {
        QElapsedTimer clock;
        clock.start();
        *ok = lookup() && *ok;
        times.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    return times;
}

} // namespace

int RunBenchmark()
{
    bool ok = true;
    const auto ours = TimeRounds([] { return CWhois(u"192.0.2.1"_s).GetData().contains("EXAMPLE-NET"_L1); }, &ok);
    const auto theirs = TimeRounds(
        [] {
            std::string output;
            return testsupport::Run("whois -I 192.0.2.1", &output) == 0 && output.find("EXAMPLE-NET") != std::string::npos;
        },
        &ok);
    const double oursMs = Median(ours);
    const double theirsMs = Median(theirs);
    std::printf("whois two-step lookup, median of %d rounds:\n", kRounds);
    std::printf("  quokka CWhois:        %8.3f ms\n", oursMs);
    std::printf("  Debian whois -I:      %8.3f ms (a process per lookup)\n", theirsMs);
    std::printf("  ratio quokka/whois:   %8.3f\n", oursMs / theirsMs);
    if (!ok)
        std::puts("a lookup did not return the referred server's answer");
    return ok ? 0 : 1;
}
