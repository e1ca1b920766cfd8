#include "app/monitor_session.h"

#include "app/hop_line.h"
#include "geo/as_database.h"
#include "geo/dotted_quad.h"
#include "geo/geo_database.h"
#include "trace/icmp_tracer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>

using quokka::geo::AsDatabase;
using quokka::geo::AsMatch;
using quokka::geo::GeoDatabase;
using quokka::geo::GeoRecord;
using quokka::trace::CIcmpTracer;
using quokka::trace::RoundSource;
namespace icmp = quokka::trace::icmp;

namespace quokka::app::monitor {

namespace {

// How long the probing thread waits for answers at most before it looks at its orders (a
// stop, a pause, a new interval) and gives up the probes whose time-out has passed.
constexpr std::chrono::milliseconds kSlice{50};

} // namespace

int ProbeTimeoutMs(int intervalMs)
{
    return std::clamp(intervalMs, 1000, 5000);
}

qint64 MonotonicMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(icmp::Clock::now().time_since_epoch()).count();
}

// What the interface thread and the probing thread share: the orders one way, the receiver
// of the rounds the other.
struct Session::Link {
    std::atomic<int> intervalMs{kDefaultIntervalMs};
    std::atomic<int> ttls{kMaxTtl};
    std::atomic<int> generation{0};
    std::atomic<bool> paused{false};
    std::atomic<bool> sendNow{false}; // the next round goes at once (after a reset)

    // Queues CALL to the session's thread, unless the session has gone.
    void Post(std::function<void(Session &)> call)
    {
        // Under the lock: the session's end clears the receiver before the session goes. A
        // call queued before that is dropped with the session's pending events.
        const std::lock_guard lock(mutex);
        if (receiver)
            QMetaObject::invokeMethod(
                receiver, [session = receiver, call = std::move(call)] { call(*session); }, Qt::QueuedConnection);
    }
    void Deliver(Round round)
    {
        Post([round = std::move(round)](Session &session) { session.Apply(round); });
    }
    void Fail(const QString &text)
    {
        Post([text](Session &session) { session.OnFailed(text); });
    }
    void SendErrors(unsigned outcomes)
    {
        Post([outcomes](Session &session) { session.OnSendErrors(outcomes); });
    }

    std::mutex mutex;
    Session *receiver = nullptr;
};

namespace {

// What ANSWER tells of its probe: who answered after how long, and whether that was
// DESTINATION itself; lost when it arrived after TIMEOUT_MS, even if read in time (the machine
// was busy).
Session::ProbeResult ResultOf(const icmp::Answer &answer, const NetAddress &destination, int timeoutMs)
{
    Session::ProbeResult result;
    if (answer.roundTripMs > double(timeoutMs))
        return result;
    result.address = QString::fromStdString(answer.node.ToString());
    result.rttMs = answer.roundTripMs;
    result.destination = answer.node == destination && answer.kind == icmp::AnswerKind::EchoReply;
    return result;
}

// One round sent and not yet handed over.
struct Pending {
    Session::Round round;
    std::vector<bool> resolved;
    int unresolved = 0;

