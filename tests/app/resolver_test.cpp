// Which address an exploration goes to, and the names of hops, through the real resolver
// reading a hosts file of the test's own: names with IPv4 only, IPv6 only and both, IPv6
// literals with and without brackets, the preference for IPv6, and ip6.arpa names. Root only
// (a mount and a network namespace of the test's own).
#include "app/resolver.h"
#include "base/host_names.h"
#include "isolated_names.h"
#include "test_support.h"

#include <gtest/gtest.h>

using namespace quokka::app;

namespace {

// An answer as failures show it.
std::string Shown(const std::optional<QString> &text)
{
    return text ? text->toStdString() : "(none)";
}

// The second address of each name comes first in the resolver's order but not in address
// order, so a sorted answer would show.
constexpr char kHosts[] = "127.0.0.1 localhost\n"
                          "192.0.2.10 both.test\n"
                          "2001:db8::ff both.test\n"
                          "2001:db8::10 both.test\n"
                          "2001:db8::ff v6only.test\n"
                          "2001:db8::20 v6only.test\n"
                          "192.0.2.30 v4only.test\n"
                          "2001:db8::30 xn--bcher-kva.test\n";

class ResolverTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_ready = testsupport::IsRoot() && testsupport::IsolateNetwork()
            && accepttest::UseNameFiles(kHosts, "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n");
    }
    void SetUp() override
    {
        if (!s_ready)
            GTEST_SKIP() << "needs root for a network and a mount namespace of its own";
    }
    static inline bool s_ready = false;
};

TEST_F(ResolverTest, ChoosesTheFamilyAndTheFirstAddressListed)
{
    const struct {
        const char *typed;
        bool preferIPv6;
        std::optional<QString> expected;
    } cases[] = {
        {"both.test", false, "192.0.2.10"},
        {"both.test", true, "2001:db8::ff"},
        {"v6only.test", false, "2001:db8::ff"},
        {"v6only.test", true, "2001:db8::ff"},
        {"v4only.test", true, "192.0.2.30"},
        {"b\u00fccher.test", false, "2001:db8::30"}, // an international name, through its ASCII form
        {"2001:DB8:0:0:0:0:0:1", false, "2001:db8::1"}, // a literal, in its RFC 5952 form
        {"[2001:db8::1]", false, "2001:db8::1"},
        {"[2001:db8:0::1]", true, "2001:db8::1"},
        {"203.0.113.5", true, "203.0.113.5"},
        {"[both.test]", false, std::nullopt},
        {"[]", false, std::nullopt},
        {"nowhere.test", true, std::nullopt},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Shown(ResolveTarget(QString::fromUtf8(c.typed), c.preferIPv6)), Shown(c.expected)) << c.typed << " " << c.preferIPv6;
}

TEST_F(ResolverTest, NamesWithoutAnAddressSayWhatWasLookedFor)
{
    EXPECT_EQ(NoAddressText("nowhere.test", false), "Cannot find an IPv4 address for \"nowhere.test\"");
    EXPECT_EQ(NoAddressText("nowhere.test", true), "Cannot find an IPv6 or IPv4 address for \"nowhere.test\"");
    EXPECT_EQ(NoAddressText("a\tb", true), QString::fromUtf8("Cannot find an IPv6 or IPv4 address for \"a\u2409b\""));
}

TEST_F(ResolverTest, HopsOfEitherFamilyGetTheirNames)
{
    const struct {
        const char *address;
        std::optional<QString> expected;
    } cases[] = {
        {"192.0.2.30", "v4only.test"},
        {"2001:db8::20", "v6only.test"},
        {"2001:db8:0:0::20", "v6only.test"}, // any text of the address
        {"2001:db8::99", std::nullopt},
        {"2001:db8::20%lo", std::nullopt}, // not an address
    };
    for (const auto &c : cases)
        EXPECT_EQ(Shown(quokka::ReverseName(c.address, std::chrono::milliseconds(1000))), Shown(c.expected)) << c.address;
}

} // namespace
