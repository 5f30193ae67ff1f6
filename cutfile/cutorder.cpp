#include "cutorder.h"

#include <algorithm>
#include <map>
#include <tuple>
#include <cmath>

namespace ZRCut {

namespace {

// A square grid over an extent, cells numbered row by row.
class Grid {
public:
    Grid(const QRectF& extent, int side)
        : m_origin(extent.topLeft())
        , m_side(qMax(1, side))
    {
        m_cell = qMax(qMax(extent.width(), extent.height()) / m_side, 1e-6);
    }

    int side() const { return m_side; }
    double cellSize() const { return m_cell; }
    int column(double x) const { return qBound(0, int((x - m_origin.x()) / m_cell), m_side - 1); }
    int row(double y) const { return qBound(0, int((y - m_origin.y()) / m_cell), m_side - 1); }
    int cellAt(const QPointF& point) const { return row(point.y()) * m_side + column(point.x()); }

private:
    QPointF m_origin;
    int m_side;
    double m_cell;
};

int gridSide(int items)
{
    return qBound(1, int(std::ceil(std::sqrt(double(items)))), 2048);
}

// Entries filed by cell: entries of cell c stand in [start[c], start[c + 1]).
struct CellIndex {
    QVector<int> start;
    QVector<int> entries;

    // cellsOf(i, add) calls add(cell) for every cell of item i.
    template <typename CellsOf> void build(int cells, int items, const CellsOf& cellsOf)
    {
        start.fill(0, cells + 1);
        for (int i = 0; i < items; ++i)
            cellsOf(i, [&](int cell) { ++start[cell + 1]; });
        for (int c = 0; c < cells; ++c)
            start[c + 1] += start[c];
        entries.resize(start.last());
        QVector<int> fill = start;
        for (int i = 0; i < items; ++i)
            cellsOf(i, [&](int cell) { entries[fill[cell]++] = i; });
    }
};

bool covers(const QRectF& outer, const QRectF& inner)
{
    return outer.left() <= inner.left() && outer.right() >= inner.right()
        && outer.top() <= inner.top() && outer.bottom() >= inner.bottom();
}

double area(const QRectF& rect)
{
    return rect.width() * rect.height();
}

// A point where the knife may go down on a contour.
struct Entry {
    QPointF point;
    int contour;
    int vertex;
};

constexpr int startsPerClosedContour = 8;

// Every contour's enclosing closed contour, as enclosingContours() tells it; false when the
// tracker is cancelled.
bool findEnclosing(
    const QVector<Contour>& contours, const ProgressTracker* tracker, QVector<int>* found)
{
    const int count = contours.size();
    QVector<int>& parent = *found;
    parent.fill(-1, count);
    QVector<QRectF> bounds(count);
    QVector<int> closed;
    QRectF extent;
    for (int i = 0; i < count; ++i) {
        bounds[i] = contours.at(i).bounds();
        extent = extent.isNull() ? bounds.at(i) : extent.united(bounds.at(i));
        if (contours.at(i).closed)
            closed.append(i);
    }
    if (closed.isEmpty())
        return true;

    // Closed contours filed under every cell their extent touches; a coarser grid when large
    // extents would fill too many cells.
    int side = gridSide(closed.size());
    const auto cellsCovered = [&](const Grid& grid, const QRectF& rect) {
        return qint64(grid.column(rect.right()) - grid.column(rect.left()) + 1)
            * (grid.row(rect.bottom()) - grid.row(rect.top()) + 1);
    };
    for (;;) {
        const Grid grid(extent, side);
        qint64 total = 0;
        for (int i : qAsConst(closed))
            total += cellsCovered(grid, bounds.at(i));
        if (side == 1 || total <= 16 * qint64(closed.size()) + qint64(side) * side)
            break;
        side /= 2;
    }
    const Grid grid(extent, side);
    CellIndex index;
    index.build(side * side, closed.size(), [&](int i, const auto& add) {
        const QRectF& rect = bounds.at(closed.at(i));
        for (int row = grid.row(rect.top()); row <= grid.row(rect.bottom()); ++row) {
            for (int column = grid.column(rect.left()); column <= grid.column(rect.right());
                 ++column)
                add(row * side + column);
        }
    });

    for (int i = 0; i < count; ++i) {
        if ((i & 1023) == 0 && tracker && tracker->cancelled())
            return false;
        const QPointF probe = contours.at(i).points.first();
        const int cell = grid.cellAt(probe);
        const double ownArea = area(bounds.at(i));
        double best = 0;
        for (int e = index.start.at(cell); e < index.start.at(cell + 1); ++e) {
            const int candidate = closed.at(index.entries.at(e));
            const double candidateArea = area(bounds.at(candidate));
            if (candidate == i || candidateArea <= ownArea
                || (parent.at(i) >= 0 && candidateArea >= best)
                || !covers(bounds.at(candidate), bounds.at(i))
                || !insidePolygon(probe, contours.at(candidate).points))
                continue;
            parent[i] = candidate;
            best = candidateArea;
        }
    }
    return true;
}

} // namespace

QVector<int> enclosingContours(const QVector<Contour>& contours)
{
    QVector<int> parent;
    findEnclosing(contours, nullptr, &parent);
    return parent;
}

bool orderContours(const QVector<Contour>& contours, ProgressTracker& tracker,
    QVector<CutStep>* steps, QPointF* position_)
{
    const int count = contours.size();
    QVector<int> parent;
    if (!findEnclosing(contours, &tracker, &parent))
        return false;
    // An outline drawn twice: its copies (closed contours of one extent) all wait for what the
    // one found around a hole holds.
    using Extent = std::tuple<double, double, double, double>;
    const auto extentOf = [&](int c) {
        const QRectF r = contours.at(c).bounds();
        return Extent(r.left(), r.top(), r.right(), r.bottom());
    };
    std::map<Extent, QVector<int>> sameExtent;
    for (int c = 0; c < count; ++c) {
        if (contours.at(c).closed)
            sameExtent[extentOf(c)].append(c);
    }
    const auto copiesOf = [&](int c) { return sameExtent.at(extentOf(c)); };
    QVector<int> waiting(count, 0);
    for (int p : parent) {
        if (p >= 0) {
            for (int copy : copiesOf(p))
                ++waiting[copy];
        }
    }

    // The places to go down: both ends of an open contour, some vertices of a closed one.
    QVector<Entry> entries;
    QRectF extent;
    for (int c = 0; c < count; ++c) {
        const Contour& contour = contours.at(c);
        const int n = contour.points.size();
        if (!contour.closed) {
            entries.append({ contour.points.first(), c, 0 });
            entries.append({ contour.points.last(), c, n - 1 });
        } else {
            const int stride = qMax(1, n / startsPerClosedContour);
            for (int v = 0; v < n; v += stride)
                entries.append({ contour.points.at(v), c, v });
        }
        const QRectF bounds = contour.bounds();
        extent = extent.isNull() ? bounds : extent.united(bounds);
    }
    extent = extent.united(QRectF(position_->x(), position_->y(), 0, 0));
    const Grid grid(extent, gridSide(count));
    const int side = grid.side();
    CellIndex index;
    index.build(side * side, entries.size(),
        [&](int i, const auto& add) { add(grid.cellAt(entries.at(i).point)); });
    // Entries of contours already cut are moved behind the live ones of their cell.
    QVector<int> live(side * side);
    for (int c = 0; c < side * side; ++c)
        live[c] = index.start.at(c + 1) - index.start.at(c);

    QVector<bool> done(count, false);
    steps->clear();
    steps->reserve(count);
    QPointF& position = *position_;
    const auto consider = [&](int cell, int* best, double* bestDistance) {
        const int first = index.start.at(cell);
        for (int k = 0; k < live.at(cell);) {
            const int e = index.entries.at(first + k);
            const Entry& entry = entries.at(e);
            if (done.at(entry.contour)) {
                std::swap(index.entries[first + k], index.entries[first + live.at(cell) - 1]);
                --live[cell];
                continue;
            }
            ++k;
            if (waiting.at(entry.contour) > 0)
                continue;
            const double d = distance(position, entry.point);
            if (*best < 0 || d < *bestDistance) {
                *best = e;
                *bestDistance = d;
            }
        }
    };

    for (int n = 0; n < count; ++n) {
        if ((n & 255) == 0 && !tracker.step(n))
            return false;
        const int cx = grid.column(position.x()), cy = grid.row(position.y());
        int best = -1;
        double bestDistance = 0;
        for (int r = 0; r <= side; ++r) {
            for (int y = cy - r; y <= cy + r; ++y) {
                if (y < 0 || y >= side)
                    continue;
                const bool edgeRow = y == cy - r || y == cy + r;
                for (int x = cx - r; x <= cx + r; x += edgeRow ? 1 : 2 * r) {
                    if (x >= 0 && x < side)
                        consider(y * side + x, &best, &bestDistance);
                    if (r == 0)
                        break;
                }
            }
            if (best >= 0 && bestDistance <= r * grid.cellSize())
                break;
        }
        if (best < 0)
            return false;
        const Entry& entry = entries.at(best);
        const Contour& contour = contours.at(entry.contour);
        CutStep step { entry.contour, 0, false };
        if (contour.closed) {
            // The nearest vertex of all, not only of those filed.
            double nearest = -1;
            for (int v = 0; v < contour.points.size(); ++v) {
                const double d = distance(position, contour.points.at(v));
                if (nearest < 0 || d < nearest) {
                    nearest = d;
                    step.start = v;
                }
            }
            position = contour.points.at(step.start);
        } else {
            step.reversed = entry.vertex != 0;
            position = step.reversed ? contour.points.first() : contour.points.last();
        }
        done[entry.contour] = true;
        if (parent.at(entry.contour) >= 0) {
            for (int copy : copiesOf(parent.at(entry.contour)))
                --waiting[copy];
        }
        steps->append(step);
    }
    return true;
}

} // namespace ZRCut
