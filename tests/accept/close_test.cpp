// Closing the main window in each step of a run ends the program within a second: while the
// name resolves (a resolver that swallows queries), while WHOIS waits (a server that never
// answers), during a probe (a destination that drops echo requests) and during a replay of
// the route on the map. Closing is process-wide and final, so CTest runs each case in a
// process of its own; the wait between hops has its own test beside the main dialog's.
#include "geo_table_file.h"
#include "base/wait.h"
#include "geo/home_location.h"
#include "isolated_names.h"
#include "app/main_dialog.h"
#include "test_support.h"
#include "geo/world_map.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>

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
    bool ok() const { return m_ok; }

private:
    int m_fd;
    bool m_ok = false;
};

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
        ASSERT_TRUE(m_resolver->ok());
        ASSERT_TRUE(m_home.isValid());
        qputenv("HOME", m_home.path().toUtf8());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_home.filePath("config"));
        ASSERT_TRUE(HomeLocation::Write({300, 150}));
    }

    // Explores DOMAIN and closes the main window DELAY_MS after the step PHASE begins; the
    // program's event loop must end within a second.
    void ExploreAndClose(const QString &domain, const QString &phase, int delayMs)
    {
        CQuokkaQuokkaDlg dialog;
        dialog.show();
        QString current;
        QObject::connect(&dialog, &CQuokkaQuokkaDlg::phaseStarted, [&](const QString &started) {
            current = started;
            if (started == phase)
                QTimer::singleShot(delayMs, &dialog, [&] { Close(dialog, current); });
        });
        bool finished = false;
        QObject::connect(&dialog, &CQuokkaQuokkaDlg::explorationFinished, [&] { finished = true; });
        QTimer::singleShot(0, &dialog, [&] { dialog.StartExploration(domain); });
        RunProgram();
        EXPECT_FALSE(finished) << "a run cut short by closing does not report itself finished";
        EXPECT_TRUE(m_closedIn.startsWith(phase.section(u' ', 0, 0))) << "closed in " << m_closedIn.toStdString();
    }

    void Close(CQuokkaQuokkaDlg &dialog, const QString &phase)
    {
        m_closedIn = phase;
        m_sinceClose.start();
        dialog.close();
    }

    // The program's own event loop, as main() runs it; a watchdog ends a run nothing closed.
    void RunProgram()
    {
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, qApp, &QCoreApplication::quit);
        watchdog.start(40000);
        QApplication::exec();
        ASSERT_TRUE(m_sinceClose.isValid()) << "the window was never closed";
        const qint64 ms = m_sinceClose.elapsed();
        std::printf("closed during %s: the program's loop ended %lld ms later\n", qPrintable(m_closedIn), ms);
        EXPECT_LT(ms, 1000);
    }

    QTemporaryDir m_home;
    std::optional<Sink> m_resolver;
    QString m_closedIn;
    QElapsedTimer m_sinceClose;
};

} // namespace

TEST_F(CloseDuringRun, Resolution)
{
    ExploreAndClose(QStringLiteral("slow.example"), QStringLiteral("resolution"), 300);
}

TEST_F(CloseDuringRun, Whois)
{
    const Sink silentServer(kWhoisAddress, SOCK_STREAM, 43);
    ASSERT_TRUE(silentServer.ok());
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

TEST_F(CloseDuringRun, Replay)
{
    GeoTableFile table;
    table.Add("127.0.0.0", "127.255.255.255", "Australia", -33.86785, 151.20732, "Sydney").Use();
    CQuokkaQuokkaDlg dialog;
    dialog.show();
    // Once the run is over, "Trace Route" on its map; the window closes 300 ms into the replay.
    QObject::connect(&dialog, &CQuokkaQuokkaDlg::explorationFinished, [&] {
        CWorldMap *map = dialog.WorldMap();
        ASSERT_TRUE(map);
        ASSERT_EQ(map->RouteSegments().size(), 1u);
        quokka::SetTimings({}); // the replay's waits are the full two seconds
        for (QPushButton *button : map->findChildren<QPushButton *>())
            if (button->text() == QLatin1String("Trace Route"))
                button->click();
        QTimer::singleShot(300, &dialog, [&, map] {
            ASSERT_TRUE(map->IsReplaying());
            Close(dialog, QStringLiteral("replay"));
        });
    });
    quokka::SetTimings({0}); // the run's own wait
    QTimer::singleShot(0, &dialog, [&] { dialog.StartExploration(QStringLiteral("127.0.0.1")); });
    RunProgram();
    EXPECT_EQ(m_closedIn, QStringLiteral("replay"));
}
