// The probe helper against hostile callers, in the client namespace of the lab network (root
// only: it runs the helper as nobody with the capability on a copy, and watches the client's
// link with a packet socket of its own). Every request that is refused or ends the helper
// must put no packet on the wire, and no flood may pass the helper's rate bound, in the
// tracer's language (one request at a time) and in the language of rounds (many in flight).
//   helper_hostile_test HELPER INTERFACE      (HELPER carries cap_net_raw+ep)
#include "trace/icmp_packet.h"
#include "trace/probe_protocol.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <grp.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/ip.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <chrono>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace quokka::trace;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::string g_helper;
std::string g_interface;
constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;

quokka::NetAddress Address(const char *text)
{
    return quokka::NetAddress::Parse(text).value_or(quokka::NetAddress());
}

// Echo requests of either family leaving through the client's link, with when they left.
class Sniffer {
public:
    Sniffer()
    {
        // Only a socket for every protocol sees what leaves (the kernel's outgoing taps).
        m_fd = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_ALL));
        sockaddr_ll where{};
        where.sll_family = AF_PACKET;
        where.sll_protocol = htons(ETH_P_ALL);
        where.sll_ifindex = int(::if_nametoindex(g_interface.c_str()));
        m_ok = m_fd >= 0 && where.sll_ifindex > 0 && ::bind(m_fd, reinterpret_cast<sockaddr *>(&where), sizeof where) == 0;
        m_thread = std::thread([this] { Watch(); });
    }
    ~Sniffer()
    {
        m_stop = true;
        m_thread.join();
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool Ok() const { return m_ok; }

    // Requests seen so far to DESTINATION (any, when none), after a moment for the last to arrive.
    std::vector<Clock::time_point> SentTo(const quokka::NetAddress &destination = {})
    {
        std::this_thread::sleep_for(100ms);
        std::lock_guard lock(m_mutex);
        std::vector<Clock::time_point> times;
        for (const auto &[to, when] : m_seen)
            if (!destination || to == destination)
                times.push_back(when);
        return times;
    }

private:
    void Watch()
    {
        while (!m_stop && m_ok) {
            pollfd pfd{m_fd, POLLIN, 0};
            if (::poll(&pfd, 1, 20) <= 0)
                continue;
            std::uint8_t packet[1600];
            sockaddr_ll from{};
            socklen_t length = sizeof from;
            const ssize_t n = ::recvfrom(m_fd, packet, sizeof packet, 0, reinterpret_cast<sockaddr *>(&from), &length);
            if (n < 20 || from.sll_pkttype != PACKET_OUTGOING)
                continue;
            quokka::NetAddress to;
            if (from.sll_protocol == htons(ETH_P_IP) && packet[9] == IPPROTO_ICMP) {
                const std::size_t header = std::size_t(packet[0] & 0x0F) * 4;
                if (std::size_t(n) <= header || packet[header] != 8)
                    continue;
                std::uint32_t v4;
                std::memcpy(&v4, packet + 16, 4);
                to = quokka::NetAddress::V4(v4);
            } else if (from.sll_protocol == htons(ETH_P_IPV6) && n > 40 && packet[6] == IPPROTO_ICMPV6
                       && packet[40] == 128) {
                std::array<std::uint8_t, 16> v6;
                std::memcpy(v6.data(), packet + 24, 16);
                to = quokka::NetAddress::V6(v6);
            } else {
                continue;
            }
            std::lock_guard lock(m_mutex);
            m_seen.emplace_back(to, Clock::now());
        }
    }

    int m_fd = -1;
    bool m_ok = false;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::vector<std::pair<quokka::NetAddress, Clock::time_point>> m_seen;
    std::thread m_thread;
};

