#include "geometry.h"

#include <QLineF>
#include <algorithm>
#include <limits>
#include <vector>

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
    if (depth < maxCurveDepth && inRange(middle) && chordError(a, b, middle) > tolerance) {
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
    if (depth >= maxCurveDepth || flatness <= tolerance || !inRange(c1) || !inRange(c2)) {
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

Progress partOf(const Progress& whole, int from, int to)
{
    Progress part { nullptr, whole.cancel };
    if (whole.report)
        part.report = [report = whole.report, from, to](
                          int percent) { report(from + percent * (to - from) / 100); };
    return part;
}

QString cancelledText()
{
    return QStringLiteral("cancelled");
}

bool guarded(const std::function<bool()>& work, QString* error)
{
    try {
        return work();
    } catch (const std::bad_alloc&) {
        *error = QStringLiteral("out of memory: the file asks for more than this computer has");
        return false;
    }
}

double distance(const QPointF& a, const QPointF& b)
{
    const double dx = a.x() - b.x(), dy = a.y() - b.y();
    return std::sqrt(dx * dx + dy * dy);
}

bool appendArc(QVector<QPointF>* points, const QPointF& center, double radius, double start,
    double sweep, double tolerance)
{
    // An arc beyond the range is not divided: its end alone stands for it, and is left out.
    double pieces = 1;
    const bool inside = radius + std::abs(center.x()) + std::abs(center.y()) <= maxCoordinateMm;
    if (radius > tolerance && inside)
        pieces = std::ceil(std::abs(sweep) / (2 * std::acos(1 - tolerance / radius)));
    pieces = std::isfinite(pieces) ? qBound(1.0, pieces, double(maxCurvePoints)) : 1;
    for (int i = 1; i <= int(pieces); ++i) {
        const double angle = start + sweep * i / pieces;
        points->append(center + QPointF(radius * std::cos(angle), radius * std::sin(angle)));
    }
    return inside;
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
        if (!std::isfinite(point.x()) || !std::isfinite(point.y()) || !inRange(point)) {
            ++drawing->droppedPoints;
            continue;
        }
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

namespace {

// The key of a point for finding ends that meet: a cell of the tolerance's size.
qint64 cellKey(const QPointF& point, double tolerance)
{
    const quint64 x = quint64(qint64(std::floor(point.x() / tolerance)));
    const quint64 y = quint64(qint64(std::floor(point.y() / tolerance)));
    return qint64((x << 32) ^ (y & 0xffffffffu));
}

} // namespace

void joinContours(QVector<Contour>* contours, double tolerance, const Progress& progress)
{
    if (!(tolerance > 0))
        return;
    // Points stand within 1 km of the origin: cells of a micrometre or more fit the key.
    tolerance = qMax(tolerance, 1e-6);
    const int total = contours->size();
    ProgressTracker tracker(progress, total);
    // Each open contour's two ends, sorted by cell: (cell, 2 * contour, plus 1 for its last
    // point). The ends of a cell that are used up move to the front of its run, behind the
    // cursor kept at the run's first place.
    std::vector<std::pair<qint64, int>> ends;
    for (int i = 0; i < contours->size(); ++i) {
        if (!contours->at(i).closed) {
            ends.emplace_back(cellKey(contours->at(i).points.first(), tolerance), 2 * i);
            ends.emplace_back(cellKey(contours->at(i).points.last(), tolerance), 2 * i + 1);
        }
    }
    std::sort(ends.begin(), ends.end());
    std::vector<int> cursor(ends.size());
    for (size_t k = 0; k < ends.size(); ++k)
        cursor[k] = int(k);
    QVector<bool> used(contours->size(), false);
    // An unused open contour of the layer with an end within tolerance of at.
    const auto partner = [&](const QPointF& at, const QString& layer) {
        // The point's own cell first: ends that meet exactly are found there.
        for (const int dx : { 0, -1, 1 }) {
            for (const int dy : { 0, -1, 1 }) {
                const qint64 key = cellKey(at + QPointF(dx, dy) * tolerance, tolerance);
                const auto first = std::lower_bound(
                    ends.begin(), ends.end(), std::make_pair(key, std::numeric_limits<int>::min()));
                const size_t run = size_t(first - ends.begin());
                if (run == ends.size() || first->first != key)
                    continue;
                for (size_t k = size_t(cursor[run]); k < ends.size() && ends[k].first == key; ++k) {
                    const int end = ends[k].second;
                    if (used.at(end / 2)) {
                        std::swap(ends[k], ends[size_t(cursor[run])]);
                        ++cursor[run];
                        continue;
                    }
                    const Contour& other = contours->at(end / 2);
                    const QPointF point = end % 2 ? other.points.last() : other.points.first();
                    if (other.layer == layer && distance(point, at) <= tolerance)
                        return end;
                }
            }
        }
        return -1;
    };
    QVector<Contour> joined;
    joined.reserve(contours->size());
    for (int i = 0; i < contours->size(); ++i) {
        if ((i & 1023) == 0 && !tracker.step(i))
            return;
        if (used.at(i))
            continue;
        used[i] = true;
        Contour chain = contours->at(i);
        if (!chain.closed) {
            // Forwards from the last point, then backwards from the first (gathered reversed).
            QVector<QPointF> before;
            const auto closes = [&] {
                const QPointF first = before.isEmpty() ? chain.points.first() : before.last();
                return distance(first, chain.points.last()) <= tolerance;
            };
            for (int next; !closes() && (next = partner(chain.points.last(), chain.layer)) >= 0;) {
                used[next / 2] = true;
                QVector<QPointF> more = contours->at(next / 2).points;
                if (next % 2)
                    std::reverse(more.begin(), more.end());
                chain.points += more.mid(1);
            }
            for (int next; !closes()
                 && (next = partner(
                         before.isEmpty() ? chain.points.first() : before.last(), chain.layer))
                     >= 0;) {
                used[next / 2] = true;
                QVector<QPointF> more = contours->at(next / 2).points;
                if (next % 2)
                    std::reverse(more.begin(), more.end());
                before += more.mid(1);
            }
            std::reverse(before.begin(), before.end());
            chain.points = before + chain.points;
            if (chain.points.size() > 3 && closes()) {
                chain.points.removeLast();
                chain.closed = true;
            }
        }
        joined.append(std::move(chain));
    }
    *contours = std::move(joined);
    tracker.step(total);
}

bool finishRead(Drawing* read, const ReadOptions& options, const QString& nothing, QString* error)
{
    if (read->droppedPoints > 0)
        read->warnings.append(
            QStringLiteral("%1 points left out: not numbers, or further than 1 km from the origin")
                .arg(read->droppedPoints));
    if (read->textItems > 0 && options.text == TextMode::Skip)
        read->warnings.append(QStringLiteral("%1 text items left out").arg(read->textItems));
    if (read->contours.isEmpty()) {
        *error = QStringLiteral("nothing to cut: %1").arg(nothing);
        return false;
    }
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
