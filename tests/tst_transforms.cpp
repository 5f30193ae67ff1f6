// Nesting, bridges, weeding and tiling against geometry worked out here, from the shapes given:
// distances between parts, arc lengths round rectangles, where lines may run.

#include <zrtransforms.h>

#include <QPolygonF>
#include <QtTest>

#include <cmath>

using namespace ZRCut;

Q_DECLARE_METATYPE(QVector<double>)
Q_DECLARE_METATYPE(ZRCut::Drawing)
Q_DECLARE_METATYPE(ZRCut::Contour)

namespace {

Contour rect(double x, double y, double w, double h)
{
    return { { { x, y }, { x + w, y }, { x + w, y + h }, { x, y + h } }, true, {} };
}

Contour circle(const QPointF& c, double r, int n = 72)
{
    Contour contour { {}, true, {} };
    for (int k = 0; k < n; ++k)
        contour.points.append(c + r * QPointF(std::cos(2 * M_PI * k / n), std::sin(2 * M_PI * k / n)));
    return contour;
}

double pointToSegment(const QPointF& p, const QPointF& a, const QPointF& b)
{
    const QPointF d = b - a;
    const double len2 = QPointF::dotProduct(d, d);
    const double t = len2 > 0 ? qBound(0.0, QPointF::dotProduct(p - a, d) / len2, 1.0) : 0;
    const QPointF q = a + t * d - p;
    return std::hypot(q.x(), q.y());
}

double polygonDistance(const QVector<QPointF>& a, const QVector<QPointF>& b)
{
    double best = 1e300;
    for (int i = 0; i < a.size(); ++i) {
        for (int j = 0; j < b.size(); ++j) {
            best = qMin(best, pointToSegment(a.at(i), b.at(j), b.at((j + 1) % b.size())));
            best = qMin(best, pointToSegment(b.at(j), a.at(i), a.at((i + 1) % a.size())));
        }
    }
    return best;
}

double length(const QVector<QPointF>& points)
{
    double total = 0;
    for (int i = 1; i < points.size(); ++i)
        total += std::hypot(points.at(i).x() - points.at(i - 1).x(), points.at(i).y() - points.at(i - 1).y());
    return total;
}

} // namespace

class TestTransforms : public QObject {
    Q_OBJECT
private slots:
    void nestKeepsPartsApartAndOnTheSheet_data();
    void nestKeepsPartsApartAndOnTheSheet();
    void nestSaysWhatDoesNotFit();
    void nestSetsSmallPartsInHoles();
    void nestRefusesAbsurdValues_data();
    void nestRefusesAbsurdValues();
    void bridgesLeaveGapsAwayFromCorners_data();
    void bridgesLeaveGapsAwayFromCorners();
    void bridgesKeepHolesFirst();
    void weedingRunsOnlyBetweenParts();
    void tilesShareTheirMarks_data();
    void tilesShareTheirMarks();
};

void TestTransforms::nestKeepsPartsApartAndOnTheSheet_data()
{
    QTest::addColumn<Drawing>("design");
    QTest::addColumn<int>("copies");
    QTest::addColumn<QVector<double>>("turns");
    QTest::addColumn<double>("spacing");
    QTest::addColumn<int>("sheets");

    Drawing bar;
    bar.contours << rect(10, 20, 100, 40);
    Drawing disc;
    disc.contours << circle({ 0, 0 }, 30) << circle({ 0, 0 }, 10);
    Drawing triangle;
    triangle.contours << Contour { { { 0, 0 }, { 80, 0 }, { 0, 60 } }, true, {} };
    // 3 × 6 bars fill one 400 × 300 sheet (each 102 × 42 with the spacing); 30 take two.
    QTest::newRow("bars") << bar << 18 << QVector<double> { 0 } << 2.0 << 1;
    QTest::newRow("bars on two sheets") << bar << 30 << QVector<double> { 0 } << 2.0 << 2;
    QTest::newRow("discs with holes") << disc << 12 << QVector<double> { 0 } << 5.0 << 1;
    QTest::newRow("turned triangles") << triangle << 20 << rotationSteps(90) << 3.0 << 1;
}

