#include "ToolpathView.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>
#include <QtConcurrent>

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
// Below this many moves the path is drawn at once; above it in a worker thread.
constexpr std::size_t kDrawnAtOnce = 100000;

double squaredDistanceToSegment(const QPointF &p, const QPointF &a, const QPointF &b)
{
    const QPointF ab = b - a;
    const double lengthSquared = QPointF::dotProduct(ab, ab);
    double t = lengthSquared > 0 ? QPointF::dotProduct(p - a, ab) / lengthSquared : 0;
    t = std::clamp(t, 0.0, 1.0);
    const QPointF d = p - (a + t * ab);
    return QPointF::dotProduct(d, d);
}

using Camera = ToolpathView::Camera;

// Calls sink(point) along move `index` as camera shows it: its end for a line, points along
// an arc.
template <typename Sink>
void trace(const Toolpath &toolpath, std::size_t index, const Camera &camera, Sink sink)
{
    const Move &move = toolpath.moves[index];
    if (!move.isArc()) {
        sink(camera.toScreen(move.end));
        return;
    }
    const ArcGeometry arc(toolpath.startOf(index), move);
    // About one segment every three pixels of the drawn arc, and at least one every 10 degrees
    // of an arc large enough to show its curve; one that spans a pixel or two is its chord.
    const double pixels =
        std::abs(arc.sweep) * std::max(arc.startRadius, arc.endRadius) * camera.scale;
    const double byAngle = pixels > 2 ? std::abs(arc.sweep) / 0.1745 : 1;
    const int segments = int(std::clamp(std::max(pixels / 3, byAngle), 1.0, 4096.0));
    for (int i = 1; i <= segments; ++i)
        sink(camera.toScreen(arc.pointAt(double(i) / segments, move.plane)));
}

} // namespace

QPointF ToolpathView::Camera::project(const Vec3 &p) const
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

QPointF ToolpathView::Camera::toScreen(const Vec3 &p) const
{
    const QPointF q = project(p) - center;
    return {size.width() / 2.0 + q.x() * scale, size.height() / 2.0 - q.y() * scale};
}

bool ToolpathView::Camera::operator==(const Camera &other) const
{
    return projection == other.projection && scale == other.scale && center == other.center &&
           size == other.size;
}

