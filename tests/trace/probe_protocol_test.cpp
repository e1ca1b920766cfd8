// The probe helper's messages: what it accepts, refuses and takes for garbage.
#include "trace/probe_protocol.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <vector>

namespace {

using namespace quokka::trace;

std::uint32_t Address(const char *dotted)
{
    in_addr address{};
    EXPECT_EQ(::inet_pton(AF_INET, dotted, &address), 1) << dotted;
    return address.s_addr;
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
    const probe::Message good = probe::EncodeRequest({Address("192.0.2.1"), 5, 0xABCD});
    ASSERT_EQ(int(probe::ParseRequest(good).verdict), int(probe::Verdict::Accepted));
    std::vector<std::vector<std::uint8_t>> rows = {{}, {good.begin(), good.end() - 1}};
    rows.emplace_back(good.begin(), good.end()).push_back(0);
    for (const std::size_t at : {0u, 1u, 2u, 10u, 11u}) {
        rows.emplace_back(good.begin(), good.end());
        rows.back()[at] ^= 0x01;
    }
    for (std::size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(int(probe::ParseRequest(rows[i]).verdict), int(probe::Verdict::Garbage)) << "row " << i;
}

TEST(ProbeAnswer, RoundTripsAndRejectsUnknownStatuses)
{
    for (const auto status : {probe::Status::Ready, probe::Status::Answered, probe::Status::NoAnswer, probe::Status::Refused,
                              probe::Status::NotPermitted, probe::Status::NoRoute}) {
        const probe::Answer sent{status, 0xFEDC, Address("198.51.100.6"), 399};
        const auto read = probe::ParseAnswer(probe::EncodeAnswer(sent));
        ASSERT_TRUE(read) << int(status);
        EXPECT_EQ(int(read->status), int(status));
        EXPECT_EQ(read->seq, sent.seq);
        EXPECT_EQ(read->node, sent.node);
        EXPECT_EQ(read->roundTripMs, sent.roundTripMs);
    }
    probe::Message odd = probe::EncodeAnswer({probe::Status::Answered, 1, 0, 0});
    for (const std::uint8_t status : {0, 7, 255}) {
        odd[3] = status;
        EXPECT_FALSE(probe::ParseAnswer(odd)) << int(status);
    }
    EXPECT_FALSE(probe::ParseAnswer(probe::EncodeRequest({Address("192.0.2.1"), 5, 1})));
}

} // namespace
