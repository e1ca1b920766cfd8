#pragma once
// Draws the political world map picture: seas in one blue, a faint graticule every 30
// degrees, countries filled so that neighbours differ, thin borders; all placed through the
// map window's own projection. The result has a small palette of exact colours.
#include "topology.h"

#include <QImage>

namespace quokka::tools::mapgen {

QImage RenderWorldMap(const std::vector<Country> &countries);

} // namespace quokka::tools::mapgen
