#pragma once
// The text of the trace window's lines: one fixed-column line per answered hop, and the line
// that ends a route that reached its destination.
#include "geo/geo_record.h"

#include <QString>

namespace quokka::trace { struct HopReply; }

namespace quokka::app {

namespace hopline {

// Appends 89 spaces to TEXT and keeps its first WIDTH characters.
QString Pad(const QString &text, int width);

// "Home" for the first hop, else "Not Found", "No Information" or "city, region, country".
QString LocationText(int ttl, const quokka::geo::GeoRecord &record);

// The address column's width for IPv4 routes: columns 21-35.
constexpr int kIPv4AddressWidth = 15;

// The address column's width a route needs once ADDRESS is among its addresses, given the
// WIDTH it needed before: IPv4 routes keep kIPv4AddressWidth; an IPv6 address widens the
// column to hold it and one space before the place.
int AddressWidth(int width, const QString &address);

// "Hop N" in columns 1-10, the time in 11-20, the address in the next ADDRESS_WIDTH columns
// (21-35 for IPv4 routes), then the place.
QString HopLine(int ttl, const quokka::trace::HopReply &reply, const quokka::geo::GeoRecord &record,
                int addressWidth = kIPv4AddressWidth);

QString RouteCompleteLine(int totalMs);

} // namespace hopline

} // namespace quokka::app
