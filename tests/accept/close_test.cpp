// Closing the main window in each step of a run ends the process within a second: while the
// name resolves (a resolver that swallows queries), while the first run copies the program
// (a large one), while WHOIS waits (a server that never answers), during a probe (a
// destination that drops echo requests), while a hop's name is looked up (the same resolver)
// and during a replay of the route on the map. Each case runs the program in a child
// process, as main() runs it, and times the close to that process's end; the copy leaves
// nothing behind. The wait between hops has its own test beside the main dialog's.
#include "geo_table_file.h"
#include "app/exploration.h"
#include "app/installer.h"
#include "base/wait.h"
#include "geo/home_location.h"
#include "geo/setup.h"
#include "isolated_names.h"
#include "app/main_dialog.h"
#include "test_support.h"
#include "geo/world_map.h"

#include <QApplication>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <arpa/inet.h>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace quokka::app;
using quokka::geo::CWorldMap;
using quokka::geo::CSetup;
using quokka::geo::HomeLocation;

namespace {

constexpr char kSinkAddress[] = "192.0.2.53";  // the resolver: takes queries, never answers
constexpr char kWhoisAddress[] = "192.0.2.43"; // whois.iana.org
constexpr char kDeafAddress[] = "192.0.2.77";  // drops every echo request

// A socket bound to ADDRESS:PORT that is never read (UDP) or never accepts (TCP).
class Sink {
public:
    Sink(const char *address, int type, int port) : m_fd(::socket(AF_INET, type | SOCK_CLOEXEC, 0))
    {
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(std::uint16_t(port));
        ::inet_pton(AF_INET, address, &at.sin_addr);
        m_ok = m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr *>(&at), sizeof at) == 0
            && (type != SOCK_STREAM || ::listen(m_fd, 4) == 0);
    }
    ~Sink() { if (m_fd >= 0) ::close(m_fd); }
    Sink(const Sink &) = delete;
    Sink &operator=(const Sink &) = delete;
    bool Ok() const { return m_ok; }

private:
    int m_fd;
    bool m_ok = false;
};

std::int64_t MonotonicNs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

class CloseDuringRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testsupport::IsolateNetwork())
            GTEST_SKIP() << "needs root for a network namespace of its own";
        ASSERT_TRUE(accepttest::UseNameFiles(std::string("127.0.0.1 localhost\n") + kWhoisAddress + " whois.iana.org\n",
                                             std::string("nameserver ") + kSinkAddress + "\noptions timeout:5 attempts:1\n"));
        std::string addresses = "true";
        for (const char *address : {kSinkAddress, kWhoisAddress, kDeafAddress})
            addresses += std::string(" && ip addr add ") + address + "/32 dev lo";
        ASSERT_TRUE(accepttest::Shell(addresses));
        m_resolver.emplace(kSinkAddress, SOCK_DGRAM, 53);
        ASSERT_TRUE(m_resolver->Ok());
        ASSERT_TRUE(m_home.isValid());
        qputenv("HOME", m_home.path().toUtf8());
    }

    // Explores DOMAIN and closes the main window DELAY_MS after the step PHASE begins.
    void ExploreAndClose(const QString &domain, const QString &phase, int delayMs, bool homeStored = true,
                         std::optional<ExplorationServices> services = std::nullopt)
    {
        RunProgram(homeStored, [&](CQuokkaQuokkaDlg &dialog) {
            if (services)
                dialog.SetServices(*services);
            auto current = std::make_shared<QString>();
            QObject::connect(&dialog, &CQuokkaQuokkaDlg::PhaseStarted, [&, current](const QString &started) {
                *current = started;
                if (started == phase)
                    QTimer::singleShot(delayMs, &dialog, [&, current] { Close(dialog, *current); });
            });
            QObject::connect(&dialog, &CQuokkaQuokkaDlg::ExplorationFinished,
                             [] { ADD_FAILURE() << "a run cut short by closing does not report itself finished"; });
            QTimer::singleShot(0, &dialog, [&] { dialog.StartExploration(domain); });
        });
        EXPECT_TRUE(m_closedIn.startsWith(phase.section(u' ', 0, 0))) << "closed in " << m_closedIn.toStdString();
    }

    // Runs the program in a child process as main() does: the main dialog (ARRANGE starts
    // its run and closes it at its moment), the event loop, then the ordinary end. The
    // child's end must come within a second of the close; a watchdog ends a child that
    // nothing closed, and one that hangs is killed.
    void RunProgram(bool homeStored, const std::function<void(CQuokkaQuokkaDlg &)> &arrange)
    {
        int report[2];
        ASSERT_EQ(::pipe2(report, O_CLOEXEC), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(report[0]);
            m_report = report[1];
            std::exit(RunChild(homeStored, arrange));
        }
        ::close(report[1]);
        char phase[64] = {};
        std::int64_t closedAt = 0;
        const bool closed = ::read(report[0], &closedAt, sizeof closedAt) == sizeof closedAt
            && ::read(report[0], phase, sizeof phase - 1) > 0;
        ::close(report[0]);
        m_closedIn = QString::fromLatin1(phase);
        int status = 0;
        const std::int64_t deadline = (closed ? closedAt : MonotonicNs()) + std::int64_t(10) * 1000000000;
        while (::waitpid(child, &status, WNOHANG) == 0) {
            if (MonotonicNs() > deadline) {
                ::kill(child, SIGKILL);
                ::waitpid(child, &status, 0);
                break;
            }
            ::usleep(2000);
        }
        const std::int64_t endedAt = MonotonicNs();
        ASSERT_TRUE(closed) << "the window was never closed";
        const long long ms = (endedAt - closedAt) / 1000000;
        std::printf("closed during %s: the process ended %lld ms later\n", phase, ms);
        EXPECT_LT(ms, 1000);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child failed or was killed";
    }

    int RunChild(bool homeStored, const std::function<void(CQuokkaQuokkaDlg &)> &arrange)
    {
        int argc = 1;
        char name[] = "accept_close_test";
        char *argv[] = {name, nullptr};
        QApplication app(argc, argv);
        app.setQuitOnLastWindowClosed(false);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_home.filePath("config"));
        if (homeStored && !HomeLocation::Write({300, 150}))
            return 1;
        CQuokkaQuokkaDlg dialog;
        arrange(dialog);
        dialog.show();
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, qApp, &QCoreApplication::quit);
        watchdog.start(40000);
        QApplication::exec();
        return ::testing::Test::HasFailure() ? 1 : 0;
    }

    // Tells the parent when and in which step the window closed, then closes it.
    void Close(CQuokkaQuokkaDlg &dialog, const QString &phase)
    {
        const std::int64_t now = MonotonicNs();
        const QByteArray name = phase.toLatin1().left(63);
        if (::write(m_report, &now, sizeof now) != sizeof now
            || ::write(m_report, name.constData(), size_t(name.size())) <= 0)
            ADD_FAILURE() << "cannot tell the parent of the close";
        dialog.close();
    }

    QTemporaryDir m_home;
    std::optional<Sink> m_resolver;
    QString m_closedIn;
    int m_report = -1; // in the child: where the close is told
};

} // namespace

