#include "geometry.h"

#include <QLineF>

#include <cmath>

namespace ZRCut {

namespace {

// Curves finer than this are damage, not drawing: a bound on the points one curve can make.
constexpr int maxCurvePoints = 1 << 16;
constexpr int maxCurveDepth = 16;

double chordError(const QPointF& a, const QPointF& b, const QPointF& point)
{
    const QPointF chord = b - a;
    const double length = std::hypot(chord.x(), chord.y());
    if (length <= 0)
        return distance(a, point);
    const QPointF from = point - a;
    return std::abs(chord.x() * from.y() - chord.y() * from.x()) / length;
}

void splitCurve(QVector<QPointF>* points, const std::function<QPointF(double)>& f, double t0,
    const QPointF& a, double t1, const QPointF& b, double tolerance, int depth)
{
    const double tm = (t0 + t1) / 2;
    const QPointF middle = f(tm);
    if (depth < maxCurveDepth && chordError(a, b, middle) > tolerance) {
        splitCurve(points, f, t0, a, tm, middle, tolerance, depth + 1);
        splitCurve(points, f, tm, middle, t1, b, tolerance, depth + 1);
        return;
    }
    points->append(b);
}

void splitCubic(QVector<QPointF>* points, const QPointF& p0, const QPointF& c1, const QPointF& c2,
    const QPointF& p3, double tolerance, int depth)
{
    // The curve stays within three quarters of its controls' distance from the chord.
    const double flatness = qMax(chordError(p0, p3, c1), chordError(p0, p3, c2)) * 0.75;
    if (depth >= maxCurveDepth || flatness <= tolerance) {
        points->append(p3);
        return;
    }
    const QPointF a = (p0 + c1) / 2, b = (c1 + c2) / 2, c = (c2 + p3) / 2;
    const QPointF ab = (a + b) / 2, bc = (b + c) / 2;
    const QPointF middle = (ab + bc) / 2;
    splitCubic(points, p0, a, ab, middle, tolerance, depth + 1);
    splitCubic(points, middle, bc, c, p3, tolerance, depth + 1);
}

} // namespace

ProgressTracker::ProgressTracker(const Progress& progress, qint64 total)
    : m_progress(progress)
    , m_total(qMax<qint64>(1, total))
{ }

bool ProgressTracker::step(qint64 done)
{
    if (cancelled())
        return false;
    const int percent = int(qBound<qint64>(0, done * 100 / m_total, 100));
    if (percent != m_percent && m_progress.report) {
        m_percent = percent;
        m_progress.report(percent);
    }
    return true;
}

QString cancelledText()
{
    return QStringLiteral("cancelled");
}

double distance(const QPointF& a, const QPointF& b)
{
    const double dx = a.x() - b.x(), dy = a.y() - b.y();
    return std::sqrt(dx * dx + dy * dy);
}

void appendArc(QVector<QPointF>* points, const QPointF& center, double radius, double start,
    double sweep, double tolerance)
{
    int pieces = 1;
    if (radius > tolerance) {
        const double step = 2 * std::acos(1 - tolerance / radius);
        pieces = int(std::ceil(std::abs(sweep) / step));
    }
    pieces = qBound(1, pieces, maxCurvePoints);
    for (int i = 1; i <= pieces; ++i) {
        const double angle = start + sweep * i / pieces;
        points->append(center + QPointF(radius * std::cos(angle), radius * std::sin(angle)));
    }
}

void appendCubic(QVector<QPointF>* points, const QPointF& p0, const QPointF& c1, const QPointF& c2,
    const QPointF& p3, double tolerance)
{
    splitCubic(points, p0, c1, c2, p3, tolerance, 0);
}

void appendCurve(QVector<QPointF>* points, const std::function<QPointF(double)>& f, double t0,
    double t1, int pieces, double tolerance)
{
    pieces = qBound(1, pieces, maxCurvePoints);
    QPointF a = f(t0);
    for (int i = 1; i <= pieces; ++i) {
        const double s0 = t0 + (t1 - t0) * (i - 1) / pieces;
        const double s1 = t0 + (t1 - t0) * i / pieces;
        const QPointF b = f(s1);
        splitCurve(points, f, s0, a, s1, b, tolerance, 0);
        a = b;
    }
}

double polylineLength(const QVector<QPointF>& points, bool closed)
{
    double length = 0;
    for (int i = 1; i < points.size(); ++i)
        length += distance(points.at(i - 1), points.at(i));
    if (closed && points.size() > 1)
        length += distance(points.last(), points.first());
    return length;
}

QRectF pointBounds(const QVector<QPointF>& points)
{
    if (points.isEmpty())
        return {};
    double left = points.first().x(), right = left;
    double bottom = points.first().y(), top = bottom;
    for (const QPointF& point : points) {
        left = qMin(left, point.x());
        right = qMax(right, point.x());
        bottom = qMin(bottom, point.y());
        top = qMax(top, point.y());
    }
    return QRectF(QPointF(left, bottom), QPointF(right, top));
}

bool insidePolygon(const QPointF& point, const QVector<QPointF>& polygon)
{
    bool inside = false;
    const int count = polygon.size();
    for (int i = 0, j = count - 1; i < count; j = i++) {
        const QPointF& a = polygon.at(i);
        const QPointF& b = polygon.at(j);
        if ((a.y() > point.y()) != (b.y() > point.y())
            && point.x() < (b.x() - a.x()) * (point.y() - a.y()) / (b.y() - a.y()) + a.x())
            inside = !inside;
    }
    return inside;
}

bool addContour(Drawing* drawing, Contour contour)
{
    QVector<QPointF>& points = contour.points;
    int kept = 0;
    for (int i = 0; i < points.size(); ++i) {
        const QPointF& point = points.at(i);
        if (!std::isfinite(point.x()) || !std::isfinite(point.y()))
            continue;
        if (kept > 0 && points.at(kept - 1) == point)
            continue;
        points[kept++] = point;
    }
    points.resize(kept);
    if (contour.closed && kept > 1 && points.first() == points.last())
        points.removeLast();
    if (contour.closed && points.size() < 3) {
        contour.closed = false;
        if (points.size() == 2)
            points.append(points.first());
    }
    if (points.size() < 2)
        return false;
    points.squeeze();
    drawing->contours.append(std::move(contour));
    return true;
}

double Contour::lengthMm() const
{
    return polylineLength(points, closed);
}

QRectF Contour::bounds() const
{
    return pointBounds(points);
}

QRectF Drawing::bounds() const
{
    QRectF all;
    for (const Contour& contour : contours) {
        const QRectF extent = contour.bounds();
        all = all.isNull() ? extent : all.united(extent);
    }
    return all;
}

double Drawing::lengthMm() const
{
    double length = 0;
    for (const Contour& contour : contours)
        length += contour.lengthMm();
    return length;
}

int Drawing::pointCount() const
{
    int count = 0;
    for (const Contour& contour : contours)
        count += contour.points.size();
    return count;
}

} // namespace ZRCut
