#pragma once

// Cut files as a shop has them: SVG, DXF and HP-GL read into one outline model, placed on the
// table, ordered for the knife, compensated for a drag knife, written as the HP-GL the machine
// takes and drawn as a preview.
//
// Every length is in millimetres, every point on the machine's table: x to the right, y away
// from the operator (upwards, as plotters draw). Long operations take a Progress, report how far
// they are and stop soon after its cancel flag is raised; a stopped or failed operation returns
// false with the reason in *error and leaves its output untouched.

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <functional>

namespace ZRCut {

// One contour of a drawing: a polyline. A closed one joins its last point to its first, which
// is not repeated. layer names the source's layer or colour ("0", "#ff0000", "pen 1").
struct Contour {
    QVector<QPointF> points;
    bool closed = false;
    QString layer;

    double lengthMm() const;
    QRectF bounds() const;
};

struct Drawing {
    QVector<Contour> contours;
    // What the source held that is not cut (pictures, entity kinds the reader leaves out), the
    // fonts that stood in for those a text asked for, and text left out.
    QStringList warnings;
    // Text items (SVG <text>, DXF TEXT, MTEXT and ATTRIB, HP-GL labels) the file held, drawn as
    // outlines or, with TextMode::Skip, left out.
    int textItems = 0;
    // Points left out: not finite, or further than 1 km from the origin.
    int droppedPoints = 0;