TEST_F(CloseDuringRun, Resolution)
{
    ExploreAndClose(QStringLiteral("slow.example"), QStringLiteral("resolution"), 300);
}

TEST_F(CloseDuringRun, Copy)
{
    // A first run whose setup is left with Esc copies a program far too large to finish.
    const std::string program = m_home.filePath("big-program").toStdString();
    const int fd = ::open(program.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0755);
    ASSERT_TRUE(fd >= 0 && ::ftruncate(fd, off_t(16) << 30) == 0); // sparse: nothing is written here
    ::close(fd);
    InstallPlaces places;
    places.program = QString::fromStdString(program);
    places.dataHome = m_home.filePath("data");
    ExplorationServices services = ExplorationServices::Real();
    services.install = [places](std::stop_token stop) { InstallProgram(places, std::move(stop)); };
    services.timings = {2000, 100, 100}; // short notices
    CSetup::SetStandingAnswer(CSetup::Answer{true, {}});
    ExploreAndClose(QStringLiteral("127.0.0.1"), QStringLiteral("install"), 300, false, services);
    std::vector<std::string> left;
    for (const auto &entry : std::filesystem::directory_iterator(m_home.filePath("data/Quokka Quokka").toStdString()))
        left.push_back(entry.path().filename());
    EXPECT_TRUE(left.empty()) << "left behind: " << left.front();
}

TEST_F(CloseDuringRun, Whois)
{
    const Sink silentServer(kWhoisAddress, SOCK_STREAM, 43);
    ASSERT_TRUE(silentServer.Ok());
    ExploreAndClose(QStringLiteral("127.0.0.1"), QStringLiteral("whois"), 300);
}

TEST_F(CloseDuringRun, Probe)
{
    ASSERT_TRUE(accepttest::Shell(std::string("nft add table ip qq && nft add chain ip qq in "
                                              "'{ type filter hook input priority 0; }' && nft add rule ip qq in ip daddr ")
                                  + kDeafAddress + " icmp type echo-request drop"));
    // Each probe waits its full 400 ms; the window closes in the middle of the second one.
    ExploreAndClose(QString::fromLatin1(kDeafAddress), QStringLiteral("probe 2"), 150);
}

TEST_F(CloseDuringRun, HostName)
{
    // The destination answers the first probe; its name goes to the silent resolver, which
    // the lookup waits for up to four seconds.
    ExplorationServices services = ExplorationServices::Real();
    services.timings = {2000, 5000, 3000, 4000};
    ExploreAndClose(QString::fromLatin1(kSinkAddress), QStringLiteral("wait 1"), 100, true, services);
}

TEST_F(CloseDuringRun, Replay)
{
    GeoTableFile table;
    table.Add("127.0.0.0", "127.255.255.255", "Australia", -33.86785, 151.20732, "Sydney").Use();
    RunProgram(true, [&](CQuokkaQuokkaDlg &dialog) {
        // Once the run is over, "Trace Route" on its map; the window closes 300 ms into the replay.
        QObject::connect(&dialog, &CQuokkaQuokkaDlg::ExplorationFinished, [&] {
            CWorldMap *map = dialog.WorldMap();
            ASSERT_TRUE(map);
            ASSERT_EQ(map->RouteSegments().size(), 1u);
            map->SetReplayStepMs(2000); // the replay's waits are the full two seconds
            for (QPushButton *button : map->findChildren<QPushButton *>())
                if (button->text() == QLatin1String("Trace Route"))
                    button->click();
            QTimer::singleShot(300, &dialog, [&, map] {
                ASSERT_TRUE(map->IsReplaying());
                Close(dialog, QStringLiteral("replay"));
            });
        });
        ExplorationServices services = ExplorationServices::Real();
        services.timings.hopWaitMs = 0; // the run's own wait
        dialog.SetServices(std::move(services));
        QTimer::singleShot(0, &dialog, [&] { dialog.StartExploration(QStringLiteral("127.0.0.1")); });
    });
    EXPECT_EQ(m_closedIn, QStringLiteral("replay"));
}

int main(int argc, char **argv)
{
    // No application here: each case makes its own in the child that runs the program.
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
