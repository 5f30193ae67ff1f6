// Nesting against rows × columns, measured side by side in one run on the same parts and sheet:
// 40 copies of each of three real-world drawings, then a mixed set of 100 parts (those three and
// gasket shapes drawn here). Each set is nested with turns of 90° and 2 mm spacing on a
// 1500 × 1200 mm sheet, and laid out in rows of columns; the material each uses is printed with
// the difference in percentage points, and the nest's result is checked (every part placed, on
// the sheet, no two parts overlapping) before its figures count. Goals: 15 points better on the
// mixed set, under 10 s for it.
//
//   build/bin/bench_nest [REALWORLD_DIR]        (default tests/data/realworld)
//   build/bin/bench_nest parts FILE...          (the parts each file holds, for choosing)
//   build/bin/bench_nest [DIR] --picture OUT.png (and the mixed set's nest, as the README shows)

#include <zrtransforms.h>

#include <QDir>
#include <QGuiApplication>
#include <QPainterPath>
#include <QTextStream>

#include <cmath>

using namespace ZRCut;

namespace {

QTextStream out(stdout);

const QSizeF sheet(1500, 1200);
const char* const realWorldFiles[] = { "dxf/empty_handles.dxf", "svg/negative-scale.svg", "svg/polygons.svg" };

bool read(const QString& path, Drawing* drawing)
{
    QString error;
    ReadOptions options;
    options.text = TextMode::Skip;
    if (!readFile(path, drawing, &error, options)) {
        out << error << "\n";
        return false;
    }
    return true;
}

// A drawing scaled so that its longer side is size mm, lower-left at the origin.
Drawing sized(const Drawing& drawing, double size)
{
    Placement placement;
    const QRectF b = drawing.bounds();
    placement.scale = size / qMax(b.width(), b.height());
    placement.marginMm = 0;
    Drawing placed;
    QString error;
    place(drawing, placement, QSizeF(), &placed, &error);
    return placed;
}

Contour polygonOf(const QPainterPath& path)
{
    Contour contour;
    contour.closed = true;
    for (const QPointF& p : path.toFillPolygon())
        contour.points.append(p);
    if (contour.points.size() > 1 && contour.points.first() == contour.points.last())
        contour.points.removeLast();
    return contour;
}

Contour circle(const QPointF& centre, double radius)
{
    QPainterPath path;
    path.addEllipse(centre, radius, radius);
    return polygonOf(path);
}

// Gaskets as a shop cuts them: a flange with bolt holes, a rounded plate with two holes, an
// L-shaped bracket, a ring.
QVector<Drawing> gaskets()
{
    Drawing flange;
    flange.contours << circle({ 60, 60 }, 60) << circle({ 60, 60 }, 30);
    for (int k = 0; k < 6; ++k)
        flange.contours << circle(QPointF(60, 60) + 45 * QPointF(std::cos(k * M_PI / 3), std::sin(k * M_PI / 3)), 5);
    Drawing plate;
    QPainterPath rounded;
    rounded.addRoundedRect(QRectF(0, 0, 160, 70), 12, 12);
    plate.contours << polygonOf(rounded) << circle({ 30, 35 }, 15) << circle({ 130, 35 }, 15);
    Drawing bracket;
    bracket.contours << Contour { { { 0, 0 }, { 120, 0 }, { 120, 30 }, { 30, 30 }, { 30, 90 }, { 0, 90 } }, true, {} }
                     << circle({ 15, 15 }, 6);
    Drawing ring;
    ring.contours << circle({ 40, 40 }, 40) << circle({ 40, 40 }, 32);
    return { flange, plate, bracket, ring };
}

// Every part on the sheet and no two overlapping (outlines crossing or one inside another's
// outline but not in its holes is not checked point by point: bounds on the sheet and outline
// crossings are).
bool checkNest(const QVector<Drawing>& sheets, const NestReport& report, int expected)
{
    if (report.partsPlaced != expected || report.partsUnplaced != 0) {
        out << "  WRONG: " << report.partsPlaced << " of " << expected << " parts placed\n";
        return false;
    }
    for (const Drawing& drawing : sheets) {
        const QRectF b = drawing.bounds();
        if (b.left() < -1e-6 || b.top() < -1e-6 || b.right() > sheet.width() + 1e-6
            || b.bottom() > sheet.height() + 1e-6) {
            out << "  WRONG: a part lies off the sheet\n";
            return false;
        }
        QVector<QPainterPath> outlines;
        for (const Part& part : findParts(drawing)) {
            QPainterPath path;
            path.addPolygon(QPolygonF(drawing.contours.at(part.contours.first()).points));
            path.closeSubpath();
            outlines.append(path);
        }
        for (int i = 0; i < outlines.size(); ++i) {
            for (int j = i + 1; j < outlines.size(); ++j) {
                if (outlines.at(i).boundingRect().intersects(outlines.at(j).boundingRect())
                    && outlines.at(i).intersected(outlines.at(j)).boundingRect().width() > 0.01
                    && !outlines.at(i).contains(outlines.at(j)) && !outlines.at(j).contains(outlines.at(i))) {
                    out << "  WRONG: two parts overlap\n";
                    return false;
                }
            }
        }
    }
    return true;
}

QString picturePath;

// The first sheet of a nest as the preview draws it, travel left out.
void savePicture(const Drawing& sheetDrawing)
{
    CutJob job;
    QString error;
    if (!planCut(sheetDrawing, {}, &job, &error))
        return;
    PreviewOptions preview;
    preview.showTravel = false;
    preview.area = QRectF(QPointF(0, 0), sheet);
    renderPreview(job, QSize(750, 600), preview).save(picturePath);
}

bool compare(const QString& name, const QVector<NestDesign>& designs, double goalPoints)
{
    int parts = 0;
    for (const NestDesign& design : designs)
        parts += findParts(design.drawing).size() * design.copies;
    NestOptions options;
    options.sheet = sheet;
    options.spacingMm = 2;
    options.rotationsDeg = rotationSteps(90);
    QVector<Drawing> nested, grid;
    NestReport nestReport, gridReport;
    QString error;
    if (!nest(designs, options, &nested, &nestReport, &error)
        || !gridLayout(designs, options, &grid, &gridReport, &error)) {
        out << name << ": " << error << "\n";
        return false;
    }
    const bool ok = checkNest(nested, nestReport, parts);
    if (goalPoints > 0 && !picturePath.isEmpty() && !nested.isEmpty())
        savePicture(nested.first());
    const double points = nestReport.materialUsedPercent - gridReport.materialUsedPercent;
    out << QStringLiteral("%1: %2 parts; nest %3 % of material on %4 sheets in %5 s, rows × "
                          "columns %6 % on %7 sheets: %8 points better (goal %9)\n")
               .arg(name)
               .arg(parts)
               .arg(nestReport.materialUsedPercent, 0, 'f', 1)
               .arg(nestReport.sheets)
               .arg(nestReport.seconds, 0, 'f', 2)
               .arg(gridReport.materialUsedPercent, 0, 'f', 1)
               .arg(gridReport.sheets)
               .arg(points, 0, 'f', 1)
               .arg(goalPoints > 0 ? QString::number(goalPoints) : QStringLiteral("none"));
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const int picture = args.indexOf(QStringLiteral("--picture"));
    if (picture >= 0) {
        picturePath = args.value(picture + 1);
        args = args.mid(0, picture) + args.mid(picture + 2);
    }
    if (args.value(0) == QLatin1String("parts")) {
        for (const QString& path : args.mid(1)) {
            Drawing drawing;
            if (!read(path, &drawing))
                continue;
            const QVector<Part> parts = findParts(drawing);
            int holes = 0;
            for (const Part& part : parts)
                holes += part.contours.size() - 1;
            const QRectF b = drawing.bounds();
            out << QStringLiteral("%1: %2 parts, %3 holes or lines within, %4 × %5\n")
                       .arg(path)
                       .arg(parts.size())
                       .arg(holes)
                       .arg(b.width())
                       .arg(b.height());
        }
        return 0;
    }
    const QDir dir(args.value(0, QStringLiteral("tests/data/realworld")));
    QVector<Drawing> real;
    for (const char* file : realWorldFiles) {
        Drawing drawing;
        if (!read(dir.filePath(QLatin1String(file)), &drawing))
            return 1;
        real.append(sized(drawing, 120));
    }
    bool ok = true;
    for (int i = 0; i < real.size(); ++i)
        ok = compare(QLatin1String(realWorldFiles[i]), { { real.at(i), 40 } }, 0) && ok;

    // 100 parts: 12 copies of each real-world drawing (48 parts), 13 of each gasket.
    QVector<NestDesign> mixed;
    for (const Drawing& drawing : qAsConst(real))
        mixed.append({ drawing, 12 });
    const int counts[] = { 13, 13, 13, 13 };
    const QVector<Drawing> shapes = gaskets();
    for (int i = 0; i < shapes.size(); ++i)
        mixed.append({ shapes.at(i), counts[i] });
    ok = compare(QStringLiteral("mixed"), mixed, 15) && ok;
    return ok ? 0 : 1;
}
