// The monitor from the command line: --monitor and --interval refused with a reason when they
// make no sense, and a scripted run that explores, monitors the route for a number of rounds,
// prints the monitor's lines, writes them into the JSON and ends, having written nothing
// but that file and the profile.
#include "test_support.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <gtest/gtest.h>
#include <stdlib.h>

namespace {

const std::string kProgram = "'" QUOKKA_PROGRAM "'";

TEST(MonitorProgram, RefusesOptionsThatMakeNoSense)
{
    const struct {
        const char *arguments;
        const char *said;
    } rows[] = {
        {"--explore a.example --monitor x", "--monitor takes a number of rounds, 0 or more"},
        {"--explore a.example --monitor -1", "--monitor takes a number of rounds, 0 or more"},
        {"--monitor 3", "--monitor monitors the route of --explore DOMAIN"},
        {"--explore a.example --monitor 3 --interval 0.001", "--interval takes 0.01 to 60 seconds"},
        {"--explore a.example --monitor 3 --interval 61", "--interval takes 0.01 to 60 seconds"},
        {"--explore a.example --interval 1", "--interval sets the time between the rounds of --monitor"},
    };
    for (const auto &row : rows) {
        std::string err;
        EXPECT_EQ(testsupport::Run("env -u DISPLAY " + kProgram + " " + row.arguments + " 2>&1 >/dev/null", &err), 2)
            << row.arguments;
        EXPECT_NE(err.find(row.said), std::string::npos) << row.arguments << ": " << err;
    }
}

// In a network namespace of its own (loopback only), as root: the route to 127.0.0.1 is one
// hop, answered every round.
TEST(MonitorProgram, MonitorsTheExploredRouteForItsRoundsAndEnds)
{
    if (!testsupport::IsRoot())
        GTEST_SKIP() << "needs root for a network namespace of its own";
    char home[] = "/tmp/quokka-monitor-XXXXXX";
    ASSERT_TRUE(::mkdtemp(home));
    const std::string folder = home;
    const std::string env = "env -i PATH=\"$PATH\" HOME=" + folder + " QT_QPA_PLATFORM=offscreen ";
    std::string out;
    const int status = testsupport::Run(
        "cd " + folder + " && timeout 30 unshare -n sh -c 'ip link set lo up && " + env + kProgram
            + " --home 300,150 && " + env + kProgram
            + " --explore 127.0.0.1 --quit --report --monitor 4 --interval 0.05 --json " + folder + "/run.json' 2>/dev/null",
        &out);
    std::string json, files;
    testsupport::Run("cat " + folder + "/run.json", &json);
    // The program wrote the profile and the file it was asked for, nothing else (caches that
    // libraries such as fontconfig may keep aside).
    testsupport::Run("cd " + folder + " && find . -type f ! -path './.cache/*' | sort", &files);
    testsupport::Run("rm -rf " + folder);
    EXPECT_EQ(files, "./.config/Local AppWizard-Generated Applications/quokka-quokka.conf\n./run.json\n");
    EXPECT_EQ(status, 0) << out;
    const std::size_t at = out.find("monitor\t1\t127.0.0.1\t4\t4\t0.0\t");
    EXPECT_NE(at, std::string::npos) << out;
    EXPECT_GT(at, out.find("trace\tRoute Complete")) << "after the run's own lines";
    const QJsonObject monitor = QJsonDocument::fromJson(QByteArray::fromStdString(json)).object().value("monitor").toObject();
    EXPECT_EQ(monitor.value("destination_ttl").toInt(), 1) << json;
    const QJsonArray rows = monitor.value("rows").toArray();
    ASSERT_EQ(rows.size(), 1) << json;
    EXPECT_EQ(rows.at(0).toObject().value("address").toString(), QStringLiteral("127.0.0.1"));
}

} // namespace