    void Resolve(int ttl, Session::ProbeResult result)
    {
        const auto index = std::size_t(ttl - 1);
        if (ttl < 1 || index >= resolved.size() || resolved[index])
            return;
        result.ttl = ttl;
        result.atMs = MonotonicMs();
        result.wallTime = QDateTime::currentDateTime();
        round.probes[index] = std::move(result);
        resolved[index] = true;
        --unresolved;
    }
};

// Probes DESTINATION round after round until STOP, handing each resolved round to LINK's
// session in the order the rounds were sent. The source is opened, used and closed here.
void ProbeRounds(const std::shared_ptr<Session::Link> &link, const QString &destination,
                 const Session::OpenSource &openSource, const std::stop_token &stop)
{
    std::unique_ptr<RoundSource> source = openSource ? openSource(destination) : nullptr;
    if (!source) {
        link->Fail(CIcmpTracer::NotPermittedText());
        return;
    }
    const NetAddress destinationNode
        = NetAddress::Parse(destination.toStdString()).value_or(NetAddress::V4(INADDR_NONE));

    std::deque<Pending> pending;
    std::map<std::uint16_t, std::pair<int, int>> bySeq; // in flight: sequence -> round number, TTL
    std::uint16_t nextSeq = 1;
    int number = 0;
    auto nextSend = icmp::Clock::now();
    const auto find = [&pending](int round) -> Pending * {
        if (pending.empty() || round < pending.front().round.number)
            return nullptr;
        const auto index = std::size_t(round - pending.front().round.number);
        return index < pending.size() ? &pending[index] : nullptr;
    };

    while (!stop.stop_requested()) {
        auto now = icmp::Clock::now();
        const int intervalMs = link->intervalMs.load();
        if (link->sendNow.exchange(false))
            nextSend = now;
        const bool paused = link->paused.load();
        if (!paused && now >= nextSend) {
            const int ttls = std::clamp(link->ttls.load(), 1, kMaxTtl);
            Pending round;
            round.round.number = ++number;
            round.round.generation = link->generation.load();
            round.round.probes.resize(std::size_t(ttls));
            round.resolved.assign(std::size_t(ttls), false);
            round.unresolved = ttls;
            pending.push_back(std::move(round));
            const std::vector<RoundSource::Sent> sent = source->SendRound(nextSeq, ttls);
            nextSeq = std::uint16_t(nextSeq + ttls);
            unsigned outcomes = 0;
            std::vector<bool> left(std::size_t(ttls), false);
            for (const RoundSource::Sent &probe : sent) {
                if (probe.ttl < 1 || probe.ttl > ttls)
                    continue;
                left[std::size_t(probe.ttl - 1)] = true;
                if (probe.error == 0) {
                    bySeq[probe.seq] = {number, probe.ttl};
                } else {
                    outcomes |= 1U << unsigned(icmp::OutcomeOfSendError(probe.error));
                    pending.back().Resolve(probe.ttl, {});
                }
            }
            for (int ttl = 1; ttl <= ttls; ++ttl) // not sent at all: lost
                if (!left[std::size_t(ttl - 1)])
                    pending.back().Resolve(ttl, {});
            if (outcomes)
                link->SendErrors(outcomes);
            nextSend = std::max(nextSend + std::chrono::milliseconds(intervalMs), now);
            now = icmp::Clock::now();
        }
        const auto deadline = paused ? now + kSlice : std::min(now + kSlice, nextSend);
        if (const std::optional<icmp::Answer> answer = source->Collect(deadline)) {
            if (const auto it = bySeq.find(answer->seq); it != bySeq.end()) {
                const auto [round, ttl] = it->second;
                bySeq.erase(it);
                if (Pending *p = find(round))
                    p->Resolve(ttl, ResultOf(*answer, destinationNode, ProbeTimeoutMs(intervalMs)));
            }
        }
        const auto limit = icmp::Clock::now() - std::chrono::milliseconds(ProbeTimeoutMs(intervalMs));
        for (const std::uint16_t seq : source->ExpireSentBefore(limit)) {
            if (const auto it = bySeq.find(seq); it != bySeq.end()) {
                if (Pending *p = find(it->second.first))
                    p->Resolve(it->second.second, {});
                bySeq.erase(it);
            }
        }
        while (!pending.empty() && pending.front().unresolved == 0) {
            link->Deliver(std::move(pending.front().round));
            pending.pop_front();
        }
    }
    // The source (a socket, or the probe helper and the wait for its end) closes here.
}

} // namespace

Session::OpenSource Session::DefaultOpenSource()
{
    return [](const QString &destination) { return quokka::trace::OpenRoundSource(destination.toStdString()); };
}

Session::Session(const QString &destination, const ExplorationServices &services, OpenSource openSource, QObject *parent)
    : QObject(parent), m_destination(destination), m_services(services), m_openSource(std::move(openSource)),
      m_link(std::make_shared<Link>())
{
    m_link->receiver = this;
}

Session::~Session()
{
    const std::lock_guard lock(m_link->mutex);
    m_link->receiver = nullptr;
    // m_worker's end then asks the probing loop to stop, and waits for nothing.
}

void Session::Start()
{
    if (std::exchange(m_started, true))
        return;
    m_worker.Run<bool>(
        [link = m_link, destination = m_destination, open = m_openSource](std::stop_token stop) {
            ProbeRounds(link, destination, open, stop);
            return true;
        },
        [](bool) {});
}

