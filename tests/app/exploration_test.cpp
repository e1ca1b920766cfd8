// A whole exploration with services of the test's own and a view that only records: no
// network, no privileges, no windows, no waits. The run looks each hop up and fans the result
// out (the row to the map, the line and its details to the trace list), lists the WHOIS record
// before the first hop, and ends where its tracer says. Each hop's host name, looked up
// beside the run, settles between its line and the next one without holding the run up; the
// run's report reads back as JSON. The tracer lives and goes on the run's worker.
#include "app/exploration.h"
#include "as_builder.h"
#include "geo/as_database.h"
#include "geo/geo_database.h"
#include "geo/home_location.h"
#include "recording_view.h"
#include "small_table.h"
#include "trace/icmp_tracer.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include "base/worker.h"
#include <gtest/gtest.h>
#include <atomic>
#include <map>
#include <thread>

using namespace quokka::app;
using quokka::trace::HopReply;
using quokka::trace::HopProber;
using quokka::geo::GeoDatabase;
using quokka::geo::HomeLocation;
using quokka::geo::AsDatabase;
namespace astable = quokka::tools::astable;

using namespace testgeo;

namespace {

// The threads the tracers of a test were made and destroyed on.
struct TracerThreads {
    std::atomic<QThread *> made{nullptr}, destroyed{nullptr};
};

// Answers each time-to-live from a list; "Error" where the list has nothing.
class ListedTracer : public HopProber {
public:
    ListedTracer(std::map<int, HopReply> hops, bool valid, TracerThreads *threads)
        : m_hops(std::move(hops)), m_valid(valid), m_threads(threads)
    {
        m_threads->made = QThread::currentThread();
    }
    ~ListedTracer() override { m_threads->destroyed = QThread::currentThread(); }
    bool IsValid() const override { return m_valid; }
    HopReply ProbeHop(int ttl) override
    {
        const auto hop = m_hops.find(ttl);
        return m_valid && hop != m_hops.end() ? hop->second : HopReply{QStringLiteral("Error"), 400};
    }

private:
    std::map<int, HopReply> m_hops;
    bool m_valid;
    TracerThreads *m_threads;
};

// A reverse lookup's answer for an address, given after DELAY_MS.
struct FakeName {
    int delayMs = 0;
    std::optional<QString> name;
};

class ExplorationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_profile.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_profile.path());
        ASSERT_TRUE(HomeLocation::Write({300, 150}));
        m_table = SmallTable()
                      .row(Key(192, 0, 2, 0), Key(192, 0, 2, 255), At("GB", "United Kingdom", "England", "London", 51.50853, -0.12574))
                      .row(Key(203, 0, 113, 0), Key(203, 0, 113, 255), At("AU", "Australia", "New South Wales", "Sydney", -33.86785, 151.20732))
                      .terminate()
                      .bytes();
        m_database = GeoDatabase(m_table);
    }
    // The fakes refer to this fixture: the run's worker thread ends before it goes.
    void TearDown() override
    {
        m_run.reset();
        EXPECT_TRUE(quokka::WaitForWorkers());
    }

    ExplorationServices Fakes(std::map<int, HopReply> hops, bool tracerValid = true, quokka::Timings timings = {0})
    {
        ExplorationServices services;
        services.timings = timings;
        services.resolve = [](const QString &domain, bool, std::stop_token) -> std::optional<QString> {
            if (domain == QLatin1String("route.test"))
                return QStringLiteral("203.0.113.7");
            return std::nullopt;
        };
        services.whois = [this](const QString &query, std::stop_token) {
            m_whoisQueries << query;
            return quokka::whois::WhoisAnswer{QStringLiteral("netname: TEST-NET\nabuse-mailbox: abuse@route.test\n"), {}};
        };
        services.newTracer = [hops, tracerValid, threads = &m_tracerThreads](const QString &) {
            return std::make_unique<ListedTracer>(hops, tracerValid, threads);
        };
        services.install = [](std::stop_token) {};
        services.reverseName = [names = m_names](const QString &address, int) -> std::optional<QString> {
            const auto found = names.find(address);
            if (found == names.end())
                return std::nullopt;
            std::this_thread::sleep_for(std::chrono::milliseconds(found->second.delayMs));
            return found->second.name;
        };
        services.database = &m_database;
        services.asTable = &m_asTable;
        return services;
    }

    // Explores DOMAIN with SERVICES; returns every line the run listed, WHOIS and trace, each
    // hop plotted and each hop's details as its `detail` report line, in order. STAMPS get the
    // milliseconds from the start at which each came, and lastly the run's end.
    QStringList Explore(const ExplorationServices &services, const QString &domain, int withinMs = 1000,
                        QList<qint64> *stamps = nullptr)
    {
        QStringList listed;
        QElapsedTimer clock;
        const auto add = [&](const QString &line) {
            listed << line;
            if (stamps)
                *stamps << clock.elapsed();
        };
        m_run.reset();
        m_view = std::make_unique<RecordingView>();
        m_view->onEvent = add;
        m_run = std::make_unique<Exploration>(domain, services, *m_view);
        QObject listener; // the connection goes with it
        QObject::connect(m_run.get(), &Exploration::HopDetailSettled, &listener,
                         [&](const HopDetail &hop) { add("detail " + runreport::DetailFields(hop)); });
        QSignalSpy finished(m_run.get(), &Exploration::Finished);
        clock.start();
        m_run->Start();
        EXPECT_TRUE(finished.wait(5000 + withinMs));
        if (stamps)
            *stamps << clock.elapsed();
        EXPECT_LT(clock.elapsed(), withinMs) << "a run with fake services keeps to its own waits";
        m_view->onEvent = nullptr;
        return listed;
    }

    // AS 64500 for 192.0.2.0/24, and an AS whose name holds an escape character for 203.0.113.0/24.
    AsDatabase MakeAsTable()
    {
        astable::BuildFigures figures;
        m_asBytes = astable::EncodeTable({{0xC0000200, 0xC00002FF, 64500, "Documentation Net One"},
                                          {0xCB007100, 0xCB0071FF, 64511, "Evil[31m Corp"}},
                                         figures);
        return AsDatabase(m_asBytes);
    }

    QTemporaryDir m_profile;
    std::vector<unsigned char> m_table;
    GeoDatabase m_database{{}};
    std::vector<unsigned char> m_asBytes;
    AsDatabase m_asTable = MakeAsTable();
    std::map<QString, FakeName> m_names;
    QStringList m_whoisQueries;
    TracerThreads m_tracerThreads;
    std::unique_ptr<RecordingView> m_view;
    std::unique_ptr<Exploration> m_run; // goes before its view
};

} // namespace

