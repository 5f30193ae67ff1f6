#include "parts.h"

#include <algorithm>

namespace ZRCut {

double signedArea(const QVector<QPointF>& polygon)
{
    double twice = 0;
    const int n = polygon.size();
    for (int i = 0; i < n; ++i) {
        const QPointF& a = polygon.at(i);
        const QPointF& b = polygon.at((i + 1) % n);
        twice += a.x() * b.y() - b.x() * a.y();
    }
    return twice / 2;
}

QVector<QPointF> convexHull(QVector<QPointF> points)
{
    std::sort(points.begin(), points.end(), [](const QPointF& a, const QPointF& b) {
        return a.x() < b.x() || (a.x() == b.x() && a.y() < b.y());
    });
    points.erase(std::unique(points.begin(), points.end()), points.end());
    if (points.size() < 3)
        return points;
    const auto cross = [](const QPointF& o, const QPointF& a, const QPointF& b) {
        return (a.x() - o.x()) * (b.y() - o.y()) - (a.y() - o.y()) * (b.x() - o.x());
    };
    QVector<QPointF> hull(2 * points.size());
    int k = 0;
    for (int i = 0; i < points.size(); ++i) {
        while (k >= 2 && cross(hull.at(k - 2), hull.at(k - 1), points.at(i)) <= 0)
            --k;
        hull[k++] = points.at(i);
    }
    for (int i = points.size() - 2, lower = k + 1; i >= 0; --i) {
        while (k >= lower && cross(hull.at(k - 2), hull.at(k - 1), points.at(i)) <= 0)
            --k;
        hull[k++] = points.at(i);
    }
    hull.resize(k - 1);
    return hull;
}

QVector<int> contourDepths(const QVector<int>& parent)
{
    QVector<int> depth(parent.size(), -1);
    for (int c = 0; c < parent.size(); ++c) {
        int d = 0;
        for (int p = parent.at(c); p >= 0 && d <= parent.size(); p = parent.at(p))
            ++d;
        depth[c] = d;
    }
    return depth;
}

double partArea(const Drawing& drawing, const Part& part)
{
    if (part.outline < 0)
        return 0;
    double area = 0;
    for (int c : part.contours) {
        const Contour& contour = drawing.contours.at(c);
        if (contour.closed)
            area += (c == part.outline ? 1 : -1) * std::abs(signedArea(contour.points));
    }
    return qMax(0.0, area);
}

QVector<Part> findParts(const Drawing& drawing)
{
    const QVector<Contour>& contours = drawing.contours;
    const QVector<int> parent = enclosingContours(contours);
    const QVector<int> depth = contourDepths(parent);
    QVector<Part> parts;
    QVector<int> partOf(contours.size(), -1);
    for (int c = 0; c < contours.size(); ++c) {
        if (contours.at(c).closed && depth.at(c) % 2 == 0) {
            partOf[c] = parts.size();
            parts.append(Part { c, { c } });
        }
    }
    for (int c = 0; c < contours.size(); ++c) {
        if (partOf.at(c) >= 0)
            continue;
        // A hole belongs to the part around it; an open contour to the part it lies in, or to
        // the part whose hole it lies in.
        int owner = parent.at(c);
        if (owner >= 0 && depth.at(owner) % 2 == 1)
            owner = parent.at(owner);
        if (owner >= 0) {
            parts[partOf.at(owner)].contours.append(c);
        } else {
            parts.append(Part { -1, { c } });
        }
    }
    return parts;
}

} // namespace ZRCut
