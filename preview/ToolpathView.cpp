#include "ToolpathView.h"

#include "ToolpathDrawing.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <QtConcurrent>

#include <cmath>

namespace {

const QColor kSelected(0xf5, 0x9e, 0x0b);
const QColor kStart(0x16, 0xa3, 0x4a);
const QColor kTravel(0x33, 0x41, 0x55);
const QColor kProgramBox(0x94, 0xa3, 0xb8);
constexpr int kMargin = 16;
constexpr int kDragThreshold = 4;
// What the GUI thread may spend drawing the path or looking for a click before it hands the
// work to a worker thread: the rest of the event has to fit in too.
constexpr int kDrawBudgetMs = 15;
constexpr int kPickBudgetMs = 10;

// The twelve edges of box as camera shows them.
QVector<QLineF> boxEdges(const Box &box, const ToolpathCamera &camera)
{
    const auto corner = [&](int i) {
        return camera.toScreen({i & 1 ? box.max.x : box.min.x, i & 2 ? box.max.y : box.min.y,
                                i & 4 ? box.max.z : box.min.z});
    };
    QVector<QLineF> edges;
    for (int i = 0; i < 8; ++i) {
        for (const int bit : {1, 2, 4}) {
            if (!(i & bit))
                edges.append({corner(i), corner(i | bit)});
        }
    }
    return edges;
}

} // namespace

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
    if (m_stopPicking)
        m_stopPicking->store(true);
}

void ToolpathView::setToolpath(std::shared_ptr<const Toolpath> toolpath)
{
    // A drawing under way is of the path before.
    if (m_stopRendering)
        m_stopRendering->store(true);
    m_toolpath = std::move(toolpath);
    m_selectedLine = -1;
    m_shown = {};
    m_drawInWorker = false;
    fit();
}

void ToolpathView::setMachineTravel(const MachineProfile &machine)
{
    const MachineProfile usable = machine.usable();
    std::copy(std::begin(usable.travel), std::end(usable.travel), std::begin(m_travel));
    fit();
}

void ToolpathView::setLegend(const QStringList &texts)
{
    m_legend = texts;
    update();
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

bool ToolpathView::isBusy() const
{
    return (m_renderWatcher && m_renderWatcher->isRunning()) || m_renderPending ||
           (m_pickWatcher && m_pickWatcher->isRunning());
}

Box ToolpathView::travelBox() const
{
    Box box;
    const Box program = m_toolpath ? m_toolpath->allBox : Box();
    const auto pick = [&](int axis, bool max) {
        if (m_travel[axis])
            return max ? m_travel[axis]->max : m_travel[axis]->min;
        if (program.isEmpty())
            return 0.0;
        const Vec3 &p = max ? program.max : program.min;
        return axis == 0 ? p.x : axis == 1 ? p.y : p.z;
    };
    box.add(Vec3{pick(0, false), pick(1, false), pick(2, false)});
    box.add(Vec3{pick(0, true), pick(1, true), pick(2, true)});
    return box;
}

void ToolpathView::fit()
{
    m_camera.size = size();
    Box box = m_toolpath ? m_toolpath->allBox : Box();
    if (hasTravel())
        box.add(travelBox());
    double left = 0, right = 0, bottom = 0, top = 0;
    if (!box.isEmpty()) {
        // The projection of the box's eight corners bounds the projected path.
        for (int corner = 0; corner < 8; ++corner) {
            const QPointF p = m_camera.project({corner & 1 ? box.max.x : box.min.x,
                                                corner & 2 ? box.max.y : box.min.y,
                                                corner & 4 ? box.max.z : box.min.z});
            left = corner ? std::min(left, p.x()) : p.x();
            right = corner ? std::max(right, p.x()) : p.x();
            bottom = corner ? std::min(bottom, p.y()) : p.y();
            top = corner ? std::max(top, p.y()) : p.y();
        }
    }
    const double spanX = std::max(right - left, 1e-3);
    const double spanY = std::max(top - bottom, 1e-3);
    m_camera.scale = std::clamp(
        std::min((width() - 2 * kMargin) / spanX, (height() - 2 * kMargin) / spanY), 1e-6, 1e6);
    m_camera.center = {(left + right) / 2, (bottom + top) / 2};
    update();
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
    m_renderWatcher->setFuture(
        QtConcurrent::run([toolpath = m_toolpath, camera = m_camera, ratio = devicePixelRatioF(),
                           stop = m_stopRendering] {
            return Rendering{ToolpathDrawing::render(*toolpath, camera, ratio, stop.get()), camera,
                             toolpath.get()};
        }));
}

void ToolpathView::onRendered()
{
    Rendering rendering = m_renderWatcher->result();
    // A drawing of the path shown before is dropped; so is one for another size.
    if (!rendering.image.isNull() && rendering.toolpath == m_toolpath.get() &&
        rendering.camera.size == m_camera.size)
        m_shown = std::move(rendering);
    update();
    // Busy until the view as it is now is drawn.
    if (m_renderPending || (m_toolpath && m_shown.camera != m_camera))
        startRendering();
    else if (!isBusy())
        emit idle();
}

void ToolpathView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (m_toolpath && (m_shown.camera != m_camera || m_shown.image.isNull())) {
        if (!m_drawInWorker) {
            QImage image = ToolpathDrawing::render(*m_toolpath, m_camera, devicePixelRatioF(),
                                                   nullptr, QDeadlineTimer(kDrawBudgetMs));
            if (image.isNull())
                m_drawInWorker = true;
            else
                m_shown = {std::move(image), m_camera, m_toolpath.get()};
        }
        if (m_drawInWorker) {
            drawLastImage(painter);
            startRendering();
        }
    }
    if (m_shown.camera == m_camera && !m_shown.image.isNull())
        painter.drawImage(0, 0, m_shown.image);
    else if (!m_toolpath)
        painter.fillRect(rect(), ToolpathDrawing::kBackground);
    painter.setRenderHint(QPainter::Antialiasing);
    drawBoxes(painter);

    if (m_toolpath && !m_toolpath->moves.empty()) {
        if (m_selectedLine >= 0) {
            const auto [first, last] = m_toolpath->movesOfLine(m_selectedLine);
            QPen pen(kSelected, 4);
            pen.setCapStyle(Qt::RoundCap);
            painter.setPen(pen);
            for (std::size_t i = first; i < last; ++i)
                painter.drawPolyline(ToolpathDrawing::polyline(*m_toolpath, i, m_camera));
        }
        painter.setPen(QPen(Qt::white, 2));
        painter.setBrush(kStart);
        painter.drawEllipse(toScreen(m_toolpath->start), 6, 6);
    }
    drawLegend(painter);
}