TEST_F(ExplorationTest, FansEachHopOutToTheMapAndTheListAfterTheWhoisRecord)
{
    const QStringList listed =
        Explore(Fakes({{1, {"192.0.2.1", 3}}, {3, {"198.51.100.9", 20}}, {4, {"203.0.113.7", 31}}}), QStringLiteral("route.test"))
            .filter(QRegularExpression("^(open|whois|trace|plot) "));
    EXPECT_EQ(listed, (QStringList{
                          "open 300,150",
                          "whois netname: TEST-NET\nabuse-mailbox: abuse@route.test",
                          "plot 0 51.50853,-0.12574",
                          "trace Hop 1     3ms       192.0.2.1      Home",
                          "trace Hop 3     20ms      198.51.100.9   No Information",
                          "plot 2 -33.86785,151.2073 destination",
                          "trace Hop 4     31ms      203.0.113.7    Sydney, New South Wales, Australia",
                          "trace Route Complete, Total Round Trip Time 54ms",
                      }));
    EXPECT_EQ(m_whoisQueries, QStringList{"203.0.113.7"}) << "WHOIS asks for the address, not the name";
    // Each hop's details reach its marker and its row; the windows save the run's own report.
    const RunReport &report = m_run->Report();
    ASSERT_EQ(report.hops.size(), 3);
    for (int hop = 0; hop < 3; ++hop) {
        EXPECT_EQ(m_view->hopDetails.value(hop), runreport::ToolTipLines(report.hops[hop])) << hop;
        EXPECT_EQ(m_view->rowDetails.value(report.hops[hop].row), runreport::ToolTipLines(report.hops[hop])) << hop;
    }
    EXPECT_FALSE(m_view->rowDetails.contains(3)) << "the completion line is no hop";
    EXPECT_EQ(m_view->savedReport.get(), &report);
    EXPECT_FALSE(m_view->busy);
    m_run.reset();
    ASSERT_TRUE(quokka::WaitForWorkers());
    EXPECT_NE(m_tracerThreads.made.load(), QThread::currentThread());
    EXPECT_EQ(m_tracerThreads.destroyed.load(), m_tracerThreads.made.load()) << "made, used and gone on the worker";
}

