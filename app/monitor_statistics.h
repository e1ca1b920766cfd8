#pragma once
// The route monitor's numbers: every round probes each TTL once, and each resolved probe (its
// answer came, or its time-out passed) is counted against one row. A row is one (TTL, address)
// pair; a TTL where nothing has answered yet has one row with an empty address. The monitor
// needs no clock of its own: every call says when it happens (milliseconds of a monotonic
// clock, and the wall-clock time where a text needs one).
#include <QDateTime>
#include <QList>
#include <QString>
#include <deque>
#include <optional>
#include <vector>

namespace quokka::app::monitor {

// How many TTLs a round probes while the destination's TTL is unknown.
constexpr int kMaxTtl = 29;
// Raw samples kept per row; older ones are folded into one-minute summaries.
constexpr int kRawSamples = 3600;
constexpr qint64 kSummaryMs = 60'000;
// Summaries older than this (before the row's newest sample) are dropped.
constexpr qint64 kSummaryKeptMs = 24 * 3600'000LL;
// Route changes remembered; the oldest go first.
constexpr int kMaxEvents = 1000;

// One resolved probe.
struct Sample {
    qint64 atMs = 0;
    int round = 0;
    std::optional<double> rttMs; // none: lost
};

// Samples older than the raw ring, one per minute that had any.
struct MinuteSummary {
    qint64 startMs = 0; // the minute's start, a multiple of kSummaryMs
    int count = 0;      // resolved probes
    int lost = 0;
    double minMs = 0, maxMs = 0, sumMs = 0; // of the received ones (0 when none was)
};

// One row's statistics, in milliseconds. The times are absent while nothing was received.
struct RowStatistics {
    int ttl = 0;
    QString address; // empty: nothing has answered at this TTL
    int sent = 0;    // resolved probes
    int received = 0;
    double lossPercent = 0;
    std::optional<double> lastMs, avgMs, bestMs, worstMs;
    double stdevMs = 0;  // sample standard deviation; 0 below two answers
    double jitterMs = 0; // mean absolute difference of consecutive round trips; 0 below two
};

struct RouteEvent {
    qint64 atMs = 0;
    int ttl = 0;
    QString text; // "HH:MM:SS hop N: OLD -> NEW", addresses made visible
};

// What a span query finds for one row.
struct History {
    QList<Sample> samples;         // raw, oldest first
    QList<MinuteSummary> summaries; // minutes overlapping the span, oldest first
};

class Statistics {
public:
    // The answer of ROUND's probe at TTL from ADDRESS after RTTMS, resolved at ATMS (monotonic)
    // and WALLTIME (for a route change's text). DESTINATION: the explored address answered,
    // so TTLs beyond this one are dropped and no longer probed.
    void Answered(int round, int ttl, const QString &address, double rttMs, qint64 atMs, const QDateTime &wallTime,
                  bool destination = false);
    // ROUND's probe at TTL timed out at ATMS. It counts against the address that answered at
    // TTL most recently (the empty-address row while none has).
    void Lost(int round, int ttl, qint64 atMs);
    void Reset();

    // 1 to this TTL is what a round probes: kMaxTtl until the destination answered.
    int ProbeTtls() const;
    std::optional<int> DestinationTtl() const { return m_destinationTtl; }
    // Every row, in TTL order and at one TTL in the order the addresses first answered.
    QList<RowStatistics> Rows() const;
    const std::deque<RouteEvent> &Events() const { return m_events; }
    // Route changes since the start or the last reset, also those no longer remembered.
    quint64 EventsTotal() const { return m_eventsTotal; }
    // The samples of the row (TTL, ADDRESS) resolved in [FROMMS, TOMS], and the summaries of
    // the minutes that overlap it.
    History Query(int ttl, const QString &address, qint64 fromMs, qint64 toMs) const;

private:
    // Memory per row: kRawSamples raw samples in a ring (32 bytes each, 115,200 bytes when
    // full) and at most 1,441 minute summaries (40 bytes each, about 62,000 bytes in the
    // deque's 512-byte blocks): under 180 KiB per row, some 5.1 MiB for 30 rows, however long
    // the monitor runs.
    class Ring {
    public:
        void Add(const Sample &sample);
        History Query(qint64 fromMs, qint64 toMs) const;

    private:
        void Fold(const Sample &sample);

        std::vector<Sample> m_samples; // grows to kRawSamples, then m_oldest wraps around
        std::size_t m_oldest = 0;
        std::deque<MinuteSummary> m_summaries;
    };

    struct Row {
        QString address;
        int sent = 0, received = 0;
        double lastMs = 0, bestMs = 0, worstMs = 0;
        double meanMs = 0, squaresMs = 0; // running mean and sum of squared deviations (Welford)
        double jitterSumMs = 0;
        Ring history;
    };

    struct Hop {
        std::vector<Row> rows;
        QString lastAddress; // the address that answered most recently; empty: none yet
    };

    Row &RowAt(int ttl, const QString &address);
    bool Beyond(int ttl) const;

    std::vector<Hop> m_hops; // index: TTL - 1
    std::optional<int> m_destinationTtl;
    std::deque<RouteEvent> m_events;
    quint64 m_eventsTotal = 0;
};

} // namespace quokka::app::monitor
