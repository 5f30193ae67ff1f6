#include "cutorder.h"
#include "parts.h"

#include <algorithm>
#include <cmath>

namespace ZRCut {

namespace {

constexpr int maxBridges = 1000;

// A closed contour walked from a vertex: its points with the first repeated at the end, and the
// length walked to each.
struct Loop {
    QVector<QPointF> points;
    QVector<double> at;

    Loop(const Contour& contour, int start)
    {
        const int n = contour.points.size();
        double walked = 0;
        for (int k = 0; k <= n; ++k) {
            const QPointF p = contour.points.at((start + k) % n);
            if (k > 0)
                walked += distance(points.last(), p);
            points.append(p);
            at.append(walked);
        }
    }
    double length() const { return at.last(); }

    QPointF pointAt(double s) const
    {
        s = std::fmod(std::fmod(s, length()) + length(), length());
        const int k = int(std::upper_bound(at.begin(), at.end(), s) - at.begin()) - 1;
        const int i = qBound(0, k, points.size() - 2);
        const double span = at.at(i + 1) - at.at(i);
        const double t = span > 0 ? (s - at.at(i)) / span : 0;
        return points.at(i) + (points.at(i + 1) - points.at(i)) * t;
    }

    // The path from a to b along the loop (b may lie past the end: once more round).
    QVector<QPointF> piece(double a, double b) const
    {
        QVector<QPointF> path { pointAt(a) };
        for (int lap = 0; lap < 3; ++lap) {
            for (int i = 1; i < points.size(); ++i) {
                const double s = at.at(i) + lap * length();
                if (s > a && s < b)
                    path.append(points.at(i));
            }
        }
        path.append(pointAt(b));
        return path;
    }