TEST_F(ExplorationTest, SaysSoWhenTheNameIsUnknownOrTracingIsNotAllowed)
{
    EXPECT_EQ(Explore(Fakes({}), QStringLiteral("nowhere.test")).filter(QRegularExpression("^trace ")),
              QStringList{"trace Cannot find an IPv4 address for \"nowhere.test\""});
    EXPECT_TRUE(m_whoisQueries.isEmpty());

    const QStringList listed = Explore(Fakes({{1, {"192.0.2.1", 3}}}, false), QStringLiteral("route.test"))
                                   .filter(QRegularExpression("^trace "));
    ASSERT_EQ(listed.size(), 1);
    EXPECT_TRUE(listed[0].startsWith("trace Route tracing is not permitted here")) << listed[0].toStdString();
}

// A route over IPv6: the address column widens to the longest address met so far (the
// target's included) and one space; the destination is known in any of its texts; WHOIS asks
// for the address; a hop without a place reads (and goes unplotted) as an IPv4 one without. The preference reaches
// the resolver and the line for a name without an address.
TEST_F(ExplorationTest, ExploresOverIPv6WithTheAddressColumnItNeeds)
{
    m_names = {{"2001:db8::1", {0, "r1.v6.test"}}};
    ExplorationServices services =
        Fakes({{1, {"2001:db8::1", 3}}, {2, {"2001:db8:ffff:1234:5678:9abc:def0:1", 9}}, {3, {"2001:db8:0::7", 12}}},
              true, {100, 0, 0, 100}); // time for the name
    std::vector<bool> preferences;
    services.resolve = [&preferences](const QString &domain, bool preferIPv6, std::stop_token) -> std::optional<QString> {
        preferences.push_back(preferIPv6);
        return domain == QLatin1String("v6.test") ? std::optional<QString>("2001:db8::7") : std::nullopt;
    };
    services.preferIPv6 = true;
    EXPECT_EQ(Explore(services, QStringLiteral("v6.test")).filter(QRegularExpression("^(trace|plot|detail) ")).join(u'\n').toStdString(),
              (QStringList{
                  "trace Hop 1     3ms       2001:db8::1    Home",
                  "detail 1\t2001:db8::1\tr1.v6.test\t\t\tHome\t3",
                  "trace Hop 2     9ms       2001:db8:ffff:1234:5678:9abc:def0:1 No Information",
                  "detail 2\t2001:db8:ffff:1234:5678:9abc:def0:1\t\t\t\tNo Information\t9",
                  "trace Hop 3     12ms      2001:db8:0::7                       No Information",
                  "detail 3\t2001:db8:0::7\t\t\t\tNo Information\t12",
                  "trace Route Complete, Total Round Trip Time 24ms",
              }.join(u'\n').toStdString()));
    EXPECT_EQ(m_whoisQueries, QStringList{"2001:db8::7"});
    EXPECT_TRUE(m_run->Report().completed);
    const QJsonObject json = QJsonDocument::fromJson(runreport::ToJson(m_run->Report())).object();
    const QJsonObject second = json["hops"].toArray()[1].toObject();
    EXPECT_EQ(json["target"].toString(), "2001:db8::7");
    EXPECT_EQ(second["address"].toString(), "2001:db8:ffff:1234:5678:9abc:def0:1");
    EXPECT_TRUE(second["country"].isNull() && second["asn"].isNull());
    EXPECT_TRUE(QString::fromUtf8(runreport::ToCsv(m_run->Report())).contains("\r\n\"2\",\"2001:db8:ffff:1234:5678:9abc:def0:1\",\"9\","));
    EXPECT_EQ(Explore(services, QStringLiteral("nowhere.test")).filter(QRegularExpression("^trace ")),
              QStringList{"trace Cannot find an IPv6 or IPv4 address for \"nowhere.test\""});
    EXPECT_EQ(preferences, (std::vector<bool>{true, true}));
}

