#pragma once

// Geometry the readers, the planner and the preview share: curves turned into chords, lengths
// and containment.

#include "zrcutfile.h"

#include <functional>

namespace ZRCut {

// Follows a Progress through a long loop: step() reports a changed percentage and tells whether
// to go on.
class ProgressTracker {
public:
    ProgressTracker(const Progress& progress, qint64 total);
    bool step(qint64 done);
    bool cancelled() const { return m_progress.cancel && m_progress.cancel->load(); }

private:
    const Progress& m_progress;
    qint64 m_total;
    int m_percent = -1;
};

QString cancelledText();

// Appends the arc about center from angle start over sweep (radians, counter-clockwise when
// positive), leaving out its first point, in chords no further than tolerance from it.
void appendArc(QVector<QPointF>* points, const QPointF& center, double radius, double start,
    double sweep, double tolerance);
// Appends the cubic Bézier from p0 through the controls c1, c2 to p3, leaving out p0.
void appendCubic(QVector<QPointF>* points, const QPointF& p0, const QPointF& c1, const QPointF& c2,
    const QPointF& p3, double tolerance);
// Appends the curve f over (t0, t1], splitting until each chord's middle lies within tolerance
// of the curve; pieces is the least number of chords to start from.
void appendCurve(QVector<QPointF>* points, const std::function<QPointF(double)>& f, double t0,
    double t1, int pieces, double tolerance);

double polylineLength(const QVector<QPointF>& points, bool closed);
QRectF pointBounds(const QVector<QPointF>& points);
bool insidePolygon(const QPointF& point, const QVector<QPointF>& polygon);
double distance(const QPointF& a, const QPointF& b);

// Drops repeated points and, for a closed contour, a last point equal to the first; a contour
// left with fewer than two points (or three for a closed one, which then counts as open) is not
// worth cutting and makes add() return false.
bool addContour(Drawing* drawing, Contour contour);

} // namespace ZRCut