void TestTransforms::nestKeepsPartsApartAndOnTheSheet()
{
    QFETCH(Drawing, design);
    QFETCH(int, copies);
    QFETCH(QVector<double>, turns);
    QFETCH(double, spacing);
    QFETCH(int, sheets);
    NestOptions options;
    options.sheet = QSizeF(400, 300);
    options.spacingMm = spacing;
    options.rotationsDeg = turns;
    QVector<Drawing> nested;
    NestReport report;
    QString error;
    QVERIFY2(nest({ { design, copies } }, options, &nested, &report, &error), qPrintable(error));
    QCOMPARE(report.partsPlaced, copies);
    QCOMPARE(report.partsUnplaced, 0);
    QCOMPARE(nested.size(), sheets);

    const int perPart = design.contours.size();
    double partsArea = 0, usedArea = 0;
    const auto area = [](const QVector<QPointF>& p) {
        double twice = 0;
        for (int i = 0; i < p.size(); ++i)
            twice += p.at(i).x() * p.at((i + 1) % p.size()).y() - p.at((i + 1) % p.size()).x() * p.at(i).y();
        return std::abs(twice) / 2;
    };
    for (const Drawing& sheet : nested) {
        QCOMPARE(sheet.contours.size() % perPart, 0);
        double right = 0, top = 0;
        QVector<QVector<QPointF>> outlines;
        for (int c = 0; c < sheet.contours.size(); ++c) {
            const Contour& contour = sheet.contours.at(c);
            // Every contour the same shape as the design's: its length and area kept.
            const Contour& source = design.contours.at(c % perPart);
            QVERIFY(std::abs(contour.lengthMm() - source.lengthMm()) < 1e-3);
            QVERIFY(std::abs(area(contour.points) - area(source.points)) < 1e-2);
            partsArea += (c % perPart == 0 ? 1 : -1) * area(contour.points);
            for (const QPointF& p : contour.points) {
                QVERIFY2(p.x() >= spacing / 2 - 0.01 && p.y() >= spacing / 2 - 0.01
                        && p.x() <= 400 - spacing / 2 + 0.01 && p.y() <= 300 - spacing / 2 + 0.01,
                    "a part off the sheet");
                right = qMax(right, p.x());
                top = qMax(top, p.y());
            }
            if (c % perPart == 0)
                outlines.append(contour.points);
        }
        usedArea += right * top;
        for (int i = 0; i < outlines.size(); ++i) {
            for (int j = i + 1; j < outlines.size(); ++j) {
                QVERIFY2(polygonDistance(outlines.at(i), outlines.at(j)) >= spacing - 0.01,
                    "two parts closer than the spacing");
                QVERIFY(!QPolygonF(outlines.at(i)).containsPoint(outlines.at(j).first(), Qt::OddEvenFill));
            }
        }
    }
    QVERIFY(std::abs(report.materialUsedPercent - 100 * partsArea / usedArea) < 0.01);
}

void TestTransforms::nestSaysWhatDoesNotFit()
{
    Drawing tall;
    tall.contours << rect(0, 0, 100, 350);
    Drawing small;
    small.contours << rect(0, 0, 50, 50);
    NestOptions options;
    options.sheet = QSizeF(400, 300);
    QVector<Drawing> nested;
    NestReport report;
    QString error;
    QVERIFY(nest({ { tall, 2 }, { small, 3 } }, options, &nested, &report, &error));
    QCOMPARE(report.partsPlaced, 3);
    QCOMPARE(report.partsUnplaced, 2);
    QCOMPARE(report.notes.size(), 1);
    QVERIFY2(report.notes.first().startsWith("2 parts left out: too big for the 400.0 × 300.0 mm sheet"),
        qPrintable(report.notes.first()));
    // Turned a quarter, the tall part fits.
    options.rotationsDeg = { 0, 90 };
    QVERIFY(nest({ { tall, 2 }, { small, 3 } }, options, &nested, &report, &error));
    QCOMPARE(report.partsUnplaced, 0);
}

