#include "geo/projection.h"

#include <cmath>
#include <cstdlib>

namespace quokka::geo {
namespace {

// Truncation toward zero to a whole number, as the projection's steps need.
int Trunc(double value)
{
    return static_cast<int>(value);
}

// The row of latitude PHI at longitude LAMBDA. The factors are evaluated in exactly this
// order in double precision, so that rounding matches pixel for pixel.
int Row(double phi, double lambda)
{
    const double whole = Trunc(lambda);
    if (phi >= 0 && lambda >= 0)
        return kEquatorY - std::abs(Trunc(phi * 2.86));
    if (phi >= 0) {
        const double f = Trunc(lambda * -1.0) * 0.002667 + 2.6;
        return kEquatorY - std::abs(Trunc(f * phi));
    }
    if (lambda < 0) {
        const double f = 2.5 - whole * 0.002667;
        return kEquatorY + std::abs(Trunc(f * phi));
    }
    const double f = whole * 0.002667 + 2.5;
    return kEquatorY + std::abs(Trunc(f * phi));
}

} // namespace

std::optional<MapPoint> ProjectToMap(double latitude, double longitude)
{
    // Also keeps the truncations inside the range of int (and NaN fails every comparison).
    if (!(latitude >= -90.0 && latitude <= 90.0 && longitude >= -360.0 && longitude <= 360.0))
        return std::nullopt;
    return MapPoint{kPrimeMeridianX + Trunc(2.5 * longitude), Row(latitude, longitude)};
}

} // namespace quokka::geo