void Session::Pause()
{
    m_link->paused = true;
}

void Session::Resume()
{
    m_link->paused = false;
}

bool Session::IsPaused() const
{
    return m_link->paused.load();
}

void Session::SetInterval(int ms)
{
    m_link->intervalMs = std::clamp(ms, kMinIntervalMs, kMaxIntervalMs);
}

int Session::IntervalMs() const
{
    return m_link->intervalMs.load();
}

void Session::Reset()
{
    m_statistics.Reset();
    m_details.clear();
    m_rounds = 0;
    m_eventsSeen = 0;
    m_link->generation = ++m_generation;
    m_link->ttls = m_statistics.ProbeTtls();
    m_link->sendNow = true;
    emit Cleared();
}

void Session::Apply(const Round &round)
{
    if (round.generation != m_generation)
        return; // sent before a reset
    for (const ProbeResult &probe : round.probes) {
        if (probe.address.isEmpty())
            m_statistics.Lost(round.number, probe.ttl, probe.atMs);
        else
            m_statistics.Answered(round.number, probe.ttl, probe.address, probe.rttMs, probe.atMs, probe.wallTime,
                                  probe.destination);
    }
    ++m_rounds;
    m_link->ttls = m_statistics.ProbeTtls();
    for (const RowStatistics &row : m_statistics.Rows()) {
        if (row.address.isEmpty())
            continue;
        const bool known = std::any_of(m_details.cbegin(), m_details.cend(), [&](const RowDetail &detail) {
            return detail.ttl == row.ttl && detail.address == row.address;
        });
        if (!known)
            AddDetail(row.ttl, row.address);
    }
    const std::deque<RouteEvent> &events = m_statistics.Events();
    const quint64 fresh = std::min<quint64>(m_statistics.EventsTotal() - m_eventsSeen, events.size());
    m_eventsSeen = m_statistics.EventsTotal();
    for (auto it = events.end() - qsizetype(fresh); it != events.end(); ++it)
        emit RouteChanged(*it);
    emit RoundResolved(round.number);
}

// The row's AS and place are found at once in the tables, as the exploration finds a hop's;
// its host name on a thread of its own.
void Session::AddDetail(int ttl, const QString &address)
{
    RowDetail detail;
    detail.ttl = ttl;
    detail.address = address;
    std::uint32_t key = 0;
    GeoRecord record{};
    if (quokka::geo::ParseDottedQuad(address.toStdString(), key)) {
        const AsDatabase &asTable = m_services.asTable ? *m_services.asTable : AsDatabase::Instance();
        if (const std::optional<AsMatch> network = asTable.FindKey(key)) {
            detail.asn = network->number;
            detail.asName = QString::fromUtf8(network->name.data(), qsizetype(network->name.size()));
        }
        const GeoDatabase &database = m_services.database ? *m_services.database : GeoDatabase::Instance();
        if (const unsigned char *row = database.FindKey(key))
            std::memcpy(record.bytes.data(), row, GeoRecord::kSize);
    }
    detail.place = hopline::LocationText(ttl, record);
    m_details << detail;
    emit RowAdded(ttl, address);
    if (!m_services.reverseName)
        return;
    m_hostNames.Start([lookup = m_services.reverseName, address] { return lookup(address, kHostNameMs); }, kHostNameMs,
                      [this, generation = m_generation, ttl, address](const std::optional<QString> &name) {
                          if (!name || name->isEmpty() || generation != m_generation)
                              return;
                          for (RowDetail &known : m_details) {
                              if (known.ttl == ttl && known.address == address) {
                                  known.hostName = *name;
                                  emit DetailFound(known);
                              }
                          }
                      });
}

void Session::OnFailed(const QString &text)
{
    m_failure = text;
    emit Failed(text);
}

void Session::OnSendErrors(unsigned outcomes)
{
    for (const auto outcome : {icmp::Outcome::NotPermitted, icmp::Outcome::NoRoute, icmp::Outcome::Refused}) {
        const unsigned bit = 1U << unsigned(outcome);
        if ((outcomes & bit) && !(m_noticesSaid & bit)) {
            m_noticesSaid |= bit;
            emit Notice(CIcmpTracer::OutcomeText(outcome, m_destination));
        }
    }
}

} // namespace quokka::app::monitor