// The helper started as nobody on one end of a socket pair, as the program starts it.
class Helper {
public:
    Helper()
    {
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0)
            return;
        m_fd = pair[0];
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(pair[1], 0);
            if (::setgroups(0, nullptr) != 0 || ::setresgid(kNogroup, kNogroup, kNogroup) != 0
                || ::setresuid(kNobody, kNobody, kNobody) != 0)
                ::_exit(120);
            char *const argv[] = {g_helper.data(), nullptr};
            char *const envp[] = {nullptr};
            ::execve(g_helper.c_str(), argv, envp);
            ::_exit(121);
        }
        ::close(pair[1]);
    }
    ~Helper()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        if (m_pid > 0 && !Ended(1000ms)) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    pid_t pid() const { return m_pid; }

    bool Send(std::span<const std::uint8_t> bytes)
    {
        return ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
    }
    bool Ask(const probe::Request &request) { return Send(probe::EncodeRequest(request)); }

    // The next answer within WAIT, or none (also when the helper has gone).
    std::optional<probe::Answer> Answer(std::chrono::milliseconds wait = 2000ms)
    {
        pollfd pfd{m_fd, POLLIN, 0};
        if (::poll(&pfd, 1, int(wait.count())) <= 0)
            return std::nullopt;
        std::uint8_t buffer[64];
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        return n > 0 ? probe::ParseAnswer({buffer, std::size_t(n)}) : std::nullopt;
    }

    // The next answer in the language of rounds within WAIT, or none.
    std::optional<probe::RoundAnswer> RoundAnswer(std::chrono::milliseconds wait = 2000ms)
    {
        pollfd pfd{m_fd, POLLIN, 0};
        if (::poll(&pfd, 1, int(wait.count())) <= 0)
            return std::nullopt;
        std::uint8_t buffer[64];
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        return n > 0 ? probe::ParseRoundAnswer({buffer, std::size_t(n)}) : std::nullopt;
    }
    // Ready (the tracer's language), the hello, and Ready in the language of rounds.
    bool SpeakRounds()
    {
        const auto ready = Answer();
        if (!ready || ready->status != probe::Status::Ready || !Send(probe::EncodeHello()))
            return false;
        const auto rounds = RoundAnswer();
        return rounds && rounds->status == probe::Status::Ready;
    }
    bool AskInRounds(const probe::Request &request) { return Send(probe::EncodeRequest(request, probe::Version::Rounds)); }

    // True once the helper has exited within WAIT (and it is reaped).
    bool Ended(std::chrono::milliseconds wait)
    {
        const auto deadline = Clock::now() + wait;
        do {
            if (m_pid > 0 && ::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
                m_pid = -1;
                return true;
            }
            std::this_thread::sleep_for(10ms);
        } while (Clock::now() < deadline);
        return m_pid <= 0;
    }

private:
    int m_fd = -1;
    pid_t m_pid = -1;
};

std::string StatusLine(pid_t pid, const std::string &key)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(key + ":", 0) == 0)
            return line.substr(key.size() + 1);
    return "?";
}

std::string Trim(std::string text)
{
    text.erase(0, text.find_first_not_of(" \t"));
    return text;
}

// The most of TIMES (in order) that fall within one second.
// Messages a good one's size and shape almost: cut short, one byte too many, oversized, and
// its magic, version and reserved bytes spoiled.
std::vector<std::vector<std::uint8_t>> GarbageLike(const probe::Message &good)
{
    std::vector<std::vector<std::uint8_t>> rows;
    rows.emplace_back(good.begin(), good.end() - 1);
    rows.emplace_back(good.begin(), good.end()).push_back(0);
    rows.emplace_back(4096, 0x41);
    for (const std::size_t at : {0u, 1u, 2u, 10u, 11u}) {
        rows.emplace_back(good.begin(), good.end());
        rows.back()[at] ^= 0x5A;
    }
    // The family byte of the other size: an IPv4 request that says IPv6, and the reverse.
    const bool wide = good.size() == probe::kWideMessageSize;
    rows.emplace_back(good.begin(), good.end());
    rows.back()[10] = wide ? 0 : probe::kFamily6;
    // An IPv6 request whose IPv4 address field is not zero.
    if (wide) {
        rows.emplace_back(good.begin(), good.end());
        rows.back()[4] = 192;
    }
    return rows;
}

std::size_t MostInOneSecond(const std::vector<Clock::time_point> &times)
{
    std::size_t most = 0;
    for (std::size_t first = 0, last = 0; last < times.size(); ++last) {
        while (times[last] - times[first] >= 1s)
            ++first;
        most = std::max(most, last - first + 1);
    }
    return most;
}

class HelperTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sniffer.Ok()) << "no packet socket on " << g_interface;
        auto ready = helper.Answer();
        ASSERT_TRUE(ready && ready->status == probe::Status::Ready) << "the helper did not say it is ready";
    }
    Sniffer sniffer;
    Helper helper;
};

