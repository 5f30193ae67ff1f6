#include "nesting.h"

#include <polyclipping/clipper.hpp>

#include <QSet>

#include <algorithm>
#include <cmath>

namespace ZRCut {

namespace {

using ClipperLib::cInt;
using ClipperLib::IntPoint;
using ClipperLib::Path;
using ClipperLib::Paths;

constexpr double unitsPerMm = 1000.0;
// Obstacles grow by this much more (micrometres) so that rounding never lets parts touch.
constexpr cInt slackUnits = 2;

IntPoint toUnits(const QPointF& p)
{
    return { cInt(std::llround(p.x() * unitsPerMm)), cInt(std::llround(p.y() * unitsPerMm)) };
}

QPointF toMm(const IntPoint& p)
{
    return QPointF(p.X / unitsPerMm, p.Y / unitsPerMm);
}

Path toPath(const QVector<QPointF>& points)
{
    Path path;
    path.reserve(points.size());
    for (const QPointF& p : points)
        path.push_back(toUnits(p));
    return path;
}

Paths offsetBy(const Paths& paths, double mm)
{
    ClipperLib::ClipperOffset offset;
    offset.AddPaths(paths, ClipperLib::jtMiter, ClipperLib::etClosedPolygon);
    Paths result;
    offset.Execute(result, mm * unitsPerMm);
    return result;
}

// A convex polygon grown by mm on every side, still convex.
QVector<QPointF> grown(const QVector<QPointF>& polygon, double mm)
{
    QVector<QPointF> points;
    for (const Path& path : offsetBy({ toPath(polygon) }, mm)) {
        for (const IntPoint& p : path)
            points.append(toMm(p));
    }
    return convexHull(points);
}

QVector<QPointF> turnedHull(const QVector<QPointF>& hull, double angle)
{
    const double cosine = std::cos(angle), sine = std::sin(angle);
    QVector<QPointF> result;
    for (const QPointF& p : hull)
        result.append(turned(p, cosine, sine, QPointF()));
    return result;
}

// One hole being filled: where parts may go, and the parts already set in it (grown by the
// spacing), in the host's coordinates.
struct Hole {
    Paths room; // the hole shrunk by the spacing
    QRectF bounds;
    QVector<QVector<QPointF>> taken;
};

// The lowest (then leftmost) offset at which the polygon, moved by it, lies in the hole's room
// clear of what the hole holds; false when there is none.
bool findSpot(const Hole& hole, const QVector<QPointF>& polygon, QPointF* spot)
{
    const QRectF extent = pointBounds(polygon);
    if (extent.width() > hole.bounds.width() || extent.height() > hole.bounds.height())
        return false;
    // Offsets that bring the polygon's edge onto the room's edge, or into what is taken.
    Path mirrored;
    for (const QPointF& p : polygon)
        mirrored.push_back(toUnits(-p));
    // The room's edge swept as an open path: swept as a closed one, its inside is filled too.
    Paths forbidden;
    for (Path edge : hole.room) {
        edge.push_back(edge.front());
        Paths swept;
        ClipperLib::MinkowskiSum(mirrored, edge, swept, false);
        forbidden.insert(forbidden.end(), swept.begin(), swept.end());
    }
    for (const QVector<QPointF>& taken : hole.taken) {
        QVector<QPointF> sums;
        for (const QPointF& q : taken) {
            for (const QPointF& p : polygon)
                sums.append(q - p);
        }
        forbidden.push_back(toPath(convexHull(sums)));
    }
    forbidden = offsetBy(forbidden, slackUnits / unitsPerMm);
    // Offsets that bring the polygon's first vertex into the room.
    Paths inside = hole.room;
    const IntPoint first = toUnits(polygon.first());
    for (Path& path : inside) {
        for (IntPoint& p : path)
            p = { p.X - first.X, p.Y - first.Y };
    }
    ClipperLib::Clipper clipper;
    clipper.AddPaths(inside, ClipperLib::ptSubject, true);
    clipper.AddPaths(forbidden, ClipperLib::ptClip, true);
    Paths free;
    clipper.Execute(ClipperLib::ctDifference, free, ClipperLib::pftNonZero, ClipperLib::pftNonZero);
    bool found = false;
    IntPoint best;
    for (const Path& path : free) {
        // Slivers of rounding are no room.
        if (std::abs(ClipperLib::Area(path)) < 4.0 || !ClipperLib::Orientation(path))
            continue;
        for (const IntPoint& p : path) {
            if (!found || p.Y < best.Y || (p.Y == best.Y && p.X < best.X)) {
                best = p;
                found = true;
            }
        }
    }
    *spot = toMm(best);
    return found;
}

} // namespace

bool fillHoles(const QVector<NestDesign>& designs, const QVector<QVector<Part>>& parts,
    QVector<Piece>* pieces_, const QVector<double>& angles, double spacing,
    const std::function<bool()>& stop)
{
    QVector<Piece>& pieces = *pieces_;
    QVector<int> bySize(pieces.size());
    for (int i = 0; i < pieces.size(); ++i)
        bySize[i] = i;
    std::stable_sort(bySize.begin(), bySize.end(), [&](int a, int b) {
        return std::abs(signedArea(pieces.at(a).hull)) > std::abs(signedArea(pieces.at(b).hull));
    });
    for (int host : qAsConst(bySize)) {
        if (pieces.at(host).isGuest)
            continue;
        const Drawing& drawing = designs.at(pieces.at(host).design).drawing;
        const Part& part = parts.at(pieces.at(host).design).at(pieces.at(host).part);
        for (int c : part.contours) {
            const Contour& contour = drawing.contours.at(c);
            if (c == part.outline || !contour.closed)
                continue;
            if (stop())
                return false;
            Hole hole;
            hole.room = offsetBy({ toPath(contour.points) }, -spacing);
            if (hole.room.empty())
                continue;
            hole.bounds = contour.bounds().adjusted(spacing, spacing, -spacing, -spacing);
            // A kind of part that did not fit will not fit once more is taken.
            QSet<QPair<int, int>> failed;
            for (int guest : qAsConst(bySize)) {
                Piece& candidate = pieces[guest];
                const QPair<int, int> kind(candidate.design, candidate.part);
                if (guest == host || candidate.isGuest || !candidate.guests.isEmpty()
                    || failed.contains(kind))
                    continue;
                bool placed = false;
                for (double angle : angles) {
                    const QVector<QPointF> polygon = turnedHull(candidate.hull, angle);
                    QPointF spot;
                    if (!findSpot(hole, polygon, &spot))
                        continue;
                    QVector<QPointF> taken;
                    for (const QPointF& p : polygon)
                        taken.append(p + spot);
                    hole.taken.append(grown(taken, spacing));
                    pieces[host].guests.append({ guest, angle, spot });
                    candidate.isGuest = true;
                    placed = true;
                    break;
                }
                if (!placed)
                    failed.insert(kind);
            }
        }
    }
    return true;
}

} // namespace ZRCut
