// Echo requests as bytes, and which received packets answer the current request.
#include "trace/icmp_packet.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace quokka::trace;
using Bytes = std::vector<std::uint8_t>;

std::uint32_t Addr(const char *dotted)
{
    in_addr a{};
    inet_pton(AF_INET, dotted, &a);
    return a.s_addr;
}

Bytes IpHeader(const char *from, const char *to, std::uint8_t protocol = 1, std::uint8_t ihlWords = 5)
{
    Bytes h(std::size_t(ihlWords) * 4, 0);
    h[0] = std::uint8_t(0x40 | ihlWords);
    h[8] = 64;
    h[9] = protocol;
    const std::uint32_t s = Addr(from), d = Addr(to);
    std::memcpy(h.data() + 12, &s, 4);
    std::memcpy(h.data() + 16, &d, 4);
    return h;
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes &p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes Icmp(std::uint8_t type, std::uint8_t code, std::uint16_t id, std::uint16_t seq)
{
    return {type, code, 0, 0, std::uint8_t(id >> 8), std::uint8_t(id), std::uint8_t(seq >> 8), std::uint8_t(seq)};
}

// What a router sends back: its IP header, the report, then our request's IP header (sent to
// TO) and 8 bytes.
Bytes Report(std::uint8_t type, const char *router, std::uint16_t id, std::uint16_t seq, const char *to = "203.0.113.2")
{
    return Concat({IpHeader(router, "192.0.2.2"), Icmp(type, 0, 0, 0), IpHeader("192.0.2.2", to), Icmp(8, 0, id, seq)});
}

Bytes Reply(const char *from, std::uint16_t id, std::uint16_t seq)
{
    return Concat({IpHeader(from, "192.0.2.2"), Icmp(0, 0, id, seq)});
}

const icmp::Request kOurs{0x1234, 7, Addr("203.0.113.2")};

// Whether a raw socket's filter CODE lets PACKET through, run by the kernel: a datagram
// socket pair applies a receiver's filter as a raw socket does, from byte 0.
bool FilterPasses(std::vector<sock_filter> code, const Bytes &packet)
{
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, pair) != 0)
        return ADD_FAILURE() << "no socket pair", false;
    const sock_fprog program{static_cast<unsigned short>(code.size()), code.data()};
    EXPECT_EQ(::setsockopt(pair[1], SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program), 0);
    EXPECT_EQ(::send(pair[0], packet.data(), packet.size(), 0), ssize_t(packet.size()));
    std::uint8_t buffer[2048];
    const bool passed = ::recv(pair[1], buffer, sizeof buffer, MSG_DONTWAIT) == ssize_t(packet.size());
    ::close(pair[0]);
    ::close(pair[1]);
    return passed;
}

} // namespace

