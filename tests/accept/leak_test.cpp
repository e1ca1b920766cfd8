// Twenty explorations in one process: each resolves, asks WHOIS (a server of the test's own
// on loopback, with a referral back to itself), probes and plots a hop. The open descriptors
// and resident memory are printed after every run; a clear leak fails (one descriptor or more
// per run, or megabytes per run), small noise does not. A run's windows stay open on purpose,
// so the test closes them after each run to see what the run itself leaves behind.
#include "geo_table_file.h"
#include "base/wait.h"
#include "geo/home_location.h"
#include "isolated_names.h"
#include "app/main_dialog.h"
#include "test_support.h"
#include "trace/trace_data.h"
#include "whois/whois_lookup.h"
#include "geo/world_map.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <atomic>
#include <gtest/gtest.h>
#include <malloc.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace quokka::app;
using quokka::whois::CWhoisLookup;
using quokka::geo::HomeLocation;

namespace {

constexpr int kRuns = 20;
constexpr int kSettledRun = 5; // later runs are compared with this one

// Answers every WHOIS query on 127.0.0.1:43 with a short record that refers to itself.
class LoopbackWhois {
public:
    LoopbackWhois() : m_listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(43);
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int yes = 1;
        ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        m_ok = ::bind(m_listener, reinterpret_cast<sockaddr *>(&at), sizeof at) == 0 && ::listen(m_listener, 8) == 0;
        if (m_ok)
            m_thread = std::thread([this] { Serve(); });
    }
    ~LoopbackWhois()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_listener);
    }
    LoopbackWhois(const LoopbackWhois &) = delete;
    LoopbackWhois &operator=(const LoopbackWhois &) = delete;
    bool Ok() const { return m_ok; }
    int Served() const { return m_served; }

private:
    void Serve()
    {
        static const char answer[] = "% loopback registry\n\nrefer: localhost\nnetname: LOOPBACK\nabuse-mailbox: abuse@localhost\n";
        while (!m_stop) {
            pollfd pfd{m_listener, POLLIN, 0};
            if (::poll(&pfd, 1, 50) <= 0)
                continue;
            const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            char query[256];
            [[maybe_unused]] const ssize_t got = ::recv(fd, query, sizeof query, 0);
            [[maybe_unused]] const ssize_t sent = ::send(fd, answer, sizeof answer - 1, MSG_NOSIGNAL);
            ++m_served; // counted before the close that lets the client's exchange end
            ::close(fd);
        }
    }

    int m_listener;
    bool m_ok = false;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_served{0};
    std::thread m_thread;
};

int OpenDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

long ResidentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

} // namespace

TEST(TwentyExplorations, LeaveNoDescriptorsOrMemoryBehind)
{
    if (!testsupport::IsolateNetwork())
        GTEST_SKIP() << "needs root for a network namespace of its own";
    ASSERT_TRUE(accepttest::UseNameFiles("127.0.0.1 localhost whois.iana.org\n", "nameserver 127.0.0.1\n"));
    const LoopbackWhois whoisServer;
    ASSERT_TRUE(whoisServer.Ok());
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.filePath("config"));
    ASSERT_TRUE(HomeLocation::Write({300, 150}));
    GeoTableFile table;
    table.Add("127.0.0.0", "127.255.255.255", "Australia", -33.86785, 151.20732, "Sydney").Use();
    CQuokkaQuokkaDlg dialog;
    ExplorationServices services = ExplorationServices::Real();
    services.timings.hopWaitMs = 0;
    dialog.SetServices(std::move(services));
    dialog.show();
    int whoisRecords = 0;
    QObject::connect(&dialog, &CQuokkaQuokkaDlg::ResultWindowsOpened, [&] {
        QObject::connect(dialog.WhoisLookup(), &CWhoisLookup::LineAdded, [&](const QString &line) {
            whoisRecords += line.contains(QLatin1String("LOOPBACK"));
        });
    });
    std::vector<int> fds;
    std::vector<long> rss;
    for (int run = 1; run <= kRuns; ++run) {
        QSignalSpy finished(&dialog, &CQuokkaQuokkaDlg::ExplorationFinished);
        dialog.StartExploration(QStringLiteral("127.0.0.1"));
        ASSERT_TRUE(finished.wait(30000)) << "run " << run;
        ASSERT_TRUE(dialog.TraceData() && dialog.WhoisLookup() && dialog.WorldMap());
        ASSERT_EQ(dialog.WorldMap()->RouteSegments().size(), 1u) << "run " << run << " plotted no hop";
        ASSERT_EQ(whoisRecords, run) << "run " << run << " did not list the referred server's answer";
        ASSERT_EQ(whoisServer.Served(), 2 * run) << "run " << run << " did not ask IANA and the referred server";
        delete dialog.TraceData();
        delete dialog.WhoisLookup();
        delete dialog.WorldMap();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
        ::malloc_trim(0);
        fds.push_back(OpenDescriptors());
        rss.push_back(ResidentKiB());
        std::printf("run %2d: open descriptors %d, resident memory %ld KiB\n", run, fds.back(), rss.back());
        std::fflush(stdout);
    }
    const int runs = kRuns - kSettledRun;
    const int fdGrowth = fds.back() - fds[kSettledRun - 1];
    const long rssGrowth = rss.back() - rss[kSettledRun - 1];
    std::printf("over runs %d to %d: descriptors %+d, resident memory %+ld KiB (%+ld KiB per run)\n", kSettledRun,
                kRuns, fdGrowth, rssGrowth, rssGrowth / runs);
    EXPECT_LT(fdGrowth, runs * 2 / 3) << "descriptors grow from run to run";
    EXPECT_LT(rssGrowth, runs * 1024L) << "resident memory grows by a megabyte or more per run";
}
