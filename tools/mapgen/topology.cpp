#include "topology.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <map>

namespace quokka::tools::mapgen {
namespace {

using namespace Qt::StringLiterals;

// Arcs are delta-encoded integer positions, scaled and translated by the transform.
std::vector<Ring> DecodeArcs(const QJsonObject &topology)
{
    const QJsonObject transform = topology.value("transform"_L1).toObject();
    const QJsonArray scale = transform.value("scale"_L1).toArray();
    const QJsonArray translate = transform.value("translate"_L1).toArray();
    const bool quantized = !scale.isEmpty();
    std::vector<Ring> arcs;
    for (const QJsonValue &arcValue : topology.value("arcs"_L1).toArray()) {
        Ring arc;
        double x = 0, y = 0;
        for (const QJsonValue &position : arcValue.toArray()) {
            const QJsonArray p = position.toArray();
            if (quantized) {
                x += p.at(0).toDouble();
                y += p.at(1).toDouble();
                arc.push_back({x * scale.at(0).toDouble() + translate.at(0).toDouble(),
                               y * scale.at(1).toDouble() + translate.at(1).toDouble()});
            } else {
                arc.push_back({p.at(0).toDouble(), p.at(1).toDouble()});
            }
        }
        arcs.push_back(std::move(arc));
    }
    return arcs;
}

// An arc index i means arc i forwards; ~i means arc i backwards.
int ArcNumber(int index)
{
    return index >= 0 ? index : ~index;
}

Ring BuildRing(const QJsonArray &indices, const std::vector<Ring> &arcs)
{
    Ring ring;
    for (const QJsonValue &value : indices) {
        const int index = value.toInt();
        const int number = ArcNumber(index);
        if (number < 0 || std::size_t(number) >= arcs.size())
            continue;
        Ring arc = arcs[std::size_t(number)];
        if (index < 0)
            std::reverse(arc.begin(), arc.end());
        // Consecutive arcs share their joining point.
        const std::size_t skip = ring.empty() ? 0 : 1;
        ring.insert(ring.end(), arc.begin() + std::ptrdiff_t(std::min(skip, arc.size())), arc.end());
    }
    return ring;
}

// The polygons of a geometry: Polygon is a list of rings, MultiPolygon a list of those.
std::vector<QJsonArray> Polygons(const QJsonObject &geometry)
{
    const QString type = geometry.value("type"_L1).toString();
    const QJsonArray arcs = geometry.value("arcs"_L1).toArray();
    std::vector<QJsonArray> polygons;
    if (type == "Polygon"_L1)
        polygons.push_back(arcs);
    else if (type == "MultiPolygon"_L1)
        for (const QJsonValue &polygon : arcs)
            polygons.push_back(polygon.toArray());
    return polygons;
}

} // namespace

bool ReadCountries(const QString &path, std::vector<Country> &countries, QString &error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    const QJsonObject topology = document.object();
    const QJsonObject collection = topology.value("objects"_L1).toObject().value("countries"_L1).toObject();
    if (document.isNull() || topology.value("type"_L1).toString() != "Topology"_L1 || collection.isEmpty()) {
        error = document.isNull() ? parseError.errorString() : QStringLiteral("no object \"countries\"");
        return false;
    }
    const std::vector<Ring> arcs = DecodeArcs(topology);
    std::map<int, std::set<int>> usersOfArc;
    for (const QJsonValue &value : collection.value("geometries"_L1).toArray()) {
        const QJsonObject geometry = value.toObject();
        Country country;
        country.name = geometry.value("properties"_L1).toObject().value("name"_L1).toString();
        const int index = int(countries.size());
        for (const QJsonArray &polygon : Polygons(geometry)) {
            for (const QJsonValue &ringIndices : polygon) {
                for (const QJsonValue &arcIndex : ringIndices.toArray())
                    usersOfArc[ArcNumber(arcIndex.toInt())].insert(index);
                country.rings.push_back(BuildRing(ringIndices.toArray(), arcs));
            }
        }
        countries.push_back(std::move(country));
    }
    for (const auto &[arc, users] : usersOfArc)
        for (int a : users)
            for (int b : users)
                if (a != b)
                    countries[std::size_t(a)].neighbours.insert(b);
    return true;
}

} // namespace quokka::tools::mapgen