ToolpathView::ToolpathView(QWidget *parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(200, 150);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

ToolpathView::~ToolpathView()
{
    if (m_stopRendering)
        m_stopRendering->store(true);
}

void ToolpathView::setToolpath(std::shared_ptr<const Toolpath> toolpath)
{
    m_toolpath = std::move(toolpath);
    m_selectedLine = -1;
    m_shown = {};
    fit();
}

void ToolpathView::setProjection(Projection projection)
{
    m_camera.projection = projection;
    fit();
}

void ToolpathView::setSelectedLine(int line)
{
    if (line == m_selectedLine)
        return;
    m_selectedLine = line;
    update();
}

QPointF ToolpathView::toScreen(const Vec3 &p) const
{
    return m_camera.toScreen(p);
}

void ToolpathView::fit()
{
    m_camera.size = size();
    double left = 0, right = 0, bottom = 0, top = 0;
    if (m_toolpath && !m_toolpath->allBox.isEmpty()) {
        const Box &box = m_toolpath->allBox;
        bool first = true;
        // The projection of the box's eight corners bounds the projected path.
        for (int corner = 0; corner < 8; ++corner) {
            const QPointF p = m_camera.project({corner & 1 ? box.max.x : box.min.x,
                                                corner & 2 ? box.max.y : box.min.y,
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
    m_camera.scale = std::clamp(
        std::min((width() - 2 * kMargin) / spanX, (height() - 2 * kMargin) / spanY), 1e-6, 1e6);
    m_camera.center = {(left + right) / 2, (bottom + top) / 2};
    update();
}

ToolpathView::Rendering ToolpathView::render(std::shared_ptr<const Toolpath> toolpath,
                                             Camera camera, qreal ratio,
                                             const std::atomic<bool> *stop)
{
    Rendering result{QImage(camera.size * ratio, QImage::Format_ARGB32_Premultiplied), camera};
    result.image.setDevicePixelRatio(ratio);
    result.image.fill(kBackground);
    if (!toolpath || toolpath->moves.empty())
        return result;

    QPainter painter(&result.image);
    painter.setRenderHint(QPainter::Antialiasing);
    // Thin cosmetic pens and separate lines: the raster engine draws these one by one, where
    // a wide pen or a long polyline would be stroked as one shape, which takes minutes for a
    // program of a million moves.
    QPen rapidPen(kRapid, 1, Qt::DashLine);
    rapidPen.setCosmetic(true);
    QPen feedPen(kFeed, 1);
    feedPen.setCosmetic(true);

    // Points closer than half a pixel to the last one kept are dropped, so that a million
    // short moves cost what the pixels do.
    QVector<QLineF> rapids;
    QVector<QLineF> feeds;
    const auto flush = [&](QVector<QLineF> &lines, const QPen &pen) {
        painter.setPen(pen);
        painter.drawLines(lines);
        lines.clear();
    };
    QPointF last = camera.toScreen(toolpath->start);
    for (std::size_t i = 0; i < toolpath->moves.size(); ++i) {
        QVector<QLineF> &lines = toolpath->moves[i].isRapid() ? rapids : feeds;
        trace(*toolpath, i, camera, [&](const QPointF &p) {
            const QPointF d = p - last;
            if (std::abs(d.x()) >= 0.5 || std::abs(d.y()) >= 0.5) {
                lines.append({last, p});
                last = p;
            }
        });
        if (lines.size() >= 8192) {
            flush(lines, &lines == &rapids ? rapidPen : feedPen);
            if (stop && stop->load(std::memory_order_relaxed))
                return {};
        }
    }
    flush(rapids, rapidPen);
    flush(feeds, feedPen);
    return result;
}

void ToolpathView::startRendering()
{
    if (m_renderWatcher && m_renderWatcher->isRunning()) {
        // The view changed while drawing: stop that drawing, then draw the view as it is now.
        m_stopRendering->store(true);
        m_renderPending = true;
        return;
    }
    if (!m_renderWatcher) {
        m_renderWatcher = new QFutureWatcher<Rendering>(this);
        connect(m_renderWatcher, &QFutureWatcher<Rendering>::finished, this,
                &ToolpathView::onRendered);
    }
    m_stopRendering = std::make_shared<std::atomic<bool>>(false);
    m_renderPending = false;
    m_renderWatcher->setFuture(QtConcurrent::run(
        [toolpath = m_toolpath, camera = m_camera, ratio = devicePixelRatioF(),
         stop = m_stopRendering] { return render(toolpath, camera, ratio, stop.get()); }));
}

void ToolpathView::onRendered()
{
    Rendering rendering = m_renderWatcher->result();
    if (!rendering.image.isNull() && rendering.camera.size == m_camera.size)
        m_shown = std::move(rendering);
    update();
}

void ToolpathView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (!(m_shown.camera == m_camera) || m_shown.image.isNull()) {
        if (!m_toolpath || m_toolpath->moves.size() < kDrawnAtOnce) {
            m_shown = render(m_toolpath, m_camera, devicePixelRatioF(), nullptr);
        } else {
            // Meanwhile the last image, moved and scaled to where its path is now.
            painter.fillRect(rect(), kBackground);
            if (!m_shown.image.isNull() && m_shown.camera.projection == m_camera.projection) {
                const Camera &old = m_shown.camera;
                const double factor = m_camera.scale / old.scale;
                const QPointF shift = old.center - m_camera.center;
                painter.save();
                painter.translate(
                    width() / 2.0 + shift.x() * m_camera.scale - old.size.width() / 2.0 * factor,
                    height() / 2.0 - shift.y() * m_camera.scale - old.size.height() / 2.0 * factor);
                painter.scale(factor, factor);
                painter.drawImage(0, 0, m_shown.image);
                painter.restore();
            }
            startRendering();
        }
    }
    if (m_shown.camera == m_camera && !m_shown.image.isNull())
        painter.drawImage(0, 0, m_shown.image);
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
            trace(*m_toolpath, i, m_camera, [&line](const QPointF &p) { line << p; });
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
    m_camera.center -= QPointF(delta.x() / m_camera.scale, -delta.y() / m_camera.scale);
    update();
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
    const QPointF before((pointer.x() - width() / 2.0) / m_camera.scale,
                         (height() / 2.0 - pointer.y()) / m_camera.scale);
    m_camera.scale = std::clamp(m_camera.scale * std::pow(1.25, steps), 1e-6, 1e6);
    const QPointF after((pointer.x() - width() / 2.0) / m_camera.scale,
                        (height() / 2.0 - pointer.y()) / m_camera.scale);
    m_camera.center += before - after;
    update();
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
        trace(*m_toolpath, i, m_camera, [&](const QPointF &to) {
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
