#include "ToolpathDrawing.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace ToolpathDrawing {

const QColor kBackground(0xfb, 0xfc, 0xfd);
const QColor kRapid(0x9c, 0xa3, 0xaf);
const QColor kFeed(0x1d, 0x4e, 0xd8);
const QColor kOutside(0xdc, 0x26, 0x26);

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kPickDistance = 6.0;
// Stop and time are looked at once every so many moves.
constexpr std::size_t kMovesBetweenLooks = 1024;

// Looked at after each run of moves, not before the first: what it costs to begin is no
// reason to hand the work on.
bool mustStop(std::size_t move, const std::atomic<bool> *stop, const QDeadlineTimer &deadline)
{
    return move % kMovesBetweenLooks == kMovesBetweenLooks - 1 &&
           ((stop && stop->load(std::memory_order_relaxed)) || deadline.hasExpired());
}

bool samePixel(const QPointF &a, const QPointF &b)
{
    const QPointF d = a - b;
    return std::abs(d.x()) < 0.5 && std::abs(d.y()) < 0.5;
}

// Calls sink(point) along move `index` as camera shows it: its end for a line, points along
// an arc.
template <typename Sink>
void trace(const Toolpath &toolpath, std::size_t index, const ToolpathCamera &camera, Sink sink)
{
    const Move &move = toolpath.moves[index];
    if (!move.isArc()) {
        sink(camera.toScreen(move.end()));
        return;
    }
    const ArcGeometry arc = toolpath.arcGeometry(index);
    const Plane plane = move.plane();
    // Turns that fall on one another on screen (a circle gone round a thousand times, a helix
    // seen along its axis) are drawn once: only the last whole turn and what follows it.
    double from = 0;
    const double turns = std::abs(arc.sweep) / kTwoPi;
    if (turns >= 2) {
        from = (std::floor(turns) - 1) / turns;
        if (!samePixel(camera.toScreen(arc.pointAt(from, plane)),
                       camera.toScreen(arc.pointAt(0, plane))))
            from = 0;
    }
    // About one segment every three pixels of the drawn arc, and at least one every 10 degrees
    // of an arc large enough to show its curve; one that spans a pixel or two is its chord.
    const double sweep = std::abs(arc.sweep) * (1 - from);
    const double pixels = sweep * std::max(arc.startRadius, arc.endRadius) * camera.scale;
    const double byAngle = pixels > 2 ? sweep / 0.1745 : 1;
    const int segments = int(std::clamp(std::max(pixels / 3, byAngle), 1.0, 4096.0));
    for (int i = 1; i <= segments; ++i)
        sink(camera.toScreen(arc.pointAt(from + (1 - from) * i / segments, plane)));
}

double squaredDistanceToSegment(const QPointF &p, const QPointF &a, const QPointF &b)
{
    const QPointF ab = b - a;
    const double lengthSquared = QPointF::dotProduct(ab, ab);
    double t = lengthSquared > 0 ? QPointF::dotProduct(p - a, ab) / lengthSquared : 0;
    t = std::clamp(t, 0.0, 1.0);
    const QPointF d = p - (a + t * ab);
    return QPointF::dotProduct(d, d);
}

// The screen rectangle that holds move `index`.
QRectF screenBounds(const Toolpath &toolpath, std::size_t index, const ToolpathCamera &camera)
{
    const Move &move = toolpath.moves[index];
    if (!move.isArc())
        return QRectF(camera.toScreen(toolpath.startOf(index)), camera.toScreen(move.end()))
            .normalized();
    Box box;
    toolpath.arcGeometry(index).addTo(box, move.plane());
    QPointF low = camera.toScreen(box.min);
    QPointF high = low;
    for (int corner = 1; corner < 8; ++corner) {
        const QPointF p =
            camera.toScreen({corner & 1 ? box.max.x : box.min.x, corner & 2 ? box.max.y : box.min.y,
                             corner & 4 ? box.max.z : box.min.z});
        low = {std::min(low.x(), p.x()), std::min(low.y(), p.y())};
        high = {std::max(high.x(), p.x()), std::max(high.y(), p.y())};
    }
    return QRectF(low, high);
}

} // namespace

QImage render(const Toolpath &toolpath, const ToolpathCamera &camera, qreal ratio,
              const std::atomic<bool> *stop, QDeadlineTimer deadline)
{
    QImage image(camera.size * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(kBackground);
    if (toolpath.moves.empty())
        return image;

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    // Thin cosmetic pens and separate lines: the raster engine draws these one by one, where
    // a wide pen or a long polyline would be stroked as one shape, which takes minutes for a
    // program of a million moves.
    QPen pens[3] = {QPen(kRapid, 1, Qt::DashLine), QPen(kFeed, 1), QPen(kOutside, 1)};
    for (QPen &pen : pens)
        pen.setCosmetic(true);
    QVector<QLineF> lines[3];
    const auto flush = [&](int kind) {
        painter.setPen(pens[kind]);
        painter.drawLines(lines[kind]);
        lines[kind].clear();
    };

    // Points closer than half a pixel to the last one kept are dropped, so that a million
    // short moves cost what the pixels do.
    QPointF last = camera.toScreen(toolpath.start);
    for (std::size_t i = 0; i < toolpath.moves.size(); ++i) {
        if (mustStop(i, stop, deadline))
            return {};
        const Move &move = toolpath.moves[i];
        const int kind = move.isOutsideTravel() ? 2 : move.isRapid() ? 0 : 1;
        trace(toolpath, i, camera, [&](const QPointF &p) {
            if (!samePixel(p, last)) {
                lines[kind].append({last, p});
                last = p;
            }
        });
        if (lines[kind].size() >= 8192)
            flush(kind);
    }
    for (int kind = 0; kind < 3; ++kind)
        flush(kind);
    return image;
}

Hit lineAt(const Toolpath &toolpath, const ToolpathCamera &camera, const QPointF &point,
           const std::atomic<bool> *stop, QDeadlineTimer deadline)
{
    Hit hit;
    double best = kPickDistance * kPickDistance;
    for (std::size_t i = 0; i < toolpath.moves.size(); ++i) {
        if (mustStop(i, stop, deadline))
            return hit;
        if (!screenBounds(toolpath, i, camera)
                 .adjusted(-kPickDistance, -kPickDistance, kPickDistance, kPickDistance)
                 .contains(point))
            continue;
        QPointF from = camera.toScreen(toolpath.startOf(i));
        trace(toolpath, i, camera, [&](const QPointF &to) {
            const double d = squaredDistanceToSegment(point, from, to);
            if (d <= best) {
                best = d;
                hit.line = toolpath.moves[i].line();
            }
            from = to;
        });
    }
    hit.finished = true;
    return hit;
}

QPolygonF polyline(const Toolpath &toolpath, std::size_t index, const ToolpathCamera &camera)
{
    QPolygonF line;
    line << camera.toScreen(toolpath.startOf(index));
    trace(toolpath, index, camera, [&line](const QPointF &p) { line << p; });
    return line;
}

} // namespace ToolpathDrawing