// Without a home the run shows the welcome notice, then the setup, each for the run's own
// time; a run ended while one is up closes it and goes no further.
TEST_F(ExplorationTest, AFirstRunWelcomesThenSetsUpAndEndsAWindowLeftUp)
{
    ASSERT_TRUE(HomeLocation::Write({0, 0})); // no home stored
    const QStringList listed = Explore(Fakes({}, true, {0, 70, 30}), QStringLiteral("nowhere.test"));
    EXPECT_EQ(listed.mid(0, 3), (QStringList{"welcome Welcome to quokka quokka setup! 70", "setup 30", "open 0,0"}));

    RecordingView view;
    {
        Exploration run(QStringLiteral("route.test"), Fakes({}), view);
        run.Start();
        EXPECT_EQ(view.events, QStringList{"welcome Welcome to quokka quokka setup! 5000"}) << "the designed time";
    }
    EXPECT_EQ(view.firstRunWindowsClosedEarly, 1);
    QCoreApplication::processEvents();
    EXPECT_EQ(view.events.size(), 1) << "nothing follows a run's end";
}

// Each hop's detail line comes after its own line and before the next one, whenever its name
// comes or fails to: the run never waits for a name beyond its own pause after the hop.
TEST_F(ExplorationTest, SettlesEachHostNameBetweenItsLineAndTheNextWithoutHoldingTheRunUp)
{
    const std::map<int, HopReply> route{{1, {"192.0.2.1", 3}}, {2, {"192.0.2.2", 4}}, {3, {"198.51.100.9", 5}},
                                        {4, {"198.51.100.10", 6}}, {5, {"203.0.113.7", 7}}};
    m_names = {{"192.0.2.1", {0, "r1.route.test"}},        // at once
               {"192.0.2.2", {60, "slow.route.test"}},      // within the deadline
               {"198.51.100.9", {400, "late.route.test"}},  // past a short deadline, before the next hop
               {"198.51.100.10", {1000, "hung.route.test"}}, // past the next hop
               {"203.0.113.7", {1000, "hung.route.test"}}};
    struct Case {
        const char *what;
        quokka::Timings timings;
        QStringList names; // each hop's settled name, in order
    };
    const Case cases[] = {
        {"deadline within the pause", {600, 0, 0, 300}, {"r1.route.test", "slow.route.test", "", "", ""}},
        // A deadline past the pause: the next line, and the run's end, settle the name unknown.
        // (pauses long enough that a busy machine cannot make a name miss its mark)
        {"deadline past the pause", {800, 0, 0, 5000}, {"r1.route.test", "slow.route.test", "late.route.test", "", ""}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        QStringList expected, names;
        for (const auto &[ttl, reply] : route)
            expected << QStringLiteral("trace Hop %1").arg(ttl) << QStringLiteral("detail %1").arg(ttl);
        expected << "trace Route Complete";
        QList<qint64> stamps;
        const int hopWaitMs = c.timings.hopWaitMs, slackMs = 200;
        QStringList listed = Explore(Fakes(route, true, c.timings), QStringLiteral("route.test"), 5 * hopWaitMs + slackMs, &stamps);
        QStringList order;
        QList<qint64> hopStamps;
        for (qsizetype i = 0; i < listed.size(); ++i) {
            const QStringList fields = listed[i].split(QLatin1Char('\t'));
            if (listed[i].startsWith("detail")) {
                order << fields[0];
                names << fields[2];
            } else if (listed[i].startsWith("trace")) {
                order << listed[i].left(listed[i].startsWith("trace Hop") ? 11 : 20);
                hopStamps << stamps[i];
            }
        }
        EXPECT_EQ(order, expected);
        EXPECT_EQ(names, c.names);
        EXPECT_LT(stamps.back() - hopStamps.back(), 50) << "the run ends with its last line";
        for (qsizetype i = 1; i < hopStamps.size(); ++i)
            EXPECT_TRUE(hopStamps[i] - hopStamps[i - 1] >= hopWaitMs && hopStamps[i] - hopStamps[i - 1] < hopWaitMs + slackMs)
                << "pause " << i << " took " << hopStamps[i] - hopStamps[i - 1] << " ms";
    }
}

// The report of a run, as --json writes it, read back field by field; the strangers' texts
// are exact there and visible in the detail lines.
TEST_F(ExplorationTest, ReportsTheRunAsJsonWithEachHopsNameNetworkAndPlace)
{
    m_names = {{"192.0.2.1", {0, "<i>tag</i>.example"}}, {"203.0.113.7", {0, "=cmd|calc.example"}}};
    const QStringList details = Explore(Fakes({{1, {"192.0.2.1", 3}}, {3, {"198.51.100.9", 20}}, {4, {"203.0.113.7", 31}}}, true, {300}),
                                        QStringLiteral("route.test"), 1200)
                                    .filter(QRegularExpression("^detail "));
    EXPECT_EQ(details, (QStringList{
                           "detail 1\t192.0.2.1\t<i>tag</i>.example\t64500\tDocumentation Net One\tHome\t3",
                           "detail 3\t198.51.100.9\t\t\t\tNo Information\t20",
                           "detail 4\t203.0.113.7\t=cmd|calc.example\t64511\tEvil\u241b[31m Corp\tSydney, New South Wales, Australia\t31",
                       }));
    const RunReport &report = m_run->Report();
    ASSERT_EQ(report.hops.size(), 3);
    EXPECT_EQ((QList<int>{report.hops[0].row, report.hops[1].row, report.hops[2].row}), (QList<int>{0, 1, 2}));

    const QJsonObject root = QJsonDocument::fromJson(runreport::ToJson(report)).object();
    EXPECT_EQ(root["domain"].toString(), "route.test");
    EXPECT_EQ(root["target"].toString(), "203.0.113.7");
    EXPECT_EQ(root["whois"].toArray(), (QJsonArray{"netname: TEST-NET", "abuse-mailbox: abuse@route.test"}));
    EXPECT_EQ(root["completed"], QJsonValue(true));
    EXPECT_EQ(root["total_ms"], QJsonValue(54));
    const QJsonArray hops = root["hops"].toArray();
    ASSERT_EQ(hops.size(), 3);
    const QStringList keys{"ttl", "address", "rtt_ms", "hostname", "asn", "as_name", "country_code", "country",
                           "region", "city", "latitude", "longitude", "line"};
    const QList<QJsonArray> expected{
        {1, "192.0.2.1", 3, "<i>tag</i>.example", 64500, "Documentation Net One", "GB", "United Kingdom", "England",
         "London", 51.50853, -0.12574, "Hop 1     3ms       192.0.2.1      Home"},
        {3, "198.51.100.9", 20, {}, {}, {}, {}, {}, {}, {}, {}, {}, "Hop 3     20ms      198.51.100.9   No Information"},
        {4, "203.0.113.7", 31, "=cmd|calc.example", 64511, "Evil\x1b[31m Corp", "AU", "Australia", "New South Wales",
         "Sydney", -33.86785, 151.20732, "Hop 4     31ms      203.0.113.7    Sydney, New South Wales, Australia"},
    };
    for (qsizetype hop = 0; hop < hops.size(); ++hop) {
        const QJsonObject object = hops[hop].toObject();
        EXPECT_EQ(object.size(), keys.size()) << "hop " << hop;
        for (qsizetype key = 0; key < keys.size(); ++key)
            EXPECT_EQ(object[keys[key]], expected[hop][key]) << "hop " << hop << " " << keys[key].toStdString();
    }
}
