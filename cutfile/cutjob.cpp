#include "cutorder.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace ZRCut {

namespace {

// Continues a closed contour's path from its start for length mm (at most once round).
void appendOvercut(QVector<QPointF>* path, const Contour& contour, int start, double length)
{
    const int n = contour.points.size();
    QPointF previous = contour.points.at(start);
    for (int k = 1; k <= n && length > 0; ++k) {
        const QPointF next = contour.points.at((start + k) % n);
        const double step = distance(previous, next);
        if (step >= length) {
            path->append(previous + (next - previous) * (length / step));
            return;
        }
        path->append(next);
        length -= step;
        previous = next;
    }
}

// The direction of a path's last segment of some length; blade when it has none.
QPointF endDirection(const QVector<QPointF>& path, const QPointF& blade)
{
    for (int i = path.size() - 1; i > 0; --i) {
        const QPointF segment = path.at(i) - path.at(i - 1);
        const double length = std::hypot(segment.x(), segment.y());
        if (length > 1e-9)
            return segment / length;
    }
    return blade;
}

// The path of the holder whose blade tip, trailing offset mm behind it, is to follow tip: each
// segment shifted forward along itself, and at every corner sharper than the threshold an arc
// about the corner that turns the blade round on its tip. The blade goes down pointing along
// blade, and is first turned on its tip into the first segment's direction.
QVector<QPointF> compensate(
    const QVector<QPointF>& tip, const KnifeOptions& knife, const QPointF& blade)
{
    const double offset = knife.bladeOffsetMm;
    const double threshold = knife.swivelThresholdDeg * M_PI / 180;
    QVector<QPointF> holder;
    holder.reserve(tip.size() * 2);
    QPointF previous;
    bool started = false;
    for (int i = 0; i + 1 < tip.size(); ++i) {
        const QPointF segment = tip.at(i + 1) - tip.at(i);
        const double length = std::hypot(segment.x(), segment.y());
        if (length <= 1e-9)
            continue;
        const QPointF direction = segment / length;
        if (!started) {
            holder.append(tip.at(i) + blade * offset);
            const double turn = std::atan2(blade.x() * direction.y() - blade.y() * direction.x(),
                blade.x() * direction.x() + blade.y() * direction.y());
            if (std::abs(turn) > 1e-6) {
                appendArc(&holder, tip.at(i), offset, std::atan2(blade.y(), blade.x()), turn,
                    knife.toleranceMm);
            }
            started = true;
        } else {
            const double cross = previous.x() * direction.y() - previous.y() * direction.x();
            const double dot = previous.x() * direction.x() + previous.y() * direction.y();
            const double turn = std::atan2(cross, dot);
            if (std::abs(turn) > threshold) {
                appendArc(&holder, tip.at(i), offset, std::atan2(previous.y(), previous.x()), turn,
                    knife.toleranceMm);
            } else {
                holder.append(tip.at(i) + direction * offset);
            }
        }
        holder.append(tip.at(i + 1) + direction * offset);
        previous = direction;
    }
    if (!started)
        return tip;
    return holder;
}

qint64 units(double mm)
{
    return std::llround(mm * hpglUnitsPerMm);
}

void appendPair(QByteArray* out, qint64 x, qint64 y)
{
    char buffer[48];
    char* p = std::to_chars(buffer, buffer + 20, x).ptr;
    *p++ = ',';
    p = std::to_chars(p, p + 20, y).ptr;
    out->append(buffer, int(p - buffer));
}

// The path of a step's blade tip: overcut applied.
QVector<QPointF> tipPath(const CutJob& job, int step)
{
    const CutStep& cut = job.steps.at(step);
    const KnifeOptions& knife = job.knife;
    const Drawing& drawing = job.drawing;
    const Contour& contour = drawing.contours.at(cut.contour);
    QVector<QPointF> points;
    if (contour.closed) {
        const int n = contour.points.size();
        points.reserve(n + 1);
        for (int k = 0; k <= n; ++k)
            points.append(contour.points.at((cut.start + k) % n));
        if (knife.overcutMm > 0)
            appendOvercut(&points, contour, cut.start, knife.overcutMm);
    } else {
        points = contour.points;
        if (cut.reversed)
            std::reverse(points.begin(), points.end());
    }
    return points;
}

} // namespace

QVector<QPointF> CutJob::path(int step) const
{
    const QVector<QPointF> tip = tipPath(*this, step);
    if (knife.bladeOffsetMm <= 0)
        return tip;
    // The blade stands as the last cut left it: along +x before the first.
    const QPointF blade = step > 0 ? endDirection(tipPath(*this, step - 1), QPointF(1, 0))
                                   : QPointF(1, 0);
    return compensate(tip, knife, blade);
}

double CutJob::estimatedSeconds(double cutSpeed, double travelSpeed) const
{
    if (!(cutSpeed > 0) || !(travelSpeed > 0))
        return -1;
    return cutLengthMm / cutSpeed + travelLengthMm / travelSpeed;
}

bool measureJob(CutJob* job, ProgressTracker* tracker, qint64 done)
{
    job->cutLengthMm = job->travelLengthMm = 0;
    job->bounds = QRectF();
    QPointF position(0, 0);
    for (int i = 0; i < job->steps.size(); ++i) {
        if ((i & 255) == 0 && tracker && !tracker->step(done + i))
            return false;
        const QVector<QPointF> points = job->path(i);
        job->travelLengthMm += distance(position, points.first());
        job->cutLengthMm += polylineLength(points, false);
        const QRectF extent = pointBounds(points);
        job->bounds = job->bounds.isNull() ? extent : job->bounds.united(extent);
        position = points.last();
    }
    return true;
}

