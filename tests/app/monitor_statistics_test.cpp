// The route monitor's numbers, its history ring and its report texts, checked against values
// worked out by hand.
#include "app/monitor_report.h"
#include "app/monitor_statistics.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <vector>

using namespace quokka::app::monitor;

// Failures show texts as text.
void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

// One call on the statistics: 'A' answered, 'D' the destination answered, 'L' lost, 'R' reset.
// A step of round N happens at N seconds, 12:03:05 + N s local time.
struct Step {
    char kind;
    int round;
    int ttl = 0;
    const char *address = "";
    double rttMs = 0;
};

void Play(Statistics &statistics, const std::vector<Step> &steps)
{
    const QDateTime start(QDate(2026, 12, 9), QTime(12, 3, 5));
    for (const Step &s : steps) {
        const qint64 atMs = s.round * 1000LL;
        if (s.kind == 'L')
            statistics.Lost(s.round, s.ttl, atMs);
        else if (s.kind == 'R')
            statistics.Reset();
        else
            statistics.Answered(s.round, s.ttl, QString::fromUtf8(s.address), s.rttMs, atMs, start.addSecs(s.round),
                                s.kind == 'D');
    }
}

QString Ms(const std::optional<double> &value)
{
    return value ? QString::number(*value, 'f', 3) : QStringLiteral("-");
}

// "ttl address sent/received loss last avg best worst stdev jitter", three decimals.
QString RowText(const RowStatistics &r)
{
    return QStringLiteral("%1 %2 %3/%4 %5 %6 %7 %8 %9 %10 %11")
        .arg(QString::number(r.ttl), r.address, QString::number(r.sent), QString::number(r.received),
             QString::number(r.lossPercent, 'f', 1), Ms(r.lastMs), Ms(r.avgMs), Ms(r.bestMs), Ms(r.worstMs),
             Ms(r.stdevMs), Ms(r.jitterMs));
}

struct Case {
    const char *what;
    std::vector<Step> steps;
    QStringList rows;
    QStringList events;
    int probeTtls;
};

TEST(MonitorStatistics, CountsEachRowAsWorkedOutByHand)
{
    const char *a = "192.0.2.1", *b = "198.51.100.30";
    const Case cases[] = {
        {"no answer: one empty row, all lost", {{'L', 1, 1}, {'L', 2, 1}}, {"1  2/0 100.0 - - - - 0.000 0.000"}, {}, 29},
        {"one answer", {{'A', 1, 1, a, 10}}, {"1 192.0.2.1 1/1 0.0 10.000 10.000 10.000 10.000 0.000 0.000"}, {}, 29},
        {"two answers", {{'A', 1, 1, a, 10}, {'A', 2, 1, a, 14}},
         {"1 192.0.2.1 2/2 0.0 14.000 12.000 10.000 14.000 2.828 4.000"}, {}, 29},
        // Deviations -3.75, 0.25, -2.75, 6.25: squares 60.75 / 3 = 20.25; jitter (4 + 3 + 9) / 3.
        {"many answers and a loss",
         {{'A', 1, 1, a, 10}, {'A', 2, 1, a, 14}, {'L', 3, 1}, {'A', 4, 1, a, 11}, {'A', 5, 1, a, 20}},
         {"1 192.0.2.1 5/4 20.0 20.000 13.750 10.000 20.000 4.500 5.333"}, {}, 29},
        // Losses go to the address that answered last: before any answer to the hop's first
        // address, after B to B, after A again to A. Alternating A and B is no second change.
        {"losses follow the last answer; alternating paths",
         {{'L', 1, 2}, {'A', 2, 2, a, 5}, {'A', 3, 2, b, 7}, {'L', 4, 2}, {'A', 5, 2, a, 5}, {'L', 6, 2},
          {'A', 7, 2, b, 9}},
         {"2 192.0.2.1 4/2 50.0 5.000 5.000 5.000 5.000 0.000 0.000",
          "2 198.51.100.30 3/2 33.3 9.000 8.000 7.000 9.000 1.414 2.000"},
         {"12:03:08 hop 2: 192.0.2.1 -> 198.51.100.30"}, 29},
        {"a change to a hostile address is shown visibly",
         {{'A', 1, 3, a, 1}, {'A', 2, 3, "203.0.113.9\u202e\t", 2}},
         {"3 192.0.2.1 1/1 0.0 1.000 1.000 1.000 1.000 0.000 0.000",
          "3 203.0.113.9\u202e\t 1/1 0.0 2.000 2.000 2.000 2.000 0.000 0.000"},
         {"12:03:07 hop 3: 192.0.2.1 -> 203.0.113.9<U+202E>\u2409"}, 29},
        // The destination at TTL 2 drops TTL 3 and ignores what comes from beyond it later.
        {"the destination cuts the rows",
         {{'A', 1, 1, a, 1}, {'A', 1, 3, b, 3}, {'D', 1, 2, b, 2}, {'A', 2, 3, b, 3}, {'L', 2, 4}, {'L', 2, 2}},
         {"1 192.0.2.1 1/1 0.0 1.000 1.000 1.000 1.000 0.000 0.000",
          "2 198.51.100.30 2/1 50.0 2.000 2.000 2.000 2.000 0.000 0.000"},
         {}, 2},
        {"reset clears rows, events and the destination",
         {{'A', 1, 1, a, 1}, {'A', 2, 1, b, 1}, {'D', 2, 1, b, 1}, {'R', 3}}, {}, {}, 29},
        {"rows in TTL order, then first-seen order",
         {{'A', 1, 2, b, 1}, {'A', 1, 1, b, 1}, {'A', 2, 1, a, 1}},
         {"1 198.51.100.30 1/1 0.0 1.000 1.000 1.000 1.000 0.000 0.000",
          "1 192.0.2.1 1/1 0.0 1.000 1.000 1.000 1.000 0.000 0.000",
          "2 198.51.100.30 1/1 0.0 1.000 1.000 1.000 1.000 0.000 0.000"},
         {"12:03:07 hop 1: 198.51.100.30 -> 192.0.2.1"}, 29},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Statistics statistics;
        Play(statistics, c.steps);
        QStringList rows, events;
        for (const RowStatistics &row : statistics.Rows())
            rows << RowText(row);
        for (const RouteEvent &event : statistics.Events())
            events << event.text;
        EXPECT_EQ(rows, c.rows);
        EXPECT_EQ(events, c.events);
        EXPECT_EQ(statistics.ProbeTtls(), c.probeTtls);
    }
}

