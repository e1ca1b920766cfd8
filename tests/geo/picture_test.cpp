// The world map picture: its format, and land and sea where the projection puts places.
#include "geo/projection.h"
#include "test_support.h"

#include <QFile>
#include <QImage>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {

QImage Picture()
{
    return QImage(QStringLiteral(":/res/worldmap.png"));
}

// The two colours that are not land: the sea and the graticule drawn on it.
bool IsSea(const QImage &picture, QPoint at)
{
    const QRgb sea = picture.pixel(0, 0);
    const QRgb pixel = picture.pixel(at);
    return pixel == sea || pixel == picture.pixel(47, 5); // (47, 5) lies on the meridian 150 W
}

QPoint Project(double latitude, double longitude)
{
    const auto point = quokka::geo::ProjectToMap(latitude, longitude);
    return point ? QPoint(point->x, point->y) : QPoint(-1, -1);
}

struct Place {
    const char *name;
    double latitude, longitude;
};

} // namespace

TEST(WorldMapPicture, IsA900By536PaletteImage)
{
    QFile file(QString::fromStdString(testsupport::SourceDir()) + "/res/worldmap.png");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray header = file.read(33);
    ASSERT_EQ(header.left(8), QByteArray("\x89PNG\r\n\x1a\n", 8));
    ASSERT_EQ(header.mid(12, 4), "IHDR");
    EXPECT_EQ(qFromBigEndian<quint32>(header.constData() + 16), 900u);
    EXPECT_EQ(qFromBigEndian<quint32>(header.constData() + 20), 536u);
    EXPECT_EQ(header.at(24), 8); // bit depth
    EXPECT_EQ(header.at(25), 3); // colour type: palette

    const QImage picture = Picture();
    ASSERT_FALSE(picture.isNull()) << "the picture is among the program's resources";
    EXPECT_EQ(picture.size(), QSize(900, 536));
    EXPECT_EQ(picture.format(), QImage::Format_Indexed8);
}

TEST(WorldMapPicture, HasLandWhereTheProjectionPutsCities)
{
    const QImage picture = Picture();
    ASSERT_FALSE(picture.isNull());
    const Place cities[] = {
        {"Fuzhou", 26.06139, 119.30611}, {"Mountain View", 37.38605, -122.08385},
        {"Brisbane", -27.46754, 153.02809}, {"Sao Paulo", -23.5475, -46.63611},
        {"London", 51.50853, -0.12574}, {"Dusseldorf", 51.221533, 6.77617},
        {"Madrid", 40.4168, -3.7038}, {"Moscow", 55.7558, 37.6173}, {"Denver", 39.7392, -104.9903},
        {"Nairobi", -1.2921, 36.8219}, {"Alice Springs", -23.698, 133.8807}, {"Delhi", 28.6139, 77.209},
        {"Anadyr, east of 180", 64.7337, 177.4968}, {"Suva, Fiji", -18.1248, 178.4501},
        {"Lagos", 6.5244, 3.3792}, {"Accra, just west of the meridian", 5.6037, -0.187},
    };
    for (const Place &city : cities)
        EXPECT_FALSE(IsSea(picture, Project(city.latitude, city.longitude))) << city.name;
}

TEST(WorldMapPicture, HasSeaInMidOceanAndNothingButSeaInTheFarNorth)
{
    const QImage picture = Picture();
    ASSERT_FALSE(picture.isNull());
    const Place seas[] = {
        {"mid-Pacific", 5.0, -140.0}, {"North Atlantic", 35.0, -40.0}, {"Indian Ocean", -20.0, 80.0},
        {"South Atlantic", -30.0, -15.0}, {"Gulf of Alaska", 52.0, -145.0}, {"Tasman Sea", -38.0, 160.0},
        {"Southern Ocean (no smeared Antarctica)", -55.0, -120.0}, {"Bering Sea", 57.0, -177.0 + 360.0},
        {"South Pacific (no smeared Fiji)", -18.0, -130.0},
    };
    for (const Place &sea : seas)
        EXPECT_TRUE(IsSea(picture, Project(sea.latitude, sea.longitude))) << sea.name;
    for (int y = 0; y < 116; ++y)
        for (int x = 0; x < picture.width(); ++x)
            ASSERT_TRUE(IsSea(picture, {x, y})) << x << "," << y;
}
