#pragma once

#include <QImage>

class PltOutline;

// A small picture of what a cut file cuts: the pen-down strokes dark on white, seen from above
// with y upwards as the plotter draws, scaled to fit longSide pixels on the longer side with a
// small margin. Travel moves are left out. Painting needs no display.
namespace CutPreview {

constexpr int margin = 4;

// A null image when nothing is cut or longSide leaves no room to draw.
QImage render(const PltOutline& outline, int longSide);

} // namespace CutPreview
