// Addresses of both families: text in and out, socket addresses, order.
#include "base/net_address.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <random>
#include <sys/socket.h>

using quokka::NetAddress;

namespace {

struct TextRow {
    const char *text;
    NetAddress::Family family;
    const char *written; // the form ToString gives
};

// RFC 5952: lower case, no leading zeros, the longest run of two or more zero groups (the
// first of equal runs) shortened, an IPv4 tail kept for mapped addresses.
const TextRow kTexts[] = {
    {"192.0.2.1", NetAddress::Family::V4, "192.0.2.1"},
    {"0.0.0.0", NetAddress::Family::V4, "0.0.0.0"},
    {"2001:DB8::1", NetAddress::Family::V6, "2001:db8::1"},
    {"2001:0db8:0000:0000:0001:0000:0000:0001", NetAddress::Family::V6, "2001:db8::1:0:0:1"},
    {"2001:db8:0:1:1:1:1:1", NetAddress::Family::V6, "2001:db8:0:1:1:1:1:1"},
    {"2001:0:0:1:0:0:0:1", NetAddress::Family::V6, "2001:0:0:1::1"},
    {"::", NetAddress::Family::V6, "::"},
    {"::ffff:192.0.2.1", NetAddress::Family::V6, "::ffff:192.0.2.1"},
};

const char *const kNotAddresses[] = {
    "", "192.0.2", "192.0.2.256", "01.2.3.4", " 192.0.2.1", "192.0.2.1 ", "[2001:db8::1]",
    "2001:db8::1%eth0", "2001:db8:::1", "1:2:3:4:5:6:7:8:9", "example.org",
    "0000:0000:0000:0000:0000:0000:0000:0000:0000", // longer than any address's text
};

} // namespace

TEST(NetAddressTest, TextInAndOut)
{
    for (const TextRow &row : kTexts) {
        SCOPED_TRACE(row.text);
        const std::optional<NetAddress> address = NetAddress::Parse(row.text);
        ASSERT_TRUE(address.has_value());
        EXPECT_EQ(address->GetFamily(), row.family);
        EXPECT_EQ(address->ToString(), row.written);
        EXPECT_EQ(NetAddress::Parse(address->ToString()), address);
    }
    for (const char *text : kNotAddresses)
        EXPECT_FALSE(NetAddress::Parse(text).has_value()) << text;
    EXPECT_FALSE(NetAddress::Parse(std::string_view("192.0.2.1\0x", 11)).has_value());
    EXPECT_EQ(NetAddress().ToString(), "");
    EXPECT_FALSE(NetAddress());
}

// Every run of zero groups, with and without ffff before an IPv4 tail, and random groups
// (each zero a third of the time): the text is glibc's, byte for byte.
TEST(NetAddressTest, WritesWhatInetNtopWrites)
{
    std::vector<std::array<std::uint8_t, 16>> addresses;
    for (unsigned zeros = 0; zeros < 256; ++zeros) {
        for (const std::uint16_t other : {0x0001, 0xffff, 0x0a0b}) {
            std::array<std::uint8_t, 16> bytes{};
            for (std::size_t group = 0; group < 8; ++group) {
                const unsigned value = zeros >> group & 1 ? 0 : group == 5 ? other : 0x0a0b + 0x111 * group;
                bytes[2 * group] = std::uint8_t(value >> 8);
                bytes[2 * group + 1] = std::uint8_t(value);
            }
            addresses.push_back(bytes);
        }
    }
    std::mt19937 random(6);
    for (int i = 0; i < 20000; ++i) {
        std::array<std::uint8_t, 16> bytes{};
        for (std::size_t group = 0; group < 8; ++group) {
            const unsigned value = random() % 3 == 0 ? 0 : random() >> (random() % 16);
            bytes[2 * group] = std::uint8_t(value >> 8);
            bytes[2 * group + 1] = std::uint8_t(value);
        }
        addresses.push_back(bytes);
    }
    for (std::array<std::uint8_t, 16> bytes : addresses) {
        char expected[INET6_ADDRSTRLEN];
        ASSERT_NE(inet_ntop(AF_INET6, bytes.data(), expected, sizeof expected), nullptr);
        char written[NetAddress::kLongestV6Text + 1];
        const std::string text(written, NetAddress::WriteV6(bytes, written));
        ASSERT_EQ(text, expected);
        ASSERT_EQ(NetAddress::V6(bytes).ToString(), expected);
    }
}

TEST(NetAddressTest, ByteOrdersAndSocketAddresses)
{
    const NetAddress v4 = *NetAddress::Parse("192.0.2.1");
    EXPECT_EQ(v4.V4HostOrder(), 0xC0000201u);
    EXPECT_EQ(v4.V4NetworkOrder(), htonl(0xC0000201u));
    const NetAddress v6 = *NetAddress::Parse("2001:db8::7");
    EXPECT_EQ(v6.V4NetworkOrder(), 0u);
    EXPECT_EQ(v6.V6Bytes()[0], 0x20);
    EXPECT_EQ(v6.V6Bytes()[15], 7);

    for (const NetAddress &address : {v4, v6}) {
        sockaddr_storage storage;
        const unsigned length = address.ToSockaddr(storage, 43);
        EXPECT_EQ(length, address.IsV4() ? sizeof(sockaddr_in) : sizeof(sockaddr_in6));
        EXPECT_EQ(NetAddress::FromSockaddr(reinterpret_cast<const sockaddr *>(&storage)), address);
        const std::uint16_t port = address.IsV4() ? reinterpret_cast<const sockaddr_in &>(storage).sin_port
                                                  : reinterpret_cast<const sockaddr_in6 &>(storage).sin6_port;
        EXPECT_EQ(ntohs(port), 43);
    }
    sockaddr_storage storage;
    EXPECT_EQ(NetAddress().ToSockaddr(storage), 0u);
    storage.ss_family = AF_UNIX;
    EXPECT_FALSE(NetAddress::FromSockaddr(reinterpret_cast<const sockaddr *>(&storage)));
}

TEST(NetAddressTest, OrderKeepsFamiliesApart)
{
    // 0.0.0.1 and 0:1:: share their first four bytes; the family tells them apart.
    const NetAddress v4 = *NetAddress::Parse("0.0.0.1");
    const NetAddress v6 = *NetAddress::Parse("0:1::");
    EXPECT_NE(v4, v6);
    EXPECT_LT(NetAddress(), v4);
    EXPECT_LT(v4, v6);
    EXPECT_LT(*NetAddress::Parse("192.0.2.1"), *NetAddress::Parse("192.0.2.2"));
    EXPECT_LT(*NetAddress::Parse("2001:db8::1"), *NetAddress::Parse("2001:db8::1:0"));
}
