#include "Toolpath.h"

#include <algorithm>

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kHalfPi = 1.5707963267948966;

} // namespace

void toPlane(const Vec3 &p, Plane plane, double &a, double &b, double &n)
{
    switch (plane) {
    case Plane::XY:
        a = p.x, b = p.y, n = p.z;
        return;
    case Plane::ZX:
        a = p.z, b = p.x, n = p.y;
        return;
    case Plane::YZ:
        a = p.y, b = p.z, n = p.x;
        return;
    }
}

Vec3 fromPlane(double a, double b, double n, Plane plane)
{
    switch (plane) {
    case Plane::XY:
        return {a, b, n};
    case Plane::ZX:
        return {b, n, a};
    case Plane::YZ:
        return {n, a, b};
    }
    return {};
}

std::pair<std::size_t, std::size_t> Toolpath::movesOfLine(int line) const
{
    const auto byLine = [](const Move &move, int value) {
        return move.line < value;
    };
    const auto first = std::lower_bound(moves.begin(), moves.end(), line, byLine);
    auto last = first;
    while (last != moves.end() && last->line == line)
        ++last;
    return {std::size_t(first - moves.begin()), std::size_t(last - moves.begin())};
}

ArcGeometry::ArcGeometry(const Vec3 &from, const Move &arc)
{
    double startA, startB, endA, endB, centerN;
    toPlane(from, arc.plane, startA, startB, startNormal);
    toPlane(arc.end, arc.plane, endA, endB, endNormal);
    toPlane(arc.center, arc.plane, centerA, centerB, centerN);
    startRadius = std::hypot(startA - centerA, startB - centerB);
    endRadius = std::hypot(endA - centerA, endB - centerB);
    startAngle = std::atan2(startB - centerB, startA - centerA);
    const double endAngle = std::atan2(endB - centerB, endA - centerA);

    const bool clockwise = arc.kind == MotionKind::ArcClockwise;
    double magnitude = clockwise ? startAngle - endAngle : endAngle - startAngle;
    magnitude = std::fmod(magnitude, kTwoPi);
    if (magnitude < 0)
        magnitude += kTwoPi;
    // An end on the start point is a full circle.
    if (magnitude < 1e-9)
        magnitude = kTwoPi;
    magnitude += kTwoPi * arc.extraTurns;
    sweep = clockwise ? -magnitude : magnitude;
}

double ArcGeometry::length() const
{
    const double planar = 0.5 * (startRadius + endRadius) * std::abs(sweep);
    return std::hypot(planar, endNormal - startNormal);
}

Vec3 ArcGeometry::pointAt(double t, Plane plane) const
{
    const double angle = startAngle + sweep * t;
    const double radius = startRadius + (endRadius - startRadius) * t;
    return fromPlane(centerA + radius * std::cos(angle), centerB + radius * std::sin(angle),
                     startNormal + (endNormal - startNormal) * t, plane);
}

void ArcGeometry::addTo(Box &box, Plane plane) const
{
    box.add(pointAt(0, plane));
    box.add(pointAt(1, plane));
    if (std::abs(sweep) >= kTwoPi) {
        // Every quadrant point is passed at least once; take the larger radius.
        const double radius = std::max(startRadius, endRadius);
        for (int quadrant = 0; quadrant < 4; ++quadrant) {
            const double angle = quadrant * kHalfPi;
            box.add(fromPlane(centerA + radius * std::cos(angle),
                              centerB + radius * std::sin(angle), startNormal, plane));
            box.add(fromPlane(centerA + radius * std::cos(angle),
                              centerB + radius * std::sin(angle), endNormal, plane));
        }
        return;
    }
    // The quadrant angles the sweep passes, each at the fraction of the arc where it lies.
    const double lo = std::min(startAngle, startAngle + sweep);
    const double hi = std::max(startAngle, startAngle + sweep);
    for (double angle = std::ceil(lo / kHalfPi) * kHalfPi; angle <= hi; angle += kHalfPi)
        box.add(pointAt((angle - startAngle) / sweep, plane));
}
