#pragma once

#include "Toolpath.h"

#include <QImage>
#include <QPointF>
#include <QWidget>

#include <memory>

// The toolpath drawn with QPainter: rapids thin, grey and dashed, feed moves in colour, the
// start point marked. Seen from the top (XY), the front (XZ), the side (YZ) or isometric;
// dragging pans, the wheel zooms about the pointer, F or Home fits the part. The moves of the
// selected line are drawn over the rest, and a click on a move tells its line.
class ToolpathView : public QWidget
{
    Q_OBJECT
public:
    enum class Projection { Top, Front, Side, Isometric };
    Q_ENUM(Projection)

    explicit ToolpathView(QWidget *parent = nullptr);

    void setToolpath(std::shared_ptr<const Toolpath> toolpath);
    void setProjection(Projection projection);
    Projection projection() const { return m_projection; }
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
    QPointF project(const Vec3 &p) const;
    // Calls sink(point) along move `index`: its end for a line, points along an arc.
    template <typename Sink> void trace(std::size_t index, Sink sink) const;
    void renderPath();
    void invalidate();

    std::shared_ptr<const Toolpath> m_toolpath;
    Projection m_projection = Projection::Top;
    int m_selectedLine = -1;
    double m_scale = 1.0; // pixels per millimetre
    QPointF m_center;     // projected point shown in the widget's centre
    QImage m_cache;       // the path as last drawn; redrawn when the view changes
    bool m_cacheValid = false;
    QPoint m_pressPoint;
    QPoint m_lastDragPoint;
    bool m_dragging = false;
};
