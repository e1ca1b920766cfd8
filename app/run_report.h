#pragma once
// What one exploration found, hop by hop, beyond its listed lines: each hop's host name and
// network, its place and time. The tooltips, the `detail` report lines and the exports (JSON
// and CSV) are all made from it. Host names, AS names and WHOIS lines come from strangers:
// everything made here for people to see shows control characters visibly, and nothing is
// ever handed to Qt as rich text unescaped.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace quokka::app {

struct HopDetail {
    int row = -1;          // the trace list row of the hop's line
    int ttl = 0;
    QString address;
    int rttMs = 0;
    QString hostName;      // empty: none known (yet, or at all)
    bool hostNameSettled = false; // the reverse lookup has answered or given up
    std::optional<quint32> asn;
    QString asName;
    QString countryCode, country, region, city;
    std::optional<double> latitude, longitude; // for a located hop only
    QString place;         // as the hop line names it, uncut: "Home", "Not Found", "city, region, country"
    QString line;          // the hop line as listed
};

struct RunReport {
    QString domain;
    QString target;        // the explored address; empty when the name did not resolve
    QStringList whoisLines;
    QList<HopDetail> hops;
    bool completed = false; // the route reached its destination
    int totalMs = 0;
};

namespace runreport {

// The fields of a `detail` report line, tab-separated: hop number, address, host name, AS
// number, organisation, place, round-trip time in ms. Texts are made visible
// (quokka::VisibleText: a tab in a name cannot start a field).
QString DetailFields(const HopDetail &hop);

// A hop's tooltip as plain lines: hop number, address, host name and network when known,
// place and round-trip time. The windows show them escaped (quokka::PlainToolTipHtml).
QStringList ToolTipLines(const HopDetail &hop);

// The whole run as a JSON document, written with Qt's JSON classes.
QByteArray ToJson(const RunReport &report);
// One row per hop with a header row; every field quoted, and a cell a spreadsheet would take
// for a formula (leading '=', '+', '-', '@') defused.
QByteArray ToCsv(const RunReport &report);

// One CSV cell as ToCsv writes it: always quoted, quotes doubled; an UNTRUSTED text is made
// visible and, when a spreadsheet would take it for a formula, defused. Other reports share it.
QString CsvCell(const QString &value, bool untrusted);
// ROWS of cells (each made by CsvCell) as a CSV document: cells joined by commas, every row
// ended by CR LF, in UTF-8.
QByteArray CsvDocument(const QList<QStringList> &rows);

} // namespace runreport

} // namespace quokka::app
