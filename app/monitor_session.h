#pragma once
// One route monitor: probes one destination round after round on a thread of its own and
// keeps the statistics, on the interface thread, of every round as it is resolved. Each
// round sends one probe per TTL (1 to the destination's TTL, kMaxTtl until it is known); a
// probe is lost when no answer came within its time-out, so rounds overlap when the interval
// is short. Rounds are handed over in the order they were sent, each once all its probes are
// resolved, so the statistics change once per round. The names, AS and place of each new
// address come from the same services as the exploration's.
#include "app/exploration.h"
#include "app/monitor_report.h"
#include "app/monitor_statistics.h"
#include "base/host_names.h"
#include "base/worker.h"
#include "trace/round_prober.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

namespace quokka::app::monitor {

// The time between rounds: 10 ms to 60 s, 1 s unless set.
constexpr int kMinIntervalMs = 10;
constexpr int kMaxIntervalMs = 60'000;
constexpr int kDefaultIntervalMs = 1000;
// A host name is waited for this long; nothing else waits for it.
constexpr int kHostNameMs = 4000;

// How long a probe sent with INTERVALMS between rounds waits for its answer: the interval,
// at least 1 s and at most 5 s.
int ProbeTimeoutMs(int intervalMs);

// The milliseconds of the monotonic clock the statistics are kept in.
qint64 MonotonicMs();

class Session : public QObject {
    Q_OBJECT

public:
    // Opens the source of rounds for a destination (dotted IPv4); called on the probing
    // thread, where the source is used and destroyed. Null when none can be opened.
    using OpenSource = std::function<std::unique_ptr<quokka::trace::RoundSource>(const QString &destination)>;
    static OpenSource DefaultOpenSource();

    // Monitors DESTINATION with SERVICES' reverse names and tables; OPENSOURCE probes.
    Session(const QString &destination, const ExplorationServices &services, OpenSource openSource = DefaultOpenSource(),
            QObject *parent = nullptr);
    // Returns at once: the probing thread sees the stop within a few tens of milliseconds,
    // closes its source there and ends (quokka::WaitForWorkers waits for it).
    ~Session() override;

    void Start();
    void Pause();
    void Resume();
    bool IsPaused() const;
    // Forgets every round and row; the probes still in flight count for nothing.
    void Reset();
    // Clamped to kMinIntervalMs..kMaxIntervalMs; the next round is timed by it.
    void SetInterval(int ms);
    int IntervalMs() const;

    const QString &Destination() const { return m_destination; }
    const Statistics &Stats() const { return m_statistics; }
    // The names, AS and place known of each row with an address, in the order they appeared.
    const QList<RowDetail> &Details() const { return m_details; }
    // Rounds resolved since the start or the last reset.
    int RoundsResolved() const { return m_rounds; }
    // Why probing failed, empty while it has not.
    const QString &Failure() const { return m_failure; }

    // What the probing thread hands over; public for its queued calls only.
    struct ProbeResult {
        int ttl = 0;
        QString address; // empty: lost
        double rttMs = 0;
        bool destination = false;
        qint64 atMs = 0;
        QDateTime wallTime;
    };
    struct Round {
        int number = 0;
        int generation = 0;
        std::vector<ProbeResult> probes; // in TTL order
    };
    struct Link; // shared with the probing thread
    friend struct Link;

signals:
    // A round is resolved and the statistics hold it: the one update per round.
    void RoundResolved(int round);
    // A row with an address has appeared (its AS and place already in Details()).
    void RowAdded(int ttl, const QString &address);
    // A row's details have changed: its host name has come.
    void DetailFound(const quokka::app::monitor::RowDetail &detail);
    void RouteChanged(const quokka::app::monitor::RouteEvent &event);
    // Everything was forgotten (Reset).
    void Cleared();
    // No probes can be sent (no socket, no helper): TEXT says why; probing has ended.
    void Failed(const QString &text);
    // Some probes could not be sent (refused by the system, no route): TEXT says why, once each.
    void Notice(const QString &text);

private:
    void Apply(const Round &round);
    void AddDetail(int ttl, const QString &address);
    void OnFailed(const QString &text);
    void OnSendErrors(unsigned outcomes);

    const QString m_destination;
    const ExplorationServices m_services;
    const OpenSource m_openSource;
    std::shared_ptr<Link> m_link;
    Statistics m_statistics;
    QList<RowDetail> m_details;
    int m_rounds = 0;
    int m_generation = 0;
    quint64 m_eventsSeen = 0;
    unsigned m_noticesSaid = 0;
    bool m_started = false;
    QString m_failure;
    quokka::NameLookups m_hostNames{this};
    quokka::Worker m_worker{this};
};

} // namespace quokka::app::monitor
