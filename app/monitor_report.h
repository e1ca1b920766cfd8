#pragma once
// The route monitor's report texts: the `--report` lines, and the JSON and CSV a person saves.
// They follow the run's reports (app/run_report.h): host names, AS names and places come from
// strangers, so the lines and CSV show them visibly (quokka::VisibleText) and the CSV defuses
// cells a spreadsheet would take for formulas; the JSON carries them as they are, escaped by
// Qt's JSON writer.
#include "app/monitor_statistics.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace quokka::app::monitor {

// What the run's services found out about one row's address; empty when unknown.
struct RowDetail {
    int ttl = 0;
    QString address;
    QString hostName;
    std::optional<quint32> asn;
    QString asName; // the AS's organisation
    QString place;  // as the trace list names it
};

// The numbers of ROW as the report lines, the CSV and the monitor's table show them: sent,
// received, loss percent, last, avg, best, worst, stdev, jitter (ms with one decimal; "-"
// where nothing was received).
QStringList NumberFields(const RowStatistics &row);

// One line per row, in TTL order and first-seen order, tab-separated: "monitor", ttl,
// address, sent, received, loss percent, last, avg, best, worst, stdev, jitter (ms with one
// decimal; "-" where nothing was received), host, asn, as name, place. DETAILS are matched
// to the rows by TTL and address; a row without one has empty names.
QStringList ReportLines(const Statistics &statistics, const QList<RowDetail> &details);

// Every row's statistics, names and per-round samples (round, at_ms, rtt_ms or null; the
// older minutes as summaries), and the route changes.
QJsonObject JsonObject(const Statistics &statistics, const QList<RowDetail> &details);
QByteArray ToJson(const Statistics &statistics, const QList<RowDetail> &details);

// The statistics as CSV, written as the run's CSV is: a header row, every cell quoted.
QByteArray ToCsv(const Statistics &statistics, const QList<RowDetail> &details);

} // namespace quokka::app::monitor