TEST_F(HelperTest, HoldsNoPrivilegeOnceReady)
{
    for (const char *key : {"CapEff", "CapPrm", "CapInh", "CapAmb"})
        EXPECT_EQ(Trim(StatusLine(helper.pid(), key)), "0000000000000000") << key;
    EXPECT_EQ(Trim(StatusLine(helper.pid(), "NoNewPrivs")), "1");
    EXPECT_EQ(Trim(StatusLine(helper.pid(), "Uid")), "65534\t65534\t65534\t65534");
    // Its descriptors: the socket pair and its raw sockets (ICMP and ICMPv6), nothing else.
    int open = 0;
    for (int fd = 0; fd < 64; ++fd)
        open += ::access(("/proc/" + std::to_string(helper.pid()) + "/fd/" + std::to_string(fd)).c_str(), F_OK) == 0;
    EXPECT_EQ(open, 3);
}

TEST_F(HelperTest, ProbesAWellFormedRequest)
{
    ASSERT_TRUE(helper.Ask({Address("203.0.113.2"), 64, 7}));
    const auto answer = helper.Answer();
    ASSERT_TRUE(answer);
    EXPECT_EQ(int(answer->status), int(probe::Status::Answered));
    EXPECT_EQ(answer->seq, 7);
    EXPECT_EQ(answer->node, Address("203.0.113.2"));
    EXPECT_EQ(sniffer.SentTo(Address("203.0.113.2")).size(), 1u);
}

// Well formed, but nothing may go out for them: each is refused and the helper goes on.
TEST_F(HelperTest, RefusesDestinationsAndTtlsOutOfRange)
{
    const struct {
        const char *destination;
        int ttl;
    } rows[] = {
        {"203.0.113.2", 0},      {"0.0.0.0", 64},         {"0.1.2.3", 64},   {"127.0.0.1", 64},
        {"127.255.255.254", 64}, {"224.0.0.1", 64},       {"239.255.255.250", 64},
        {"240.0.0.1", 64},       {"255.255.255.255", 64}, {"ff02::1", 64},   {"ff0e::1", 64},
        {"::1", 64},             {"::", 64},              {"::ffff:192.0.2.1", 64},
        {"::ffff:0:0", 64},      {"2001:db8::2", 0},
    };
    std::uint16_t seq = 100;
    for (const auto &row : rows) {
        ASSERT_TRUE(helper.Ask({Address(row.destination), row.ttl, ++seq})) << row.destination;
        const auto answer = helper.Answer();
        ASSERT_TRUE(answer) << row.destination << " ttl " << row.ttl;
        EXPECT_EQ(int(answer->status), int(probe::Status::Refused)) << row.destination << " ttl " << row.ttl;
        EXPECT_EQ(answer->seq, seq);
    }
    // The subnet's broadcast address looks like a host; the system sends nothing there.
    ASSERT_TRUE(helper.Ask({Address("192.0.2.3"), 64, ++seq}));
    const auto broadcast = helper.Answer();
    ASSERT_TRUE(broadcast);
    EXPECT_NE(int(broadcast->status), int(probe::Status::Answered));
    EXPECT_TRUE(sniffer.SentTo().empty()) << "a packet left for a refused request";
    // Still serving.
    ASSERT_TRUE(helper.Ask({Address("192.0.2.1"), 64, ++seq}));
    const auto control = helper.Answer();
    ASSERT_TRUE(control);
    EXPECT_EQ(int(control->status), int(probe::Status::Answered));
}

// Not its language: the helper ends at once and sends nothing.
TEST_F(HelperTest, EndsAtGarbage)
{
    std::vector<std::vector<std::uint8_t>> rows = GarbageLike(probe::EncodeRequest({Address("192.0.2.1"), 64, 1}));
    for (auto &row : GarbageLike(probe::EncodeRequest({Address("2001:db8::2"), 64, 1})))
        rows.push_back(std::move(row));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        Helper fresh;
        ASSERT_TRUE(fresh.Answer()) << "row " << i;
        fresh.Send(rows[i]);
        EXPECT_FALSE(fresh.Answer(300ms)) << "row " << i << " was answered";
        EXPECT_TRUE(fresh.Ended(1000ms)) << "row " << i << " did not end the helper";
    }
    EXPECT_TRUE(sniffer.SentTo().empty()) << "a packet left for garbage";
}

