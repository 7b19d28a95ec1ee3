#include "ToolpathView.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

#include <cmath>

namespace {

const QColor kBackground(0xfb, 0xfc, 0xfd);
const QColor kRapid(0x9c, 0xa3, 0xaf);
const QColor kFeed(0x1d, 0x4e, 0xd8);
const QColor kSelected(0xf5, 0x9e, 0x0b);
const QColor kStart(0x16, 0xa3, 0x4a);
constexpr double kCos30 = 0.8660254037844387;
constexpr int kMargin = 16;
constexpr double kPickDistance = 6.0;
constexpr int kDragThreshold = 4;

double squaredDistanceToSegment(const QPointF &p, const QPointF &a, const QPointF &b)
{
    const QPointF ab = b - a;
    const double lengthSquared = QPointF::dotProduct(ab, ab);
    double t = lengthSquared > 0 ? QPointF::dotProduct(p - a, ab) / lengthSquared : 0;
    t = std::clamp(t, 0.0, 1.0);
    const QPointF d = p - (a + t * ab);
    return QPointF::dotProduct(d, d);
}

} // namespace

ToolpathView::ToolpathView(QWidget *parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(200, 150);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ToolpathView::setToolpath(std::shared_ptr<const Toolpath> toolpath)
{
    m_toolpath = std::move(toolpath);
    m_selectedLine = -1;
    fit();
}

void ToolpathView::setProjection(Projection projection)
{
    m_projection = projection;
    fit();
}

void ToolpathView::setSelectedLine(int line)
{
    if (line == m_selectedLine)
        return;
    m_selectedLine = line;
    update();
}

QPointF ToolpathView::project(const Vec3 &p) const
{
    switch (m_projection) {
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

QPointF ToolpathView::toScreen(const Vec3 &p) const
{
    const QPointF q = project(p) - m_center;
    return {width() / 2.0 + q.x() * m_scale, height() / 2.0 - q.y() * m_scale};
}

void ToolpathView::fit()
{
    double left = 0, right = 0, bottom = 0, top = 0;
    if (m_toolpath && !m_toolpath->allBox.isEmpty()) {
        const Box &box = m_toolpath->allBox;
        bool first = true;
        // The projection of the box's eight corners bounds the projected path.
        for (int corner = 0; corner < 8; ++corner) {
            const QPointF p =
                project({corner & 1 ? box.max.x : box.min.x, corner & 2 ? box.max.y : box.min.y,
                         corner & 4 ? box.max.z : box.min.z});
            left = first ? p.x() : std::min(left, p.x());
            right = first ? p.x() : std::max(right, p.x());
            bottom = first ? p.y() : std::min(bottom, p.y());
            top = first ? p.y() : std::max(top, p.y());
            first = false;
        }
    }
    const double spanX = std::max(right - left, 1e-3);
    const double spanY = std::max(top - bottom, 1e-3);
    m_scale = std::min((width() - 2 * kMargin) / spanX, (height() - 2 * kMargin) / spanY);
    m_scale = std::clamp(m_scale, 1e-6, 1e6);
    m_center = {(left + right) / 2, (bottom + top) / 2};
    invalidate();
}

void ToolpathView::invalidate()
{
    m_cacheValid = false;
    update();
}

template <typename Sink> void ToolpathView::trace(std::size_t index, Sink sink) const
{
    const Move &move = m_toolpath->moves[index];
    if (!move.isArc()) {
        sink(toScreen(move.end));
        return;
    }
    const ArcGeometry arc(m_toolpath->startOf(index), move);
    // About one segment every three pixels of the drawn arc, and at least one every 10 degrees
    // of an arc large enough to show its curve; one that spans a pixel or two is its chord.
    const double pixels = std::abs(arc.sweep) * std::max(arc.startRadius, arc.endRadius) * m_scale;
    const double byAngle = pixels > 2 ? std::abs(arc.sweep) / 0.1745 : 1;
    const int segments = int(std::clamp(std::max(pixels / 3, byAngle), 1.0, 4096.0));
    for (int i = 1; i <= segments; ++i)
        sink(toScreen(arc.pointAt(double(i) / segments, move.plane)));
}

void ToolpathView::renderPath()
{
    const qreal ratio = devicePixelRatioF();
    m_cache = QImage(size() * ratio, QImage::Format_ARGB32_Premultiplied);
    m_cache.setDevicePixelRatio(ratio);
    m_cache.fill(kBackground);
    m_cacheValid = true;
    if (!m_toolpath || m_toolpath->moves.empty())
        return;

    QPainter painter(&m_cache);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen rapidPen(kRapid, 1, Qt::DashLine);
    rapidPen.setCosmetic(true);
    QPen feedPen(kFeed, 1.5);
    feedPen.setCosmetic(true);

    // Runs of moves of one kind become one polyline; points closer than half a pixel to the
    // last one kept are dropped, so that a million short moves cost what the pixels do.
    QVector<QPointF> run;
    bool runIsRapid = false;
    const auto flush = [&] {
        if (run.size() > 1) {
            painter.setPen(runIsRapid ? rapidPen : feedPen);
            painter.drawPolyline(run.constData(), run.size());
        }
        run.clear();
    };
    const auto add = [&run](const QPointF &p) {
        const QPointF d = p - run.constLast();
        if (std::abs(d.x()) >= 0.5 || std::abs(d.y()) >= 0.5)
            run.append(p);
    };
    for (std::size_t i = 0; i < m_toolpath->moves.size(); ++i) {
        const Move &move = m_toolpath->moves[i];
        if (run.isEmpty() || move.isRapid() != runIsRapid) {
            const QPointF from = run.isEmpty() ? toScreen(m_toolpath->startOf(i)) : run.constLast();
            flush();
            runIsRapid = move.isRapid();
            run.append(from);
        }
        trace(i, add);
        if (run.size() > 4096) {
            const QPointF last = run.constLast();
            flush();
            run.append(last);
        }
    }
    flush();
}

void ToolpathView::paintEvent(QPaintEvent *)
{
    if (!m_cacheValid || m_cache.size() != size() * devicePixelRatioF())
        renderPath();
    QPainter painter(this);
    painter.drawImage(0, 0, m_cache);
    if (!m_toolpath || m_toolpath->moves.empty())
        return;
    painter.setRenderHint(QPainter::Antialiasing);

    if (m_selectedLine >= 0) {
        const auto [first, last] = m_toolpath->movesOfLine(m_selectedLine);
        QPen pen(kSelected, 4);
        pen.setCapStyle(Qt::RoundCap);
        painter.setPen(pen);
        for (std::size_t i = first; i < last; ++i) {
            QPolygonF line;
            line << toScreen(m_toolpath->startOf(i));
            trace(i, [&line](const QPointF &p) { line << p; });
            painter.drawPolyline(line);
        }
    }

    const QPointF start = toScreen(m_toolpath->start);
    painter.setPen(QPen(Qt::white, 2));
    painter.setBrush(kStart);
    painter.drawEllipse(start, 6, 6);
}

void ToolpathView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    fit();
}

void ToolpathView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    m_pressPoint = m_lastDragPoint = event->pos();
    m_dragging = false;
}

void ToolpathView::mouseMoveEvent(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return;
    if (!m_dragging && (event->pos() - m_pressPoint).manhattanLength() < kDragThreshold)
        return;
    m_dragging = true;
    const QPoint delta = event->pos() - m_lastDragPoint;
    m_lastDragPoint = event->pos();
    m_center -= QPointF(delta.x() / m_scale, -delta.y() / m_scale);
    invalidate();
}

void ToolpathView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mouseReleaseEvent(event);
    if (!m_dragging) {
        const int line = lineAt(event->localPos());
        if (line >= 0) {
            setSelectedLine(line);
            emit lineClicked(line);
        }
    }
    m_dragging = false;
}