namespace {

// The order of the drawing's contours: layer by layer as options.layerOrder names them, the rest
// after, each group ordered on its own or kept as drawn.
bool orderLayers(const Drawing& drawing, const CutOptions& options, ProgressTracker& tracker,
    QVector<CutStep>* steps)
{
    QVector<QVector<int>> groups(options.layerOrder.size() + 1);
    for (int c = 0; c < drawing.contours.size(); ++c) {
        const int at = options.layerOrder.indexOf(drawing.contours.at(c).layer);
        groups[at < 0 ? groups.size() - 1 : at].append(c);
    }
    QPointF position(0, 0);
    for (const QVector<int>& group : qAsConst(groups)) {
        if (!options.optimizeOrder) {
            for (int c : group)
                steps->append({ c, 0, false });
            continue;
        }
        QVector<Contour> contours;
        contours.reserve(group.size());
        for (int c : group)
            contours.append(drawing.contours.at(c));
        QVector<CutStep> ordered;
        if (!orderContours(contours, tracker, &ordered, &position))
            return false;
        for (CutStep step : qAsConst(ordered)) {
            step.contour = group.at(step.contour);
            steps->append(step);
        }
    }
    return true;
}

bool plan(const Drawing& source, const CutOptions& options, CutJob* job, QString* error)
{
    CutJob result;
    result.drawing = source;
    // The checks report no progress of their own, but stop when asked.
    Progress cancelOnly;
    cancelOnly.cancel = options.progress.cancel;
    result.checks = checkDrawing(&result.drawing, options.checks, cancelOnly);
    if (cancelOnly.cancel && cancelOnly.cancel->load()) {
        *error = cancelledText();
        return false;
    }
    const Drawing& drawing = result.drawing;
    const int count = drawing.contours.size();
    if (count == 0) {
        *error = QStringLiteral("nothing to cut: the drawing is empty");
        return false;
    }
    const KnifeOptions& knife = options.knife;
    if (!(knife.bladeOffsetMm >= 0 && knife.bladeOffsetMm <= 10)
        || !(knife.overcutMm >= 0 && knife.overcutMm <= 100) || !(knife.toleranceMm > 0)
        || !(knife.swivelThresholdDeg >= 0 && knife.swivelThresholdDeg <= 180)) {
        *error
            = QStringLiteral("knife settings out of range: blade offset 0 to 10 mm, overcut 0 to "
                             "100 mm, swivel threshold 0 to 180°");
        return false;
    }
    result.knife = knife;
    ProgressTracker tracker(options.progress, 2 * qint64(count));
    result.steps.reserve(count);
    if (!orderLayers(drawing, options, tracker, &result.steps)) {
        *error = cancelledText();
        return false;
    }

    if (!measureJob(&result, &tracker, count)) {
        *error = cancelledText();
        return false;
    }
    const QSizeF& area = options.workArea;
    if (result.bounds.left() < -1e-9 || result.bounds.top() < -1e-9
        || (area.width() > 0 && result.bounds.right() > area.width() + 1e-9)
        || (area.height() > 0 && result.bounds.bottom() > area.height() + 1e-9)) {
        *error = QStringLiteral("the knife's path spans (%1, %2) to (%3, %4) mm, off the table: "
                                "place the design further from its edges (by the blade offset "
                                "at least)")
                     .arg(result.bounds.left(), 0, 'f', 2)
                     .arg(result.bounds.top(), 0, 'f', 2)
                     .arg(result.bounds.right(), 0, 'f', 2)
                     .arg(result.bounds.bottom(), 0, 'f', 2);
        return false;
    }
    tracker.step(2 * qint64(count));
    *job = std::move(result);
    return true;
}

} // namespace

bool planCut(const Drawing& drawing, const CutOptions& options, CutJob* job, QString* error)
{
    return guarded([&] { return plan(drawing, options, job, error); }, error);
}

bool writeHpgl(const CutJob& job, QByteArray* hpgl, QString* error, const Progress& progress)
{
    constexpr int pairsPerCommand = 8;
    QByteArray out;
    out.reserve(job.drawing.pointCount() * 12 + 64);
    out += "IN;SP1;\n";
    ProgressTracker tracker(progress, job.steps.size());
    for (int i = 0; i < job.steps.size(); ++i) {
        if ((i & 255) == 0 && !tracker.step(i)) {
            *error = cancelledText();
            return false;
        }
        const QVector<QPointF> points = job.path(i);
        qint64 lastX = units(points.first().x()), lastY = units(points.first().y());
        out += "PU";
        appendPair(&out, lastX, lastY);
        out += ";\n";
        int pairs = 0;
        for (int k = 1; k < points.size(); ++k) {
            const qint64 x = units(points.at(k).x()), y = units(points.at(k).y());
            if (x == lastX && y == lastY)
                continue;
            lastX = x;
            lastY = y;
            out += pairs == 0 ? "PD" : ",";
            appendPair(&out, x, y);
            if (++pairs == pairsPerCommand) {
                out += ";\n";
                pairs = 0;
            }
        }
        if (pairs > 0)
            out += ";\n";
    }
    out += "PU;SP0;\n";
    tracker.step(job.steps.size());
    *hpgl = std::move(out);
    return true;
}

} // namespace ZRCut
