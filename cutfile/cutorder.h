#pragma once

#include "geometry.h"

namespace ZRCut {

// The shortening order: every contour after those it encloses, then the nearest start next,
// beginning at *position, which is left where the last step ends. false only when cancelled.
bool orderContours(const QVector<Contour>& contours, ProgressTracker& tracker,
    QVector<CutStep>* steps, QPointF* position);

// Measures a job whose steps are set: cut and travel lengths, the bounds. false only when the
// tracker (stepped on from done) is cancelled.
bool measureJob(CutJob* job, ProgressTracker* tracker = nullptr, qint64 done = 0);

} // namespace ZRCut
