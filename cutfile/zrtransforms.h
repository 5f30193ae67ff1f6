#pragma once

// What a shop does to a design besides placing it: parts nested on sheets of material, bridges
// that keep the parts in the sheet, a weeding frame and lines, and a design too large for the
// table split into tiles with registration marks. Lengths in mm, as in zrcutfile.h; the long
// steps take a Progress and stop soon after its cancel flag is raised.

#include "zrcutfile.h"

#include <QRectF>
#include <QSizeF>
#include <QStringList>
#include <QVector>

namespace ZRCut {

// The parts of a drawing: each closed contour that lies in no other (or in a hole of another
// part) with the closed contours directly inside it, its holes, and every open contour within
// it. Open contours in no part form a part of their own each. Indexes into the contours.
struct Part {
    int outline = -1; // -1 for an open contour standing alone, then the only one in contours
    QVector<int> contours; // the outline first, then its holes and open contours
};
QVector<Part> findParts(const Drawing& drawing);

// ---- Nesting: parts of several designs, with copies, on sheets of material.

struct NestDesign {
    Drawing drawing;
    int copies = 1;
};

struct NestOptions {
    // The sheet, lower-left corner at the origin: nested parts keep spacing/2 from its edges.
    QSizeF sheet;
    double spacingMm = 2.0;
    // The turns (degrees, counter-clockwise) each part may take; empty allows 0 only.
    QVector<double> rotationsDeg = { 0.0 };
    // Small parts in the holes of large ones (after the sheets are nested, into holes that have
    // room for them, spacing kept from the hole's edge).
    bool useHoles = false;
    // At most this many sheets; parts that would need more are left unplaced.
    int maxSheets = 50;
    Progress progress;
};

// The turns a step allows: 0, step, 2 step ... below 360.
QVector<double> rotationSteps(double stepDeg);

struct NestReport {
    int partsPlaced = 0;
    int partsUnplaced = 0;
    int partsInHoles = 0;
    int sheets = 0;
    // The parts' area (outlines less holes) over the area they take on their sheets: on each
    // sheet, the rectangle from the sheet's lower-left corner to the farthest part.
    double materialUsedPercent = 0;
    double seconds = 0;
    // Why parts were left out, one line for each reason, for a person.
    QStringList notes;
};

// Nests every copy of every design's parts on sheets (one drawing each, in the sheet's
// coordinates). Errors: an empty or absurd sheet, negative or absurd spacing, a turn that is not
// finite, no parts, more than 20000 parts, and cancellation. Parts that do not fit (too big for
// the sheet, or beyond maxSheets) are not an error: the report counts them and says why.
bool nest(const QVector<NestDesign>& designs, const NestOptions& options, QVector<Drawing>* sheets,
    NestReport* report, QString* error);

// The same parts in rows of columns as place() sets copies, each design's copies one block above
// the previous one, the blocks filling sheets from the bottom: what a job did before nesting,
// measured the same way, for comparison.
bool gridLayout(const QVector<NestDesign>& designs, const NestOptions& options,
    QVector<Drawing>* sheets, NestReport* report, QString* error);

// ---- Bridges: gaps left uncut so that parts stay in the sheet.

struct BridgeOptions {
    // Gaps on each closed contour, spread evenly along it; or, with everyMm > 0, one for every
    // everyMm of its length (at least one).
    int count = 4;
    double everyMm = 0;
    // Length of each gap, along the contour.
    double widthMm = 1.0;
    // Gaps keep this far (along the contour) from every corner: a vertex where the contour turns
    // by more than cornerDeg.
    double cornerClearanceMm = 2.0;
    double cornerDeg = 30.0;
    // Holes (closed contours inside a part) get bridges too.
    bool holes = false;
};

struct BridgeReport {
    int contours = 0; // contours that got bridges
    int bridges = 0;
    double removedMm = 0; // cut length the gaps take away
    // Contours with fewer gaps than asked (too many corners, or too short), for a person.
    QStringList notes;
};

// Leaves bridges in a planned job: each bridged contour becomes its pieces, cut one after the
// other where the contour was in the order (from its start, in its direction), so holes still
// come before their parts. The weeding (weedingLayer) is left whole. Errors: a count below 1 or above 1000, a width not above 0 or of
// half a contour's length or more (naming the contour).
bool addBridges(CutJob* job, const BridgeOptions& options, BridgeReport* report, QString* error);

// ---- Weeding: a frame around the design and lines between parts.

struct WeedOptions {
    // The frame around every contour of the job, this far from them; 0 for none.
    double frameMarginMm = 5.0;
    // Lines across the frame every pitch mm, horizontal, vertical or both, cut only where they
    // keep clearanceMm from every part.
    Qt::Orientations lines;
    double pitchMm = 20.0;
    double clearanceMm = 2.0;
    // When given, a frame beyond the table is an error.
    QSizeF workArea;
};

struct WeedReport {
    bool frame = false;
    int lines = 0; // pieces of line cut
    double lineLengthMm = 0;
};

// The layer of the weeding's contours.
constexpr char weedingLayer[] = "weeding";

// Adds the weeding to a planned job: the lines after every part (nearest first), the frame last,
// on weedingLayer. Parts are the job's closed contours, so weed before leaving bridges.
// Errors: a margin, pitch or clearance out of range, a frame off the table.
bool addWeeding(CutJob* job, const WeedOptions& options, WeedReport* report, QString* error);

// ---- Tiling: a design larger than the table, cut in pieces.

struct TileOptions {
    // The part of the table a tile may take.
    QSizeF tile;
    // Each tile reaches this far into the next one (right and up), where both cut the same
    // lines and the registration marks.
    double overlapMm = 10.0;
    // Arm of the cross-shaped marks, at most half the overlap.
    double markMm = 3.0;
};

struct Tile {
    int row = 0;
    int column = 0;
    // Where the tile's lower-left corner is in the design.
    QPointF origin;
    // What the tile cuts, with its lower-left corner at (0, 0); contours that cross its edge are
    // cut there.
    Drawing drawing;
    // The registration marks among the drawing's contours: each mark's two strokes.
    QVector<int> marks;
};

// Splits the drawing into tiles, row by row from the lower left: each takes tile.width -
// overlap of the design across (tile.height - overlap up) plus the overlap into the next.
// Errors: a tile not larger than twice the overlap, a mark arm out of range, more than 10000
// tiles. A design that fits one tile gives one tile, without marks.
bool splitTiles(const Drawing& drawing, const TileOptions& options, QVector<Tile>* tiles,
    QString* error);

} // namespace ZRCut
