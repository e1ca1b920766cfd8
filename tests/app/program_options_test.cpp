// The command line as a person meets it: --version gives the program's version, and --help
// names the program as it was started, without a display; a script's first run never waits
// for a click; --ipv6 and the profile choose which family a name is looked up in first.
#include "test_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>

TEST(ProgramOptions, VersionAndHelpNameTheProgram)
{
    const struct {
        const char *arguments;
        std::string starts;
    } cases[] = {
        {"--version", "quokka-quokka 1.3.0.0\n"},
        {"--help", std::string("Usage: ") + QUOKKA_PROGRAM + " [options] [ADDRESS...]\n"},
    };
    for (const auto &c : cases) {
        std::string out;
        EXPECT_EQ(testsupport::Run("env -u DISPLAY -u QT_QPA_PLATFORM '" QUOKKA_PROGRAM "' " + std::string(c.arguments), &out), 0);
        EXPECT_EQ(out.substr(0, c.starts.size()), c.starts) << c.arguments;
    }
}

// A script's first run on the offscreen platform has no one to click the setup window: the
// run goes on without a home point, says so once, and ends; the next run asks again.
TEST(ProgramOptions, UnattendedFirstRunGoesOnWithoutAHome)
{
    if (!testsupport::IsRoot())
        GTEST_SKIP() << "needs root for a network namespace of its own";
    char home[] = "/tmp/quokka-unattended-XXXXXX";
    ASSERT_TRUE(::mkdtemp(home));
    const std::string folder = home;
    std::string err;
    // A namespace without a network: the name cannot resolve and nothing leaves the machine.
    const int status = testsupport::Run(
        "cd " + folder + " && env -i PATH=\"$PATH\" HOME=" + folder
            + " QT_QPA_PLATFORM=offscreen timeout 30 unshare -n '" QUOKKA_PROGRAM "' --explore nothing.invalid --quit"
              " 2>&1 >/dev/null",
        &err);
    std::string config;
    const std::string settings = folder + "/.config/Local AppWizard-Generated Applications/quokka-quokka.conf";
    testsupport::Run("cat '" + settings + "' 2>/dev/null", &config);
    testsupport::Run("rm -rf " + folder);
    EXPECT_EQ(status, 0) << err;
    const std::string line = "quokka-quokka: no home point is stored and there is no display to click it on; "
                             "going on without one (store one with --home X,Y)\n";
    const std::size_t first = err.find(line);
    EXPECT_TRUE(first != std::string::npos && err.find(line, first + 1) == std::string::npos) << err;
    EXPECT_EQ(config.find("Data"), std::string::npos) << config;
}

// --ipv6, and "Prefer IPv6" kept in the profile, make the program look for IPv6 first, and
// its line for a name without an address says so; without either it looks for IPv4 first.
TEST(ProgramOptions, Ipv6OrThePreferenceInTheProfileLookForIPv6First)
{
    if (!testsupport::IsRoot())
        GTEST_SKIP() << "needs root for a network namespace of its own";
    const struct {
        const char *option;
        const char *profileValue; // of quokka/PreferIPv6
        const char *looked;
    } cases[] = {
        {"", "", "an IPv4 address"},
        {"--ipv6", "", "an IPv6 or IPv4 address"},
        {"", "true", "an IPv6 or IPv4 address"},
        {"", "false", "an IPv4 address"},
        {"--ipv6", "false", "an IPv6 or IPv4 address"},
    };
    for (const auto &c : cases) {
        char home[] = "/tmp/quokka-prefer-XXXXXX";
        ASSERT_TRUE(::mkdtemp(home));
        const std::string folder = home;
        const std::string profile = folder + "/.config/Local AppWizard-Generated Applications";
        const std::string program = "env -i PATH=\"$PATH\" HOME=" + folder + " QT_QPA_PLATFORM=offscreen timeout 30 unshare -n '"
            QUOKKA_PROGRAM "' ";
        std::string out;
        // A namespace without a network: the name cannot resolve and nothing leaves the machine.
        const int status = testsupport::Run(
            program + "--home 300,150 && " + (*c.profileValue ? "printf 'PreferIPv6=" + std::string(c.profileValue)
                                                                      + "\\n' >> '" + profile + "/quokka-quokka.conf' && "
                                                                : std::string())
                + program + "--explore nothing.invalid --quit --report " + c.option + " 2>/dev/null | grep '^trace'",
            &out);
        testsupport::Run("rm -rf " + folder);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(out, std::string("trace\tCannot find ") + c.looked + " for \"nothing.invalid\"\n")
            << c.option << " " << c.profileValue;
    }
}
