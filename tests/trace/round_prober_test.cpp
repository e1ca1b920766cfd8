// The round prober over loopback, read late as a busy machine reads: answers that arrived in
// time are neither given up nor timed by when they were read.
#include "trace/round_prober.h"

#include "base/unique_fd.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <thread>

using namespace quokka::trace;

namespace {

// Whether this machine's loopback has ADDRESS (some containers keep IPv6 off).
bool LoopbackHas(const char *address)
{
    sockaddr_storage at{};
    const auto parsed = quokka::NetAddress::Parse(address);
    const socklen_t length = parsed->ToSockaddr(at);
    const quokka::UniqueFd fd(::socket(at.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    return fd.Valid() && ::bind(fd.Get(), reinterpret_cast<sockaddr *>(&at), length) == 0;
}

} // namespace

TEST(RoundProberReadLate, AnswersThatArrivedAreKeptAndTimedByTheirArrival)
{
    for (const char *destination : {"127.0.0.1", "::1"}) {
        SCOPED_TRACE(destination);
        if (!LoopbackHas(destination)) {
            std::printf("loopback has no %s here: not probed\n", destination);
            continue;
        }
        RoundProber prober(destination);
        if (!prober.IsValid())
            GTEST_SKIP() << "neither a ping nor a raw socket may be opened here";
        // The kernel turns arrival stamps on for the whole machine a moment after a socket
        // first asks (until then it stamps when read): a first round lets it.
        prober.SendRound(100, 3);
        for (int i = 0; i < 3; ++i)
            prober.Collect(icmp::Clock::now() + std::chrono::milliseconds(100));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const auto round = prober.SendRound(1, 3);
        ASSERT_EQ(round.size(), 3U);
        for (const RoundSource::Sent &probe : round)
            ASSERT_EQ(probe.error, 0) << "probe " << probe.ttl << " was not sent";
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the answers wait unread
        EXPECT_TRUE(prober.ExpireSentBefore(icmp::Clock::now()).empty()) << "answered probes were given up";
        for (int i = 0; i < 3; ++i) {
            const auto answer = prober.Collect(icmp::Clock::now() + std::chrono::milliseconds(100));
            ASSERT_TRUE(answer) << "answer " << i + 1 << " of 3";
            EXPECT_EQ(answer->node.ToString(), destination);
            EXPECT_LT(answer->roundTripMs, 150.0) << "timed when read, not when it arrived";
        }
    }
}