// However fast requests come, at most 200 probes leave in any second.
TEST_F(HelperTest, BoundsItsRate)
{
    constexpr int kFlood = 400;
    // Requests go in from a thread of their own while the answers are read here, so that
    // neither side's queue fills up and blocks the other.
    std::atomic<bool> allSent{true};
    std::thread flood([&] {
        for (int i = 0; i < kFlood; ++i)
            if (!helper.Ask({Address("192.0.2.1"), 64, std::uint16_t(i)}))
                allSent = false;
    });
    int answered = 0;
    while (const auto answer = helper.Answer())
        if (answer->status == probe::Status::Answered && ++answered == kFlood)
            break;
    flood.join();
    EXPECT_TRUE(allSent);
    EXPECT_EQ(answered, kFlood);
    const auto sent = sniffer.SentTo(Address("192.0.2.1"));
    EXPECT_EQ(sent.size(), std::size_t(kFlood));
    const std::size_t most = MostInOneSecond(sent);
    std::printf("most probes in one second of a flood: %zu\n", most);
    EXPECT_LE(most, 201u);
}

// --- the language of rounds ---------------------------------------------------------------

class RoundsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sniffer.Ok()) << "no packet socket on " << g_interface;
        ASSERT_TRUE(helper.SpeakRounds()) << "the helper did not take up the language of rounds";
    }
    Sniffer sniffer;
    Helper helper;
};

