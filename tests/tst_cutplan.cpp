// From a drawing to the knife: where a design lands on the table, the checks before cutting,
// layers, and the drag knife's blade at each cut's start.

#include "cutdrawings.h"

#include <QtTest>

#include <cmath>

using namespace ZRCut;

Q_DECLARE_METATYPE(Placement)
Q_DECLARE_METATYPE(Drawing)
Q_DECLARE_METATYPE(CheckReport)

namespace {

Drawing of(const QVector<Contour>& contours)
{
    Drawing drawing;
    drawing.contours = contours;
    return drawing;
}

Contour rectangle(const QRectF& r, const QString& layer = QString())
{
    Contour c = polygon({ r.topLeft(), r.topRight(), r.bottomRight(), r.bottomLeft() });
    c.layer = layer;
    return c;
}

Contour openLine(const QPointF& a, const QPointF& b, const QString& layer = QString())
{
    Contour c;
    c.points = { a, b };
    c.layer = layer;
    return c;
}

double distanceToDrawing(const QPointF& p, const Drawing& drawing)
{
    double best = HUGE_VAL;
    for (const Contour& c : drawing.contours) {
        const int n = c.points.size();
        for (int i = 0; i + 1 < n + (c.closed ? 1 : 0); ++i)
            best = qMin(best, segmentDistance(p, c.points.at(i), c.points.at((i + 1) % n)));
    }
    return best;
}

} // namespace

class tst_CutPlan : public QObject {
    Q_OBJECT

private slots:
    void placeModes_data();
    void placeModes();
    void copiesCheckedFirst();
    void checks_data();
    void checks();
    void outlineDrawnTwice();
    void layers();
    void bladeTurnedBeforeCutting();
};

void tst_CutPlan::placeModes_data()
{
    QTest::addColumn<Drawing>("design");
    QTest::addColumn<Placement>("placement");
    QTest::addColumn<QRectF>("bounds"); // null: refused
    QTest::addColumn<QString>("error");

    // A 40 × 20 plate drawn about the origin, an earring of 35 mm, a banner of 2000 × 1000, on a
    // table of 1000 × 600 mm.
    const Drawing plate = of({ rectangle(QRectF(-20, -10, 40, 20)) });
    const Drawing earring = of({ rectangle(QRectF(-17.5, -17.5, 35, 35)) });
    const Drawing banner = of({ rectangle(QRectF(100, 100, 2000, 1000)) });
    Placement p;
    QTest::newRow("at the origin and its margin") << plate << p << QRectF(5, 5, 40, 20) << "";
    p.knifeReachMm = 0.25;
    QTest::newRow("the knife's reach kept clear") << plate << p << QRectF(5.25, 5.25, 40, 20)
                                                  << "";
    p = Placement();
    p.mode = PlaceMode::Center;
    p.move = QPointF(10, 0);
    QTest::newRow("centred and moved") << plate << p << QRectF(490, 290, 40, 20) << "";
    p = Placement();
    p.mode = PlaceMode::Keep;
    QTest::newRow("kept: negative") << plate << p << QRectF()
                                    << "the placed design has negative coordinates: its "
                                       "lower-left corner is at (-20.0, -10.0) mm";
    p.move = QPointF(30, 20);
    QTest::newRow("kept and moved") << plate << p << QRectF(10, 10, 40, 20) << "";
    p = Placement();
    p.fit = true;
    QTest::newRow("fit shrinks") << banner << p << QRectF(5, 5, 990, 495) << "";
    QTest::newRow("fit never enlarges") << earring << p << QRectF(5, 5, 35, 35) << "";
    p.knifeReachMm = 1;
    QTest::newRow("fit keeps the knife's reach") << banner << p << QRectF(6, 6, 988, 494) << "";
    p = Placement();
    p.fit = true;
    p.enlarge = true;
    QTest::newRow("fit enlarges when asked") << earring << p << QRectF(5, 5, 590, 590) << "";
    p = Placement();
    p.mode = PlaceMode::Center;
    QTest::newRow("centred, too big") << banner << p << QRectF()
                                      << "the placed design has negative coordinates: its "
                                         "lower-left corner is at (-500.0, -200.0) mm";
}

