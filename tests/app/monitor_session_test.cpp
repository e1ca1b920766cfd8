// The route monitor's session over a source of rounds of the test's own: the rounds leave on
// the session's thread, their answers (or their time-outs) come back round by round, and the
// statistics, rows, names and route changes follow. Pausing stops the rounds, a reset forgets
// what came before it, and the session's end neither waits for its thread nor leaves it behind.
#include "app/monitor_session.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

using namespace quokka::app;
using namespace quokka::app::monitor;
namespace icmp = quokka::trace::icmp;

void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

constexpr const char *kDestination = "192.0.2.6";

// Who answers a round's probe at a TTL: an address, or nobody (empty).
using Script = std::function<QString(int round, int ttl)>;

// What the sources of a test saw, shared with the probing thread.
struct Seen {
    std::mutex mutex;
    std::vector<int> ttlsPerRound;
    std::atomic<int> alive{0};
    std::atomic<QThread *> destroyedOn{nullptr};

    int Rounds()
    {
        const std::lock_guard lock(mutex);
        return int(ttlsPerRound.size());
    }
};

// Answers at once what the script says; the rest stay in flight until given up.
class ScriptedSource : public quokka::trace::RoundSource {
public:
    ScriptedSource(Script script, std::shared_ptr<Seen> seen) : m_script(std::move(script)), m_seen(std::move(seen))
    {
        ++m_seen->alive;
    }
    ~ScriptedSource() override
    {
        m_seen->destroyedOn = QThread::currentThread();
        --m_seen->alive;
    }
    icmp::SocketKind Kind() const override { return icmp::SocketKind::Ping; }
    std::vector<Sent> SendRound(std::uint16_t firstSeq, int ttls) override
    {
        {
            const std::lock_guard lock(m_seen->mutex);
            m_seen->ttlsPerRound.push_back(ttls);
        }
        ++m_round;
        std::vector<Sent> sent;
        const auto now = icmp::Clock::now();
        for (int ttl = 1; ttl <= ttls; ++ttl) {
            const auto seq = std::uint16_t(firstSeq + ttl - 1);
            sent.push_back({seq, ttl, now, 0});
            m_inFlight[seq] = now;
            const QString address = m_script(m_round, ttl);
            if (address.isEmpty())
                continue;
            in_addr node{};
            ::inet_pton(AF_INET, address.toLatin1().constData(), &node);
            const bool destination = address == QLatin1String(kDestination);
            m_ready.push_back({seq, ttl, node.s_addr, double(ttl) + 0.5 * (m_round % 2),
                               destination ? icmp::AnswerKind::EchoReply : icmp::AnswerKind::TimeExceeded});
        }
        return sent;
    }
    std::optional<icmp::Answer> Collect(icmp::Clock::time_point deadline) override
    {
        if (m_ready.empty()) {
            std::this_thread::sleep_until(deadline);
            return std::nullopt;
        }
        const icmp::Answer answer = m_ready.front();
        m_ready.pop_front();
        m_inFlight.erase(answer.seq);
        return answer;
    }
    std::vector<std::uint16_t> ExpireSentBefore(icmp::Clock::time_point limit) override
    {
        std::vector<std::uint16_t> expired;
        for (auto it = m_inFlight.begin(); it != m_inFlight.end();) {
            if (it->second < limit) {
                expired.push_back(it->first);
                it = m_inFlight.erase(it);
            } else {
                ++it;
            }
        }
        return expired;
    }
    std::size_t InFlight() const override { return m_inFlight.size(); }

private:
    Script m_script;
    std::shared_ptr<Seen> m_seen;
    int m_round = 0;
    std::map<std::uint16_t, icmp::Clock::time_point> m_inFlight;
    std::deque<icmp::Answer> m_ready;
};

bool WaitFor(const std::function<bool()> &done, int ms = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

QString Hop(int ttl)
{
    return QStringLiteral("192.0.2.%1").arg(ttl);
}

// A route of six hops, the destination at the sixth.
QString SixHops(int, int ttl)
{
    return ttl >= 6 ? QString::fromLatin1(kDestination) : Hop(ttl);
}

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
        // TTL 2 moves to another router from the third round on.
        Case{"route change",
             [](int round, int ttl) {
                 return ttl == 2 ? QString::fromLatin1(round < 3 ? "198.51.100.10" : "198.51.100.30") : SixHops(round, ttl);
             },
             4,
             {"1 192.0.2.1 4/4", "2 198.51.100.10 2/2", "2 198.51.100.30 2/2", "3 192.0.2.3 4/4", "4 192.0.2.4 4/4",
              "5 192.0.2.5 4/4", "6 192.0.2.6 4/4"},
             {"hop 2: 198.51.100.10 -> 198.51.100.30"}},
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
