#pragma once

#include "MachineProfile.h"
#include "ToolpathCamera.h"

#include <QFutureWatcher>
#include <QImage>
#include <QStringList>
#include <QWidget>

#include <atomic>
#include <memory>
#include <optional>

// The toolpath drawn with QPainter: rapids thin, grey and dashed, feed moves in colour, moves
// beyond the machine's travel in red, the start point marked, a legend in the corner, and the
// machine's travel as a box around the program's. Seen from the top (XY), the front (XZ), the
// side (YZ) or isometric; dragging pans, the wheel zooms about the pointer, F or Home fits the
// part. The moves of the selected line are drawn over the rest, and a click on a move tells
// its line.
//
// No event here takes long, whatever the program: the path is drawn into an image at once when
// that takes a few milliseconds, otherwise in a worker thread, and until that image is ready
// the last one is shown moved and scaled to the present view. A click looks for its move the
// same way.
class ToolpathView : public QWidget
{
    Q_OBJECT
public:
    using Projection = ToolpathCamera::Projection;

    explicit ToolpathView(QWidget *parent = nullptr);
    ~ToolpathView() override;

    void setToolpath(std::shared_ptr<const Toolpath> toolpath);
    std::shared_ptr<const Toolpath> toolpath() const { return m_toolpath; }
    // Axes whose travel is unknown take the program's extent in the box.
    void setMachineTravel(const MachineProfile &machine);
    // The legend's texts: rapid, feed, start point, beyond the travel, the machine's travel, the
    // program's extent (the last three shown with a travel only).
    void setLegend(const QStringList &texts);
    void setProjection(Projection projection);
    Projection projection() const { return m_camera.projection; }
    // Highlights the moves of a program line (from 0); -1 highlights none.
    void setSelectedLine(int line);
    int selectedLine() const { return m_selectedLine; }
    void fit();
    // The widget point where p is drawn.
    QPointF toScreen(const Vec3 &p) const;
    // Drawing the path or looking for a clicked move in a worker thread.
    bool isBusy() const;

    QSize sizeHint() const override { return {640, 480}; }

signals:
    void lineClicked(int line);
    // The work of a worker thread is done and shown: isBusy() is false.
    void idle();

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
        ToolpathCamera camera;
        const Toolpath *toolpath = nullptr; // what it shows
    };
    struct Pick
    {
        int line = -1;
        bool finished = false;
    };

    void drawLastImage(QPainter &painter);
    void startRendering();
    void onRendered();
    void pickAt(const QPointF &point);
    void onPicked();
    void selectClicked(int line);
    void drawBoxes(QPainter &painter) const;
    void drawLegend(QPainter &painter) const;
    // The machine's travel, with the program's extent on the axes whose travel is unknown.
    Box travelBox() const;
    bool hasTravel() const { return m_travel[0] || m_travel[1] || m_travel[2]; }

    std::shared_ptr<const Toolpath> m_toolpath;
    std::optional<AxisTravel> m_travel[3];
    QStringList m_legend;
    ToolpathCamera m_camera;
    int m_selectedLine = -1;
    Rendering m_shown; // the image last drawn, and the view it was drawn for
    // Drawing this path took longer than a frame may: it is drawn in a worker thread from now.
    bool m_drawInWorker = false;
    QFutureWatcher<Rendering> *m_renderWatcher = nullptr;
    std::shared_ptr<std::atomic<bool>> m_stopRendering;
    bool m_renderPending = false;
    QFutureWatcher<Pick> *m_pickWatcher = nullptr;
    std::shared_ptr<std::atomic<bool>> m_stopPicking;
    QPoint m_pressPoint;
    QPoint m_lastDragPoint;
    bool m_dragging = false;
};
