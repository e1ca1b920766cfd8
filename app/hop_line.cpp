#include "app/hop_line.h"

#include "trace/icmp_tracer.h"

#include <algorithm>

using quokka::trace::HopReply;

namespace quokka::app {
using quokka::geo::GeoRecord;

namespace hopline {
namespace {

QString Latin1(std::string_view text)
{
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

} // namespace

QString Pad(const QString &text, int width)
{
    return QString(text + QString(89, QLatin1Char(' '))).left(width);
}

QString LocationText(int ttl, const GeoRecord &record)
{
    if (ttl == 1)
        return QStringLiteral("Home");
    const std::string_view country = record.CountryName();
    if (!country.empty() && country.front() == '-')
        return QStringLiteral("Not Found");
    if (country.empty())
        return QStringLiteral("No Information");
    return Latin1(record.City()) + QStringLiteral(", ") + Latin1(record.Region()) + QStringLiteral(", ")
        + Latin1(country);
}

int AddressWidth(int width, const QString &address)
{
    if (!address.contains(u':'))
        return std::max(width, kIPv4AddressWidth);
    return std::max({width, kIPv4AddressWidth, int(address.size()) + 1});
}

QString HopLine(int ttl, const HopReply &reply, const GeoRecord &record, int addressWidth)
{
    QString line = Pad(QStringLiteral("Hop %1").arg(ttl), 10);
    line = Pad(line + QString::number(reply.roundTripMs) + QStringLiteral("ms"), 20);
    // Pad fills at most 89 columns, enough for the 20 before and the widest IPv6 address.
    line = Pad(line + reply.address, 20 + addressWidth);
    return line + LocationText(ttl, record);
}

QString RouteCompleteLine(int totalMs)
{
    return QStringLiteral("Route Complete, Total Round Trip Time ") + QString::number(totalMs) + QStringLiteral("ms");
}

} // namespace hopline

} // namespace quokka::app
