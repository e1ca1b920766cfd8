// Makes the world map picture of the map and setup windows from country outlines.
// Run by hand when outlines or colours change (tools/mapgen/make_worldmap.sh does it all):
//   quokka-mapgen package/countries-50m.json res/worldmap.png
// The input is countries-50m.json of the npm package world-atlas 2.0.2 (Natural Earth).
#include "render.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv); // drawing into an image needs no display
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s COUNTRIES.json OUTPUT.png\n", argv[0]);
        return 2;
    }
    std::vector<quokka::tools::mapgen::Country> countries;
    QString error;
    if (!quokka::tools::mapgen::ReadCountries(QString::fromLocal8Bit(argv[1]), countries, error)) {
        std::fprintf(stderr, "%s: %s\n", argv[1], qPrintable(error));
        return 1;
    }
    const QImage picture = quokka::tools::mapgen::RenderWorldMap(countries);
    if (!picture.save(QString::fromLocal8Bit(argv[2]), "PNG", 9)) {
        std::fprintf(stderr, "%s: cannot write the picture\n", argv[2]);
        return 1;
    }
    std::printf("%zu countries drawn into %s\n", countries.size(), argv[2]);
    return 0;
}
