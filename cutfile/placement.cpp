#include "geometry.h"

#include <cmath>

namespace ZRCut {

namespace {

constexpr int maxCopies = 10000;
constexpr double slack = 1e-6;

// Cosine and sine of an angle in degrees, exact for multiples of 90.
void turn(double degrees, double* cosine, double* sine)
{
    const double quarters = degrees / 90;
    if (quarters == std::floor(quarters)) {
        static const double cosines[] = { 1, 0, -1, 0 };
        const int q = int(std::fmod(std::fmod(quarters, 4) + 4, 4));
        *cosine = cosines[q];
        *sine = cosines[(q + 3) % 4];
        return;
    }
    *cosine = std::cos(degrees * M_PI / 180);
    *sine = std::sin(degrees * M_PI / 180);
}

QString mm(double value)
{
    return QString::number(value, 'f', 1);
}

bool placeDrawing(const Drawing& drawing, const Placement& placement, const QSizeF& workArea,
    Drawing* placed, QString* error)
{
    const auto fail = [&](const QString& text) {
        *error = text;
        return false;
    };
    const QRectF source = drawing.bounds();
    if (drawing.contours.isEmpty())
        return fail(QStringLiteral("nothing to place: the drawing is empty"));
    if (!(placement.scale > 0 && placement.scale < 1e4) || !std::isfinite(placement.rotationDeg)
        || !std::isfinite(placement.move.x()) || !std::isfinite(placement.move.y())
        || !(placement.gapMm >= 0 && placement.gapMm < 1e5)
        || !(placement.marginMm >= 0 && placement.marginMm < 1e5)
        || !(placement.knifeReachMm >= 0 && placement.knifeReachMm <= 10))
        return fail(QStringLiteral("placement out of range: the scale must be above 0, the gap "
                                   "and the margin 0 or more, the knife's reach 0 to 10 mm"));
    if (placement.copies < 1 || placement.copies > maxCopies || placement.columns < 0)
        return fail(QStringLiteral("copies must be 1 to %1, columns 0 or more").arg(maxCopies));
    const qint64 points = qint64(drawing.pointCount()) * placement.copies;
    if (points > maxDrawingPoints)
        return fail(QStringLiteral("%1 copies of %2 points each make more than %3 million points")
                        .arg(placement.copies)
                        .arg(drawing.pointCount())
                        .arg(maxDrawingPoints / 1000000));

    // Scale 1 first: its extent tells the fitting scale.
    double cosine, sine;
    turn(placement.rotationDeg, &cosine, &sine);
    const double flip = placement.mirror ? -1 : 1;
    const auto map = [&](const QPointF& point, double scale) {
        const double x = (point.x() - source.left()) * scale * flip;
        const double y = (point.y() - source.top()) * scale;
        return QPointF(x * cosine - y * sine, x * sine + y * cosine);
    };
    double left = HUGE_VAL, right = -HUGE_VAL, bottom = HUGE_VAL, top = -HUGE_VAL;
    for (const Contour& contour : drawing.contours) {
        for (const QPointF& point : contour.points) {
            const QPointF turnedPoint = map(point, 1);
            left = qMin(left, turnedPoint.x());
            right = qMax(right, turnedPoint.x());
            bottom = qMin(bottom, turnedPoint.y());
            top = qMax(top, turnedPoint.y());
        }
    }
    const QRectF turned(QPointF(left, bottom), QPointF(right, top));
    const bool knownArea = workArea.width() > 0 && workArea.height() > 0;
    const double reach = placement.knifeReachMm;
    const double margin = placement.marginMm;
    const PlaceMode mode = placement.mode;
    if (mode == PlaceMode::Center && !knownArea)
        return fail(QStringLiteral("centring needs the work area's size"));
    if (placement.fit && !knownArea)
        return fail(QStringLiteral("fitting needs the work area's size"));
    // The room for the copies (knife's reach left out): from the margin to the far margin, or,
    // for a design kept where it is, from its corner.
    const QPointF kept = source.topLeft() + placement.move;
    const QSizeF room = mode == PlaceMode::Keep && !placement.fit
        ? QSizeF(workArea.width() - kept.x() - reach, workArea.height() - kept.y() - reach)
        : QSizeF(workArea.width() - 2 * (margin + reach), workArea.height() - 2 * (margin + reach));
    double scale = placement.scale;

    // Without a count of columns, as many as fit across the work area.
    int columns = placement.copies;
    if (placement.columns > 0) {
        columns = qMin(placement.columns, placement.copies);
    } else if (knownArea && !placement.fit) {
        const double fit
            = std::floor((room.width() + placement.gapMm) / (turned.width() * scale + placement.gapMm));
        columns = int(qBound(1.0, fit, double(placement.copies)));
    }
    const int rows = (placement.copies + columns - 1) / columns;
    if (placement.fit) {
        const double across = (room.width() - (columns - 1) * placement.gapMm) / columns;
        const double up = (room.height() - (rows - 1) * placement.gapMm) / rows;
        const double byWidth = turned.width() > 0 ? across / turned.width() : HUGE_VAL;
        const double byHeight = turned.height() > 0 ? up / turned.height() : HUGE_VAL;
        const double fitting = qMin(byWidth, byHeight);
        if (!(fitting > 0) || !std::isfinite(fitting))
            return fail(QStringLiteral("no room to fit the design in the work area"));
        scale = placement.enlarge ? fitting : qMin(scale, fitting);
    }

    const QSizeF size = turned.size() * scale;
    const QSizeF all(columns * size.width() + (columns - 1) * placement.gapMm,
        rows * size.height() + (rows - 1) * placement.gapMm);
    QPointF origin = kept;
    if (mode == PlaceMode::Center)
        origin = QPointF(workArea.width() - all.width(), workArea.height() - all.height()) / 2
            + placement.move;
    else if (mode == PlaceMode::Origin || placement.fit)
        origin = QPointF(margin + reach, margin + reach) + placement.move;

    // The copies' extent with the knife's reach round it, checked before any copy is made.
    const QRectF extent(origin - QPointF(reach, reach),
        QSizeF(all.width() + 2 * reach, all.height() + 2 * reach));
    if (extent.left() < -slack || extent.top() < -slack) {
        return fail(
            QStringLiteral("the placed design has negative coordinates: its lower-left corner "
                           "is at (%1, %2) mm")
                .arg(mm(extent.left()), mm(extent.top())));
    }
    if (knownArea
        && (extent.right() > workArea.width() + slack
            || extent.bottom() > workArea.height() + slack)) {
        return fail(QStringLiteral("the placed design reaches (%1, %2) mm, beyond the work area of "
                                   "%3 × %4 mm")
                        .arg(mm(extent.right()), mm(extent.bottom()), mm(workArea.width()),
                            mm(workArea.height())));
    }

    const QPointF shift = origin - turned.topLeft() * scale;
    Drawing result;
    result.warnings = drawing.warnings;
    result.textItems = drawing.textItems;
    result.droppedPoints = drawing.droppedPoints;
    result.contours.reserve(drawing.contours.size() * placement.copies);
    for (int copy = 0; copy < placement.copies; ++copy) {
        const QPointF step((copy % columns) * (size.width() + placement.gapMm),
            (copy / columns) * (size.height() + placement.gapMm));
        for (const Contour& contour : drawing.contours) {
            Contour moved;
            moved.closed = contour.closed;
            moved.layer = contour.layer;
            moved.points.reserve(contour.points.size());
            for (const QPointF& point : contour.points)
                moved.points.append(map(point, scale) + shift + step);
            result.contours.append(std::move(moved));
        }
    }
    *placed = std::move(result);
    return true;
}

} // namespace

bool place(const Drawing& drawing, const Placement& placement, const QSizeF& workArea,
    Drawing* placed, QString* error)
{
    return guarded(
        [&] { return placeDrawing(drawing, placement, workArea, placed, error); }, error);
}

} // namespace ZRCut