    // Where the loop turns by more than the threshold.
    QVector<double> corners(double thresholdDeg) const
    {
        QVector<double> found;
        const int n = points.size() - 1;
        for (int i = 0; i < n; ++i) {
            const QPointF in = points.at(i) - points.at((i + n - 1) % n);
            const QPointF out = points.at(i + 1) - points.at(i);
            const double turn = std::abs(std::atan2(in.x() * out.y() - in.y() * out.x(),
                in.x() * out.x() + in.y() * out.y()));
            if (turn * 180 / M_PI > thresholdDeg)
                found.append(at.at(i));
        }
        return found;
    }
};

// The centres of the gaps: each as near its even share of the loop as the corners and the gaps
// before it allow.
QVector<double> gapCentres(const Loop& loop, int count, const BridgeOptions& options)
{
    const double length = loop.length();
    const double width = options.widthMm;
    // Intervals of centres no gap may take, on the loop's length.
    QVector<QPair<double, double>> blocked;
    for (double corner : loop.corners(options.cornerDeg)) {
        const double reach = width / 2 + options.cornerClearanceMm;
        blocked.append({ corner - reach, corner + reach });
    }
    QVector<double> centres;
    for (int g = 0; g < count; ++g) {
        // The blocked intervals on [0, length), merged.
        QVector<QPair<double, double>> spans;
        for (const auto& b : qAsConst(blocked)) {
            for (int lap = -1; lap <= 1; ++lap)
                spans.append({ b.first + lap * length, b.second + lap * length });
        }
        std::sort(spans.begin(), spans.end());
        QVector<QPair<double, double>> merged;
        for (const auto& span : qAsConst(spans)) {
            if (!merged.isEmpty() && span.first <= merged.last().second)
                merged.last().second = qMax(merged.last().second, span.second);
            else
                merged.append(span);
        }
        const double wanted = (g + 0.5) * length / count;
        double best = wanted;
        bool found = true;
        for (const auto& span : qAsConst(merged)) {
            if (wanted > span.first && wanted < span.second) {
                found = span.second - span.first < length;
                best = wanted - span.first < span.second - wanted ? span.first : span.second;
                // The other end may be free where the nearer one is not (both lie outside every
                // merged interval, being the ends of one).
            }
        }
        if (!found)
            break;
        best = std::fmod(std::fmod(best, length) + length, length);
        centres.append(best);
        blocked.append({ best - width - 0.01, best + width + 0.01 });
    }
    std::sort(centres.begin(), centres.end());
    return centres;
}

QString describe(const Contour& contour, int index)
{
    return QStringLiteral("contour %1 (layer %2, %3 mm long)")
        .arg(index + 1)
        .arg(contour.layer, QString::number(contour.lengthMm(), 'f', 1));
}

bool bridge(CutJob* job, const BridgeOptions& options, BridgeReport* report, QString* error)
{
    if (!(options.widthMm > 0 && options.widthMm <= 1000) || !(options.everyMm >= 0)
        || !(options.cornerClearanceMm >= 0) || !(options.cornerDeg >= 0 && options.cornerDeg < 180)
        || (options.everyMm == 0 && (options.count < 1 || options.count > maxBridges))) {
        *error = QStringLiteral("bridges: 1 to %1 on each contour, or one every so many mm; a width "
                                "above 0 and up to 1000 mm; the corners' clearance 0 or more")
                     .arg(maxBridges);
        return false;
    }
    const Drawing& drawing = job->drawing;
    const QVector<Contour>& contours = drawing.contours;
    // Parts and holes as the cut sees them, without the weeding around them.
    QVector<Contour> cut;
    QVector<int> cutIndex(contours.size(), -1);
    for (int c = 0; c < contours.size(); ++c) {
        if (contours.at(c).layer != QLatin1String(weedingLayer)) {
            cutIndex[c] = cut.size();
            cut.append(contours.at(c));
        }
    }
    const QVector<int> depth = contourDepths(enclosingContours(cut));
    const auto bridged = [&](int c) {
        return contours.at(c).closed && cutIndex.at(c) >= 0
            && (options.holes || depth.at(cutIndex.at(c)) % 2 == 0);
    };
    const auto gapsOn = [&](double length) {
        return options.everyMm > 0 ? qBound(1, int(length / options.everyMm), maxBridges)
                                   : options.count;
    };
    for (const CutStep& step : qAsConst(job->steps)) {
        const Contour& contour = contours.at(step.contour);
        if (bridged(step.contour) && gapsOn(contour.lengthMm()) * options.widthMm
                >= contour.lengthMm() / 2) {
            *error = QStringLiteral("bridges %1 mm wide take half or more of %2")
                         .arg(options.widthMm)
                         .arg(describe(contour, step.contour));
            return false;
        }
    }

    Drawing result = drawing;
    result.contours.clear();
    QVector<CutStep> steps;
    BridgeReport counts;
    for (const CutStep& step : qAsConst(job->steps)) {
        const Contour& contour = contours.at(step.contour);
        if (!bridged(step.contour)) {
            steps.append({ result.contours.size(), step.start, step.reversed });
            result.contours.append(contour);
            continue;
        }
        const Loop loop(contour, step.start);
        const int wanted = gapsOn(loop.length());
        const QVector<double> centres = gapCentres(loop, wanted, options);
        if (centres.size() < wanted)
            counts.notes << QStringLiteral("%1: room for %2 of %3 bridges away from its corners")
                                .arg(describe(contour, step.contour))
                                .arg(centres.size())
                                .arg(wanted);
        if (centres.isEmpty()) {
            steps.append({ result.contours.size(), step.start, step.reversed });
            result.contours.append(contour);
            continue;
        }
        const double half = options.widthMm / 2;
        for (int g = 0; g < centres.size(); ++g) {
            const double from = centres.at(g) + half;
            double to = centres.at((g + 1) % centres.size()) - half;
            if (to <= from)
                to += loop.length();
            Contour piece { loop.piece(from, to), false, contour.layer };
            steps.append({ result.contours.size(), 0, false });
            result.contours.append(piece);
        }
        ++counts.contours;
        counts.bridges += centres.size();
        counts.removedMm += centres.size() * options.widthMm;
    }
    job->drawing = result;
    job->steps = steps;
    measureJob(job);
    *report = counts;
    return true;
}

} // namespace

bool addBridges(CutJob* job, const BridgeOptions& options, BridgeReport* report, QString* error)
{
    return guarded([&] { return bridge(job, options, report, error); }, error);
}

} // namespace ZRCut