TEST(EchoRequest, CarriesPayloadIdentifierSequenceAndAValidChecksum)
{
    const Bytes packet = icmp::BuildEchoRequest(0x1234, 0x0007);
    ASSERT_EQ(packet.size(), 40u);
    EXPECT_EQ(packet[0], 8);
    EXPECT_EQ(packet[1], 0);
    EXPECT_EQ((Bytes{packet.begin() + 4, packet.begin() + 8}), (Bytes{0x12, 0x34, 0x00, 0x07}));
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(packet.data() + 8)), "Data Buffer");
    EXPECT_TRUE(std::all_of(packet.begin() + 19, packet.end(), [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(icmp::Checksum(packet), 0) << "a packet with its checksum sums to zero";
}

TEST(Checksum, MatchesKnownValues)
{
    EXPECT_EQ(icmp::Checksum(Bytes{0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7}), 0x220d);
    EXPECT_EQ(icmp::Checksum(Bytes{0xff}), 0x00ff); // odd length pads with a zero byte
}

// Received packets, what they answer, and whether the socket filter queues them at all (it
// knows only our identifier: sequence and addresses are for the matching to decide).
TEST(RawAnswer, CountsOnlyAnswersToTheCurrentRequestFromWhereTheyMayCome)
{
    const auto none = std::optional<std::uint32_t>();
    Bytes udp = Report(11, "192.0.2.1", 0x1234, 7);
    udp[20 + 8 + 9] = 17;
    Bytes quotedReply = Report(11, "192.0.2.1", 0x1234, 7);
    quotedReply[20 + 8 + 20] = 0;
    const struct {
        const char *what;
        Bytes packet;
        std::optional<std::uint32_t> answer;
        bool queued;
    } rows[] = {
        {"our echo reply", Reply("203.0.113.2", 0x1234, 7), Addr("203.0.113.2"), true},
        {"our echo reply after IP options",
         Concat({IpHeader("203.0.113.2", "192.0.2.2", 1, 6), Icmp(0, 0, 0x1234, 7)}), Addr("203.0.113.2"), true},
        {"unreachable", Report(3, "198.51.100.6", 0x1234, 7), Addr("198.51.100.6"), true},
        {"source quench", Report(4, "198.51.100.6", 0x1234, 7), Addr("198.51.100.6"), true},
        {"redirect", Report(5, "198.51.100.6", 0x1234, 7), Addr("198.51.100.6"), true},
        {"time exceeded", Report(11, "198.51.100.6", 0x1234, 7), Addr("198.51.100.6"), true},
        {"parameter problem", Report(12, "198.51.100.6", 0x1234, 7), Addr("198.51.100.6"), true},
        {"our echo reply from another source", Reply("198.51.100.211", 0x1234, 7), none, true},
        {"a report quoting another destination", Report(11, "192.0.2.1", 0x1234, 7, "203.0.113.99"), none, true},
        {"a late echo reply", Reply("203.0.113.2", 0x1234, 6), none, true},
        {"a late report", Report(11, "192.0.2.1", 0x1234, 6), none, true},
        {"another process's echo reply", Reply("203.0.113.2", 0x1235, 7), none, false},
        {"a report on another process's request", Report(11, "192.0.2.1", 0x4321, 7), none, false},
        {"our own request on its way out", Concat({IpHeader("192.0.2.2", "203.0.113.2"), Icmp(8, 0, 0x1234, 7)}), none, false},
        {"a timestamp request", Concat({IpHeader("192.0.2.1", "192.0.2.2"), Icmp(13, 0, 0x1234, 7)}), none, false},
        {"a report quoting a UDP datagram", udp, none, false},
        {"a report quoting an echo reply", quotedReply, none, false},
    };
    for (const auto &row : rows) {
        EXPECT_EQ(icmp::AnswerFromRawPacket(row.packet, kOurs), row.answer) << row.what;
        EXPECT_EQ(FilterPasses(icmp::RawSocketFilter(kOurs.id), row.packet), row.queued) << row.what;
    }
}

TEST(RawAnswer, SurvivesTruncatedAndMalformedPackets)
{
    const Bytes whole = Report(11, "192.0.2.1", 0x1234, 7);
    for (std::size_t n = 0; n < whole.size(); ++n)
        EXPECT_FALSE(icmp::AnswerFromRawPacket(std::span(whole.data(), n), kOurs)) << n;
    Bytes badLength = whole;
    badLength[0] = 0x4F; // header length of 60 bytes, more than the packet holds
    EXPECT_FALSE(icmp::AnswerFromRawPacket(badLength, kOurs));
    Bytes quotedBadLength = whole;
    quotedBadLength[28] = 0x42; // quoted header length below the minimum
    EXPECT_FALSE(icmp::AnswerFromRawPacket(quotedBadLength, kOurs));
    Bytes notV4 = whole;
    notV4[0] = 0x65;
    EXPECT_FALSE(icmp::AnswerFromRawPacket(notV4, kOurs));
}

// On a ping socket the kernel matched the identifier; the source of a reply, and the
// destination an error report's quoted request went to, must still be ours.
TEST(PingSocketAnswer, MatchesBySequenceAndAddress)
{
    const std::uint32_t dest = kOurs.destination, other = Addr("198.51.100.211");
    EXPECT_TRUE(icmp::IsEchoReplyTo(Icmp(0, 0, 99, 7), dest, kOurs));
    EXPECT_FALSE(icmp::IsEchoReplyTo(Icmp(0, 0, 99, 7), other, kOurs));
    EXPECT_FALSE(icmp::IsEchoReplyTo(Icmp(0, 0, 99, 6), dest, kOurs));
    EXPECT_FALSE(icmp::IsEchoReplyTo(Icmp(8, 0, 99, 7), dest, kOurs));
    EXPECT_FALSE(icmp::IsEchoReplyTo(Bytes{0, 0, 0, 0, 0, 0, 0}, dest, {0, 0, dest}));
    EXPECT_TRUE(icmp::QuotesEchoRequest(Icmp(8, 0, 99, 7), dest, kOurs));
    EXPECT_FALSE(icmp::QuotesEchoRequest(Icmp(8, 0, 99, 7), other, kOurs));
    EXPECT_FALSE(icmp::QuotesEchoRequest(Icmp(8, 0, 99, 8), dest, kOurs));
    EXPECT_FALSE(icmp::QuotesEchoRequest(Icmp(0, 0, 99, 7), dest, kOurs));
    EXPECT_FALSE(icmp::QuotesEchoRequest(Bytes{8, 0, 0}, dest, {0, 0, dest}));
}

// ICMPv6 on a raw socket: no IPv6 header in front, the source from the message's name, and
// an error report quotes the request's IPv6 header (40 bytes) and its ICMPv6 header.
namespace {

quokka::NetAddress V6(const char *text)
{
    return quokka::NetAddress::Parse(text).value_or(quokka::NetAddress());
}

Bytes Ip6Header(const char *from, const char *to, std::uint8_t nextHeader = 58)
{
    Bytes h(40, 0);
    h[0] = 0x60;
    h[5] = 40;
    h[6] = nextHeader;
    h[7] = 1;
    std::memcpy(h.data() + 8, V6(from).V6Bytes().data(), 16);
    std::memcpy(h.data() + 24, V6(to).V6Bytes().data(), 16);
    return h;
}

Bytes Report6(std::uint8_t type, std::uint16_t id, std::uint16_t seq, const char *to = "2001:db8:3::2")
{
    return Concat({Icmp(type, 0, 0, 0), Ip6Header("2001:db8:1::2", to), Icmp(128, 0, id, seq)});
}

} // namespace

TEST(RawAnswer6, MatchesByIdentifierSequenceSourceAndQuotedDestination)
{
    using Kind = icmp::AnswerKind;
    const auto dest = V6("2001:db8:3::2"), router = V6("2001:db8:2::1"), other = V6("2001:db8:3::99");
    const auto none = std::optional<icmp::Match6>();
    Bytes udp = Report6(3, 0x1234, 7);
    udp[8 + 6] = 17;
    Bytes quotedReply = Report6(3, 0x1234, 7);
    quotedReply[8 + 40] = 129;
    Bytes quotedV4 = Report6(3, 0x1234, 7);
    quotedV4[8] = 0x45;
    const Bytes whole = Report6(3, 0x1234, 7);
    const struct {
        const char *what;
        Bytes message;
        quokka::NetAddress source;
        std::optional<icmp::Match6> match;
        bool queued;
    } rows[] = {
        {"our echo reply", Icmp(129, 0, 0x1234, 7), dest, icmp::Match6{dest, 7, Kind::EchoReply}, true},
        {"time exceeded", Report6(3, 0x1234, 65535), router, icmp::Match6{router, 65535, Kind::TimeExceeded}, true},
        {"unreachable", Report6(1, 0x1234, 0), router, icmp::Match6{router, 0, Kind::Unreachable}, true},
        {"packet too big", Report6(2, 0x1234, 9), router, icmp::Match6{router, 9, Kind::OtherReport}, true},
        {"our echo reply from another source", Icmp(129, 0, 0x1234, 7), other, none, true},
        {"a report quoting another destination", Report6(3, 0x1234, 7, "2001:db8:3::99"), router, none, true},
        {"another process's echo reply", Icmp(129, 0, 0x1235, 7), dest, none, false},
        {"a report on another process's request", Report6(3, 0x4321, 7), router, none, false},
        {"our own request", Icmp(128, 0, 0x1234, 7), dest, none, false},
        {"a neighbour solicitation", Icmp(135, 0, 0x1234, 7), router, none, false},
        {"a report quoting a UDP datagram", udp, router, none, false},
        {"a report quoting an echo reply", quotedReply, router, none, false},
        {"a report whose quoted header is not IPv6", quotedV4, router, none, true},
        {"a report with its quoted request cut off", Bytes(whole.begin(), whole.end() - 5), router, none, false},
        {"a report cut inside the quoted header", Bytes(whole.begin(), whole.begin() + 30), router, none, false},
    };
    for (const auto &row : rows) {
        EXPECT_EQ(icmp::MatchRawMessage6(row.message, row.source, 0x1234, dest), row.match) << row.what;
        EXPECT_EQ(FilterPasses(icmp::RawSocketFilter6(0x1234), row.message), row.queued) << row.what;
    }
    EXPECT_FALSE(icmp::MatchRawMessage6(Icmp(0, 0, 0x1234, 7), V6("192.0.2.1"), 0x1234, V6("192.0.2.1")))
        << "an IPv4 destination";

    // A ping socket: the kernel matched the identifier.
    EXPECT_EQ(icmp::EchoReplySequence6(Icmp(129, 0, 99, 300), dest, dest), 300);
    EXPECT_FALSE(icmp::EchoReplySequence6(Icmp(129, 0, 99, 300), other, dest));
    EXPECT_FALSE(icmp::EchoReplySequence6(Icmp(0, 0, 99, 300), dest, dest));
    EXPECT_EQ(icmp::QuotedSequence6(Icmp(128, 0, 99, 300), dest, dest), 300);
    EXPECT_FALSE(icmp::QuotedSequence6(Icmp(128, 0, 99, 300), other, dest));
    EXPECT_FALSE(icmp::QuotedSequence6(Icmp(8, 0, 99, 300), dest, dest));
    EXPECT_FALSE(icmp::QuotedSequence6(Bytes{128, 0, 0}, dest, dest));

    const Bytes request = icmp::BuildEchoRequest6(0x1234, 7);
    EXPECT_EQ((Bytes{request.begin(), request.begin() + 8}), Icmp(128, 0, 0x1234, 7)) << "checksum left to the kernel";
    const auto payload = icmp::RequestPayload();
    EXPECT_EQ((Bytes{request.begin() + 8, request.end()}), (Bytes{payload.begin(), payload.end()}));
}

// Many probes in flight: a received packet names the sequence it answers and how, and only
// then is it matched to a probe in flight.
TEST(RoundAnswer, NamesSequenceAndKindForAnyProbeToTheDestination)
{
    using Kind = icmp::AnswerKind;
    const std::uint32_t dest = kOurs.destination, router = Addr("198.51.100.6");
    const auto none = std::optional<icmp::Match>();
    const struct {
        const char *what;
        Bytes packet;
        std::optional<icmp::Match> match;
    } rows[] = {
        {"an echo reply", Reply("203.0.113.2", 0x1234, 6), icmp::Match{dest, 6, Kind::EchoReply}},
        {"time exceeded", Report(11, "198.51.100.6", 0x1234, 65535), icmp::Match{router, 65535, Kind::TimeExceeded}},
        {"unreachable", Report(3, "198.51.100.6", 0x1234, 0), icmp::Match{router, 0, Kind::Unreachable}},
        {"parameter problem", Report(12, "198.51.100.6", 0x1234, 9), icmp::Match{router, 9, Kind::OtherReport}},
        {"an echo reply from another source", Reply("198.51.100.211", 0x1234, 6), none},
        {"a report quoting another destination", Report(11, "192.0.2.1", 0x1234, 6, "203.0.113.99"), none},
        {"another identifier's reply", Reply("203.0.113.2", 0x1235, 6), none},
        {"another identifier's report", Report(11, "192.0.2.1", 0x4321, 6), none},
    };
    for (const auto &row : rows)
        EXPECT_EQ(icmp::MatchRawPacket(row.packet, kOurs.id, dest), row.match) << row.what;

    const std::uint32_t other = Addr("198.51.100.211");
    EXPECT_EQ(icmp::EchoReplySequence(Icmp(0, 0, 99, 300), dest, dest), 300);
    EXPECT_FALSE(icmp::EchoReplySequence(Icmp(0, 0, 99, 300), other, dest));
    EXPECT_FALSE(icmp::EchoReplySequence(Icmp(8, 0, 99, 300), dest, dest));
    EXPECT_EQ(icmp::QuotedSequence(Icmp(8, 0, 99, 300), dest, dest), 300);
    EXPECT_FALSE(icmp::QuotedSequence(Icmp(8, 0, 99, 300), other, dest));
    EXPECT_FALSE(icmp::QuotedSequence(Icmp(0, 0, 99, 300), dest, dest));
}

// An answer counts once, and only while its probe is in flight: a probe given up at its
// time-out takes no late answer.
TEST(InFlightProbes, MatchOnceAndForgetWhatWasGivenUp)
{
    using namespace std::chrono_literals;
    const auto t0 = icmp::Clock::now();
    icmp::InFlightProbes probes;
    probes.Add(65535, 1, t0);
    probes.Add(0, 2, t0 + 1ms);
    probes.Add(1, 3, t0 + 2ms);
    probes.Add(2, 4, t0 + 3ms);
    ASSERT_TRUE(probes.Take(0));
    EXPECT_EQ(probes.Take(0), std::nullopt) << "a second answer to the same probe";
    EXPECT_EQ(probes.ExpireSentBefore(t0 + 3ms), (std::vector<std::uint16_t>{65535, 1}));
    EXPECT_EQ(probes.Take(65535), std::nullopt) << "a late answer to a probe given up";
    const auto last = probes.Take(2);
    ASSERT_TRUE(last);
    EXPECT_EQ(last->ttl, 4);
    EXPECT_EQ(last->sentAt, t0 + 3ms);
    EXPECT_EQ(probes.Size(), 0u);
}