    QRectF bounds() const;
    double lengthMm() const;
    int pointCount() const;
};

// Progress of a long operation: report gets 0 to 100 from the calling thread now and then;
// cancel, when set, is polled often enough for the operation to stop within a small fraction of
// a second, from any thread (Ctrl-C, a Stop button).
struct Progress {
    std::function<void(int percent)> report;
    const std::atomic_bool* cancel = nullptr;
};

// HP-GL plotter units in a millimetre: the unit of every cut file the machine takes.
constexpr double hpglUnitsPerMm = 40.0;
constexpr double defaultToleranceMm = 0.05;

// Text is cut along its letters' outlines, drawn by Qt's font engine (a QGuiApplication must
// exist; on a machine without a display, the "offscreen" platform serves), or left out and
// counted in a warning.
enum class TextMode { Outline, Skip };

struct ReadOptions {
    // Largest distance between a curve and the chords that stand for it.
    double toleranceMm = defaultToleranceMm;
    TextMode text = TextMode::Outline;
    // The font for text whose own font this computer lacks, for fonts CAD keeps to itself (SHX)
    // and for HP-GL labels; every stand-in is named in the drawing's warnings.
    QString fallbackFont = QStringLiteral("DejaVu Sans");
    // DXF layers that are off or frozen are left out (and named in a warning) unless asked for.
    bool hiddenLayers = false;
    // DXF: open contours of one layer whose ends lie this close are joined into one (CAD draws
    // outlines as separate lines and arcs); 0 joins none.
    double joinToleranceMm = 0.01;
    Progress progress;
};

// Reads a cut file, choosing the reader by its content (a PNG, PDF or other file that is none
// of the three is "not a cut file") and, where the content leaves it open, by its extension.
// Errors name the file and what is wrong with it; a file with nothing to cut is an error, never
// an empty drawing. Every read is bounded: 512 MB of file, 20 million points, 1 km from the
// origin; a file that asks for more fails with the reason, and so does one that would need more
// memory than there is.
bool readFile(
    const QString& path, Drawing* drawing, QString* error, const ReadOptions& options = {});
// The extensions (without the dot, lower case) of the files readFile() takes, for an Open
// dialog's filter: svg, dxf, plt, hpgl, hpg, hgl, hp, hpgl2.
QStringList fileSuffixes();
// The readers on their own; their errors do not name a file.
bool readSvg(
    const QByteArray& data, Drawing* drawing, QString* error, const ReadOptions& options = {});
bool readDxf(
    const QByteArray& data, Drawing* drawing, QString* error, const ReadOptions& options = {});
// HP-GL as plotters read it: IN, PU, PD, PA, PR (any number of points), CI, AA, AR (with their
// chord angles), EA, ER, EW, the
// corners IP and user scaling SC (all three types), the clipping window IW, labels (LB, in the fallback font, with DT, DI, DR, SI, SR, SL, LO and
// CP, the pen moving as it does on a plotter); SP names the pen (the contours' layer); VS, FS
// and the like are accepted and ignored. Bytes outside instructions (a stray ETX, NUL, escape
// sequences, PJL lines) are skipped and counted in a warning. Encoded polylines (PE) are
// refused naming their line.
bool readHpgl(
    const QByteArray& data, Drawing* drawing, QString* error, const ReadOptions& options = {});

// Checks that data can travel in the machine's frames: no byte 0x02 or 0x03. On failure,
// *error tells the first such byte and where it stands (offset and line).
bool checkFrameSafe(const QByteArray& data, QString* error);

enum class PlaceMode {
    // The lower-left corner of the design, the knife's reach included, at (margin, margin).
    Origin,
    // The design in the middle of the work area.
    Center,
    // Where the file put it: the lower-left corner stays where it was.
    Keep,
};

constexpr double defaultMarginMm = 5.0;

// Where the design goes on the table. The design is scaled, mirrored (x turned over) and rotated
// (degrees, counter-clockwise; multiples of 90 are exact) about its own lower-left corner, then
// set down as mode says and moved by move. fit scales it instead to the largest size at which all
// copies fit the work area within its margins, but never above 1 unless enlarge is set. Copies
// stand in rows of columns (0: as many as fit across the work area, or all in one row when it is
// unknown), gapMm apart, upwards and to the right of the first. knifeReachMm is how far the
// knife's holder goes beyond the design (the drag knife's blade offset): placement keeps that
// much more room.
struct Placement {
    double scale = 1.0;
    double rotationDeg = 0.0;
    bool mirror = false;
    QPointF move;
    bool fit = false;
    int copies = 1;
    int columns = 0;
    double gapMm = 5.0;
    PlaceMode mode = PlaceMode::Origin;
    double marginMm = defaultMarginMm;
    bool enlarge = false;
    double knifeReachMm = 0.0;
};

// Places the drawing. workArea is the table's size in mm (the machine's WORKAREA_X/_Y, which
// count half millimetres, times 0.5); an empty size checks nothing but negative coordinates
// (and centring needs it). A result that leaves the work area or has negative coordinates is an
// error telling by how much, found before any copy is made; so is one of more than 20 million
// points.
bool place(const Drawing& drawing, const Placement& placement, const QSizeF& workArea,
    Drawing* placed, QString* error);

// What the knife needs besides the order. Both aids are for the drag knife (tool type 0 of
// SP1_TOOL/SP2_TOOL) and are off unless asked for: some firmware compensates by itself.
struct KnifeOptions {
    // Distance from the holder's axis to the blade's tip; 0 for none. At every corner sharper
    // than swivelThresholdDeg (the change of direction) the holder swivels the blade round on an
    // arc about the corner, and so it does at each cut's start: the blade stands as the last cut
    // left it (along +x at the job's start) and is turned into the first direction on its tip.
    double bladeOffsetMm = 0.0;
    double swivelThresholdDeg = 30.0;
    // Closed contours are cut this much further along their start.
    double overcutMm = 0.0;
    double toleranceMm = defaultToleranceMm;
};

// The checks before cutting: what a knife cannot do well or would do twice.
struct CheckOptions {
    // Segments, and parts of segments, that lie on a segment cut before (a shared edge, an
    // outline drawn twice) are taken out of the job.
    bool removeDuplicates = true;
    // How close two segments' ends must be to count as the same segment.
    double toleranceMm = 0.01;
    // Contours whose extent is smaller than this both ways are flagged as small pieces.
    double smallPieceMm = 2.0;
};

struct CheckReport {
    // Open contours: the knife cannot free a part along them.
    int openContours = 0;
    double openLengthMm = 0;
    // Segments that lie wholly or partly on others, and the length that does (removed when
    // CheckOptions::removeDuplicates is set).
    int duplicateSegments = 0;
    double duplicateLengthMm = 0;
    bool duplicatesRemoved = false;
    int smallPieces = 0;

