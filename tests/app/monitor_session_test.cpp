// The route monitor's session over a source of rounds of the test's own: the rounds leave on
// the session's thread, their answers (or their time-outs) come back round by round, and the
// statistics, rows, names and route changes follow. Pausing stops the rounds, a reset forgets
// what came before it, and the session's end neither waits for its thread nor leaves it behind.
#include "app/monitor_session.h"
#include "scripted_round_source.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>
#include <thread>

using namespace quokka::app;
using namespace quokka::app::monitor;
using namespace testmonitor;

void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

// "ttl address sent/received" for every row.
QStringList RowsText(const Session &session)
{
    QStringList rows;
    for (const RowStatistics &row : session.Stats().Rows())
        rows << QStringLiteral("%1 %2 %3/%4").arg(row.ttl).arg(row.address).arg(row.sent).arg(row.received);
    return rows;
}

QStringList NamesText(const Session &session)
{
    QStringList names;
    for (const RowDetail &detail : session.Details())
        if (!detail.hostName.isEmpty())
            names << QStringLiteral("name %1 %2").arg(detail.address, detail.hostName);
    return names;
}

struct Case {
    const char *name;
    Script script;
    int rounds;                // rows are read when this many rounds are resolved
    QStringList rows;
    QStringList events = {};   // route changes, without their time
    int lastTtls = 6;          // probes in the rounds once the rows are in
    // At the first resolved round, with the source's record: pauses, resumes, resets.
    std::function<void(Session &, Seen &)> atFirstRound = {};
    QStringList notices = {};  // said once each
};

void PrintTo(const Case &c, std::ostream *out)
{
    *out << c.name;
}

class MonitorSessionTest : public ::testing::TestWithParam<Case> {};

TEST_P(MonitorSessionTest, ResolvesRoundsIntoRows)
{
    const Case &c = GetParam();
    auto seen = std::make_shared<Seen>();
    ExplorationServices services;
    services.reverseName = [](const QString &address, int) -> std::optional<QString> {
        if (address == QLatin1String("192.0.2.2"))
            return QStringLiteral("two.example");
        return std::nullopt;
    };
    {
        Session session(QString::fromLatin1(kDestination), services,
                        [script = c.script, seen](const QString &) { return std::make_unique<ScriptedSource>(script, seen); });
        session.SetInterval(10);
        QStringList rows, events;
        bool first = true;
        QStringList notices;
        QObject::connect(&session, &Session::Notice, [&](const QString &text) { notices << text; });
        QObject::connect(&session, &Session::RouteChanged, [&](const RouteEvent &event) {
            events << event.text.mid(9); // after "HH:MM:SS "
        });
        QObject::connect(&session, &Session::RoundResolved, [&](int) {
            if (std::exchange(first, false) && c.atFirstRound)
                c.atFirstRound(session, *seen);
            if (session.RoundsResolved() == c.rounds) {
                session.Pause();
                rows = RowsText(session);
            }
        });
        session.Start();
        ASSERT_TRUE(WaitFor([&] { return !rows.isEmpty(); })) << "rounds resolved: " << session.RoundsResolved();
        // Names come beside the rounds; wait for the one the lookup knows.
        if (c.rows.join(QLatin1Char('\n')).contains(QLatin1String("name ")))
            WaitFor([&] { return !NamesText(session).isEmpty(); }, 2000);
        EXPECT_EQ(rows + NamesText(session), c.rows);
        EXPECT_EQ(events, c.events);
        EXPECT_EQ(notices, c.notices);
        // Once the destination's TTL is known, the rounds probe up to it only.
        session.Resume();
        const auto lastTtls = [&] {
            const std::lock_guard lock(seen->mutex);
            return seen->ttlsPerRound.back();
        };
        EXPECT_TRUE(WaitFor([&] { return lastTtls() == c.lastTtls; }, 3000)) << lastTtls();
        const std::lock_guard lock(seen->mutex);
        EXPECT_EQ(seen->ttlsPerRound.front(), kMaxTtl);
    }
    EXPECT_TRUE(WaitFor([&] { return seen->alive == 0; }, 1000)) << "the source outlived its session";
}

const QStringList kSixRows = {"1 192.0.2.1 3/3", "2 192.0.2.2 3/3", "3 192.0.2.3 3/3",
                              "4 192.0.2.4 3/3", "5 192.0.2.5 3/3", "6 192.0.2.6 3/3"};

