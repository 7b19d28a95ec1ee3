#include "ToolpathCamera.h"

namespace {

constexpr double kCos30 = 0.8660254037844387;

} // namespace

QPointF ToolpathCamera::project(const Vec3 &p) const
{
    switch (projection) {
    case Projection::Top:
        return {p.x, p.y};
    case Projection::Front:
        return {p.x, p.z};
    case Projection::Side:
        return {p.y, p.z};
    case Projection::Isometric:
        return {(p.x - p.y) * kCos30, (p.x + p.y) * 0.5 + p.z};
    }
    return {};
}

QPointF ToolpathCamera::toScreen(const Vec3 &p) const
{
    const QPointF q = project(p) - center;
    return {size.width() / 2.0 + q.x() * scale, size.height() / 2.0 - q.y() * scale};
}

bool ToolpathCamera::operator==(const ToolpathCamera &other) const
{
    return projection == other.projection && scale == other.scale && center == other.center &&
           size == other.size;
}
