#include "app/run_report.h"

#include "base/visible_text.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <charconv>

using quokka::VisibleText;

namespace quokka::app {

namespace runreport {

namespace {

QString Number(double value)
{
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value); // shortest exact
    return QString::fromLatin1(buffer, int(result.ptr - buffer));
}

QString AsNumber(const HopDetail &hop)
{
    return hop.asn ? QString::number(*hop.asn) : QString();
}

QJsonValue OrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

QJsonValue OrNull(const std::optional<double> &value)
{
    return value ? QJsonValue(*value) : QJsonValue();
}

QJsonObject HopObject(const HopDetail &hop)
{
    return {
        {QStringLiteral("ttl"), hop.ttl},
        {QStringLiteral("address"), hop.address},
        {QStringLiteral("rtt_ms"), hop.rttMs},
        {QStringLiteral("hostname"), OrNull(hop.hostName)},
        {QStringLiteral("asn"), hop.asn ? QJsonValue(qint64(*hop.asn)) : QJsonValue()},
        {QStringLiteral("as_name"), hop.asn ? QJsonValue(hop.asName) : QJsonValue()},
        {QStringLiteral("country_code"), OrNull(hop.countryCode)},
        {QStringLiteral("country"), OrNull(hop.country)},
        {QStringLiteral("region"), OrNull(hop.region)},
        {QStringLiteral("city"), OrNull(hop.city)},
        {QStringLiteral("latitude"), OrNull(hop.latitude)},
        {QStringLiteral("longitude"), OrNull(hop.longitude)},
        {QStringLiteral("line"), hop.line},
    };
}

} // namespace

// A text from outside that a spreadsheet would take for a formula gets a leading apostrophe,
// which spreadsheets show as text.
QString CsvCell(const QString &value, bool untrusted)
{
    QString text = untrusted ? VisibleText(value) : value;
    static const QString formulaStarts = QStringLiteral("=+-@");
    if (untrusted && !text.isEmpty() && formulaStarts.contains(text.front()))
        text.prepend(QLatin1Char('\''));
    text.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QByteArray CsvDocument(const QList<QStringList> &rows)
{
    QString text;
    for (const QStringList &cells : rows)
        text += cells.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    return text.toUtf8();
}

QString DetailFields(const HopDetail &hop)
{
    return QStringList{QString::number(hop.ttl), hop.address, VisibleText(hop.hostName), AsNumber(hop),
                       VisibleText(hop.asName), VisibleText(hop.place), QString::number(hop.rttMs)}
        .join(QLatin1Char('\t'));
}

QStringList ToolTipLines(const HopDetail &hop)
{
    QStringList lines{QStringLiteral("Hop %1").arg(hop.ttl), QStringLiteral("Address: %1").arg(hop.address)};
    if (!hop.hostName.isEmpty())
        lines << QStringLiteral("Host name: %1").arg(VisibleText(hop.hostName));
    if (hop.asn)
        lines << QStringLiteral("Network: AS%1 %2").arg(*hop.asn).arg(VisibleText(hop.asName)).trimmed();
    lines << QStringLiteral("Place: %1").arg(VisibleText(hop.place))
          << QStringLiteral("Round trip: %1 ms").arg(hop.rttMs);
    return lines;
}

QByteArray ToJson(const RunReport &report)
{
    QJsonArray hops;
    for (const HopDetail &hop : report.hops)
        hops.append(HopObject(hop));
    const QJsonObject root{
        {QStringLiteral("domain"), report.domain},
        {QStringLiteral("target"), OrNull(report.target)},
        {QStringLiteral("whois"), QJsonArray::fromStringList(report.whoisLines)},
        {QStringLiteral("hops"), hops},
        {QStringLiteral("completed"), report.completed},
        {QStringLiteral("total_ms"), report.totalMs},
    };
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

QByteArray ToCsv(const RunReport &report)
{
    static const QStringList header{
        QStringLiteral("ttl"), QStringLiteral("address"), QStringLiteral("rtt_ms"), QStringLiteral("hostname"),
        QStringLiteral("asn"), QStringLiteral("as_name"), QStringLiteral("country_code"), QStringLiteral("country"),
        QStringLiteral("region"), QStringLiteral("city"), QStringLiteral("latitude"), QStringLiteral("longitude"),
        QStringLiteral("line")};
    QList<QStringList> rows;
    QStringList cells;
    for (const QString &name : header)
        cells << CsvCell(name, false);
    rows << cells;
    for (const HopDetail &hop : report.hops) {
        const auto optional = [](const std::optional<double> &v) { return v ? Number(*v) : QString(); };
        rows << QStringList{CsvCell(QString::number(hop.ttl), false), CsvCell(hop.address, true),
                            CsvCell(QString::number(hop.rttMs), false), CsvCell(hop.hostName, true),
                            CsvCell(AsNumber(hop), false), CsvCell(hop.asName, true), CsvCell(hop.countryCode, true),
                            CsvCell(hop.country, true), CsvCell(hop.region, true), CsvCell(hop.city, true),
                            CsvCell(optional(hop.latitude), false), CsvCell(optional(hop.longitude), false),
                            CsvCell(hop.line, true)};
    }
    return CsvDocument(rows);
}

} // namespace runreport

} // namespace quokka::app