// Sample i is resolved at i seconds; every tenth is lost, the others take 10 + i % 3 ms.
TEST(MonitorStatistics, RingFoldsOldSamplesIntoMinutesAndAnswersSpans)
{
    const QString address = QStringLiteral("192.0.2.1");
    Statistics statistics;
    const auto add = [&](int i, qint64 atMs) {
        if (i % 10 == 0)
            statistics.Lost(i, 1, atMs);
        else
            statistics.Answered(i, 1, address, 10 + i % 3, atMs, QDateTime());
    };
    for (int i = 0; i < kRawSamples + 130; ++i)
        add(i, i * 1000LL);
    // Samples 0-129 s are folded: minutes 0 and 1 whole, 10 samples of minute 2.
    struct Span {
        qint64 fromMs, toMs;
        QList<qint64> minutes;       // start of each summary found
        qsizetype samples;           // raw samples found
        int firstRound;              // of the first raw sample; -1: none
    };
    const Span spans[] = {
        {0, 59'999, {0}, 0, -1},
        {59'999, 60'000, {0, 60'000}, 0, -1},
        {125'000, 3'600'000, {120'000}, 3471, 130},
        {3'729'000, 5'000'000, {}, 1, 3729},
    };
    for (const Span &span : spans) {
        const History history = statistics.Query(1, address, span.fromMs, span.toMs);
        QList<qint64> minutes;
        for (const MinuteSummary &minute : history.summaries)
            minutes << minute.startMs;
        EXPECT_EQ(minutes, span.minutes) << span.fromMs;
        ASSERT_EQ(history.samples.size(), span.samples) << span.fromMs;
        if (span.firstRound >= 0) {
            EXPECT_EQ(history.samples.front().round, span.firstRound);
        }
    }
    const History first = statistics.Query(1, address, 0, 0);
    ASSERT_EQ(first.summaries.size(), 1);
    // 60 samples, 6 lost; sum 600 + 20 * (0 + 1 + 2) less the lost ones' 66 ms.
    const MinuteSummary m = first.summaries.front();
    EXPECT_EQ(std::tuple(m.count, m.lost, m.minMs, m.maxMs, m.sumMs), std::tuple(60, 6, 10.0, 12.0, 594.0));
    const History last = statistics.Query(1, address, 3'729'000, 3'729'000);
    EXPECT_FALSE(statistics.Query(1, address, 130'000, 130'000).samples.front().rttMs); // sample 130 was lost
    EXPECT_EQ(last.samples.front().rttMs, 10.0);

    // A day and two minutes on, minutes 0 and 1 have ended more than a day ago; minute 2 stays
    // and takes sample 130.
    add(3731, 24 * 3600'000LL + 120'000);
    const History aged = statistics.Query(1, address, 0, 10 * 24 * 3600'000LL);
    ASSERT_EQ(aged.summaries.size(), 1);
    EXPECT_EQ(std::tuple(aged.summaries[0].startMs, aged.summaries[0].count, aged.summaries[0].lost, aged.summaries[0].sumMs),
              std::tuple(qint64(120'000), 11, 2, 99.0));
    EXPECT_EQ(aged.samples.size(), kRawSamples);
    EXPECT_EQ(statistics.Rows().front().sent, kRawSamples + 131); // the statistics keep every probe

    statistics.Reset();
    EXPECT_TRUE(statistics.Rows().isEmpty());
    EXPECT_TRUE(statistics.Query(1, address, 0, 10 * 24 * 3600'000LL).samples.isEmpty());
}

TEST(MonitorReport, LinesJsonAndCsvShowStrangersTextInert)
{
    Statistics statistics;
    Play(statistics, {{'A', 1, 1, "192.0.2.1", 1}, {'L', 1, 2}, {'A', 1, 3, "203.0.113.9\u202e", 4},
                      {'A', 2, 1, "192.0.2.1", 3}});
    RowDetail hostile{1, QStringLiteral("192.0.2.1"), QStringLiteral("evil\thost\n.example\u202e"), 64500,
                      QStringLiteral("=HYPERLINK(\"x\")"), QStringLiteral("-Sydney, @region, Australia")};
    const QList<RowDetail> details{hostile};

    EXPECT_EQ(ReportLines(statistics, details),
              (QStringList{QStringLiteral("monitor\t1\t192.0.2.1\t2\t2\t0.0\t3.0\t2.0\t1.0\t3.0\t1.4\t2.0\t"
                                          "evil\u2409host\u240a.example<U+202E>\t64500\t=HYPERLINK(\"x\")\t"
                                          "-Sydney, @region, Australia"),
                           QStringLiteral("monitor\t2\t\t1\t0\t100.0\t-\t-\t-\t-\t-\t-\t\t\t\t"),
                           QStringLiteral("monitor\t3\t203.0.113.9<U+202E>\t1\t1\t0.0\t4.0\t4.0\t4.0\t4.0\t0.0\t0.0\t\t\t\t")}));

    const QStringList csv = QString::fromUtf8(ToCsv(statistics, details)).split(QStringLiteral("\r\n"));
    ASSERT_EQ(csv.size(), 5); // header, three rows, the empty text after the last line end
    EXPECT_EQ(csv[0], QStringLiteral("\"ttl\",\"address\",\"sent\",\"received\",\"loss_percent\",\"last_ms\",\"avg_ms\","
                                     "\"best_ms\",\"worst_ms\",\"stdev_ms\",\"jitter_ms\",\"hostname\",\"asn\",\"as_name\","
                                     "\"place\""));
    EXPECT_EQ(csv[1], QStringLiteral("\"1\",\"192.0.2.1\",\"2\",\"2\",\"0.0\",\"3.0\",\"2.0\",\"1.0\",\"3.0\",\"1.4\","
                                     "\"2.0\",\"evil\u2409host\u240a.example<U+202E>\",\"64500\","
                                     "\"'=HYPERLINK(\"\"x\"\")\",\"'-Sydney, @region, Australia\""));

    const QJsonObject json = QJsonDocument::fromJson(ToJson(statistics, details)).object();
    const QJsonArray rows = json[QStringLiteral("rows")].toArray();
    ASSERT_EQ(rows.size(), 3);
    const QJsonObject first = rows[0].toObject(), second = rows[1].toObject();
    EXPECT_EQ(first[QStringLiteral("hostname")].toString(), hostile.hostName); // JSON keeps it exact, escaped
    EXPECT_EQ(first[QStringLiteral("avg_ms")].toDouble(), 2.0);
    EXPECT_EQ(QJsonDocument(first[QStringLiteral("samples")].toArray()).toJson(QJsonDocument::Compact),
              R"([{"at_ms":1000,"round":1,"rtt_ms":1},{"at_ms":2000,"round":2,"rtt_ms":3}])");
    EXPECT_EQ(QJsonDocument(second[QStringLiteral("samples")].toArray()).toJson(QJsonDocument::Compact),
              R"([{"at_ms":1000,"round":1,"rtt_ms":null}])");
    EXPECT_TRUE(second[QStringLiteral("address")].isNull());
    EXPECT_TRUE(second[QStringLiteral("stdev_ms")].isNull());
    EXPECT_TRUE(json[QStringLiteral("destination_ttl")].isNull());
}

} // namespace
