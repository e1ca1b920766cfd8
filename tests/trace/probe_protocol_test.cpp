// The probe helper's messages, in both its languages: what it accepts, refuses and takes for
// garbage.
#include "trace/probe_protocol.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <vector>

namespace {

using namespace quokka::trace;

quokka::NetAddress Address(const char *text)
{
    const auto address = quokka::NetAddress::Parse(text);
    EXPECT_TRUE(address) << text;
    return address.value_or(quokka::NetAddress());
}

struct Row {
    const char *destination;
    int ttl;
    probe::Verdict verdict;
};

TEST(ProbeRequest, AcceptsOnlyUnicastDestinationsAndTtlsOfOneTo255)
{
    const Row rows[] = {
        {"203.0.113.2", 1, probe::Verdict::Accepted},     {"192.0.2.1", 255, probe::Verdict::Accepted},
        {"1.0.0.0", 30, probe::Verdict::Accepted},        {"223.255.255.255", 30, probe::Verdict::Accepted},
        {"203.0.113.2", 0, probe::Verdict::Refused},      {"0.0.0.0", 30, probe::Verdict::Refused},
        {"0.255.255.255", 30, probe::Verdict::Refused},   {"127.0.0.1", 30, probe::Verdict::Refused},
        {"224.0.0.1", 30, probe::Verdict::Refused},       {"239.255.255.255", 30, probe::Verdict::Refused},
        {"240.0.0.0", 30, probe::Verdict::Refused},       {"255.255.255.255", 30, probe::Verdict::Refused},
        {"2001:db8::2", 1, probe::Verdict::Accepted},     {"feff:ffff::1", 255, probe::Verdict::Accepted},
        {"::2", 30, probe::Verdict::Accepted},            {"::fffe:0:0", 30, probe::Verdict::Accepted},
        {"2001:db8::2", 0, probe::Verdict::Refused},      {"ff00::", 30, probe::Verdict::Refused},
        {"ff02::1", 30, probe::Verdict::Refused},         {"::1", 30, probe::Verdict::Refused},
        {"::", 30, probe::Verdict::Refused},              {"::ffff:192.0.2.1", 30, probe::Verdict::Refused},
        {"::ffff:0:0", 30, probe::Verdict::Refused},      {"::ffff:ffff:ffff", 30, probe::Verdict::Refused},
    };
    std::uint16_t seq = 0;
    for (const Row &row : rows) {
        const probe::Request sent{Address(row.destination), row.ttl, ++seq};
        const probe::Message bytes = probe::EncodeRequest(sent);
        const probe::Parsed parsed = probe::ParseRequest(bytes);
        EXPECT_EQ(int(parsed.verdict), int(row.verdict)) << row.destination << " ttl " << row.ttl;
        EXPECT_EQ(parsed.request.destination, sent.destination) << row.destination;
        EXPECT_EQ(parsed.request.ttl, sent.ttl) << row.destination;
        EXPECT_EQ(parsed.request.seq, sent.seq) << row.destination;
    }
}

TEST(ProbeRequest, TakesEveryOtherShapeForGarbage)
{
    for (const char *destination : {"192.0.2.1", "2001:db8::2"}) {
        const probe::Message good = probe::EncodeRequest({Address(destination), 5, 0xABCD});
        ASSERT_EQ(int(probe::ParseRequest(good).verdict), int(probe::Verdict::Accepted));
        std::vector<std::vector<std::uint8_t>> rows = {{}, {good.begin(), good.end() - 1}};
        rows.emplace_back(good.begin(), good.end()).push_back(0);
        for (const std::size_t at : {0u, 1u, 2u, 10u, 11u}) {
            rows.emplace_back(good.begin(), good.end());
            rows.back()[at] ^= 0x01;
        }
        // The family byte of the other size, and for IPv6 an IPv4 field that is not zero.
        const bool wide = good.size() == probe::kWideMessageSize;
        rows.emplace_back(good.begin(), good.end()).at(10) = wide ? 0 : probe::kFamily6;
        if (wide)
            rows.emplace_back(good.begin(), good.end()).at(7) = 1;
        for (std::size_t i = 0; i < rows.size(); ++i)
            EXPECT_EQ(int(probe::ParseRequest(rows[i]).verdict), int(probe::Verdict::Garbage))
                << destination << " row " << i;
    }
}

TEST(ProbeAnswer, RoundTripsAndRejectsUnknownStatuses)
{
    for (const auto status : {probe::Status::Ready, probe::Status::Answered, probe::Status::NoAnswer, probe::Status::Refused,
                              probe::Status::NotPermitted, probe::Status::NoRoute}) {
        for (const char *node : {"198.51.100.6", "2001:db8:2::1"}) {
            const probe::Answer sent{status, 0xFEDC, Address(node), 399};
            const auto read = probe::ParseAnswer(probe::EncodeAnswer(sent));
            ASSERT_TRUE(read) << int(status) << " " << node;
            EXPECT_EQ(int(read->status), int(status));
            EXPECT_EQ(read->seq, sent.seq);
            EXPECT_EQ(read->node, sent.node);
            EXPECT_EQ(read->roundTripMs, sent.roundTripMs);
        }
    }
    probe::Message wide = probe::EncodeAnswer({probe::Status::Answered, 1, Address("2001:db8:2::1"), 0});
    wide[4] = 1;
    EXPECT_FALSE(probe::ParseAnswer(wide)) << "an IPv6 node after an IPv4 one";
    probe::Message odd = probe::EncodeAnswer({probe::Status::Answered, 1, {}, 0});
    for (const std::uint8_t status : {0, 7, 255}) {
        odd[3] = status;
        EXPECT_FALSE(probe::ParseAnswer(odd)) << int(status);
    }
    EXPECT_FALSE(probe::ParseAnswer(probe::EncodeRequest({Address("192.0.2.1"), 5, 1})));
}

// The language of rounds: a TTL of 0 ends the helper there, and neither language's requests
// nor the hello pass for another's.
TEST(ProbeRounds, ParsesRequestsOfItsOwnVersionOnly)
{
    using probe::Verdict;
    using probe::Version;
    const struct {
        const char *destination;
        int ttl;
        Version written, read;
        Verdict verdict;
    } rows[] = {
        {"203.0.113.2", 1, Version::Rounds, Version::Rounds, Verdict::Accepted},
        {"192.0.2.1", 255, Version::Rounds, Version::Rounds, Verdict::Accepted},
        {"127.0.0.1", 30, Version::Rounds, Version::Rounds, Verdict::Refused},
        {"224.0.0.1", 30, Version::Rounds, Version::Rounds, Verdict::Refused},
        {"255.255.255.255", 30, Version::Rounds, Version::Rounds, Verdict::Refused},
        {"203.0.113.2", 0, Version::Rounds, Version::Rounds, Verdict::Garbage},
        {"203.0.113.2", 0, Version::Single, Version::Single, Verdict::Refused},
        {"203.0.113.2", 5, Version::Single, Version::Rounds, Verdict::Garbage},
        {"203.0.113.2", 5, Version::Rounds, Version::Single, Verdict::Garbage},
    };
    for (const auto &row : rows) {
        const probe::Request sent{Address(row.destination), row.ttl, 0xBEEF};
        const probe::Parsed parsed = probe::ParseRequest(probe::EncodeRequest(sent, row.written), row.read);
        EXPECT_EQ(int(parsed.verdict), int(row.verdict)) << row.destination << " ttl " << row.ttl << " written "
                                                         << int(row.written) << " read " << int(row.read);
        if (parsed.verdict != Verdict::Garbage) {
            EXPECT_EQ(parsed.request.seq, sent.seq) << row.destination;
        }
    }
    const probe::Message hello = probe::EncodeHello();
    EXPECT_TRUE(probe::IsHello(hello));
    for (const auto version : {Version::Single, Version::Rounds})
        EXPECT_EQ(int(probe::ParseRequest(hello, version).verdict), int(Verdict::Garbage));
    std::vector<std::vector<std::uint8_t>> odd = {{hello.begin(), hello.end() - 1}, {hello.begin(), hello.end()}};
    odd.back().push_back(0);
    for (std::size_t at = 0; at < hello.size(); ++at) {
        odd.emplace_back(hello.begin(), hello.end());
        odd.back()[at] ^= 0x10;
    }
    for (std::size_t i = 0; i < odd.size(); ++i)
        EXPECT_FALSE(probe::IsHello(odd[i])) << "row " << i;
}

TEST(ProbeRounds, AnswersRoundTripToTheMicrosecondAndRejectOtherShapes)
{
    const probe::RoundAnswer rows[] = {
        {probe::Status::Ready, 0, {}, 0, 0},
        {probe::Status::Sent, 0xFFFF, {}, 0, 0},
        {probe::Status::Answered, 7, Address("198.51.100.6"), 1, 30'123},       // time exceeded, 30.123 ms
        {probe::Status::Answered, 8, Address("203.0.113.2"), 0, 4'999'999},     // echo reply, just under 5 s
        {probe::Status::Answered, 9, Address("203.0.113.1"), 3, 0xFFFFFFFF},    // another report, the longest
        {probe::Status::Refused, 10, {}, 0, 0},
        {probe::Status::NoRoute, 11, {}, 0, 0},
        {probe::Status::Answered, 12, Address("2001:db8:2::1"), 1, 30'123},
        {probe::Status::Answered, 13, Address("2001:db8:3::2"), 0, 0xFFFFFFFF},
    };
    for (const auto &sent : rows) {
        const auto read = probe::ParseRoundAnswer(probe::EncodeRoundAnswer(sent));
        ASSERT_TRUE(read) << int(sent.status) << " seq " << sent.seq;
        EXPECT_EQ(int(read->status), int(sent.status));
        EXPECT_EQ(read->seq, sent.seq);
        EXPECT_EQ(read->node, sent.node);
        EXPECT_EQ(read->kind, sent.kind);
        EXPECT_EQ(read->roundTripUs, sent.roundTripUs);
    }
    const probe::RoundMessage good = probe::EncodeRoundAnswer(rows[2]);
    EXPECT_FALSE(probe::ParseAnswer(good)) << "a round answer read as the tracer's";
    EXPECT_FALSE(probe::ParseRoundAnswer(probe::EncodeAnswer({probe::Status::Answered, 7, {}, 30})));
    // byte, value: status 0 and 8, kind 4, the reserved byte, the version
    const std::pair<std::size_t, std::uint8_t> changes[] = {{3, 0}, {3, 8}, {10, 4}, {11, 1}, {2, 1}, {1, 'P'}};
    for (const auto &[at, value] : changes) {
        probe::RoundMessage odd = good;
        odd[at] = value;
        EXPECT_FALSE(probe::ParseRoundAnswer(odd)) << "byte " << at << " = " << int(value);
    }
    EXPECT_FALSE(probe::ParseRoundAnswer(std::span(good).first(probe::kRoundAnswerSize - 1)));
    // An IPv6 node: 16 bytes more, which the family byte must announce, after a zero IPv4 field.
    const probe::RoundMessage wide = probe::EncodeRoundAnswer(rows[7]);
    ASSERT_EQ(wide.size(), probe::kWideRoundAnswerSize);
    std::vector<probe::RoundMessage> odd = {{wide.begin(), wide.end() - 1}, {good.begin(), good.end()}, wide, wide};
    odd[1][11] = probe::kFamily6;
    odd[2][11] = 0;
    odd[3][5] = 1;
    for (std::size_t i = 0; i < odd.size(); ++i)
        EXPECT_FALSE(probe::ParseRoundAnswer(odd[i])) << "row " << i;
}

} // namespace
