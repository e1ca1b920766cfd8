// The command line as a person meets it: --version gives the program's version, and --help
// names the program as it was started, without a display; a script's first run never waits
// for a click; --ipv6 and the profile choose which family a name is looked up in first;
// --keep-tables keeps table files in the profile for later runs.
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

// --keep-tables keeps the tables it is given in the profile, once they pass their checks;
// later runs use them unless their command line names others; alone it goes back to the
// built-in tables.
TEST(ProgramOptions, KeepTablesKeepsCheckedTablesForLaterRuns)
{
    char home[] = "/tmp/quokka-tables-XXXXXX";
    ASSERT_TRUE(::mkdtemp(home));
    const std::string folder = home;
    const std::string program = "cd " + folder + " && env -i PATH=\"$PATH\" HOME=" + folder + " '" QUOKKA_PROGRAM "' ";
    ASSERT_EQ(testsupport::Run("cd " + folder + " && printf '192.0.2.0 192.0.2.255 US|United States|Texas|Austin\\t30.27 -97.74\\n' | '"
                               QUOKKA_MAKE_GEO_TABLE "' austin.bin && printf '192.0.2.0 192.0.2.255 GB|United Kingdom|England|London\\t51.51 -0.13\\n'"
                               " | '" QUOKKA_MAKE_GEO_TABLE "' london.bin && echo garbage > garbage.bin"),
              0);
    const struct {
        std::string step;  // run first (its status is checked)
        int status;
        std::string city;  // the city --lookup 192.0.2.1 then names, in a run without options
    } steps[] = {
        {"--geo-table austin.bin --keep-tables", 0, "Austin"},
        {"--geo-table garbage.bin --keep-tables", 1, "Austin"}, // refused: the kept table stays
        {"--geo-table london.bin --lookup 192.0.2.1 | grep -q London", 0, "Austin"}, // for that run only
        {"--keep-tables", 0, ""},
    };
    for (const auto &s : steps) {
        std::string out;
        EXPECT_EQ(testsupport::Run(program + s.step + " 2>/dev/null", &out), s.status) << s.step;
        testsupport::Run(program + "--lookup 192.0.2.1 2>/dev/null", &out);
        EXPECT_EQ(out.find("Austin") != std::string::npos ? "Austin" : "", s.city) << s.step << ": " << out;
    }
    std::string files;
    testsupport::Run("cd " + folder + " && find . -type f ! -path './.cache/*' | sort", &files);
    testsupport::Run("rm -rf " + folder);
    EXPECT_EQ(files, "./.config/Local AppWizard-Generated Applications/quokka-quokka.conf\n./austin.bin\n./garbage.bin\n"
                     "./london.bin\n") << "nothing but the profile written";
}
