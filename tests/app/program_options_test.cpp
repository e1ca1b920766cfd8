// The command line as a person meets it: --version gives the program's version, and --help
// names the program as it was started, without a display.
#include "test_support.h"

#include <gtest/gtest.h>

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
