// The trace window's lines: fixed columns, place names from table rows, the final line.
#include "app/hop_line.h"
#include "trace/icmp_tracer.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace quokka::app;
using quokka::trace::HopReply;
using quokka::geo::GeoRecord;

namespace {

void PutText(GeoRecord &r, std::size_t at, std::size_t size, const std::string &text)
{
    std::memset(r.bytes.data() + at, 0xFE, size);
    std::memcpy(r.bytes.data() + at, text.data(), std::min(size, text.size()));
    if (text.size() < size)
        r.bytes[at + text.size()] = 0;
}

GeoRecord Row(const std::string &country, const std::string &region, const std::string &city)
{
    GeoRecord r;
    PutText(r, GeoRecord::kCountryName, GeoRecord::kCountryNameSize, country);
    PutText(r, GeoRecord::kRegion, GeoRecord::kRegionSize, region);
    PutText(r, GeoRecord::kCity, GeoRecord::kCitySize, city);
    return r;
}

HopReply Reply(const char *address, int ms)
{
    return {QString::fromLatin1(address), ms};
}

} // namespace

TEST(HopLine, FirstHopReadsLikeTheWorkedExample)
{
    EXPECT_EQ(hopline::HopLine(1, Reply("192.168.1.1", 3), GeoRecord{}).toStdString(),
              "Hop 1     3ms       192.168.1.1    Home");
}

TEST(HopLine, ColumnsStartAtElevenAndTwentyOneAndThirtySix)
{
    const QString line = hopline::HopLine(12, Reply("203.0.113.254", 57), Row("Australia", "Queensland", "Brisbane"));
    EXPECT_EQ(line.left(10), QStringLiteral("Hop 12    "));
    EXPECT_EQ(line.mid(10, 10), QStringLiteral("57ms      "));
    EXPECT_EQ(line.mid(20, 15), QStringLiteral("203.0.113.254  "));
    EXPECT_EQ(line.mid(35), QStringLiteral("Brisbane, Queensland, Australia"));
}

TEST(HopLine, OverlongColumnsAreCutToTheirWidth)
{
    const QString line = hopline::HopLine(2, Reply("255.255.255.255", 1234567890), Row("-", "-", "-"));
    EXPECT_EQ(line.mid(10, 10), QStringLiteral("1234567890"));       // "ms" cut off
    EXPECT_EQ(line.mid(20, 15), QStringLiteral("255.255.255.255")); // exactly fills its column
    EXPECT_EQ(line.mid(35), QStringLiteral("Not Found"));
    EXPECT_EQ(hopline::Pad(QString(100, QLatin1Char('x')), 10), QString(10, QLatin1Char('x')));
    EXPECT_EQ(hopline::Pad(QString(), 35), QString(35, QLatin1Char(' ')));
}

// IPv4 routes keep columns 21-35 whatever they meet; an IPv6 address widens the column to
// itself and one space, and a column never narrows again.
TEST(HopLine, IPv6AddressesWidenTheAddressColumn)
{
    const struct {
        int before;
        const char *address;
        int after;
    } widths[] = {
        {15, "255.255.255.255", 15}, {15, "2001:db8::1", 15},      {15, "2001:db8:ffff::1234:1", 22},
        {22, "2001:db8::1", 22},     {0, "192.0.2.1", 15},         {0, "::", 15},
        {15, "ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255", 46},
    };
    for (const auto &w : widths)
        EXPECT_EQ(hopline::AddressWidth(w.before, QString::fromLatin1(w.address)), w.after) << w.address;
    const QString longest = QStringLiteral("2001:db8:1111:2222:3333:4444:5555:6666");
    EXPECT_EQ(hopline::HopLine(7, Reply("2001:db8:1111:2222:3333:4444:5555:6666", 88), Row("-", "-", "-"), 39),
              QStringLiteral("Hop 7     88ms      ") + longest + QStringLiteral(" Not Found"));
    EXPECT_EQ(hopline::HopLine(1, Reply("2001:db8::1", 2), GeoRecord{}, 22).toStdString(),
              "Hop 1     2ms       2001:db8::1           Home");
}

TEST(LocationText, FollowsTheRowOrItsAbsence)
{
    const GeoRecord located = Row("United States of America", "California", "Mountain View");
    EXPECT_EQ(hopline::LocationText(1, located), QStringLiteral("Home")); // whatever the row says
    EXPECT_EQ(hopline::LocationText(1, GeoRecord{}), QStringLiteral("Home"));
    EXPECT_EQ(hopline::LocationText(2, located), QStringLiteral("Mountain View, California, United States of America"));
    EXPECT_EQ(hopline::LocationText(2, Row("-", "-", "-")), QStringLiteral("Not Found"));
    EXPECT_EQ(hopline::LocationText(2, GeoRecord{}), QStringLiteral("No Information"));
}

TEST(LocationText, FullThirtyTwoByteFieldsStaySeparate)
{
    // 32 characters fill the field with no NUL; the region that follows must not run on.
    const GeoRecord r = Row("United Kingdom of Great Britain ", "Wilayah Persekutuan Kuala Lumpur",
                            "San Valentino in Abruzzo Citerio");
    EXPECT_EQ(hopline::LocationText(5, r),
              QStringLiteral("San Valentino in Abruzzo Citerio, Wilayah Persekutuan Kuala Lumpur, "
                             "United Kingdom of Great Britain "));
}

TEST(HopLine, RouteCompleteCarriesTheTotal)
{
    EXPECT_EQ(hopline::RouteCompleteLine(57), QStringLiteral("Route Complete, Total Round Trip Time 57ms"));
    EXPECT_EQ(hopline::RouteCompleteLine(0), QStringLiteral("Route Complete, Total Round Trip Time 0ms"));
}
