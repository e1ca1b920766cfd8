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

// "Hop N" in columns 1-10, the time in 11-20, the address in 21-35, then the place.
QString HopLine(int ttl, const quokka::trace::HopReply &reply, const quokka::geo::GeoRecord &record);

QString RouteCompleteLine(int totalMs);

} // namespace hopline

} // namespace quokka::app
