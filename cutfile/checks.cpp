#include "geometry.h"

#include <QHash>

#include <algorithm>
#include <map>
#include <vector>

namespace ZRCut {

namespace {

using Interval = std::pair<double, double>;

// The line a segment lies on, for finding segments that lie on each other: its direction (made
// to point right, or up) and its distance from the origin, both on grids. The parameter along
// the line is s = direction · point.
struct Line {
    qint64 angle = 0;
    qint64 offset = 0;
    QPointF direction;

    bool operator==(const Line& other) const
    {
        return angle == other.angle && offset == other.offset;
    }
    quint64 hash() const { return quint64(angle) * 0x9e3779b97f4a7c15ull ^ quint64(offset); }
};

// Directions whose unit vectors differ by less than this count as one.
constexpr double angleStep = 1e-6;

Line lineOf(const QPointF& a, const QPointF& b, double tolerance)
{
    Line line;
    QPointF d = b - a;
    const double length = std::sqrt(d.x() * d.x() + d.y() * d.y());
    d = length > 0 ? d / length : QPointF(1, 0);
    if (d.x() < 0 || (d.x() == 0 && d.y() < 0))
        d = -d;
    // The end further back along the line gives the offset, so that a segment and its reverse
    // agree to the last bit.
    const QPointF& back = QPointF::dotProduct(d, a) <= QPointF::dotProduct(d, b) ? a : b;
    line.direction = d;
    line.angle = (std::llround(d.x() / angleStep) << 22) + std::llround(d.y() / angleStep) + (1 << 21);
    line.offset = std::llround((d.x() * back.y() - d.y() * back.x()) / tolerance);
    return line;
}

// The parts of [from, to] that covered (sorted, apart) leaves free, longer than tolerance; then
// covered takes [from, to] in.
std::vector<Interval> uncover(std::vector<Interval>* covered, double from, double to, double tolerance)
{
    std::vector<Interval> free;
    double at = from;
    for (const Interval& c : *covered) {
        if (c.second <= at)
            continue;
        if (c.first >= to)
            break;
        if (c.first - at > tolerance)
            free.emplace_back(at, c.first);
        at = qMax(at, c.second);
    }
    if (to - at > tolerance)
        free.emplace_back(at, to);
    covered->emplace_back(from, to);
    std::sort(covered->begin(), covered->end());
    std::vector<Interval> merged;
    for (const Interval& c : *covered) {
        if (!merged.empty() && c.first <= merged.back().second)
            merged.back().second = qMax(merged.back().second, c.second);
        else
            merged.push_back(c);
    }
    *covered = std::move(merged);
    return free;
}

QString mm(double value)
{
    return QString::number(value, 'f', 1);
}

// The contours left of one whose segments keep only the pieces given (fractions of each
// segment, from its start); segments without an entry keep all of themselves.
void rebuild(const Contour& contour, const std::map<int, std::vector<Interval>>& pieces,
    int firstSegment, QVector<Contour>* kept)
{
    const QVector<QPointF>& points = contour.points;
    const int n = points.size();
    const int segments = contour.closed ? n : n - 1;
    QVector<QVector<QPointF>> runs;
    bool open = false; // the last run reaches the end of the segment before
    bool startsAtStart = false;
    for (int i = 0; i < segments; ++i) {
        const QPointF a = points.at(i), b = points.at((i + 1) % n);
        const auto found = pieces.find(firstSegment + i);
        const std::vector<Interval> whole { { 0.0, 1.0 } };
        const std::vector<Interval>& parts = found == pieces.end() ? whole : found->second;
        if (parts.empty())
            open = false;
        for (const Interval& part : parts) {
            const bool continues = open && part.first <= 1e-9;
            if (!continues) {
                runs.append({ a + (b - a) * part.first });
                startsAtStart |= i == 0 && part.first <= 1e-9 && runs.size() == 1;
            }
            runs.last().append(a + (b - a) * part.second);
            open = part.second >= 1 - 1e-9;
        }
    }
    // A closed contour's last run goes on into its first.
    if (contour.closed && open && startsAtStart && runs.size() > 1) {
        runs.last() += runs.first().mid(1);
        runs.removeFirst();
    }
    for (const QVector<QPointF>& run : qAsConst(runs)) {
        Contour piece;
        piece.points = run;
        piece.layer = contour.layer;
        if (piece.points.size() > 1)
            kept->append(std::move(piece));
    }
}

} // namespace

CheckReport checkDrawing(Drawing* drawing, const CheckOptions& options, const Progress& progress)
{
    CheckReport report;
    // Placed designs stay within 10 000 km: cells of a micrometre or more fit the key.
    const double tolerance = qMax(options.toleranceMm, 1e-6);
    const QVector<Contour>& contours = drawing->contours;
    // Every segment by its line, then by its place in the drawing: those that lie on segments
    // drawn before them are found in one pass over each line.
    QVector<int> first(contours.size() + 1, 0);
    for (int c = 0; c < contours.size(); ++c) {
        const Contour& contour = contours.at(c);
        first[c + 1] = first.at(c) + contour.points.size() - (contour.closed ? 0 : 1);
    }
    const auto segmentAt = [&](int index, QPointF* a, QPointF* b) {
        const int c = int(std::upper_bound(first.begin(), first.end(), index) - first.begin()) - 1;
        const QVector<QPointF>& points = contours.at(c).points;
        const int i = index - first.at(c);
        *a = points.at(i);
        *b = points.at((i + 1) % points.size());
    };
    ProgressTracker tracker(progress, 2 * qint64(first.last()) + 1);
    std::vector<std::pair<quint64, int>> byLine;
    byLine.reserve(size_t(first.last()));
    for (int c = 0; c < contours.size(); ++c) {
        const Contour& contour = contours.at(c);
        const QRectF extent = contour.bounds();
        report.smallPieces
            += extent.width() < options.smallPieceMm && extent.height() < options.smallPieceMm;
        if (!contour.closed) {
            ++report.openContours;
            report.openLengthMm += contour.lengthMm();
        }
        const int n = contour.points.size();
        for (int i = 0; i < first.at(c + 1) - first.at(c); ++i) {
            byLine.emplace_back(
                lineOf(contour.points.at(i), contour.points.at((i + 1) % n), tolerance).hash(),
                first.at(c) + i);
        }
        if ((c & 1023) == 0 && !tracker.step(first.at(c)))
            return report;
    }
    std::sort(byLine.begin(), byLine.end());

    std::map<int, std::vector<Interval>> pieces; // of segments that lose some of themselves
    size_t checked = 0;
    for (size_t k = 0; k < byLine.size();) {
        size_t end = k + 1;
        while (end < byLine.size() && byLine[end].first == byLine[k].first)
            ++end;
        if ((checked += end - k) > 65536) {
            checked = 0;
            if (!tracker.step(qint64(byLine.size() + k)))
                return report;
        }
        // Lines that share the hash are told apart by their keys.
        std::vector<std::pair<Line, std::vector<Interval>>> covers;
        for (size_t m = k; end - k > 1 && m < end; ++m) {
            QPointF a, b;
            segmentAt(byLine[m].second, &a, &b);
            const Line line = lineOf(a, b, tolerance);
            auto cover = std::find_if(covers.begin(), covers.end(),
                [&](const std::pair<Line, std::vector<Interval>>& c) { return c.first == line; });
            if (cover == covers.end())
                cover = covers.insert(covers.end(), { line, {} });
            const double sa = QPointF::dotProduct(line.direction, a);
            const double sb = QPointF::dotProduct(line.direction, b);
            const std::vector<Interval> free
                = uncover(&cover->second, qMin(sa, sb), qMax(sa, sb), tolerance);
            double left = 0;
            for (const Interval& f : free)
                left += f.second - f.first;
            const double lost = std::abs(sb - sa) - left;
            if (lost <= tolerance)
                continue;
            ++report.duplicateSegments;
            report.duplicateLengthMm += lost;
            // The free parts as fractions of the segment from a.
            std::vector<Interval> kept;
            for (const Interval& f : free) {
                const double t0 = (f.first - sa) / (sb - sa), t1 = (f.second - sa) / (sb - sa);
                kept.emplace_back(qMin(t0, t1), qMax(t0, t1));
            }
            std::sort(kept.begin(), kept.end());
            pieces[byLine[m].second] = std::move(kept);
        }
        k = end;
    }
    if (!options.removeDuplicates || pieces.empty())
        return report;
    QVector<Contour> kept;
    kept.reserve(contours.size());
    for (int c = 0; c < contours.size(); ++c) {
        const auto touched = pieces.lower_bound(first.at(c));
        if (touched == pieces.end() || touched->first >= first.at(c + 1))
            kept.append(contours.at(c));
        else
            rebuild(contours.at(c), pieces, first.at(c), &kept);
    }
    drawing->contours = std::move(kept);
    report.duplicatesRemoved = true;
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
