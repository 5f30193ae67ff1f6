#pragma once

#include "geometry.h"

namespace ZRCut {

// The shortening order: every contour after those it encloses, then the nearest start next,
// beginning at *position, which is left where the last step ends. false only when cancelled.
bool orderContours(const QVector<Contour>& contours, ProgressTracker& tracker,
    QVector<CutStep>* steps, QPointF* position);

} // namespace ZRCut
