#include "app/monitor_report.h"

#include "app/run_report.h"
#include "base/visible_text.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <limits>

using quokka::VisibleText;
using quokka::app::runreport::CsvCell;

namespace quokka::app::monitor {

namespace {

RowDetail DetailOf(const RowStatistics &row, const QList<RowDetail> &details)
{
    for (const RowDetail &detail : details)
        if (detail.ttl == row.ttl && detail.address == row.address)
            return detail;
    return {row.ttl, row.address, {}, {}, {}, {}};
}

QString Milliseconds(const std::optional<double> &value)
{
    return value ? QString::number(*value, 'f', 1) : QStringLiteral("-");
}

QString AsNumber(const RowDetail &detail)
{
    return detail.asn ? QString::number(*detail.asn) : QString();
}

} // namespace

QStringList NumberFields(const RowStatistics &row)
{
    const auto received = [&](double value) { return Milliseconds(row.received ? std::optional(value) : std::nullopt); };
    return {QString::number(row.sent), QString::number(row.received), QString::number(row.lossPercent, 'f', 1),
            Milliseconds(row.lastMs), Milliseconds(row.avgMs), Milliseconds(row.bestMs), Milliseconds(row.worstMs),
            received(row.stdevMs), received(row.jitterMs)};
}

namespace {

QJsonValue OrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

QJsonValue OrNull(const std::optional<double> &value)
{
    return value ? QJsonValue(*value) : QJsonValue();
}

QJsonObject RowObject(const Statistics &statistics, const RowStatistics &row, const RowDetail &detail)
{
    const History history = statistics.Query(row.ttl, row.address, std::numeric_limits<qint64>::min(),
                                             std::numeric_limits<qint64>::max());
    QJsonArray samples;
    for (const Sample &sample : history.samples)
        samples.append(QJsonObject{{QStringLiteral("round"), sample.round},
                                   {QStringLiteral("at_ms"), sample.atMs},
                                   {QStringLiteral("rtt_ms"), OrNull(sample.rttMs)}});
    QJsonArray minutes;
    for (const MinuteSummary &minute : history.summaries) {
        const bool any = minute.count > minute.lost;
        minutes.append(QJsonObject{{QStringLiteral("start_ms"), minute.startMs},
                                   {QStringLiteral("count"), minute.count},
                                   {QStringLiteral("lost"), minute.lost},
                                   {QStringLiteral("min_ms"), any ? QJsonValue(minute.minMs) : QJsonValue()},
                                   {QStringLiteral("max_ms"), any ? QJsonValue(minute.maxMs) : QJsonValue()},
                                   {QStringLiteral("sum_ms"), minute.sumMs}});
    }
    const bool any = row.received > 0;
    return {
        {QStringLiteral("ttl"), row.ttl},
        {QStringLiteral("address"), OrNull(row.address)},
        {QStringLiteral("hostname"), OrNull(detail.hostName)},
        {QStringLiteral("asn"), detail.asn ? QJsonValue(qint64(*detail.asn)) : QJsonValue()},
        {QStringLiteral("as_name"), detail.asn ? QJsonValue(detail.asName) : QJsonValue()},
        {QStringLiteral("place"), OrNull(detail.place)},
        {QStringLiteral("sent"), row.sent},
        {QStringLiteral("received"), row.received},
        {QStringLiteral("loss_percent"), row.lossPercent},
        {QStringLiteral("last_ms"), OrNull(row.lastMs)},
        {QStringLiteral("avg_ms"), OrNull(row.avgMs)},
        {QStringLiteral("best_ms"), OrNull(row.bestMs)},
        {QStringLiteral("worst_ms"), OrNull(row.worstMs)},
        {QStringLiteral("stdev_ms"), any ? QJsonValue(row.stdevMs) : QJsonValue()},
        {QStringLiteral("jitter_ms"), any ? QJsonValue(row.jitterMs) : QJsonValue()},
        {QStringLiteral("samples"), samples},
        {QStringLiteral("minutes"), minutes},
    };
}

} // namespace

QStringList ReportLines(const Statistics &statistics, const QList<RowDetail> &details)
{
    QStringList lines;
    for (const RowStatistics &row : statistics.Rows()) {
        const RowDetail detail = DetailOf(row, details);
        lines << (QStringList{QStringLiteral("monitor"), QString::number(row.ttl), VisibleText(row.address)}
                  + NumberFields(row)
                  + QStringList{VisibleText(detail.hostName), AsNumber(detail), VisibleText(detail.asName),
                                VisibleText(detail.place)})
                     .join(QLatin1Char('\t'));
    }
    return lines;
}

QJsonObject JsonObject(const Statistics &statistics, const QList<RowDetail> &details)
{
    QJsonArray rows;
    for (const RowStatistics &row : statistics.Rows())
        rows.append(RowObject(statistics, row, DetailOf(row, details)));
    QJsonArray events;
    for (const RouteEvent &event : statistics.Events())
        events.append(event.text);
    const std::optional<int> destination = statistics.DestinationTtl();
    return {
        {QStringLiteral("destination_ttl"), destination ? QJsonValue(*destination) : QJsonValue()},
        {QStringLiteral("rows"), rows},
        {QStringLiteral("route_changes"), events},
    };
}

QByteArray ToJson(const Statistics &statistics, const QList<RowDetail> &details)
{
    return QJsonDocument(JsonObject(statistics, details)).toJson(QJsonDocument::Indented);
}

QByteArray ToCsv(const Statistics &statistics, const QList<RowDetail> &details)
{
    static const QStringList header{
        QStringLiteral("ttl"), QStringLiteral("address"), QStringLiteral("sent"), QStringLiteral("received"),
        QStringLiteral("loss_percent"), QStringLiteral("last_ms"), QStringLiteral("avg_ms"), QStringLiteral("best_ms"),
        QStringLiteral("worst_ms"), QStringLiteral("stdev_ms"), QStringLiteral("jitter_ms"), QStringLiteral("hostname"),
        QStringLiteral("asn"), QStringLiteral("as_name"), QStringLiteral("place")};
    QList<QStringList> rows;
    QStringList cells;
    for (const QString &name : header)
        cells << CsvCell(name, false);
    rows << cells;
    for (const RowStatistics &row : statistics.Rows()) {
        const RowDetail detail = DetailOf(row, details);
        cells = {CsvCell(QString::number(row.ttl), false), CsvCell(row.address, true)};
        for (const QString &number : NumberFields(row))
            cells << CsvCell(number, false);
        cells << CsvCell(detail.hostName, true) << CsvCell(AsNumber(detail), false) << CsvCell(detail.asName, true)
              << CsvCell(detail.place, true);
        rows << cells;
    }
    return runreport::CsvDocument(rows);
}

} // namespace quokka::app::monitor
