#pragma once

#include "Toolpath.h"

#include <QPointF>
#include <QSize>

// Where and how the toolpath is shown: the projection, the scale and the point in the middle
// of a widget of a given size. A plain value, enough to draw the path in any thread.
struct ToolpathCamera
{
    enum class Projection { Top, Front, Side, Isometric };

    Projection projection = Projection::Top;
    double scale = 1.0; // pixels per millimetre
    QPointF center;     // projected point shown in the middle
    QSize size;

    // p seen in the projection, in millimetres.
    QPointF project(const Vec3 &p) const;
    // The widget point where p is drawn.
    QPointF toScreen(const Vec3 &p) const;
    bool operator==(const ToolpathCamera &other) const;
    bool operator!=(const ToolpathCamera &other) const { return !(*this == other); }
};