void tst_CutPlan::placeModes()
{
    QFETCH(Drawing, design);
    QFETCH(Placement, placement);
    QFETCH(QRectF, bounds);
    QFETCH(QString, error);
    Drawing placed;
    QString why;
    QCOMPARE(place(design, placement, QSizeF(1000, 600), &placed, &why), !bounds.isNull());
    if (bounds.isNull()) {
        QCOMPARE(why, error);
        return;
    }
    QVERIFY2(sameExtent(placed.bounds(), bounds), qPrintable(extentText(placed.bounds())));
    // What placement leaves room for, the knife takes: its path stays on the table.
    CutOptions options;
    options.knife.bladeOffsetMm = placement.knifeReachMm;
    options.workArea = QSizeF(1000, 600);
    CutJob job;
    QVERIFY2(planCut(placed, options, &job, &why), qPrintable(why));
}

void tst_CutPlan::copiesCheckedFirst()
{
    // 10 000 copies of a small part of 3000 points would fit; their 30 million points are
    // refused before any is made.
    Contour ring;
    ring.closed = true;
    for (int i = 0; i < 3000; ++i)
        ring.points.append(QPointF(std::cos(i * 2 * M_PI / 3000), std::sin(i * 2 * M_PI / 3000)));
    Placement p;
    p.copies = 10000;
    p.gapMm = 0.5;
    Drawing placed;
    QString error;
    QVERIFY(!place(of({ ring }), p, QSizeF(1500, 1200), &placed, &error));
    QCOMPARE(error,
        QStringLiteral("10000 copies of 3000 points each make more than 20 million points"));
    QVERIFY(placed.contours.isEmpty());
}

void tst_CutPlan::checks_data()
{
    QTest::addColumn<Drawing>("drawing");
    QTest::addColumn<int>("open");
    QTest::addColumn<double>("openLength");
    QTest::addColumn<int>("duplicates");
    QTest::addColumn<double>("duplicateLength");
    QTest::addColumn<int>("small");
    QTest::addColumn<double>("cutLength"); // after the duplicates are gone

    QTest::newRow("two plates sharing an edge")
        << of({ rectangle(QRectF(0, 0, 10, 10)), rectangle(QRectF(10, 0, 10, 10)) }) << 0 << 0.0
        << 1 << 10.0 << 0 << 70.0;
    QTest::newRow("an outline drawn twice, the other way round")
        << of({ rectangle(QRectF(0, 0, 10, 20)),
               polygon({ { 0, 0 }, { 0, 20 }, { 10, 20 }, { 10, 0 } }) })
        << 0 << 0.0 << 4 << 60.0 << 0 << 60.0;
    QTest::newRow("a part's edge on part of another's")
        << of({ rectangle(QRectF(0, 0, 10, 10)), rectangle(QRectF(10, 0, 10, 5)) }) << 0 << 0.0
        << 1 << 5.0 << 0 << 65.0;
    QTest::newRow("strokes overlapping along a line")
        << of({ openLine({ 0, 0 }, { 30, 0 }), openLine({ 40, 0 }, { 20, 0 }) }) << 2 << 50.0 << 1
        << 10.0 << 0 << 40.0;
    QTest::newRow("open strokes and a speck")
        << of({ openLine({ 0, 0 }, { 30, 0 }), openLine({ 0, 5 }, { 0, 9 }),
               rectangle(QRectF(50, 50, 1, 1)) })
        << 2 << 34.0 << 0 << 0.0 << 1 << 38.0;
}

void tst_CutPlan::checks()
{
    QFETCH(Drawing, drawing);
    QFETCH(int, open);
    QFETCH(double, openLength);
    QFETCH(int, duplicates);
    QFETCH(double, duplicateLength);
    QFETCH(int, small);
    QFETCH(double, cutLength);
    CutJob job;
    QString error;
    QVERIFY2(planCut(drawing, {}, &job, &error), qPrintable(error));
    const CheckReport& report = job.checks;
    QCOMPARE(report.openContours, open);
    QCOMPARE(report.openLengthMm, openLength);
    QCOMPARE(report.duplicateSegments, duplicates);
    QCOMPARE(report.duplicateLengthMm, duplicateLength);
    QCOMPARE(report.smallPieces, small);
    QVERIFY(std::abs(job.cutLengthMm - cutLength) < 1e-9);
    QCOMPARE(report.notes().size(), int(open > 0) + int(duplicates > 0) + int(small > 0));

    // Kept when asked: each duplicate cut again.
    CutOptions keep;
    keep.checks.removeDuplicates = false;
    QVERIFY(planCut(drawing, keep, &job, &error));
    QVERIFY(std::abs(job.cutLengthMm - cutLength - duplicateLength) < 1e-9);
}

