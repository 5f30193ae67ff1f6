#pragma once

#include "geometry.h"

namespace ZRCut {

// The shortening order: every contour after those it encloses, then the nearest start next,
// beginning at the origin. false only when cancelled.
bool orderContours(
    const QVector<Contour>& contours, ProgressTracker& tracker, QVector<CutStep>* steps);

} // namespace ZRCut
