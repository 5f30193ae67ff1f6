#pragma once

// Geometry the readers, the planner and the preview share: curves turned into chords, lengths
// and containment.

#include "zrcutfile.h"

#include <cmath>
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

// The part of a long operation's bar from one percentage to another: a step of several that
// reports 0 to 100 of its own moves the whole bar on, never back.
Progress partOf(const Progress& whole, int from, int to);

// Points further than this from the origin (1 km) are damage, not drawing: curves that reach
// beyond it are not divided into chords, and addContour() leaves such points out and counts them.
constexpr double maxCoordinateMm = 1e6;
// What one read or one placement may make of a file, in points.
constexpr qint64 maxDrawingPoints = 20 * 1000 * 1000;

inline bool inRange(const QPointF& point)
{
    return std::abs(point.x()) <= maxCoordinateMm && std::abs(point.y()) <= maxCoordinateMm;
}

// Runs work, turning an allocation failure into an error: the library's public calls end
// through it so that a file that asks for more memory than there is fails, never aborts.
bool guarded(const std::function<bool()>& work, QString* error);

// Appends the arc about center from angle start over sweep (radians, counter-clockwise when
// positive), leaving out its first point, in chords no further than tolerance from it. An arc
// that reaches beyond the range is its end point alone, and makes it return false.
bool appendArc(QVector<QPointF>* points, const QPointF& center, double radius, double start,
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

// Drops repeated points, points that are not finite or out of range (counted in the drawing's
// droppedPoints) and, for a closed contour, a last point equal to the first; a contour left with
// fewer than two points (or three for a closed one, which then counts as open) is not worth
// cutting and makes add() return false.
bool addContour(Drawing* drawing, Contour contour);

// Joins open contours of one layer whose ends lie within tolerance of each other into longer
// ones, closing those that come back to their start: CAD draws outlines as separate lines and
// arcs.
void joinContours(QVector<Contour>* contours, double tolerance, const Progress& progress);

// What every reader does last: tells what was left out, and refuses a drawing with nothing to
// cut (nothing names what the file held instead).
bool finishRead(Drawing* read, const ReadOptions& options, const QString& nothing, QString* error);

} // namespace ZRCut