// Meanwhile the last image, moved and scaled to where its path is now.
void ToolpathView::drawLastImage(QPainter &painter)
{
    painter.fillRect(rect(), ToolpathDrawing::kBackground);
    if (m_shown.image.isNull() || m_shown.camera.projection != m_camera.projection)
        return;
    const ToolpathCamera &old = m_shown.camera;
    const double factor = m_camera.scale / old.scale;
    const QPointF shift = old.center - m_camera.center;
    painter.save();
    painter.translate(width() / 2.0 + shift.x() * m_camera.scale - old.size.width() / 2.0 * factor,
                      height() / 2.0 - shift.y() * m_camera.scale -
                          old.size.height() / 2.0 * factor);
    painter.scale(factor, factor);
    painter.drawImage(0, 0, m_shown.image);
    painter.restore();
}

void ToolpathView::drawBoxes(QPainter &painter) const
{
    if (!hasTravel())
        return;
    if (m_toolpath && !m_toolpath->allBox.isEmpty()) {
        painter.setPen(QPen(kProgramBox, 1, Qt::DotLine));
        painter.drawLines(boxEdges(m_toolpath->allBox, m_camera));
    }
    painter.setPen(QPen(kTravel, 1.5));
    painter.drawLines(boxEdges(travelBox(), m_camera));
}

void ToolpathView::drawLegend(QPainter &painter) const
{
    const int shown = hasTravel() ? int(m_legend.size()) : std::min(3, int(m_legend.size()));
    if (shown == 0)
        return;
    const QFontMetrics metrics = fontMetrics();
    const int row = metrics.height() + 2;
    int textWidth = 0;
    for (int i = 0; i < shown; ++i)
        textWidth = std::max(textWidth, metrics.horizontalAdvance(m_legend.at(i)));
    const QRect frame(8, 8, textWidth + 44, row * shown + 8);
    painter.setPen(QColor(0xd1, 0xd5, 0xdb));
    painter.setBrush(QColor(255, 255, 255, 220));
    painter.drawRect(frame);
    const QPen pens[] = {QPen(ToolpathDrawing::kRapid, 1, Qt::DashLine),
                         QPen(ToolpathDrawing::kFeed, 2),
                         QPen(Qt::white, 2),
                         QPen(ToolpathDrawing::kOutside, 2),
                         QPen(kTravel, 1.5),
                         QPen(kProgramBox, 1, Qt::DotLine)};
    for (int i = 0; i < shown; ++i) {
        const int y = frame.top() + 4 + row * i + row / 2;
        painter.setPen(pens[std::min(i, 5)]);
        if (i == 2) {
            painter.setBrush(kStart);
            painter.drawEllipse(QPointF(frame.left() + 20, y), 5, 5);
        } else {
            painter.drawLine(frame.left() + 8, y, frame.left() + 32, y);
        }
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(QRect(frame.left() + 38, y - row / 2, textWidth + 4, row),
                         Qt::AlignVCenter | Qt::AlignLeft, m_legend.at(i));
    }
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
    if (!m_dragging)
        pickAt(event->localPos());
    m_dragging = false;
}

void ToolpathView::pickAt(const QPointF &point)
{
    if (!m_toolpath)
        return;
    // A click still looked for is overtaken by this one.
    if (m_stopPicking)
        m_stopPicking->store(true);
    const ToolpathDrawing::Hit hit = ToolpathDrawing::lineAt(*m_toolpath, m_camera, point, nullptr,
                                                             QDeadlineTimer(kPickBudgetMs));
    // Each search has a watcher of its own, so that one overtaken never selects anything.
    m_pickWatcher = nullptr;
    if (hit.finished) {
        selectClicked(hit.line);
        return;
    }
    m_pickWatcher = new QFutureWatcher<Pick>(this);
    connect(m_pickWatcher, &QFutureWatcher<Pick>::finished, this, &ToolpathView::onPicked);
    m_stopPicking = std::make_shared<std::atomic<bool>>(false);
    m_pickWatcher->setFuture(
        QtConcurrent::run([toolpath = m_toolpath, camera = m_camera, point, stop = m_stopPicking] {
            const ToolpathDrawing::Hit hit =
                ToolpathDrawing::lineAt(*toolpath, camera, point, stop.get());
            return Pick{hit.line, hit.finished};
        }));
}

void ToolpathView::onPicked()
{
    auto *watcher = static_cast<QFutureWatcher<Pick> *>(sender());
    watcher->deleteLater();
    if (watcher != m_pickWatcher)
        return;
    m_pickWatcher = nullptr;
    const Pick pick = watcher->result();
    if (pick.finished)
        selectClicked(pick.line);
    if (!isBusy())
        emit idle();
}

void ToolpathView::selectClicked(int line)
{
    if (line < 0)
        return;
    setSelectedLine(line);
    emit lineClicked(line);
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
