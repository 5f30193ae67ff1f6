#include "geometry.h"
#include "zrtransforms.h"

#include <cmath>

namespace ZRCut {

namespace {

constexpr int maxTiles = 10000;

// Cuts a segment to the rectangle (Liang-Barsky): false when none of it lies within.
bool clipSegment(QPointF* a, QPointF* b, const QRectF& r)
{
    const QPointF d = *b - *a;
    double t0 = 0, t1 = 1;
    const double p[] = { -d.x(), d.x(), -d.y(), d.y() };
    const double q[] = { a->x() - r.left(), r.right() - a->x(), a->y() - r.top(),
        r.bottom() - a->y() };
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0)
                return false;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0)
            t0 = qMax(t0, t);
        else
            t1 = qMin(t1, t);
    }
    if (t0 > t1)
        return false;
    const QPointF start = *a + d * t0;
    *b = *a + d * t1;
    *a = start;
    return true;
}

// The pieces of a contour within the rectangle: the contour itself when wholly within.
QVector<Contour> clipContour(const Contour& contour, const QRectF& rect)
{
    const QRectF bounds = contour.bounds();
    if (rect.contains(bounds))
        return { contour };
    if (!rect.intersects(bounds) && !(bounds.width() == 0 || bounds.height() == 0))
        return {};
    QVector<QPointF> path = contour.points;
    if (contour.closed)
        path.append(path.first());
    QVector<Contour> pieces;
    for (int i = 0; i + 1 < path.size(); ++i) {
        QPointF a = path.at(i), b = path.at(i + 1);
        if (!clipSegment(&a, &b, rect))
            continue;
        if (!pieces.isEmpty() && pieces.last().points.last() == a)
            pieces.last().points.append(b);
        else
            pieces.append({ { a, b }, false, contour.layer });
    }
    // A closed contour cut open: its last piece runs on into its first.
    if (contour.closed && pieces.size() > 1 && pieces.last().points.last() == pieces.first().points.first()) {
        pieces.first().points = pieces.last().points + pieces.first().points.mid(1);
        pieces.removeLast();
    }
    return pieces;
}

// A registration mark: a cross of two strokes about the centre.
void addMark(Tile* tile, const QPointF& centre, double arm)
{
    const QPointF at = centre - tile->origin;
    tile->marks.append(tile->drawing.contours.size());
    tile->drawing.contours.append(
        { { at - QPointF(arm, 0), at + QPointF(arm, 0) }, false, QStringLiteral("registration") });
    tile->marks.append(tile->drawing.contours.size());
    tile->drawing.contours.append(
        { { at - QPointF(0, arm), at + QPointF(0, arm) }, false, QStringLiteral("registration") });
}

bool split(const Drawing& drawing, const TileOptions& options, QVector<Tile>* tiles, QString* error)
{
    const double overlap = options.overlapMm;
    const QSizeF& size = options.tile;
    if (!(overlap >= 0 && size.width() > 2 * overlap && size.height() > 2 * overlap)) {
        *error = QStringLiteral("a tile must be more than twice the overlap each way");
        return false;
    }
    if (!(options.markMm > 0 && options.markMm <= overlap / 2) && overlap > 0) {
        *error = QStringLiteral("registration marks need an arm above 0 and at most half the overlap");
        return false;
    }
    if (drawing.contours.isEmpty()) {
        *error = QStringLiteral("nothing to tile: the drawing is empty");
        return false;
    }
    const QRectF extent = drawing.bounds();
    const double stepX = size.width() - overlap, stepY = size.height() - overlap;
    const auto count = [&](double length, double step) {
        return qMax(1.0, std::ceil((length - overlap) / step - 1e-9));
    };
    const double columns = count(extent.width(), stepX), rows = count(extent.height(), stepY);
    if (columns * rows > maxTiles) {
        *error = QStringLiteral("the design needs %1 × %2 tiles, more than %3")
                     .arg(columns)
                     .arg(rows)
                     .arg(maxTiles);
        return false;
    }
    QVector<Tile> result;
    for (int row = 0; row < int(rows); ++row) {
        for (int column = 0; column < int(columns); ++column) {
            Tile tile;
            tile.row = row;
            tile.column = column;
            tile.origin = extent.topLeft() + QPointF(column * stepX, row * stepY);
            const QRectF rect(tile.origin, size);
            for (const Contour& contour : drawing.contours) {
                for (Contour piece : clipContour(contour, rect)) {
                    for (QPointF& p : piece.points)
                        p -= tile.origin;
                    tile.drawing.contours.append(piece);
                }
            }
            // Marks in the overlap with each neighbour, a quarter and three quarters along the
            // edge both tiles share beyond the other overlaps.
            const double midX = overlap / 2, midY = overlap / 2;
            for (int side = -1; side <= 1; side += 2) {
                const int neighbourColumn = column + side, neighbourRow = row + side;
                if (overlap > 0 && neighbourColumn >= 0 && neighbourColumn < int(columns)) {
                    const double x = extent.left() + qMax(column, neighbourColumn) * stepX + midX;
                    for (double f : { 0.25, 0.75 })
                        addMark(&tile, QPointF(x, tile.origin.y() + overlap + f * (stepY - overlap)),
                            options.markMm);
                }
                if (overlap > 0 && neighbourRow >= 0 && neighbourRow < int(rows)) {
                    const double y = extent.top() + qMax(row, neighbourRow) * stepY + midY;
                    for (double f : { 0.25, 0.75 })
                        addMark(&tile, QPointF(tile.origin.x() + overlap + f * (stepX - overlap), y),
                            options.markMm);
                }
            }
            result.append(tile);
        }
    }
    *tiles = result;
    return true;
}

} // namespace

bool splitTiles(const Drawing& drawing, const TileOptions& options, QVector<Tile>* tiles,
    QString* error)
{
    return guarded([&] { return split(drawing, options, tiles, error); }, error);
}

} // namespace ZRCut
