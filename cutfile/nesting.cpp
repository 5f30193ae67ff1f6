#include "nesting.h"

#include <libnest2d/libnest2d.hpp>

#include <QElapsedTimer>

#include <cmath>

namespace ZRCut {

namespace {

// The nester counts in micrometres: fine enough for a knife, and far from the integers' limits
// on a sheet of 100 m.
constexpr double unitsPerMm = 1000.0;
constexpr double maxSheetMm = 100000.0;
constexpr int maxPieces = 5000;
constexpr int maxSheetsLimit = 1000;
// Beyond this the parts not yet placed are reported as left out: nesting ends in bounded time.
constexpr qint64 timeLimitMs = 120 * 1000;

ClipperLib::cInt units(double mm)
{
    return ClipperLib::cInt(std::llround(mm * unitsPerMm));
}

// The hull as the nester takes it: closed, of positive area as Clipper counts it.
libnest2d::Item nestItem(const QVector<QPointF>& hull)
{
    ClipperLib::Path path;
    for (const QPointF& p : hull)
        path.push_back({ units(p.x()), units(p.y()) });
    if (!ClipperLib::Orientation(path))
        ClipperLib::ReversePath(path);
    path.push_back(path.front());
    return libnest2d::Item(path);
}

QString mm(double value)
{
    return QString::number(value, 'f', 1);
}

bool checkOptions(const NestOptions& options, QString* error)
{
    const QSizeF& sheet = options.sheet;
    if (!(sheet.width() > 0 && sheet.height() > 0 && sheet.width() <= maxSheetMm
            && sheet.height() <= maxSheetMm)) {
        *error = QStringLiteral("the sheet must be above 0 and at most %1 m each way, not %2 × %3 mm")
                     .arg(maxSheetMm / 1000)
                     .arg(mm(sheet.width()), mm(sheet.height()));
        return false;
    }
    if (!(options.spacingMm >= 0 && options.spacingMm < qMin(sheet.width(), sheet.height()) / 2)) {
        *error = QStringLiteral("the spacing must be 0 or more and less than half the sheet, not %1 mm")
                     .arg(options.spacingMm);
        return false;
    }
    for (double angle : options.rotationsDeg) {
        if (!std::isfinite(angle)) {
            *error = QStringLiteral("a part's turn must be a number of degrees");
            return false;
        }
    }
    if (options.maxSheets < 1 || options.maxSheets > maxSheetsLimit) {
        *error = QStringLiteral("sheets must be 1 to %1").arg(maxSheetsLimit);
        return false;
    }
    return true;
}

// Every copy of every design's parts, with their hulls.
bool collectPieces(const QVector<NestDesign>& designs, QVector<QVector<Part>>* parts,
    QVector<Piece>* pieces, QString* error)
{
    qint64 count = 0;
    for (int d = 0; d < designs.size(); ++d) {
        const NestDesign& design = designs.at(d);
        if (design.copies < 0) {
            *error = QStringLiteral("copies must be 0 or more");
            return false;
        }
        parts->append(findParts(design.drawing));
        count += qint64(parts->last().size()) * design.copies;
        if (count > maxPieces) {
            *error = QStringLiteral("nesting takes at most %1 parts, copies included").arg(maxPieces);
            return false;
        }
    }
    for (int d = 0; d < designs.size(); ++d) {
        const Drawing& drawing = designs.at(d).drawing;
        for (int p = 0; p < parts->at(d).size(); ++p) {
            const Part& part = parts->at(d).at(p);
            QVector<QPointF> points;
            for (int c : part.contours)
                points += drawing.contours.at(c).points;
            Piece piece { d, p, convexHull(points), partArea(drawing, part), {}, false };
            // A part without extent (a straight line) still needs a hull the nester can take.
            if (piece.hull.size() < 3 || std::abs(signedArea(piece.hull)) < 1e-6) {
                const QRectF r = pointBounds(points).adjusted(-0.05, -0.05, 0.05, 0.05);
                piece.hull = { r.topLeft(), r.topRight(), r.bottomRight(), r.bottomLeft() };
            }
            for (int k = 0; k < designs.at(d).copies; ++k)
                pieces->append(piece);
        }
    }
    if (pieces->isEmpty()) {
        *error = QStringLiteral("nothing to nest: no parts");
        return false;
    }
    return true;
}

// Appends a piece's contours, and its guests', turned by angle and moved by offset.
void appendPiece(const QVector<NestDesign>& designs, const QVector<QVector<Part>>& parts,
    const QVector<Piece>& pieces, int index, double angle, const QPointF& offset, Drawing* sheet)
{
    const Piece& piece = pieces.at(index);
    const Drawing& drawing = designs.at(piece.design).drawing;
    const double cosine = std::cos(angle), sine = std::sin(angle);
    for (int c : parts.at(piece.design).at(piece.part).contours) {
        Contour contour = drawing.contours.at(c);
        for (QPointF& point : contour.points)
            point = turned(point, cosine, sine, offset);
        sheet->contours.append(contour);
    }
    for (const Guest& guest : piece.guests) {
        // The guest's place in the host's coordinates, then the host's.
        const QPointF at = turned(guest.offset, cosine, sine, offset);
        appendPiece(designs, parts, pieces, guest.piece, angle + guest.angle, at, sheet);
    }
}

// The first turn at which the hull with the spacing around it fits the sheet; NaN for none.
double fittingTurn(const QVector<QPointF>& hull, const QVector<double>& angles,
    const NestOptions& options)
{
    for (double angle : angles) {
        const double cosine = std::cos(angle), sine = std::sin(angle);
        QVector<QPointF> points;
        for (const QPointF& p : hull)
            points.append(turned(p, cosine, sine, QPointF()));
        const QRectF box = pointBounds(points);
        if (box.width() + options.spacingMm <= options.sheet.width()
            && box.height() + options.spacingMm <= options.sheet.height())
            return angle;
    }
    return std::nan("");
}

double piecesArea(const QVector<Piece>& pieces, int index)
{
    double area = pieces.at(index).area;
    for (const Guest& guest : pieces.at(index).guests)
        area += piecesArea(pieces, guest.piece);
    return area;
}

int guestCount(const QVector<Piece>& pieces, int index)
{
    int count = 0;
    for (const Guest& guest : pieces.at(index).guests)
        count += 1 + guestCount(pieces, guest.piece);
    return count;
}

// The parts' area over the rectangles they take from each sheet's lower-left corner.
double materialUsed(const QVector<Drawing>& sheets, double partsArea)
{
    double used = 0;
    for (const Drawing& sheet : sheets) {
        const QRectF extent = sheet.bounds();
        used += qMax(0.0, extent.right()) * qMax(0.0, extent.bottom());
    }
    return used > 0 ? 100.0 * partsArea / used : 0;
}

bool runNest(const QVector<NestDesign>& designs, const NestOptions& options,
    QVector<Drawing>* sheets, NestReport* report, QString* error)
{
    QElapsedTimer timer;
    timer.start();
    if (!checkOptions(options, error))
        return false;
    QVector<QVector<Part>> parts;
    QVector<Piece> pieces;
    if (!collectPieces(designs, &parts, &pieces, error))
        return false;

    QVector<double> angles;
    for (double degrees : options.rotationsDeg) {
        const double angle = std::fmod(std::fmod(degrees, 360) + 360, 360) * M_PI / 180;
        if (!angles.contains(angle))
            angles.append(angle);
    }
    if (angles.isEmpty())
        angles.append(0);
    bool timedOut = false;
    const auto stop = [&] {
        if (options.progress.cancel && options.progress.cancel->load())
            return true;
        timedOut = timedOut || timer.elapsed() > timeLimitMs;
        return timedOut;
    };
    if (options.useHoles
        && !fillHoles(designs, parts, &pieces, angles, options.spacingMm, stop)) {
        *error = cancelledText();
        return false;
    }

    // Each piece starts turned by the first turn at which it fits the sheet (the nester tries
    // its turns from there, and leaves out what does not fit as it starts).
    QVector<int> free;
    std::vector<libnest2d::Item> items;
    int tooBig = 0;
    for (int i = 0; i < pieces.size(); ++i) {
        if (pieces.at(i).isGuest)
            continue;
        const double start = fittingTurn(pieces.at(i).hull, angles, options);
        if (std::isnan(start)) {
            tooBig += 1 + guestCount(pieces, i);
            continue;
        }
        free.append(i);
        items.push_back(nestItem(pieces.at(i).hull));
        items.back().rotation(start);
    }
    using namespace libnest2d;
    NestConfig<NfpPlacer, FirstFitSelection> config;
    config.placer_config.rotations.assign(angles.begin(), angles.end());
    // Each part goes where the rectangle around the parts placed so far grows least, then as low
    // and as far left in it as may be (the nester tries only its best spot of each kind on the
    // sheet, so the spots beyond the sheet score worst); the nester moves the pile into the sheet's lower-left
    // corner at the end.
    config.placer_config.alignment = NfpPlacer::Config::Alignment::BOTTOM_LEFT;
    config.placer_config.starting_point = NfpPlacer::Config::Alignment::BOTTOM_LEFT;
    config.placer_config.parallel = false;
    const double sheetW = double(units(options.sheet.width()));
    const double sheetH = double(units(options.sheet.height()));
    Box pileBox;
    bool pileEmpty = true;
    config.placer_config.before_packing
        = [&](const nfp::Shapes<PolygonImpl>& pile, const auto&, const auto&) {
              pileEmpty = pile.empty();
              if (!pileEmpty)
                  pileBox = sl::boundingBox(pile);
          };
    config.placer_config.object_function = [&](const Item& item) {
        const Box box = item.boundingBox();
        const Box all = pileEmpty ? box : sl::boundingBox(box, pileBox);
        const double width = double(getX(all.maxCorner()) - getX(all.minCorner())) / sheetW;
        const double height = double(getY(all.maxCorner()) - getY(all.minCorner())) / sheetH;
        const double right = double(getX(box.maxCorner()) - getX(all.minCorner())) / sheetW;
        const double top = double(getY(box.maxCorner()) - getY(all.minCorner())) / sheetH;
        // Beyond the sheet costs more than anything within it: the search's best is then on it.
        const double beyond = qMax(0.0, width - 1) + qMax(0.0, height - 1);
        return width * height + 0.05 * (right + top) + 10 * beyond;
    };
    const int total = int(items.size());
    NestControl control;
    control.progressfn = [&](unsigned left) {
        if (options.progress.report)
            options.progress.report(100 * (total - int(left)) / qMax(1, total));
    };
    control.stopcond = stop;
    const Box bin(Point(0, 0), Point(units(options.sheet.width()), units(options.sheet.height())));
    libnest2d::nest(items, bin, units(options.spacingMm), config, control);
    if (options.progress.cancel && options.progress.cancel->load()) {
        *error = cancelledText();
        return false;
    }

    QVector<Drawing> result;
    NestReport counts;
    double placedArea = 0;
    int beyondSheets = 0, late = 0;
    for (int k = 0; k < total; ++k) {
        const Item& item = items.at(k);
        const int index = free.at(k);
        const int count = 1 + guestCount(pieces, index);
        const int bin = item.binId();
        if (bin < 0 || bin >= options.maxSheets) {
            (bin >= 0 ? beyondSheets : timedOut ? late : tooBig) += count;
            continue;
        }
        while (result.size() <= bin)
            result.append(Drawing());
        const QPointF offset(item.translation().X / unitsPerMm, item.translation().Y / unitsPerMm);
        appendPiece(designs, parts, pieces, index, double(item.rotation()), offset, &result[bin]);
        counts.partsPlaced += count;
        counts.partsInHoles += count - 1;
        placedArea += piecesArea(pieces, index);
    }
    counts.partsUnplaced = tooBig + beyondSheets + late;
    if (tooBig > 0)
        counts.notes << QStringLiteral("%1 parts left out: too big for the %2 × %3 mm sheet with "
                                       "%4 mm spacing")
                            .arg(tooBig)
                            .arg(mm(options.sheet.width()), mm(options.sheet.height()),
                                mm(options.spacingMm));
    if (beyondSheets > 0)
        counts.notes << QStringLiteral("%1 parts left out: they need more than %2 sheets")
                            .arg(beyondSheets)
                            .arg(options.maxSheets);
    if (late > 0)
        counts.notes << QStringLiteral("%1 parts left out: nesting took longer than %2 s")
                            .arg(late)
                            .arg(timeLimitMs / 1000);
    counts.sheets = result.size();
    counts.materialUsedPercent = materialUsed(result, placedArea);
    counts.seconds = timer.elapsed() / 1000.0;
    *sheets = result;
    *report = counts;
    return true;
}

bool runGrid(const QVector<NestDesign>& designs, const NestOptions& options,
    QVector<Drawing>* sheets, NestReport* report, QString* error)
{
    QElapsedTimer timer;
    timer.start();
    if (!checkOptions(options, error))
        return false;
    const double width = options.sheet.width(), height = options.sheet.height();
    const double s = options.spacingMm;
    QVector<Drawing> result { Drawing() };
    NestReport counts;
    double placedArea = 0, rowY = 0;
    for (const NestDesign& design : designs) {
        const QRectF b = design.drawing.bounds();
        const double cellW = b.width() + s, cellH = b.height() + s;
        double area = 0;
        for (const Part& part : findParts(design.drawing))
            area += partArea(design.drawing, part);
        if (design.copies > 0 && (cellW > width || cellH > height)) {
            counts.partsUnplaced += design.copies;
            continue;
        }
        const int columns = int(width / cellW);
        for (int k = 0; k < design.copies; ++k) {
            const int column = k % columns;
            if (column == 0 && k > 0)
                rowY += cellH;
            if (column == 0 && rowY + cellH > height) {
                if (result.size() >= options.maxSheets) {
                    counts.partsUnplaced += design.copies - k;
                    break;
                }
                result.append(Drawing());
                rowY = 0;
            }
            const QPointF offset
                = QPointF(column * cellW, rowY) + QPointF(s / 2, s / 2) - b.topLeft();
            for (Contour contour : design.drawing.contours) {
                for (QPointF& point : contour.points)
                    point += offset;
                result.last().contours.append(contour);
            }
            ++counts.partsPlaced;
            placedArea += area;
        }
        // The next design's block starts on a row of its own.
        if (design.copies > 0)
            rowY += cellH;
    }
    if (result.last().contours.isEmpty())
        result.removeLast();
    counts.sheets = result.size();
    counts.materialUsedPercent = materialUsed(result, placedArea);
    counts.seconds = timer.elapsed() / 1000.0;
    *sheets = result;
    *report = counts;
    return true;
}

} // namespace

bool gridLayout(const QVector<NestDesign>& designs, const NestOptions& options,
    QVector<Drawing>* sheets, NestReport* report, QString* error)
{
    return guarded([&] { return runGrid(designs, options, sheets, report, error); }, error);
}

QVector<double> rotationSteps(double stepDeg)
{
    QVector<double> angles { 0.0 };
    if (!(stepDeg > 0) || !std::isfinite(stepDeg))
        return angles;
    for (double a = stepDeg; a < 360 - 1e-9 && angles.size() < 360; a += stepDeg)
        angles.append(a);
    return angles;
}

bool nest(const QVector<NestDesign>& designs, const NestOptions& options, QVector<Drawing>* sheets,
    NestReport* report, QString* error)
{
    return guarded([&] { return runNest(designs, options, sheets, report, error); }, error);
}

} // namespace ZRCut