void ToolpathView::wheelEvent(QWheelEvent *event)
{
    const double steps = event->angleDelta().y() / 120.0;
    if (steps == 0)
        return;
    // The point under the pointer stays where it is.
    const QPointF pointer = event->position();
    const QPointF before((pointer.x() - width() / 2.0) / m_scale,
                         (height() / 2.0 - pointer.y()) / m_scale);
    m_scale = std::clamp(m_scale * std::pow(1.25, steps), 1e-6, 1e6);
    const QPointF after((pointer.x() - width() / 2.0) / m_scale,
                        (height() / 2.0 - pointer.y()) / m_scale);
    m_center += before - after;
    invalidate();
}

void ToolpathView::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_F || event->key() == Qt::Key_Home)
        fit();
    else
        QWidget::keyPressEvent(event);
}

int ToolpathView::lineAt(const QPointF &point) const
{
    if (!m_toolpath)
        return -1;
    double best = kPickDistance * kPickDistance;
    int line = -1;
    for (std::size_t i = 0; i < m_toolpath->moves.size(); ++i) {
        QPointF from = toScreen(m_toolpath->startOf(i));
        trace(i, [&](const QPointF &to) {
            const double d = squaredDistanceToSegment(point, from, to);
            if (d <= best) {
                best = d;
                line = m_toolpath->moves[i].line;
            }
            from = to;
        });
    }
    return line;
}
