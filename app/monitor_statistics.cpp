#include "app/monitor_statistics.h"

#include "base/visible_text.h"

#include <algorithm>
#include <cmath>

using quokka::VisibleText;

namespace quokka::app::monitor {

static_assert(sizeof(Sample) == 32 && sizeof(MinuteSummary) == 40, "the memory per row stated in the header");

namespace {

qint64 MinuteStart(qint64 atMs)
{
    return atMs - ((atMs % kSummaryMs) + kSummaryMs) % kSummaryMs;
}

} // namespace

void Statistics::Ring::Add(const Sample &sample)
{
    if (m_samples.size() < std::size_t(kRawSamples)) {
        // Grown by hand so that a full ring holds exactly kRawSamples, not a power of two.
        if (m_samples.size() == m_samples.capacity())
            m_samples.reserve(std::min(std::size_t(kRawSamples), std::max<std::size_t>(64, 2 * m_samples.size())));
        m_samples.push_back(sample);
        return;
    }
    Fold(m_samples[m_oldest]);
    m_samples[m_oldest] = sample;
    m_oldest = (m_oldest + 1) % m_samples.size();
    // Summaries whose minute ended more than a day before the newest sample go.
    while (!m_summaries.empty() && m_summaries.front().startMs + kSummaryMs <= sample.atMs - kSummaryKeptMs)
        m_summaries.pop_front();
}

void Statistics::Ring::Fold(const Sample &sample)
{
    const qint64 start = MinuteStart(sample.atMs);
    auto it = m_summaries.end();
    while (it != m_summaries.begin() && std::prev(it)->startMs >= start)
        --it;
    if (it == m_summaries.end() || it->startMs != start)
        it = m_summaries.insert(it, MinuteSummary{start, 0, 0, 0, 0, 0});
    MinuteSummary &minute = *it;
    if (sample.rttMs) {
        const double rtt = *sample.rttMs;
        const bool first = minute.count == minute.lost;
        minute.minMs = first ? rtt : std::min(minute.minMs, rtt);
        minute.maxMs = first ? rtt : std::max(minute.maxMs, rtt);
        minute.sumMs += rtt;
    } else {
        ++minute.lost;
    }
    ++minute.count;
}

History Statistics::Ring::Query(qint64 fromMs, qint64 toMs) const
{
    History history;
    for (const MinuteSummary &minute : m_summaries)
        if (minute.startMs <= toMs && minute.startMs + kSummaryMs > fromMs)
            history.summaries << minute;
    for (std::size_t i = 0; i < m_samples.size(); ++i) {
        const Sample &sample = m_samples[(m_oldest + i) % m_samples.size()];
        if (sample.atMs >= fromMs && sample.atMs <= toMs)
            history.samples << sample;
    }
    return history;
}

bool Statistics::Beyond(int ttl) const
{
    return ttl < 1 || ttl > ProbeTtls();
}

Statistics::Row &Statistics::RowAt(int ttl, const QString &address)
{
    if (m_hops.size() < std::size_t(ttl))
        m_hops.resize(std::size_t(ttl));
    std::vector<Row> &rows = m_hops[std::size_t(ttl - 1)].rows;
    for (Row &row : rows)
        if (row.address == address)
            return row;
    rows.push_back(Row{});
    rows.back().address = address;
    return rows.back();
}

void Statistics::Answered(int round, int ttl, const QString &address, double rttMs, qint64 atMs,
                          const QDateTime &wallTime, bool destination)
{
    if (Beyond(ttl))
        return;
    if (destination) {
        m_destinationTtl = ttl;
        if (m_hops.size() > std::size_t(ttl))
            m_hops.resize(std::size_t(ttl));
    }
    if (m_hops.size() < std::size_t(ttl))
        m_hops.resize(std::size_t(ttl));
    Hop &hop = m_hops[std::size_t(ttl - 1)];
    const bool known = std::any_of(hop.rows.begin(), hop.rows.end(), [&](const Row &r) { return r.address == address; });
    if (!known && hop.lastAddress.isEmpty() && !hop.rows.empty()) {
        // The first answer at this TTL: the losses before it were this hop's.
        hop.rows.front().address = address;
    } else if (!known && !hop.lastAddress.isEmpty()) {
        const QString time = wallTime.toLocalTime().toString(QStringLiteral("HH:mm:ss"));
        m_events.push_back({atMs, ttl,
                            QStringLiteral("%1 hop %2: %3 -> %4")
                                .arg(time, QString::number(ttl), VisibleText(hop.lastAddress), VisibleText(address))});
        ++m_eventsTotal;
        if (m_events.size() > std::size_t(kMaxEvents))
            m_events.pop_front();
    }
    hop.lastAddress = address;
    Row &row = RowAt(ttl, address);
    ++row.sent;
    ++row.received;
    if (row.received > 1)
        row.jitterSumMs += std::abs(rttMs - row.lastMs);
    row.bestMs = row.received > 1 ? std::min(row.bestMs, rttMs) : rttMs;
    row.worstMs = row.received > 1 ? std::max(row.worstMs, rttMs) : rttMs;
    const double delta = rttMs - row.meanMs;
    row.meanMs += delta / row.received;
    row.squaresMs += delta * (rttMs - row.meanMs);
    row.lastMs = rttMs;
    row.history.Add({atMs, round, rttMs});
}

void Statistics::Lost(int round, int ttl, qint64 atMs)
{
    if (Beyond(ttl))
        return;
    if (m_hops.size() < std::size_t(ttl))
        m_hops.resize(std::size_t(ttl));
    Row &row = RowAt(ttl, m_hops[std::size_t(ttl - 1)].lastAddress);
    ++row.sent;
    row.history.Add({atMs, round, std::nullopt});
}

void Statistics::Reset()
{
    m_hops.clear();
    m_destinationTtl.reset();
    m_events.clear();
    m_eventsTotal = 0;
}

int Statistics::ProbeTtls() const
{
    return m_destinationTtl.value_or(kMaxTtl);
}

QList<RowStatistics> Statistics::Rows() const
{
    QList<RowStatistics> list;
    for (std::size_t i = 0; i < m_hops.size(); ++i) {
        for (const Row &row : m_hops[i].rows) {
            RowStatistics s;
            s.ttl = int(i + 1);
            s.address = row.address;
            s.sent = row.sent;
            s.received = row.received;
            s.lossPercent = row.sent ? 100.0 * (row.sent - row.received) / row.sent : 0;
            if (row.received > 0) {
                s.lastMs = row.lastMs;
                s.avgMs = row.meanMs;
                s.bestMs = row.bestMs;
                s.worstMs = row.worstMs;
            }
            if (row.received > 1) {
                s.stdevMs = std::sqrt(row.squaresMs / (row.received - 1));
                s.jitterMs = row.jitterSumMs / (row.received - 1);
            }
            list << s;
        }
    }
    return list;
}

History Statistics::Query(int ttl, const QString &address, qint64 fromMs, qint64 toMs) const
{
    if (ttl < 1 || std::size_t(ttl) > m_hops.size())
        return {};
    for (const Row &row : m_hops[std::size_t(ttl - 1)].rows)
        if (row.address == address)
            return row.history.Query(fromMs, toMs);
    return {};
}

} // namespace quokka::app::monitor
