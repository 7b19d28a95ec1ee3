#pragma once

#include "Toolpath.h"

#include <QFutureWatcher>
#include <QImage>
#include <QPointF>
#include <QWidget>

#include <atomic>
#include <memory>

// The toolpath drawn with QPainter: rapids thin, grey and dashed, feed moves in colour, the
// start point marked. Seen from the top (XY), the front (XZ), the side (YZ) or isometric;
// dragging pans, the wheel zooms about the pointer, F or Home fits the part. The moves of the
// selected line are drawn over the rest, and a click on a move tells its line.
//
// The path is drawn into an image. A large program is drawn in a worker thread, and until
// that image is ready the last one is shown moved and scaled to the present view.
class ToolpathView : public QWidget
{
    Q_OBJECT
public:
    enum class Projection { Top, Front, Side, Isometric };
    Q_ENUM(Projection)

    // Where and how the path is shown: enough to draw it anywhere, in any thread.
    struct Camera
    {
        Projection projection = Projection::Top;
        double scale = 1.0; // pixels per millimetre
        QPointF center;     // projected point shown in the middle
        QSize size;

        QPointF project(const Vec3 &p) const;
        QPointF toScreen(const Vec3 &p) const;
        bool operator==(const Camera &other) const;
    };

    explicit ToolpathView(QWidget *parent = nullptr);
    ~ToolpathView() override;

    void setToolpath(std::shared_ptr<const Toolpath> toolpath);
    void setProjection(Projection projection);
    Projection projection() const { return m_camera.projection; }
    // Highlights the moves of a program line (from 0); -1 highlights none.
    void setSelectedLine(int line);
    int selectedLine() const { return m_selectedLine; }
    void fit();
    // The widget point where p is drawn.
    QPointF toScreen(const Vec3 &p) const;
    // The program line of the move drawn nearest to point within a few pixels, or -1.
    int lineAt(const QPointF &point) const;

    QSize sizeHint() const override { return {640, 480}; }

signals:
    void lineClicked(int line);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    struct Rendering
    {
        QImage image;
        Camera camera;
    };
    static Rendering render(std::shared_ptr<const Toolpath> toolpath, Camera camera, qreal ratio,
                            const std::atomic<bool> *stop);
    void startRendering();
    void onRendered();

    std::shared_ptr<const Toolpath> m_toolpath;
    Camera m_camera;
    int m_selectedLine = -1;
    Rendering m_shown; // the image last drawn, and the view it was drawn for
    QFutureWatcher<Rendering> *m_renderWatcher = nullptr;
    std::shared_ptr<std::atomic<bool>> m_stopRendering;
    bool m_renderPending = false;
    QPoint m_pressPoint;
    QPoint m_lastDragPoint;
    bool m_dragging = false;
};
