#include "cutorder.h"
#include "parts.h"

#include <algorithm>
#include <cmath>

namespace ZRCut {

namespace {

constexpr int maxLines = 10000;

using Span = QPair<double, double>;

// Where a line across (y = level, or x = level when the drawing is turned) comes within
// clearance of a polyline, along the line: one interval per segment near it.
void nearSegments(const QVector<QPointF>& points, bool closed, double level, double clearance,
    QVector<Span>* spans)
{
    const int n = points.size();
    for (int i = 0; i + (closed ? 0 : 1) < n; ++i) {
        const QPointF a = points.at(i), b = points.at((i + 1) % n);
        if (qMin(a.y(), b.y()) > level + clearance || qMax(a.y(), b.y()) < level - clearance)
            continue;
        // The segment grown by the clearance is convex: its cut with the line is one interval.
        // Its ends are the least and greatest x of p(t) -+ sqrt(clearance² - (p(t).y - level)²)
        // over the stretch of the segment within reach of the line, convex and concave in t.
        double t0 = 0, t1 = 1;
        const double dy = b.y() - a.y();
        if (std::abs(dy) > 1e-12) {
            t0 = (level - clearance - a.y()) / dy;
            t1 = (level + clearance - a.y()) / dy;
            if (t0 > t1)
                std::swap(t0, t1);
            t0 = qMax(0.0, t0);
            t1 = qMin(1.0, t1);
        }
        const auto end = [&](double t, double side) {
            const QPointF p = a + (b - a) * t;
            const double off = p.y() - level;
            return p.x() + side * std::sqrt(qMax(0.0, clearance * clearance - off * off));
        };
        const auto extreme = [&](double side) {
            double lo = t0, hi = t1;
            for (int k = 0; k < 60; ++k) {
                const double m1 = lo + (hi - lo) / 3, m2 = hi - (hi - lo) / 3;
                if (side * end(m1, side) < side * end(m2, side))
                    lo = m1;
                else
                    hi = m2;
            }
            return end((lo + hi) / 2, side);
        };
        const double low = extreme(-1), high = extreme(1);
        if (t0 <= t1)
            spans->append({ low, high });
    }
}

// Where the line runs inside a closed outline: between its crossings, in pairs.
void insideOutline(const QVector<QPointF>& points, double level, QVector<Span>* spans)
{
    QVector<double> crossings;
    const int n = points.size();
    for (int i = 0; i < n; ++i) {
        const QPointF a = points.at(i), b = points.at((i + 1) % n);
        if ((a.y() > level) != (b.y() > level))
            crossings.append(a.x() + (level - a.y()) * (b.x() - a.x()) / (b.y() - a.y()));
    }
    std::sort(crossings.begin(), crossings.end());
    for (int i = 0; i + 1 < crossings.size(); i += 2)
        spans->append({ crossings.at(i), crossings.at(i + 1) });
}

// The pieces of the line y = level from left to right that keep clear of every part.
QVector<Span> freeSpans(const QVector<QVector<QPointF>>& outlines,
    const QVector<QVector<QPointF>>& loose, double level, double left, double right,
    double clearance)
{
    QVector<Span> blocked;
    for (const QVector<QPointF>& outline : outlines) {
        insideOutline(outline, level, &blocked);
        nearSegments(outline, true, level, clearance, &blocked);
    }
    for (const QVector<QPointF>& line : loose)
        nearSegments(line, false, level, clearance, &blocked);
    std::sort(blocked.begin(), blocked.end());
    QVector<Span> free;
    double x = left;
    for (const Span& span : qAsConst(blocked)) {
        if (span.first > x)
            free.append({ x, qMin(span.first, right) });
        x = qMax(x, span.second);
        if (x >= right)
            break;
    }
    if (x < right)
        free.append({ x, right });
    free.erase(std::remove_if(free.begin(), free.end(),
                   [&](const Span& s) { return s.second - s.first < qMax(1.0, clearance); }),
        free.end());
    return free;
}

QPointF swapped(const QPointF& p)
{
    return QPointF(p.y(), p.x());
}

bool weed(CutJob* job, const WeedOptions& options, WeedReport* report, QString* error)
{
    if (!(options.frameMarginMm >= 0 && options.frameMarginMm <= 1000)
        || !(options.pitchMm >= 1 && options.pitchMm <= 10000)
        || !(options.clearanceMm >= 0 && options.clearanceMm <= 1000)) {
        *error = QStringLiteral("weeding: a frame margin of 0 to 1000 mm, lines 1 to 10000 mm "
                                "apart, a clearance of 0 to 1000 mm");
        return false;
    }
    Drawing& drawing = job->drawing;
    const QRectF extent = drawing.bounds();
    const double m = options.frameMarginMm;
    const QRectF frame = extent.adjusted(-m, -m, m, m);
    const QSizeF& area = options.workArea;
    if (m > 0
        && (frame.left() < 0 || frame.top() < 0
            || (area.width() > 0 && frame.right() > area.width())
            || (area.height() > 0 && frame.bottom() > area.height()))) {
        *error = QStringLiteral("the weeding frame %1 mm around the design leaves the table: "
                                "place the design further from its edges")
                     .arg(m);
        return false;
    }
    const double count = ((options.lines & Qt::Horizontal) ? frame.height() : 0)
        + ((options.lines & Qt::Vertical) ? frame.width() : 0);
    if (count / options.pitchMm > maxLines) {
        *error = QStringLiteral("weeding lines every %1 mm would be more than %2")
                     .arg(options.pitchMm)
                     .arg(maxLines);
        return false;
    }

    QVector<Contour> lines;
    for (Qt::Orientation orientation : { Qt::Horizontal, Qt::Vertical }) {
        if (!(options.lines & orientation))
            continue;
        // Vertical lines are horizontal ones of the drawing turned over its diagonal.
        const bool turn = orientation == Qt::Vertical;
        const auto map = [&](const QPointF& p) { return turn ? swapped(p) : p; };
        QVector<QVector<QPointF>> outlines, loose;
        for (const Part& part : findParts(drawing)) {
            for (int c : part.contours) {
                const Contour& contour = drawing.contours.at(c);
                QVector<QPointF> points;
                for (const QPointF& p : contour.points)
                    points.append(map(p));
                (c == part.outline ? outlines : loose).append(points);
            }
        }
        const QRectF box = turn ? QRectF(map(frame.topLeft()), frame.size().transposed()) : frame;
        for (double level = box.top() + options.pitchMm; level < box.bottom();
             level += options.pitchMm) {
            for (const Span& span :
                freeSpans(outlines, loose, level, box.left(), box.right(), options.clearanceMm))
                lines.append({ { map(QPointF(span.first, level)), map(QPointF(span.second, level)) },
                    false, QLatin1String(weedingLayer) });
        }
    }

    WeedReport counts;
    QPointF position = job->steps.isEmpty() ? QPointF() : job->path(job->steps.size() - 1).last();
    const Progress none;
    ProgressTracker tracker(none, 1);
    QVector<CutStep> ordered;
    orderContours(lines, tracker, &ordered, &position);
    for (const CutStep& step : qAsConst(ordered)) {
        job->steps.append({ drawing.contours.size(), step.start, step.reversed });
        drawing.contours.append(lines.at(step.contour));
        counts.lineLengthMm += lines.at(step.contour).lengthMm();
    }
    counts.lines = lines.size();
    if (m > 0) {
        job->steps.append({ drawing.contours.size(), 0, false });
        drawing.contours.append({ { frame.topLeft(), frame.topRight(), frame.bottomRight(),
                                      frame.bottomLeft() },
            true, QLatin1String(weedingLayer) });
        counts.frame = true;
    }
    measureJob(job);
    *report = counts;
    return true;
}

} // namespace

bool addWeeding(CutJob* job, const WeedOptions& options, WeedReport* report, QString* error)
{
    return guarded([&] { return weed(job, options, report, error); }, error);
}

} // namespace ZRCut