// A whole round in flight: each probe said to have left, then answered by its own hop with
// the time to the microsecond (the first router is before the lab's 30 ms wire, the rest
// beyond it; the third router is silent). A probe may be lost to the busy lab wire.
TEST_F(RoundsTest, ProbesAWholeRoundInFlight)
{
    const char *expected[] = {"192.0.2.1", "198.51.100.2", nullptr, "198.51.100.10"};
    constexpr int kTtls = 29;
    constexpr std::uint16_t kFirst = 65530; // the sequences wrap within the round
    for (int ttl = 1; ttl <= kTtls; ++ttl)
        ASSERT_TRUE(helper.AskInRounds({Address("203.0.113.2"), ttl, std::uint16_t(kFirst + ttl - 1)}));
    std::vector<int> sent(kTtls + 1), answered(kTtls + 1);
    int answers = 0;
    while (const auto answer = helper.RoundAnswer(1500ms)) {
        const int ttl = std::uint16_t(answer->seq - kFirst) + 1;
        ASSERT_TRUE(ttl >= 1 && ttl <= kTtls) << "seq " << answer->seq;
        if (answer->status == probe::Status::Sent) {
            EXPECT_EQ(sent[ttl]++ + answered[ttl], 0) << "ttl " << ttl << " sent twice or after its answer";
            continue;
        }
        ASSERT_EQ(int(answer->status), int(probe::Status::Answered)) << "ttl " << ttl;
        EXPECT_EQ(answered[ttl]++, 0) << "ttl " << ttl << " answered twice";
        const bool far = ttl > 4;
        const char *node = far ? "203.0.113.2" : expected[ttl - 1];
        ASSERT_NE(node, nullptr) << "the silent router answered";
        EXPECT_EQ(answer->node, Address(node)) << "ttl " << ttl;
        EXPECT_EQ(answer->kind, std::uint8_t(far ? icmp::AnswerKind::EchoReply : icmp::AnswerKind::TimeExceeded));
        EXPECT_EQ(ttl == 1, answer->roundTripUs < 60'000) << "ttl " << ttl << ": " << answer->roundTripUs << " us";
        ++answers;
    }
    EXPECT_EQ(std::count(sent.begin() + 1, sent.end(), 1), kTtls);
    EXPECT_GE(answers, kTtls - 1 - 2) << "more than two of the round's answers lost";
    const auto left = sniffer.SentTo(Address("203.0.113.2"));
    ASSERT_EQ(left.size(), std::size_t(kTtls));
    const auto spread = std::chrono::duration<double, std::milli>(left.back() - left.front()).count();
    std::printf("a round of %d left within %.1f ms\n", kTtls, spread);
    EXPECT_LT(spread, 100) << "the round did not leave as one burst";
}

// Well formed, but nothing may go out for them: each is refused at once, and the helper goes on.
TEST_F(RoundsTest, RefusesDestinationsOutOfRange)
{
    const char *rows[] = {"0.0.0.0", "0.1.2.3", "127.0.0.1", "127.255.255.254", "224.0.0.1", "239.255.255.250",
                          "240.0.0.1", "255.255.255.255", "ff02::1", "ff05::2", "::1", "::", "::ffff:192.0.2.1",
                          "::ffff:0:0"};
    std::uint16_t seq = 100;
    for (const char *destination : rows)
        ASSERT_TRUE(helper.AskInRounds({Address(destination), 64, ++seq})) << destination;
    for (std::uint16_t expected = 101; expected <= seq; ++expected) {
        const auto answer = helper.RoundAnswer();
        ASSERT_TRUE(answer) << "seq " << expected;
        EXPECT_EQ(int(answer->status), int(probe::Status::Refused)) << "seq " << expected;
        EXPECT_EQ(answer->seq, expected);
    }
    EXPECT_TRUE(sniffer.SentTo().empty()) << "a packet left for a refused request";
    ASSERT_TRUE(helper.AskInRounds({Address("192.0.2.1"), 64, ++seq}));
    const auto left = helper.RoundAnswer();
    ASSERT_TRUE(left);
    EXPECT_EQ(int(left->status), int(probe::Status::Sent));
    const auto control = helper.RoundAnswer();
    ASSERT_TRUE(control);
    EXPECT_EQ(int(control->status), int(probe::Status::Answered));
}

// Not its language, also the tracer's language or a second hello once rounds are spoken:
// the helper ends at once and sends nothing.
TEST(RoundsLife, EndsAtGarbage)
{
    Sniffer sniffer;
    ASSERT_TRUE(sniffer.Ok());
    const probe::Request request{Address("192.0.2.1"), 64, 1};
    const probe::Message good = probe::EncodeRequest(request, probe::Version::Rounds);
    std::vector<std::vector<std::uint8_t>> rows = GarbageLike(good);
    const probe::Request request6{Address("2001:db8::2"), 64, 1};
    for (auto &row : GarbageLike(probe::EncodeRequest(request6, probe::Version::Rounds)))
        rows.push_back(std::move(row));
    const probe::Message ttlZero = probe::EncodeRequest({request.destination, 0, 1}, probe::Version::Rounds);
    const probe::Message ttlZero6 = probe::EncodeRequest({request6.destination, 0, 1}, probe::Version::Rounds);
    const probe::Message single = probe::EncodeRequest(request);
    const probe::Message single6 = probe::EncodeRequest(request6);
    const probe::Message hello = probe::EncodeHello();
    for (const probe::Message &message : {ttlZero, ttlZero6, single, single6, hello})
        rows.emplace_back(message.begin(), message.end());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        Helper fresh;
        ASSERT_TRUE(fresh.SpeakRounds()) << "row " << i;
        fresh.Send(rows[i]);
        EXPECT_FALSE(fresh.RoundAnswer(300ms)) << "row " << i << " was answered";
        EXPECT_TRUE(fresh.Ended(1000ms)) << "row " << i << " did not end the helper";
    }
    EXPECT_TRUE(sniffer.SentTo().empty()) << "a packet left for garbage";
}

// However fast requests come, and however many are in flight, at most 200 probes leave in
// any second; each one is said to have left.
TEST_F(RoundsTest, BoundsItsRate)
{
    constexpr int kFlood = 600;
    std::atomic<bool> allSent{true};
    std::thread flood([&] {
        for (int i = 0; i < kFlood; ++i)
            if (!helper.AskInRounds({Address("192.0.2.1"), 64, std::uint16_t(i)}))
                allSent = false;
    });
    int left = 0;
    while (const auto answer = helper.RoundAnswer())
        if (answer->status == probe::Status::Sent && ++left == kFlood)
            break;
    flood.join();
    EXPECT_TRUE(allSent);
    EXPECT_EQ(left, kFlood);
    const auto sent = sniffer.SentTo(Address("192.0.2.1"));
    EXPECT_EQ(sent.size(), std::size_t(kFlood));
    const std::size_t most = MostInOneSecond(sent);
    std::printf("most probes in one second of a flood of rounds: %zu\n", most);
    EXPECT_LE(most, 201u);
    EXPECT_GE(most, 150u) << "the bound holds back more than it should";
}