void TestTransforms::nestSetsSmallPartsInHoles()
{
    Drawing ring;
    ring.contours << circle({ 0, 0 }, 100) << circle({ 0, 0 }, 80);
    Drawing square;
    square.contours << rect(0, 0, 30, 30);
    NestOptions options;
    options.sheet = QSizeF(600, 600);
    options.spacingMm = 4;
    options.useHoles = true;
    QVector<Drawing> nested;
    NestReport report;
    QString error;
    QVERIFY2(nest({ { ring, 1 }, { square, 8 } }, options, &nested, &report, &error), qPrintable(error));
    QCOMPARE(report.partsPlaced, 9);
    QVERIFY(report.partsInHoles >= 4);
    // The hole is the ring's second contour: a part within it keeps the spacing from its edge.
    const Drawing& sheet = nested.first();
    const QVector<QPointF>& hole = sheet.contours.at(1).points;
    int inside = 0;
    for (int c = 2; c < sheet.contours.size(); ++c) {
        if (!QPolygonF(hole).containsPoint(sheet.contours.at(c).points.first(), Qt::OddEvenFill))
            continue;
        ++inside;
        QVERIFY2(polygonDistance(sheet.contours.at(c).points, hole) >= 4 - 0.01, "too near the hole's edge");
    }
    QCOMPARE(inside, report.partsInHoles);
}

void TestTransforms::nestRefusesAbsurdValues_data()
{
    QTest::addColumn<QSizeF>("sheet");
    QTest::addColumn<double>("spacing");
    QTest::addColumn<QString>("error");
    QTest::newRow("zero sheet") << QSizeF(0, 300) << 2.0 << "the sheet must be above 0";
    QTest::newRow("negative spacing") << QSizeF(400, 300) << -1.0 << "the spacing must be 0 or more";
}

void TestTransforms::nestRefusesAbsurdValues()
{
    QFETCH(QSizeF, sheet);
    QFETCH(double, spacing);
    QFETCH(QString, error);
    Drawing part;
    part.contours << rect(0, 0, 10, 10);
    NestOptions options;
    options.sheet = sheet;
    options.spacingMm = spacing;
    QVector<Drawing> nested;
    NestReport report;
    QString text;
    QVERIFY(!nest({ { part, 1 } }, options, &nested, &report, &text));
    QVERIFY2(text.startsWith(error), qPrintable(text));
}

void TestTransforms::bridgesLeaveGapsAwayFromCorners_data()
{
    QTest::addColumn<Contour>("contour");
    QTest::addColumn<int>("count");
    QTest::addColumn<double>("width");
    QTest::addColumn<int>("gaps");
    QTest::newRow("rectangle, 4") << rect(0, 0, 100, 50) << 4 << 3.0 << 4;
    QTest::newRow("rectangle, 7") << rect(20, 10, 100, 50) << 7 << 1.5 << 7;
    QTest::newRow("circle, 3") << circle({ 50, 50 }, 40) << 3 << 2.0 << 3;
    // A thin strip: the short sides have no room 2 mm from both corners for a 3 mm gap.
    QTest::newRow("strip, 6") << rect(0, 0, 40, 5) << 6 << 3.0 << 6;
}

void TestTransforms::bridgesLeaveGapsAwayFromCorners()
{
    QFETCH(Contour, contour);
    QFETCH(int, count);
    QFETCH(double, width);
    QFETCH(int, gaps);
    Drawing drawing;
    drawing.contours << contour;
    CutJob job;
    QString error;
    QVERIFY(planCut(drawing, {}, &job, &error));
    BridgeOptions options;
    options.count = count;
    options.widthMm = width;
    BridgeReport report;
    QVERIFY2(addBridges(&job, options, &report, &error), qPrintable(error));
    QCOMPARE(job.drawing.contours.size(), gaps);
    QCOMPARE(report.bridges, gaps);
    double cut = 0;
    for (const Contour& piece : job.drawing.contours)
        cut += length(piece.points);
    QVERIFY(std::abs(contour.lengthMm() - cut - gaps * width) <= 0.1);
    // Each gap runs from a piece's end to the next one's start; both ends and the contour between
    // keep 2 mm from every corner (a rectangle's four; a circle has none).
    const bool corners = contour.points.size() == 4;
    for (int g = 0; g < gaps; ++g) {
        const QPointF from = job.drawing.contours.at(g).points.last();
        const QPointF to = job.drawing.contours.at((g + 1) % gaps).points.first();
        QVERIFY(std::abs(std::hypot(to.x() - from.x(), to.y() - from.y()) - width) < 0.05 || !corners);
        for (int k = 0; corners && k < 4; ++k)
            QVERIFY2(pointToSegment(contour.points.at(k), from, to) >= 2 - 1e-6, "a bridge near a corner");
    }
}

