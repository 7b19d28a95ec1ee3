#pragma once

#include "ToolpathCamera.h"

#include <QDeadlineTimer>
#include <QImage>
#include <QPolygonF>

#include <atomic>

// The toolpath drawn and hit on screen, in whatever thread calls: no widgets. Both walk every
// move, so each gives up when stop becomes true or its deadline passes, and the caller goes on
// in a worker thread.
namespace ToolpathDrawing {

extern const QColor kBackground;
extern const QColor kRapid;
extern const QColor kFeed;
extern const QColor kOutside;

// The path as camera shows it: rapids thin, grey and dashed, feed moves in colour, moves beyond
// the machine's travel in red. A null image when stopped or out of time.
QImage render(const Toolpath &toolpath, const ToolpathCamera &camera, qreal ratio,
              const std::atomic<bool> *stop, QDeadlineTimer deadline = QDeadlineTimer::Forever);

struct Hit
{
    bool finished = false; // false when stopped or out of time
    int line = -1;         // the program line of the move nearest, or -1 for none
};
// The move drawn nearest to point, within a few pixels.
Hit lineAt(const Toolpath &toolpath, const ToolpathCamera &camera, const QPointF &point,
           const std::atomic<bool> *stop, QDeadlineTimer deadline = QDeadlineTimer::Forever);

// Move `index` as drawn, from its start.
QPolygonF polyline(const Toolpath &toolpath, std::size_t index, const ToolpathCamera &camera);

} // namespace ToolpathDrawing
