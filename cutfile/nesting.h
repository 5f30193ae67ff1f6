#pragma once

// The nester's pieces, shared by the nester and the hole filler.

#include "parts.h"

namespace ZRCut {

// A copy of a part with what travels with it: parts set into its holes, each turned and moved
// within the piece's own coordinates (those of its design).
struct Guest {
    int piece = -1;
    double angle = 0; // radians
    QPointF offset;
};

struct Piece {
    int design = 0;
    int part = 0;
    QVector<QPointF> hull; // counter-clockwise, in the design's coordinates
    double area = 0; // the part's own area
    QVector<Guest> guests;
    bool isGuest = false;
};

// Sets small pieces into the holes of large ones, keeping spacing from the holes' edges and
// from each other. Pieces set in a hole get isGuest and are listed by their host. false when
// cancelled.
bool fillHoles(const QVector<NestDesign>& designs, const QVector<QVector<Part>>& parts,
    QVector<Piece>* pieces, const QVector<double>& angles, double spacing,
    const std::function<bool()>& stop);

} // namespace ZRCut
