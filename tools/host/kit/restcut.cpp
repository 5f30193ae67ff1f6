#include "restcut.h"

#include <QLineF>

#include <cmath>

namespace RestCut {

namespace {

double pathLength(const QVector<QPointF>& points)
{
    double length = 0;
    for (int k = 1; k < points.size(); ++k)
        length += QLineF(points.at(k - 1), points.at(k)).length();
    return length;
}

// The path from distance along it to its end.
QVector<QPointF> pathFrom(const QVector<QPointF>& points, double along)
{
    for (int k = 1; k < points.size(); ++k) {
        const double segment = QLineF(points.at(k - 1), points.at(k)).length();
        if (along < segment) {
            QVector<QPointF> rest {
                QLineF(points.at(k - 1), points.at(k)).pointAt(along / segment)
            };
            rest += points.mid(k);
            return rest;
        }
        along -= segment;
    }
    return { points.last() };
}

} // namespace

double confirmedInCopy(double percent, int copies, int finished, double copyMm)
{
    if (!std::isfinite(percent) || copies < 1 || !(copyMm > 0))
        return 0;
    return qBound(0.0, percent / 100.0 * copies - finished, 1.0) * copyMm;
}

bool restOf(const ZRCut::CutJob& job, double confirmedMm, double overlap, Rest* rest,
    QString* error, const ZRCut::Progress& progress)
{
    Rest found;
    ZRCut::CutJob cut;
    double before = 0; // pen-down path of the steps before this one
    for (int i = 0; i < job.steps.size(); ++i) {
        if ((i & 255) == 0 && progress.cancel && *progress.cancel) {
            *error = QStringLiteral("cancelled");
            return false;
        }
        QVector<QPointF> path = job.path(i);
        const double length = pathLength(path);
        if (found.step < 0) {
            if (before + length <= confirmedMm) {
                before += length;
                continue;
            }
            found.step = i;
            found.fromMm = qMax(0.0, confirmedMm - before - qMax(0.0, overlap));
            path = pathFrom(path, found.fromMm);
            found.lengthMm -= found.fromMm;
        }
        found.lengthMm += length;
        ZRCut::Contour contour;
        contour.points = std::move(path);
        cut.steps.append({ cut.drawing.contours.size(), 0, false });
        cut.drawing.contours.append(std::move(contour));
    }
    if (found.step >= 0 && !ZRCut::writeHpgl(cut, &found.hpgl, error, progress))
        return false;
    *rest = std::move(found);
    return true;
}

} // namespace RestCut