void TestTransforms::bridgesKeepHolesFirst()
{
    Drawing drawing;
    drawing.contours << rect(0, 0, 100, 100) << rect(40, 40, 20, 20);
    CutJob job;
    QString error;
    QVERIFY(planCut(drawing, {}, &job, &error));
    BridgeOptions options;
    options.count = 2;
    BridgeReport report;
    QVERIFY(addBridges(&job, options, &report, &error));
    // The hole is whole and cut first; the outline's two pieces follow.
    QCOMPARE(job.drawing.contours.size(), 3);
    QVERIFY(job.drawing.contours.at(job.steps.first().contour).closed);
    QCOMPARE(job.drawing.contours.at(job.steps.first().contour).bounds(), QRectF(40, 40, 20, 20));

    QVERIFY(planCut(drawing, {}, &job, &error));
    options.holes = true;
    QVERIFY(addBridges(&job, options, &report, &error));
    QCOMPARE(report.bridges, 4);
    for (int s = 0; s < 2; ++s)
        QVERIFY(QRectF(40, 40, 20, 20).contains(job.drawing.contours.at(job.steps.at(s).contour).bounds()));

    // Bridges wider than half the contour are an error naming it.
    QVERIFY(planCut(drawing, {}, &job, &error));
    options.widthMm = 11;
    options.count = 4;
    QVERIFY(!addBridges(&job, options, &report, &error));
    QVERIFY2(error.contains("contour 2"), qPrintable(error));
}

void TestTransforms::weedingRunsOnlyBetweenParts()
{
    // Two squares in a row, 50 mm apart; lines every 25 mm across a frame 5 mm out.
    Drawing drawing;
    drawing.contours << rect(10, 10, 50, 50) << rect(110, 10, 50, 50);
    CutJob job;
    QString error;
    QVERIFY(planCut(drawing, {}, &job, &error));
    WeedOptions options;
    options.lines = Qt::Horizontal | Qt::Vertical;
    options.pitchMm = 25;
    options.clearanceMm = 2;
    WeedReport report;
    QVERIFY2(addWeeding(&job, options, &report, &error), qPrintable(error));
    // Frame (5, 5)-(165, 65): horizontal lines at 30 and 55, each in three pieces between and
    // beside the squares; vertical lines at 30, 55, 80, 105, 130, 155: those over a square only
    // below and above it, 80 and 105 whole.
    QVector<QPair<QPointF, QPointF>> expected;
    for (double y : { 30.0, 55.0 })
        expected << qMakePair(QPointF(5, y), QPointF(8, y)) << qMakePair(QPointF(62, y), QPointF(108, y))
                 << qMakePair(QPointF(162, y), QPointF(165, y));
    for (double x : { 80.0, 105.0 })
        expected << qMakePair(QPointF(x, 5), QPointF(x, 65));
    for (double x : { 30.0, 55.0, 130.0, 155.0 })
        expected << qMakePair(QPointF(x, 5), QPointF(x, 8)) << qMakePair(QPointF(x, 62), QPointF(x, 65));
    QCOMPARE(report.lines, expected.size());
    QVERIFY(report.frame);
    QCOMPARE(job.steps.size(), 2 + expected.size() + 1);
    for (int s = 0; s < job.steps.size(); ++s) {
        const Contour& contour = job.drawing.contours.at(job.steps.at(s).contour);
        // The parts first, then the lines, the frame last.
        QCOMPARE(contour.layer == weedingLayer, s >= 2);
        if (s < 2 || s == job.steps.size() - 1)
            continue;
        QPointF a = contour.points.first(), b = contour.points.last();
        if (a.x() > b.x() || a.y() > b.y())
            std::swap(a, b);
        bool found = false;
        for (const auto& line : qAsConst(expected))
            found = found || (std::hypot(a.x() - line.first.x(), a.y() - line.first.y()) < 1e-6
                         && std::hypot(b.x() - line.second.x(), b.y() - line.second.y()) < 1e-6);
        QVERIFY2(found, qPrintable(QStringLiteral("unexpected line (%1, %2)-(%3, %4)")
                                       .arg(a.x()).arg(a.y()).arg(b.x()).arg(b.y())));
    }
    QCOMPARE(job.drawing.contours.at(job.steps.last().contour).bounds(), QRectF(5, 5, 160, 60));
}

