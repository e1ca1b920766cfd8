#include "render.h"

#include "geo/projection.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace quokka::tools::mapgen {

using geo::kMapHeight;
using geo::kMapWidth;
using geo::kPrimeMeridianX;
using geo::ProjectToMap;

namespace {

const QColor kSea(164, 204, 236);
const QColor kGraticule(146, 186, 222);
const QColor kBorder(96, 96, 96);
const QColor kLand[] = {{238, 220, 160}, {196, 226, 166}, {240, 196, 190},
                        {212, 198, 236}, {250, 238, 176}, {226, 202, 168}, {206, 222, 200}};
constexpr int kLandColours = int(std::size(kLand));

// The picture spans 360 degrees from 168.8 W (x = 0); a little margin either side keeps
// clipped edges off the picture.
constexpr double kWestLimit = -170.0;
constexpr double kEastLimit = 192.0;

// Longitudes made continuous along the ring: a jump of more than 180 degrees between two
// points is a crossing of the antimeridian, not a trip round the world.
Ring Unwrap(const Ring &ring)
{
    Ring out;
    double offset = 0;
    for (std::size_t i = 0; i < ring.size(); ++i) {
        if (i > 0) {
            const double step = ring[i].lon - ring[i - 1].lon;
            if (step > 180)
                offset -= 360;
            else if (step < -180)
                offset += 360;
        }
        out.push_back({ring[i].lon + offset, ring[i].lat});
    }
    // A ring that winds once round the globe (Antarctica) encloses a pole: close it there.
    if (out.size() > 1 && std::abs(out.back().lon - out.front().lon) > 180) {
        const double pole = out.front().lat < 0 ? -90.0 : 90.0;
        const double end = out.back().lon, start = out.front().lon;
        out.push_back({end, pole});
        out.push_back({start, pole});
    }
    return out;
}

GeoPoint Crossing(const GeoPoint &a, const GeoPoint &b, double lon)
{
    const double t = (lon - a.lon) / (b.lon - a.lon);
    return {lon, a.lat + t * (b.lat - a.lat)};
}

// Sutherland-Hodgman clip of a closed ring against one side of a meridian.
Ring ClipSide(const Ring &ring, double lon, bool keepEast)
{
    Ring out;
    const auto inside = [&](const GeoPoint &p) { return keepEast ? p.lon >= lon : p.lon <= lon; };
    for (std::size_t i = 0; i < ring.size(); ++i) {
        const GeoPoint &a = ring[i];
        const GeoPoint &b = ring[(i + 1) % ring.size()];
        if (inside(a))
            out.push_back(a);
        if (inside(a) != inside(b))
            out.push_back(Crossing(a, b, lon));
    }
    return out;
}

// Projects a ring. Where an edge crosses the prime meridian both sides of the crossing are
// projected, so the north's different scales east and west show as a step in the outline.
QPolygon Project(const Ring &ring)
{
    QPolygon polygon;
    const auto add = [&](const GeoPoint &p) {
        if (const auto point = ProjectToMap(p.lat, p.lon))
            polygon << QPoint(point->x, point->y);
    };
    for (std::size_t i = 0; i < ring.size(); ++i) {
        const GeoPoint &a = ring[i];
        const GeoPoint &b = ring[(i + 1) % ring.size()];
        add(a);
        if ((a.lon < 0) != (b.lon < 0)) {
            const GeoPoint c = Crossing(a, b, 0.0);
            add({a.lon < 0 ? -1e-9 : 0.0, c.lat});
            add({a.lon < 0 ? 0.0 : -1e-9, c.lat});
        }
    }
    return polygon;
}

// The ring's copies that reach the picture: as it is, and a turn east or west.
std::vector<QPolygon> PlaceRing(const Ring &ring)
{
    std::vector<QPolygon> placed;
    const Ring unwrapped = Unwrap(ring);
    if (unwrapped.size() < 3)
        return placed;
    for (double shift : {-360.0, 0.0, 360.0}) {
        Ring copy = unwrapped;
        for (GeoPoint &p : copy)
            p.lon += shift;
        copy = ClipSide(ClipSide(copy, kWestLimit, true), kEastLimit, false);
        if (copy.size() >= 3)
            placed.push_back(Project(copy));
    }
    return placed;
}

// Greedy colouring, most neighbours first: no two neighbours share a colour.
std::vector<int> ColourCountries(const std::vector<Country> &countries)
{
    std::vector<int> order(countries.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = int(i);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return countries[std::size_t(a)].neighbours.size() > countries[std::size_t(b)].neighbours.size();
    });
    std::vector<int> colour(countries.size(), -1);
    for (int c : order) {
        std::vector<bool> taken(kLandColours, false);
        for (int n : countries[std::size_t(c)].neighbours)
            if (colour[std::size_t(n)] >= 0)
                taken[std::size_t(colour[std::size_t(n)])] = true;
        const auto free = std::find(taken.begin(), taken.end(), false);
        colour[std::size_t(c)] = free == taken.end() ? c % kLandColours : int(free - taken.begin());
    }
    return colour;
}

void DrawGraticule(QPainter &painter)
{
    painter.setPen(QPen(kGraticule, 0));
    for (int lon = -150; lon <= 180; lon += 30) {
        const int x = kPrimeMeridianX + int(2.5 * lon);
        painter.drawLine(x, 0, x, kMapHeight - 1);
    }
    for (int lat = -60; lat <= 60; lat += 30) {
        QPolygon line;
        for (double lon = kWestLimit; lon <= kEastLimit; lon += 0.1) {
            // The parallel is drawn right up to the meridian from both sides.
            const double at = std::abs(lon) < 0.05 ? (lon < 0 ? -1e-9 : 0.0) : lon;
            if (const auto point = ProjectToMap(lat, at))
                line << QPoint(point->x, point->y);
        }
        painter.drawPolyline(line);
    }
}

} // namespace

QImage RenderWorldMap(const std::vector<Country> &countries)
{
    QImage image(kMapWidth, kMapHeight, QImage::Format_RGB32);
    image.fill(kSea);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false); // exact colours for the palette
    DrawGraticule(painter);

    std::vector<std::vector<QPolygon>> shapes;
    for (const Country &country : countries) {
        std::vector<QPolygon> polygons;
        for (const Ring &ring : country.rings)
            for (QPolygon &polygon : PlaceRing(ring))
                polygons.push_back(std::move(polygon));
        shapes.push_back(std::move(polygons));
    }
    const std::vector<int> colour = ColourCountries(countries);
    painter.setPen(Qt::NoPen);
    for (std::size_t i = 0; i < shapes.size(); ++i) {
        QPainterPath path;
        path.setFillRule(Qt::OddEvenFill);
        for (const QPolygon &polygon : shapes[i])
            path.addPolygon(polygon);
        painter.fillPath(path, kLand[colour[i]]);
    }
    painter.setPen(QPen(kBorder, 0));
    painter.setBrush(Qt::NoBrush);
    for (const auto &polygons : shapes)
        for (const QPolygon &polygon : polygons)
            painter.drawPolygon(polygon);
    painter.end();

    QList<QRgb> palette{kSea.rgb(), kGraticule.rgb(), kBorder.rgb()};
    for (const QColor &land : kLand)
        palette << land.rgb();
    return image.convertToFormat(QImage::Format_Indexed8, palette, Qt::ThresholdDither | Qt::AvoidDither);
}

} // namespace quokka::tools::mapgen
