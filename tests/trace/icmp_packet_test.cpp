// Echo requests as bytes, and which received packets answer the current request.
#include "trace/icmp_packet.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace {

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

// What a router sends back: its IP header, the report, then our request's IP header and 8 bytes.
Bytes Report(std::uint8_t type, const char *router, std::uint16_t id, std::uint16_t seq)
{
    return Concat({IpHeader(router, "192.0.2.2"), Icmp(type, 0, 0, 0), IpHeader("192.0.2.2", "203.0.113.2"),
                   Icmp(8, 0, id, seq)});
}

constexpr icmp::Request kOurs{0x1234, 7};

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

TEST(RawAnswer, AcceptsOurEchoReplyAndReportsQuotingOurRequest)
{
    const Bytes reply = Concat({IpHeader("203.0.113.2", "192.0.2.2"), Icmp(0, 0, 0x1234, 7)});
    EXPECT_EQ(icmp::AnswerFromRawPacket(reply, kOurs), Addr("203.0.113.2"));
    for (std::uint8_t type : {3, 4, 5, 11, 12})
        EXPECT_EQ(icmp::AnswerFromRawPacket(Report(type, "198.51.100.6", 0x1234, 7), kOurs), Addr("198.51.100.6"))
            << int(type);
}

TEST(RawAnswer, IgnoresEverythingElse)
{
    const auto none = std::optional<std::uint32_t>();
    // Other identifiers or sequences: another process's ping, or a late answer to an earlier probe.
    EXPECT_EQ(icmp::AnswerFromRawPacket(Concat({IpHeader("203.0.113.2", "192.0.2.2"), Icmp(0, 0, 0x1235, 7)}), kOurs), none);
    EXPECT_EQ(icmp::AnswerFromRawPacket(Concat({IpHeader("203.0.113.2", "192.0.2.2"), Icmp(0, 0, 0x1234, 6)}), kOurs), none);
    EXPECT_EQ(icmp::AnswerFromRawPacket(Report(11, "192.0.2.1", 0x1234, 6), kOurs), none);
    EXPECT_EQ(icmp::AnswerFromRawPacket(Report(11, "192.0.2.1", 0x4321, 7), kOurs), none);
    // A request (our own echo seen on the way out) and an unrelated type.
    EXPECT_EQ(icmp::AnswerFromRawPacket(Concat({IpHeader("192.0.2.2", "203.0.113.2"), Icmp(8, 0, 0x1234, 7)}), kOurs), none);
    EXPECT_EQ(icmp::AnswerFromRawPacket(Concat({IpHeader("192.0.2.1", "192.0.2.2"), Icmp(13, 0, 0x1234, 7)}), kOurs), none);
    // A report quoting a UDP datagram, and one quoting an echo reply rather than a request.
    Bytes udp = Report(11, "192.0.2.1", 0x1234, 7);
    udp[20 + 8 + 9] = 17;
    EXPECT_EQ(icmp::AnswerFromRawPacket(udp, kOurs), none);
    Bytes quotedReply = Report(11, "192.0.2.1", 0x1234, 7);
    quotedReply[20 + 8 + 20] = 0;
    EXPECT_EQ(icmp::AnswerFromRawPacket(quotedReply, kOurs), none);
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
    // IP options before the ICMP header are skipped by the header length.
    const Bytes withOptions = Concat({IpHeader("203.0.113.2", "192.0.2.2", 1, 6), Icmp(0, 0, 0x1234, 7)});
    EXPECT_EQ(icmp::AnswerFromRawPacket(withOptions, kOurs), Addr("203.0.113.2"));
}

TEST(PingSocketAnswer, MatchesBySequence)
{
    EXPECT_TRUE(icmp::IsEchoReplyTo(Icmp(0, 0, 99, 7), 7));
    EXPECT_FALSE(icmp::IsEchoReplyTo(Icmp(0, 0, 99, 6), 7));
    EXPECT_FALSE(icmp::IsEchoReplyTo(Icmp(8, 0, 99, 7), 7));
    EXPECT_FALSE(icmp::IsEchoReplyTo(Bytes{0, 0, 0, 0, 0, 0, 0}, 0));
    EXPECT_TRUE(icmp::QuotesEchoRequest(Icmp(8, 0, 99, 7), 7));
    EXPECT_FALSE(icmp::QuotesEchoRequest(Icmp(8, 0, 99, 8), 7));
    EXPECT_FALSE(icmp::QuotesEchoRequest(Icmp(0, 0, 99, 7), 7));
    EXPECT_FALSE(icmp::QuotesEchoRequest(Bytes{8, 0, 0}, 0));
}
