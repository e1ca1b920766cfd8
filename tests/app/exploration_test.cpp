// A whole exploration with services of the test's own: no network, no privileges, no waits.
// The run looks each hop up and fans the result out (the row to the map, the line to the
// trace list), lists the WHOIS record before the first hop, and ends where its tracer says.
#include "app/main_dialog.h"
#include "base/wait.h"
#include "geo/geo_database.h"
#include "geo/home_location.h"
#include "geo/projection.h"
#include "geo/world_map.h"
#include "small_table.h"
#include "trace/icmp_tracer.h"
#include "trace/trace_data.h"
#include "whois/whois_lookup.h"

#include <QElapsedTimer>
#include <QListWidget>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <map>

using namespace testgeo;

namespace {

// Answers each time-to-live from a list; "Error" where the list has nothing.
class ListedTracer : public HopProber {
public:
    explicit ListedTracer(std::map<int, HopReply> hops, bool valid = true) : m_hops(std::move(hops)), m_valid(valid) {}
    bool IsValid() const override { return m_valid; }
    HopReply ProbeHop(int ttl) override
    {
        const auto hop = m_hops.find(ttl);
        return m_valid && hop != m_hops.end() ? hop->second : HopReply{QStringLiteral("Error"), 400};
    }

private:
    std::map<int, HopReply> m_hops;
    bool m_valid;
};

class ExplorationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_profile.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_profile.path());
        ASSERT_TRUE(HomeLocation::Write({300, 150}));
        quokka::SetTimings({0});
        m_table = SmallTable()
                      .row(Key(192, 0, 2, 0), Key(192, 0, 2, 255), At("GB", "United Kingdom", "England", "London", 51.50853, -0.12574))
                      .row(Key(203, 0, 113, 0), Key(203, 0, 113, 255), At("AU", "Australia", "New South Wales", "Sydney", -33.86785, 151.20732))
                      .terminate()
                      .bytes();
        m_database = GeoDatabase(m_table);
    }
    void TearDown() override { quokka::SetTimings({}); }

    ExplorationServices Fakes(std::map<int, HopReply> hops, bool tracerValid = true)
    {
        ExplorationServices services;
        services.resolve = [](const QString &domain) -> std::optional<QString> {
            if (domain == QLatin1String("route.test"))
                return QStringLiteral("203.0.113.7");
            return std::nullopt;
        };
        services.whois = [this](const QString &query, std::stop_token) {
            m_whoisQueries << query;
            return WhoisAnswer{QStringLiteral("netname: TEST-NET\nabuse-mailbox: abuse@route.test\n"), {}};
        };
        services.newTracer = [hops, tracerValid](const QString &) { return std::make_unique<ListedTracer>(hops, tracerValid); };
        services.install = [] {};
        services.database = &m_database;
        return services;
    }

    // Explores DOMAIN in DIALOG; returns every line the run listed, WHOIS and trace, in order.
    QStringList Explore(CQuokkaQuokkaDlg &dialog, const QString &domain)
    {
        QStringList listed;
        QObject listener; // the connections go with it
        QObject::connect(&dialog, &CQuokkaQuokkaDlg::resultWindowsOpened, &listener, [&] {
            QObject::connect(dialog.WhoisLookup(), &CWhoisLookup::lineAdded, &listener,
                             [&](const QString &line) { listed << "whois " + line; });
            QObject::connect(dialog.TraceData(), &CTraceData::lineAdded, &listener,
                             [&](const QString &line) { listed << "trace " + line; });
        });
        QSignalSpy finished(&dialog, &CQuokkaQuokkaDlg::explorationFinished);
        QElapsedTimer clock;
        clock.start();
        dialog.StartExploration(domain);
        EXPECT_TRUE(finished.wait(5000));
        EXPECT_LT(clock.elapsed(), 1000) << "a run with fake services takes well under a second";
        return listed;
    }

    QTemporaryDir m_profile;
    std::vector<unsigned char> m_table;
    GeoDatabase m_database{{}};
    QStringList m_whoisQueries;
};

} // namespace

TEST_F(ExplorationTest, FansEachHopOutToTheMapAndTheListAfterTheWhoisRecord)
{
    CQuokkaQuokkaDlg dialog;
    dialog.SetServices(Fakes({{1, {"192.0.2.1", 3}}, {3, {"198.51.100.9", 20}}, {4, {"203.0.113.7", 31}}}));
    dialog.show();
    const QStringList listed = Explore(dialog, QStringLiteral("route.test"));
    EXPECT_EQ(listed, (QStringList{
                          "whois netname: TEST-NET",
                          "whois abuse-mailbox: abuse@route.test",
                          "trace Hop 1     3ms       192.0.2.1      Home",
                          "trace Hop 3     20ms      198.51.100.9   No Information",
                          "trace Hop 4     31ms      203.0.113.7    Sydney, New South Wales, Australia",
                          "trace Route Complete, Total Round Trip Time 54ms",
                      }));
    EXPECT_EQ(m_whoisQueries, QStringList{"203.0.113.7"}) << "WHOIS asks for the address, not the name";
    // The map got the located rows: London (hop 1) and Sydney, the destination.
    ASSERT_TRUE(dialog.WorldMap());
    const auto london = quokka::ProjectToMap(51.50853, -0.12574), sydney = quokka::ProjectToMap(-33.86785, 151.20732);
    EXPECT_EQ(dialog.WorldMap()->RouteSegments(),
              (std::vector<RouteSegment>{{300, 150, london->x, london->y}, {london->x, london->y, sydney->x, sydney->y}}));
}

TEST_F(ExplorationTest, SaysSoWhenTheNameIsUnknownOrTracingIsNotAllowed)
{
    CQuokkaQuokkaDlg dialog;
    dialog.show();
    dialog.SetServices(Fakes({}));
    EXPECT_EQ(Explore(dialog, QStringLiteral("nowhere.test")), QStringList{"trace Cannot find an IPv4 address for \"nowhere.test\""});
    EXPECT_TRUE(m_whoisQueries.isEmpty());

    dialog.SetServices(Fakes({{1, {"192.0.2.1", 3}}}, false));
    const QStringList listed = Explore(dialog, QStringLiteral("route.test"));
    ASSERT_EQ(listed.size(), 3);
    EXPECT_TRUE(listed[2].startsWith("trace Route tracing is not permitted here")) << listed[2].toStdString();
}
