// Checks a picture of a map window after an exploration: the home marker, a marker on each
// located hop's projected pixel (red, green for the destination) and a red line from each
// plotted point to the next. Prints one line per check; exits 1 when one fails.
//   map_check MAP_PNG HOME_X,HOME_Y LAT,LON[,dest]...
#include "map_pixels.h"
#include "geo/projection.h"

#include <QCoreApplication>
#include <QImage>
#include <QStringList>
#include <cstdio>
#include <vector>

namespace {

int g_failures = 0;

void Check(bool passed, const QString &what)
{
    std::printf("%s: map: %s\n", passed ? "ok" : "FAIL", qPrintable(what));
    g_failures += passed ? 0 : 1;
}

struct Stop {
    QPoint point;
    bool isDestination = false;
};

// A red line joins A and B: line pixels at a quarter, half and three quarters of the way.
bool RedLineBetween(const QImage &image, QPoint a, QPoint b)
{
    for (const double t : {0.25, 0.5, 0.75}) {
        const QPointF at(a.x() + (b.x() - a.x()) * t, a.y() + (b.y() - a.y()) * t);
        if (!mappixels::NearPixel(image, at, &mappixels::Reddish))
            return false;
    }
    return true;
}

QString Text(QPoint p)
{
    return QStringLiteral("(%1, %2)").arg(p.x()).arg(p.y());
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: map_check MAP_PNG HOME_X,HOME_Y LAT,LON[,dest]...\n");
        return 2;
    }
    const QImage image = QImage(QString::fromLocal8Bit(argv[1])).convertToFormat(QImage::Format_RGB32);
    Check(image.width() >= quokka::kMapWidth - 1 && image.height() >= quokka::kMapHeight - 1,
          QStringLiteral("the picture is the whole map, %1 x %2").arg(image.width()).arg(image.height()));
    const QStringList home = QString::fromLatin1(argv[2]).split(u',');
    std::vector<Stop> stops{{QPoint(home.value(0).toInt(), home.value(1).toInt()), false}};
    for (int i = 3; i < argc; ++i) {
        const QStringList parts = QString::fromLatin1(argv[i]).split(u',');
        const auto point = quokka::ProjectToMap(parts.value(0).toDouble(), parts.value(1).toDouble());
        if (!point) {
            Check(false, QStringLiteral("%1 projects onto the map").arg(QString::fromLatin1(argv[i])));
            continue;
        }
        stops.push_back({QPoint(point->x, point->y), parts.value(2) == QLatin1String("dest")});
    }
    Check(mappixels::MarkerAt(image, stops.front().point, 0xFFFF0000), QStringLiteral("home marker at ") + Text(stops.front().point));
    for (std::size_t i = 1; i < stops.size(); ++i) {
        const Stop &stop = stops[i];
        const QRgb colour = stop.isDestination ? 0xFF00FF00 : 0xFFFF0000;
        Check(mappixels::MarkerAt(image, stop.point, colour),
              QStringLiteral("%1 marker of hop %2 at %3").arg(stop.isDestination ? "green" : "red").arg(i).arg(Text(stop.point)));
        const QPoint from = stops[i - 1].point;
        // A line is drawn only where both coordinates change; the test's places are chosen so.
        Check(from.x() != stop.point.x() && from.y() != stop.point.y() && RedLineBetween(image, from, stop.point),
              QStringLiteral("red line from %1 to %2").arg(Text(from), Text(stop.point)));
    }
    return g_failures == 0 ? 0 : 1;
}
