#pragma once
// A source of rounds for the monitor's tests: each probe is answered at once by whoever a
// script names for its round and TTL, or stays in flight until the session gives it up.
#include "trace/round_prober.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>
#include <QThread>
#include <QTimer>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace testmonitor {

namespace icmp = quokka::trace::icmp;

constexpr const char *kDestination = "192.0.2.6";

// Who answers a round's probe at a TTL: an address, nobody (empty), "!" when the system
// refuses to send the probe, or "~" and an address for an answer that arrived after any
// time-out but is handed out at once (as on a busy machine).
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
            const QString address = m_script(m_round, ttl);
            sent.push_back({seq, ttl, now, address == QLatin1String("!") ? EPERM : 0});
            if (address == QLatin1String("!"))
                continue;
            m_inFlight[seq] = now;
            if (address.isEmpty())
                continue;
            const bool late = address.startsWith(QLatin1Char('~'));
            in_addr node{};
            ::inet_pton(AF_INET, address.mid(late ? 1 : 0).toLatin1().constData(), &node);
            const bool destination = address == QLatin1String(kDestination);
            m_ready.push_back({seq, ttl, quokka::NetAddress::V4(node.s_addr),
                               late ? 6000.0 : double(ttl) + 0.5 * (m_round % 2),
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

// Runs the event loop until DONE or MS have passed, without spinning: a timer wakes it.
inline bool WaitFor(const std::function<bool()> &done, int ms = 5000)
{
    QTimer tick;
    tick.start(5);
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

inline QString Hop(int ttl)
{
    return QStringLiteral("192.0.2.%1").arg(ttl);
}

// A route of six hops, the destination at the sixth.
inline QString SixHops(int, int ttl)
{
    return ttl >= 6 ? QString::fromLatin1(kDestination) : Hop(ttl);
}

} // namespace testmonitor