void TestTransforms::tilesShareTheirMarks_data()
{
    QTest::addColumn<QSizeF>("design");
    QTest::addColumn<double>("overlap");
    QTest::addColumn<int>("tiles");
    // Tiles of 300 × 200 take 290 × 190 of the design each, and 10 mm more into the next.
    QTest::newRow("twice the tile's step") << QSizeF(580, 380) << 10.0 << 4;
    QTest::newRow("twice the tile, no overlap") << QSizeF(600, 400) << 0.0 << 4;
    QTest::newRow("a little more") << QSizeF(591, 150) << 10.0 << 3;
    QTest::newRow("fits one") << QSizeF(300, 200) << 10.0 << 1;
}

void TestTransforms::tilesShareTheirMarks()
{
    QFETCH(QSizeF, design);
    QFETCH(double, overlap);
    QFETCH(int, tiles);
    Drawing drawing;
    drawing.contours << rect(100, 50, design.width(), design.height())
                     << Contour { { { 100, 50 }, { 100 + design.width(), 50 + design.height() } }, false, {} };
    TileOptions options;
    options.tile = QSizeF(300, 200);
    options.overlapMm = overlap;
    QVector<Tile> split;
    QString error;
    QVERIFY2(splitTiles(drawing, options, &split, &error), qPrintable(error));
    QCOMPARE(split.size(), tiles);
    double diagonal = 0;
    for (const Tile& tile : qAsConst(split)) {
        for (int c = 0; c < tile.drawing.contours.size(); ++c) {
            for (const QPointF& p : tile.drawing.contours.at(c).points)
                QVERIFY(p.x() >= -1e-9 && p.y() >= -1e-9 && p.x() <= 300 + 1e-9 && p.y() <= 200 + 1e-9);
            if (!tile.marks.contains(c) && !tile.drawing.contours.at(c).closed
                && tile.drawing.contours.at(c).points.size() == 2) {
                const QVector<QPointF>& p = tile.drawing.contours.at(c).points;
                const QPointF d = p.last() - p.first();
                if (std::abs(d.x() * design.height() - d.y() * design.width()) < 1e-6 * design.width() * design.height())
                    diagonal += std::hypot(d.x(), d.y());
            }
        }
        // A mark in the tile is a mark, at the same place of the design, in its neighbour too.
        for (int m : tile.marks) {
            const QPointF centre
                = (tile.drawing.contours.at(m).points.first() + tile.drawing.contours.at(m).points.last()) / 2 + tile.origin;
            int shared = 0;
            for (const Tile& other : qAsConst(split)) {
                if (&other == &tile || std::abs(other.row - tile.row) + std::abs(other.column - tile.column) != 1)
                    continue;
                for (int n : other.marks) {
                    const QPointF o = (other.drawing.contours.at(n).points.first() + other.drawing.contours.at(n).points.last()) / 2 + other.origin;
                    shared += std::hypot(o.x() - centre.x(), o.y() - centre.y()) < 0.1;
                }
            }
            QVERIFY2(shared >= 2, "a mark no neighbour shares");
        }
    }
    QCOMPARE(split.first().marks.isEmpty(), tiles == 1 || overlap == 0);
    // The diagonal, cut in pieces, covers its whole length at least once.
    QVERIFY(diagonal >= std::hypot(design.width(), design.height()) - 1e-6);
}

QTEST_GUILESS_MAIN(TestTransforms)
#include "tst_transforms.moc"
