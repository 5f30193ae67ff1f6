#pragma once

// What nesting, bridges and weeding share: parts, their hulls and areas, contours turned as a
// whole.

#include "geometry.h"
#include "zrtransforms.h"

namespace ZRCut {

// Signed area of a polygon: positive when counter-clockwise.
double signedArea(const QVector<QPointF>& polygon);
// The convex hull, counter-clockwise, without repeated points.
QVector<QPointF> convexHull(QVector<QPointF> points);
// A part's area: its outline less its holes (0 for an open contour standing alone).
double partArea(const Drawing& drawing, const Part& part);
// Nesting depth of each contour: 0 for one in no closed contour, 1 inside one, ...
QVector<int> contourDepths(const QVector<int>& parent);
// The point rotated by angle (radians, counter-clockwise) about the origin and moved by offset.
inline QPointF turned(const QPointF& p, double cosine, double sine, const QPointF& offset)
{
    return QPointF(p.x() * cosine - p.y() * sine, p.x() * sine + p.y() * cosine) + offset;
}

} // namespace ZRCut