    // One line for each finding, for a person; none when all is well.
    QStringList notes() const;
};

// Checks the drawing and, when asked, takes out of it what lies on segments drawn before: whole
// segments drawn twice and the overlapping parts of segments on one line (contours split where
// a segment or a part of one goes). Stops early, leaving the drawing as it was, when progress's
// cancel flag is raised.
CheckReport checkDrawing(
    Drawing* drawing, const CheckOptions& options = {}, const Progress& progress = {});

// A layer, pen or colour of a drawing with what it holds.
struct LayerSummary {
    QString name;
    int contours = 0;
    int openContours = 0;
    double lengthMm = 0;
};

// The drawing's layers in the order they first appear.
QVector<LayerSummary> listLayers(const Drawing& drawing);

// Which layers to cut: only those named (all when empty), less those skipped.
struct LayerChoice {
    QStringList only;
    QStringList skip;
};

// The drawing with the chosen layers' contours. A name the drawing lacks is an error that lists
// those it has; so is a choice that leaves nothing.
bool chooseLayers(
    const Drawing& drawing, const LayerChoice& choice, Drawing* chosen, QString* error);

struct CutOptions {
    // Inner contours before the contours that enclose them, then the nearest start next,
    // starting closed contours at their nearest point and open ones from their nearer end.
    // Without it, the drawing's own order, each contour as drawn.
    bool optimizeOrder = true;
    // Layers cut first, one after the other in this order, each ordered on its own; the rest
    // follow together.
    QStringList layerOrder;
    KnifeOptions knife;
    CheckOptions checks;
    // When given (mm), a knife path beyond it is an error, as one below 0 always is.
    QSizeF workArea;
    Progress progress;
};

// One contour's turn in the job: where the knife goes down on it and which way it runs.
struct CutStep {
    int contour = 0;
    int start = 0;
    bool reversed = false;
};

// A job ready to cut: the drawing (shared, not copied), the order and the knife aids. The knife
// starts at the origin and travels pen up from the end of each path to the start of the next.
struct CutJob {
    Drawing drawing;
    QVector<CutStep> steps;
    KnifeOptions knife;
    CheckReport checks;
    double cutLengthMm = 0;
    double travelLengthMm = 0;
    // Extent of every pen-down path.
    QRectF bounds;

    // The pen-down path of a step, as the holder moves: overcut and blade offset applied.
    QVector<QPointF> path(int step) const;
    // Seconds at the given speeds (mm/s): the station's cutting speed and PU_SPEED; -1 when a
    // speed is not above 0.
    double estimatedSeconds(double cutSpeed, double travelSpeed) const;
};

// Checks the drawing (checkDrawing() with options.checks), orders its contours and measures the
// job. Errors: an empty drawing, knife settings out of range, a knife path off the table (the
// blade offset reaches beyond the design), and cancellation.
bool planCut(const Drawing& drawing, const CutOptions& options, CutJob* job, QString* error);

// Every inner contour's enclosing contour (index into contours), or -1: the smallest closed
// contour around it.
QVector<int> enclosingContours(const QVector<Contour>& contours);

// The job as HP-GL the machine takes (setPlt): plotter units, PU travel, PD cuts. false only
// when cancelled.
bool writeHpgl(const CutJob& job, QByteArray* hpgl, QString* error, const Progress& progress = {});

struct PreviewOptions {
    // The part of the table to show; an empty rectangle shows the job's extent.
    QRectF area;
    QColor background = Qt::white;
    QColor cut = QColor(0x20, 0x20, 0x20);
    QColor travel = QColor(0xe0, 0x40, 0x30);
    bool showTravel = true;
    Progress progress;
};

// A picture of the job, y upwards, the area scaled to fit size with a small margin and drawn
// from an outline simplified to the picture's pixels. A null image when cancelled or when size
// leaves no room.
QImage renderPreview(const CutJob& job, const QSize& size, const PreviewOptions& options = {});

} // namespace ZRCut
