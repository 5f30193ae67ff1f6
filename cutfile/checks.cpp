#include "geometry.h"

#include <QHash>

#include <tuple>
#include <unordered_set>

namespace ZRCut {

namespace {

// A segment as the knife sees it: its two ends on a grid of the tolerance, in either direction.
struct SegmentKey {
    qint64 ax, ay, bx, by;
    bool operator==(const SegmentKey& o) const
    {
        return ax == o.ax && ay == o.ay && bx == o.bx && by == o.by;
    }
};

struct SegmentHash {
    size_t operator()(const SegmentKey& k) const
    {
        size_t h = std::hash<qint64>()(k.ax);
        for (qint64 v : { k.ay, k.bx, k.by })
            h = h * 1000003u ^ std::hash<qint64>()(v);
        return h;
    }
};

SegmentKey keyOf(const QPointF& a, const QPointF& b, double tolerance)
{
    qint64 ax = std::llround(a.x() / tolerance), ay = std::llround(a.y() / tolerance);
    qint64 bx = std::llround(b.x() / tolerance), by = std::llround(b.y() / tolerance);
    if (std::tie(bx, by) < std::tie(ax, ay)) {
        std::swap(ax, bx);
        std::swap(ay, by);
    }
    return { ax, ay, bx, by };
}

QString mm(double value)
{
    return QString::number(value, 'f', 1);
}

} // namespace

CheckReport checkDrawing(Drawing* drawing, const CheckOptions& options)
{
    CheckReport report;
    // Placed designs stay within 10 000 km: cells of a micrometre or more fit the key.
    const double tolerance = qMax(options.toleranceMm, 1e-6);
    std::unordered_set<SegmentKey, SegmentHash> seen;
    QVector<Contour> kept;
    for (const Contour& contour : qAsConst(drawing->contours)) {
        const QRectF extent = contour.bounds();
        report.smallPieces
            += extent.width() < options.smallPieceMm && extent.height() < options.smallPieceMm;
        if (!contour.closed) {
            ++report.openContours;
            report.openLengthMm += contour.lengthMm();
        }
        const QVector<QPointF>& points = contour.points;
        const int n = points.size();
        const int segments = contour.closed ? n : n - 1;
        QVector<bool> duplicate(segments, false);
        int duplicates = 0;
        for (int i = 0; i < segments; ++i) {
            const QPointF& a = points.at(i);
            const QPointF& b = points.at((i + 1) % n);
            if (!seen.insert(keyOf(a, b, tolerance)).second) {
                duplicate[i] = true;
                ++duplicates;
                report.duplicateLengthMm += distance(a, b);
            }
        }
        report.duplicateSegments += duplicates;
        if (!options.removeDuplicates || duplicates == 0) {
            kept.append(contour);
            continue;
        }
        // The runs of segments left, each an open contour; a closed contour's runs start after
        // a removed segment so that none is cut in two.
        int first = 0;
        if (contour.closed) {
            while (!duplicate.at(first))
                ++first;
            first = (first + 1) % segments;
        }
        Contour run;
        run.layer = contour.layer;
        for (int k = 0; k < segments; ++k) {
            const int i = (first + k) % segments;
            if (duplicate.at(i)) {
                if (run.points.size() > 1)
                    kept.append(run);
                run.points.clear();
                continue;
            }
            if (run.points.isEmpty())
                run.points.append(points.at(i));
            run.points.append(points.at((i + 1) % n));
        }
        if (run.points.size() > 1)
            kept.append(run);
    }
    if (options.removeDuplicates) {
        drawing->contours = std::move(kept);
        report.duplicatesRemoved = report.duplicateSegments > 0;
    }
    return report;
}

QStringList CheckReport::notes() const
{
    QStringList notes;
    if (openContours > 0)
        notes.append(QStringLiteral("%1 open contours (%2 mm): the knife cannot free a part "
                                    "along them")
                         .arg(openContours)
                         .arg(mm(openLengthMm)));
    if (duplicateSegments > 0)
        notes.append(QStringLiteral("%1 segments (%2 mm) lie on others: %3")
                         .arg(duplicateSegments)
                         .arg(mm(duplicateLengthMm))
                         .arg(duplicatesRemoved ? QStringLiteral("removed, each is cut once")
                                                : QStringLiteral("they are cut twice")));
    if (smallPieces > 0)
        notes.append(QStringLiteral("%1 small pieces: they may tear or stay on the knife")
                         .arg(smallPieces));
    return notes;
}

QVector<LayerSummary> listLayers(const Drawing& drawing)
{
    QVector<LayerSummary> layers;
    QHash<QString, int> index;
    for (const Contour& contour : drawing.contours) {
        auto found = index.find(contour.layer);
        if (found == index.end()) {
            found = index.insert(contour.layer, layers.size());
            layers.append(LayerSummary());
            layers.last().name = contour.layer;
        }
        LayerSummary& layer = layers[found.value()];
        ++layer.contours;
        layer.openContours += !contour.closed;
        layer.lengthMm += contour.lengthMm();
    }
    return layers;
}

bool chooseLayers(const Drawing& drawing, const LayerChoice& choice, Drawing* chosen, QString* error)
{
    QStringList names;
    for (const LayerSummary& layer : listLayers(drawing))
        names.append(layer.name);
    for (const QString& name : choice.only + choice.skip) {
        if (!names.contains(name)) {
            *error = QStringLiteral("the drawing has no layer \"%1\"; it has: %2")
                         .arg(name.left(60), names.join(QStringLiteral(", ")));
            return false;
        }
    }
    Drawing result;
    result.warnings = drawing.warnings;
    result.textItems = drawing.textItems;
    result.droppedPoints = drawing.droppedPoints;
    for (const Contour& contour : drawing.contours) {
        if ((choice.only.isEmpty() || choice.only.contains(contour.layer))
            && !choice.skip.contains(contour.layer))
            result.contours.append(contour);
    }
    if (result.contours.isEmpty()) {
        *error = QStringLiteral("nothing to cut: the chosen layers hold nothing");
        return false;
    }
    *chosen = std::move(result);
    return true;
}

} // namespace ZRCut