INSTANTIATE_TEST_SUITE_P(
    Cases, MonitorSessionTest,
    ::testing::Values(
        // The destination answers at TTL 6: the rows end there and the rounds probe 6 TTLs.
        Case{"answers", SixHops, 3, kSixRows + QStringList{"name 192.0.2.2 two.example"}},
        // TTL 3 answers every other round; TTL 4 never (a row with no address).
        Case{"losses",
             [](int round, int ttl) { return ttl == 4 || (ttl == 3 && round % 2 == 0) ? QString() : SixHops(round, ttl); },
             4,
             {"1 192.0.2.1 4/4", "2 192.0.2.2 4/4", "3 192.0.2.3 4/2", "4  4/0", "5 192.0.2.5 4/4", "6 192.0.2.6 4/4",
              "name 192.0.2.2 two.example"}},
        // TTL 4's answers arrive after the time-out, though they are read at once: lost.
        Case{"late answers",
             [](int round, int ttl) { return ttl == 4 ? QStringLiteral("~192.0.2.4") : SixHops(round, ttl); },
             3,
             {"1 192.0.2.1 3/3", "2 192.0.2.2 3/3", "3 192.0.2.3 3/3", "4  3/0", "5 192.0.2.5 3/3", "6 192.0.2.6 3/3",
              "name 192.0.2.2 two.example"}},
        // TTL 2 moves to another router from the third round on.
        Case{"route change",
             [](int round, int ttl) {
                 return ttl == 2 ? QString::fromLatin1(round < 3 ? "198.51.100.10" : "198.51.100.30") : SixHops(round, ttl);
             },
             4,
             {"1 192.0.2.1 4/4", "2 198.51.100.10 2/2", "2 198.51.100.30 2/2", "3 192.0.2.3 4/4", "4 192.0.2.4 4/4",
              "5 192.0.2.5 4/4", "6 192.0.2.6 4/4"},
             {"hop 2: 198.51.100.10 -> 198.51.100.30"}},
        // The system refuses the probes at TTL 3: lost, and said once.
        Case{"send refused", [](int round, int ttl) { return ttl == 3 ? QStringLiteral("!") : SixHops(round, ttl); }, 2,
             {"1 192.0.2.1 2/2", "2 192.0.2.2 2/2", "3  2/0", "4 192.0.2.4 2/2", "5 192.0.2.5 2/2", "6 192.0.2.6 2/2",
              "name 192.0.2.2 two.example"},
             {}, 6, {},
             {"Probes to 192.0.2.6 are not permitted here: the system refused to send them"}},
        // Nothing is the destination: every round probes all TTLs, each a row.
        Case{"no destination", [](int, int ttl) { return ttl <= 2 ? Hop(ttl) : QStringLiteral("203.0.113.9"); }, 1,
             [] {
                 QStringList rows{"1 192.0.2.1 1/1", "2 192.0.2.2 1/1"};
                 for (int ttl = 3; ttl <= kMaxTtl; ++ttl)
                     rows << QStringLiteral("%1 203.0.113.9 1/1").arg(ttl);
                 return rows << "name 192.0.2.2 two.example";
             }(),
             {}, kMaxTtl},
        // Paused, no round leaves; resumed, they go on.
        Case{"pause", SixHops, 3, kSixRows + QStringList{"name 192.0.2.2 two.example"}, {}, 6,
             [](Session &session, Seen &seen) {
                 session.Pause();
                 QThread::msleep(100); // a round under way when the pause came may still leave
                 const int sent = seen.Rounds();
                 QThread::msleep(300);
                 EXPECT_EQ(seen.Rounds(), sent) << "rounds left while paused";
                 EXPECT_TRUE(session.IsPaused());
                 session.Resume();
             }},
        // A reset forgets the first round and the rounds in flight: the rows count the later
        // ones. The first rounds wait for a time-out at TTL 4 and meet another router at TTL 2.
        Case{"reset",
             [](int round, int ttl) {
                 if (round > 5)
                     return SixHops(round, ttl);
                 return ttl == 4 ? QString() : ttl == 2 ? QStringLiteral("198.51.100.10") : SixHops(round, ttl);
             },
             3, kSixRows + QStringList{"name 192.0.2.2 two.example"}, {}, 6,
             [](Session &session, Seen &) {
                 session.Reset();
                 EXPECT_TRUE(session.Stats().Rows().isEmpty());
                 EXPECT_EQ(session.RoundsResolved(), 0);
             }}),
    [](const ::testing::TestParamInfo<Case> &param) { return QString::fromLatin1(param.param.name).replace(' ', '_').toStdString(); });

// The session's end returns at once, also while probes wait for their time-out; its thread
// closes the source by itself soon after. Without a source, the session says why.
TEST(MonitorSessionEnd, NeitherWaitsNorLeavesItsThread)
{
    auto seen = std::make_shared<Seen>();
    auto session = std::make_unique<Session>(QString::fromLatin1(kDestination), ExplorationServices{}, [seen](const QString &) {
        return std::make_unique<ScriptedSource>([](int, int) { return QString(); }, seen);
    });
    session->Start();
    ASSERT_TRUE(WaitFor([&] { return seen->Rounds() >= 2; }));
    QElapsedTimer timer;
    timer.start();
    session.reset();
    EXPECT_LT(timer.elapsed(), 20);
    EXPECT_TRUE(WaitFor([&] { return seen->alive == 0; }, 1000)) << "the source outlived its session";
    EXPECT_NE(seen->destroyedOn.load(), QThread::currentThread());
    EXPECT_TRUE(quokka::WaitForWorkers(std::chrono::milliseconds(1000)));

    Session none(QString::fromLatin1(kDestination), ExplorationServices{}, [](const QString &) { return nullptr; });
    QString failure;
    QObject::connect(&none, &Session::Failed, [&](const QString &text) { failure = text; });
    none.Start();
    ASSERT_TRUE(WaitFor([&] { return !failure.isEmpty(); }));
    EXPECT_TRUE(failure.startsWith(QLatin1String("Route tracing is not permitted here"))) << failure.toStdString();
    EXPECT_EQ(none.Failure(), failure);
}

} // namespace
