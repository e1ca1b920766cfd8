// The run report's texts and exports: strangers' text stays plain, visible and inert.
#include "app/run_report.h"
#include "base/visible_text.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

using namespace quokka::app;

namespace {

// A hop whose names come from hostile zones and registries.
HopDetail HostileHop()
{
    HopDetail hop;
    hop.row = 0;
    hop.ttl = 3;
    hop.address = QStringLiteral("203.0.113.7");
    hop.rttMs = 12;
    hop.hostName = QStringLiteral("<b>evil</b>\x1b[31m.example");
    hop.asn = 64500;
    hop.asName = QStringLiteral("=HYPERLINK(\"x\")\tCorp\u202e");
    hop.countryCode = QStringLiteral("AU");
    hop.country = QStringLiteral("Australia");
    hop.region = QStringLiteral("@region");
    hop.city = QStringLiteral("-Sydney");
    hop.latitude = -33.8688;
    hop.longitude = 151.209;
    hop.place = QStringLiteral("-Sydney, @region, Australia");
    hop.line = QStringLiteral("Hop 3     12 ms     203.0.113.7    -Sydney, @region, Australia");
    return hop;
}

RunReport Report()
{
    RunReport report;
    report.domain = QStringLiteral("example.test");
    report.target = QStringLiteral("203.0.113.7");
    report.whoisLines = {QStringLiteral("abuse: <a@b>"), QStringLiteral("+1 555")};
    HopDetail plain;
    plain.row = 0;
    plain.ttl = 1;
    plain.address = QStringLiteral("192.0.2.1");
    plain.place = QStringLiteral("Home");
    plain.line = QStringLiteral("Hop 1");
    report.hops = {plain, HostileHop()};
    report.hops[1].row = 1;
    report.completed = true;
    report.totalMs = 12;
    return report;
}

TEST(RunReport, DetailFieldsAreSevenTabSeparatedVisibleFields)
{
    const QStringList fields = runreport::DetailFields(HostileHop()).split(QLatin1Char('\t'));
    ASSERT_EQ(fields.size(), 7) << fields.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(fields[0], QStringLiteral("3"));
    EXPECT_EQ(fields[1], QStringLiteral("203.0.113.7"));
    EXPECT_EQ(fields[2], QStringLiteral("<b>evil</b>\u241b[31m.example"));
    EXPECT_EQ(fields[3], QStringLiteral("64500"));
    EXPECT_EQ(fields[4], QStringLiteral("=HYPERLINK(\"x\")\u2409Corp<U+202E>"));
    EXPECT_EQ(fields[6], QStringLiteral("12"));
}

TEST(RunReport, ToolTipIsEscapedPlainText)
{
    const QString html = quokka::PlainToolTipHtml(runreport::ToolTipLines(HostileHop()));
    EXPECT_TRUE(html.startsWith(QStringLiteral("<qt>")));
    EXPECT_FALSE(html.contains(QStringLiteral("<b>")));
    EXPECT_TRUE(html.contains(QStringLiteral("&lt;b&gt;evil&lt;/b&gt;")));
    EXPECT_FALSE(html.contains(QChar(0x1b)));
    EXPECT_EQ(runreport::ToolTipLines(HostileHop()).size(), 6); // hop, address, host, network, place, time
    HopDetail bare = HostileHop();
    bare.hostName.clear();
    bare.asn.reset();
    EXPECT_EQ(runreport::ToolTipLines(bare).size(), 4);
}

TEST(RunReport, JsonReadsBackFieldByField)
{
    const QJsonObject root = QJsonDocument::fromJson(runreport::ToJson(Report())).object();
    EXPECT_EQ(root[QStringLiteral("domain")].toString(), QStringLiteral("example.test"));
    EXPECT_EQ(root[QStringLiteral("whois")].toArray().size(), 2);
    EXPECT_TRUE(root[QStringLiteral("completed")].toBool());
    const QJsonArray hops = root[QStringLiteral("hops")].toArray();
    ASSERT_EQ(hops.size(), 2);
    const QJsonObject first = hops[0].toObject();
    EXPECT_TRUE(first[QStringLiteral("hostname")].isNull());
    EXPECT_TRUE(first[QStringLiteral("asn")].isNull());
    EXPECT_TRUE(first[QStringLiteral("latitude")].isNull());
    const QJsonObject hostile = hops[1].toObject();
    EXPECT_EQ(hostile[QStringLiteral("hostname")].toString(), HostileHop().hostName); // exact, JSON-escaped
    EXPECT_EQ(hostile[QStringLiteral("asn")].toInteger(), 64500);
    EXPECT_EQ(hostile[QStringLiteral("latitude")].toDouble(), -33.8688);
    EXPECT_EQ(hostile[QStringLiteral("line")].toString(), HostileHop().line);
}

TEST(RunReport, CsvQuotesEveryCellAndDefusesFormulas)
{
    const QStringList rows = QString::fromUtf8(runreport::ToCsv(Report())).split(QStringLiteral("\r\n"));
    ASSERT_EQ(rows.size(), 4); // header, two hops, and the empty tail after the last CRLF
    EXPECT_TRUE(rows[0].startsWith(QStringLiteral("\"ttl\",\"address\",\"rtt_ms\",\"hostname\",\"asn\"")));
    EXPECT_EQ(rows[3], QString());
    const QString hostile = rows[2];
    EXPECT_TRUE(hostile.contains(QStringLiteral(",\"'=HYPERLINK(\"\"x\"\")\u2409Corp<U+202E>\",")));
    EXPECT_TRUE(hostile.contains(QStringLiteral(",\"'@region\",\"'-Sydney\",")));
    EXPECT_TRUE(hostile.contains(QStringLiteral(",\"-33.8688\",\"151.209\","))); // numbers stay numbers
    EXPECT_EQ(hostile.count(QLatin1Char('"')) % 2, 0);
}

} // namespace
