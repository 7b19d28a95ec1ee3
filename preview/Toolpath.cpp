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
    // Moves are in line order: the first move of the line, then its run.
    std::size_t first = 0;
    std::size_t count = moves.size();
    while (count > 0) {
        const std::size_t half = count / 2;
        if (moves[first + half].line() < line) {
            first += half + 1;
            count -= half + 1;
        } else {
            count = half;
        }
    }
    std::size_t last = first;
    while (last < moves.size() && moves[last].line() == line)
        ++last;
    return {first, last};
}

const ArcCenter &Toolpath::arcOf(std::size_t move) const
{
    std::size_t first = 0;
    std::size_t count = arcs.size();
    while (count > 0) {
        const std::size_t half = count / 2;
        if (arcs[first + half].move < move) {
            first += half + 1;
            count -= half + 1;
        } else {
            count = half;
        }
    }
    return arcs[first];
}

ArcGeometry Toolpath::arcGeometry(std::size_t move) const
{
    const Move &arc = moves[move];
    const ArcCenter &center = arcOf(move);
    return ArcGeometry(startOf(move), arc.end(), center.center(), arc.plane(), center.sweep);
}

ArcGeometry::ArcGeometry(const Vec3 &from, const Vec3 &end, const Vec3 &center, Plane plane,
                         double sweep)
    : sweep(sweep)
{
    double startA, startB, endA, endB, centerN;
    toPlane(from, plane, startA, startB, startNormal);
    toPlane(end, plane, endA, endB, endNormal);
    toPlane(center, plane, centerA, centerB, centerN);
    startRadius = std::hypot(startA - centerA, startB - centerB);
    endRadius = std::hypot(endA - centerA, endB - centerB);
    startAngle = std::atan2(startB - centerB, startA - centerA);
    endAngle = std::atan2(endB - centerB, endA - centerA);
}

ArcGeometry::ArcGeometry(const Vec3 &from, const Vec3 &end, const Vec3 &center, bool clockwise,
                         Plane plane, int extraTurns)
    : ArcGeometry(from, end, center, plane, 0.0)
{
    double magnitude = clockwise ? startAngle - endAngle : endAngle - startAngle;
    magnitude = std::fmod(magnitude, kTwoPi);
    if (magnitude < 0)
        magnitude += kTwoPi;
    // An end on the start point is a full circle.
    if (magnitude < 1e-9)
        magnitude = kTwoPi;
    magnitude += kTwoPi * extraTurns;
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