void tst_CutPlan::outlineDrawnTwice()
{
    // A plotter's trace: the outline twice around a hole. Neither copy goes before the hole.
    const Contour outline = rectangle(QRectF(0, 0, 40, 40));
    const Drawing drawing = of({ outline, rectangle(QRectF(10, 10, 5, 5)), outline });
    CutOptions options;
    options.checks.removeDuplicates = false;
    CutJob job;
    QString error;
    QVERIFY2(planCut(drawing, options, &job, &error), qPrintable(error));
    QCOMPARE(job.steps.size(), 3);
    QCOMPARE(job.steps.first().contour, 1);
}

void tst_CutPlan::layers()
{
    const Drawing drawing = of({ rectangle(QRectF(0, 0, 10, 10), "parts"),
        openLine({ 0, 50 }, { 10, 50 }, "dims"), rectangle(QRectF(20, 0, 10, 10), "parts"),
        rectangle(QRectF(40, 0, 4, 4), "holes") });
    const QVector<LayerSummary> layers = listLayers(drawing);
    QCOMPARE(layers.size(), 3);
    QCOMPARE(layers.at(0).name, QStringLiteral("parts"));
    QCOMPARE(layers.at(0).contours, 2);
    QCOMPARE(layers.at(0).lengthMm, 80.0);
    QCOMPARE(layers.at(1).name, QStringLiteral("dims"));
    QCOMPARE(layers.at(1).openContours, 1);
    QCOMPARE(layers.at(2).lengthMm, 16.0);

    Drawing chosen;
    QString error;
    QVERIFY(chooseLayers(drawing, { {}, { "dims" } }, &chosen, &error));
    QCOMPARE(chosen.lengthMm(), 96.0);
    QVERIFY(chooseLayers(drawing, { { "holes" }, {} }, &chosen, &error));
    QCOMPARE(chosen.contours.size(), 1);
    QVERIFY(!chooseLayers(drawing, { { "cut" }, {} }, &chosen, &error));
    QCOMPARE(error, QStringLiteral("the drawing has no layer \"cut\"; it has: parts, dims, holes"));

    // Layers in the order asked, each whole before the next.
    CutOptions options;
    options.layerOrder = QStringList { "holes", "parts" };
    CutJob job;
    QVERIFY(planCut(drawing, options, &job, &error));
    QStringList order;
    for (const CutStep& step : job.steps)
        order.append(drawing.contours.at(step.contour).layer);
    QCOMPARE(order, QStringList({ "holes", "parts", "parts", "dims" }));
}

void tst_CutPlan::bladeTurnedBeforeCutting()
{
    // Parts whose cuts start every way round. The blade trails its holder by the offset; lifted,
    // it keeps the way the last cut left it (along +x at first). The tip must stay on the
    // design from the moment the blade goes down.
    const double offset = 0.25;
    Drawing drawing = of({ rectangle(QRectF(10, 10, 20, 10)),
        polygon({ { 40, 10 }, { 60, 30 }, { 40, 30 } }), openLine({ 70, 30 }, { 70, 10 }),
        openLine({ 90, 10 }, { 75, 12 }) });
    CutOptions options;
    options.knife.bladeOffsetMm = offset;
    CutJob job;
    QString error;
    QVERIFY2(planCut(drawing, options, &job, &error), qPrintable(error));
    QPointF blade(1, 0);
    double worst = 0;
    for (int i = 0; i < job.steps.size(); ++i) {
        const QVector<QPointF> holder = job.path(i);
        QPointF tip = holder.first() - blade * offset;
        for (int k = 0; k + 1 < holder.size(); ++k) {
            const int steps = qMax(1, int(QLineF(holder.at(k), holder.at(k + 1)).length() / 0.002));
            for (int s = 1; s <= steps; ++s) {
                const QPointF h = holder.at(k) + (holder.at(k + 1) - holder.at(k)) * (double(s) / steps);
                const QPointF pull = h - tip;
                const double length = std::hypot(pull.x(), pull.y());
                if (length > offset)
                    tip = h - pull * (offset / length);
                worst = qMax(worst, distanceToDrawing(tip, drawing));
            }
        }
        const QPointF last = holder.last() - tip;
        blade = last / std::hypot(last.x(), last.y());
    }
    QVERIFY2(worst <= 0.06, qPrintable(QString::number(worst)));
}

QTEST_MAIN(tst_CutPlan)
#include "tst_cutplan.moc"