// The rx_queue of the raw socket with INODE in /proc/net/raw (of this namespace), in bytes.
std::size_t RawQueue(const std::string &inode)
{
    std::ifstream table("/proc/net/raw");
    std::string line;
    std::getline(table, line); // the column names
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::vector<std::string> f;
        for (std::string field; fields >> field;)
            f.push_back(field);
        if (f.size() > 9 && f[9] == inode)
            return std::stoul(f[4].substr(f[4].find(':') + 1), nullptr, 16);
    }
    ADD_FAILURE() << "no raw socket " << inode;
    return 0;
}

// Another process pings the namespace's hosts fast, directly and with a TTL of 1: an idle
// helper's socket queues none of the answers, which are not for it.
TEST_F(HelperTest, QueuesNoOtherProcesssAnswers)
{
    char link[64] = {};
    const std::string fd = "/proc/" + std::to_string(helper.pid()) + "/fd/1";
    ASSERT_GT(::readlink(fd.c_str(), link, sizeof link - 1), 0);
    const std::string target(link);
    ASSERT_EQ(target.rfind("socket:[", 0), 0u) << target;
    const std::string inode = target.substr(8, target.size() - 9);
    const int flood = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    ASSERT_GE(flood, 0);
    // Not the helper's identifier (its first socket's is its process number times 31).
    const auto id = std::uint16_t(std::uint16_t(helper.pid() * 31) ^ 0x5A5A);
    std::size_t mostQueued = 0;
    for (int i = 0; i < 600; ++i) {
        const int ttl = i % 2 ? 64 : 1;
        ::setsockopt(flood, SOL_IP, IP_TTL, &ttl, sizeof ttl);
        const auto request = icmp::BuildEchoRequest(id, std::uint16_t(i));
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = Address(i % 2 ? "192.0.2.1" : "203.0.113.2").V4NetworkOrder();
        ::sendto(flood, request.data(), request.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
        if (i % 100 == 99) {
            std::this_thread::sleep_for(20ms);
            mostQueued = std::max(mostQueued, RawQueue(inode));
        }
    }
    std::this_thread::sleep_for(100ms);
    mostQueued = std::max(mostQueued, RawQueue(inode));
    int answers = 0;
    std::uint8_t packet[1500];
    while (::recv(flood, packet, sizeof packet, MSG_DONTWAIT) > 0)
        ++answers;
    ::close(flood);
    std::printf("answers to the other process: %d; most bytes queued on the helper's socket: %zu\n", answers, mostQueued);
    EXPECT_GT(answers, 100) << "the other process's pings were not answered";
    EXPECT_EQ(mostQueued, 0u);
}

// The helper dies with the process that started it, even while its input stays open.
TEST(HelperLife, EndsWithItsParent)
{
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair), 0);
    int pids[2];
    ASSERT_EQ(::pipe(pids), 0);
    const pid_t parent = ::fork();
    if (parent == 0) {
        const pid_t child = ::fork();
        if (child == 0) {
            ::dup2(pair[1], 0);
            char *const argv[] = {g_helper.data(), nullptr};
            char *const envp[] = {nullptr};
            ::execve(g_helper.c_str(), argv, envp);
            ::_exit(121);
        }
        [[maybe_unused]] const ssize_t written = ::write(pids[1], &child, sizeof child);
        ::pause();
        ::_exit(0);
    }
    pid_t helper = -1;
    ASSERT_EQ(::read(pids[0], &helper, sizeof helper), ssize_t(sizeof helper));
    std::uint8_t ready[64];
    pollfd pfd{pair[0], POLLIN, 0};
    ASSERT_EQ(::poll(&pfd, 1, 2000), 1);
    ASSERT_GT(::recv(pair[0], ready, sizeof ready, 0), 0);
    ::kill(parent, SIGKILL);
    ::waitpid(parent, nullptr, 0);
    bool gone = false;
    for (int i = 0; i < 100 && !gone; ++i, std::this_thread::sleep_for(10ms))
        gone = ::kill(helper, 0) != 0 || Trim(StatusLine(helper, "State")).rfind("Z", 0) == 0;
    EXPECT_TRUE(gone) << "the helper outlived its parent";
    ::close(pair[0]);
    ::close(pair[1]);
}

} // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: helper_hostile_test HELPER INTERFACE\n");
        return 2;
    }
    g_helper = argv[1];
    g_interface = argv[2];
    return RUN_ALL_TESTS();
}
