#include "cutdrawings.h"

#include <QFile>
#include <QRandomGenerator>
#include <QtTest>

#include <cmath>

using namespace ZRCut;

Q_DECLARE_METATYPE(Drawing)
Q_DECLARE_METATYPE(Placement)
Q_DECLARE_METATYPE(Contour)

namespace {

double distanceTo(const QPointF& p, const QVector<QPointF>& line, bool closed)
{
    double best = HUGE_VAL;
    for (int i = 0; i + 1 < line.size(); ++i)
        best = qMin(best, segmentDistance(p, line.at(i), line.at(i + 1)));
    if (closed)
        best = qMin(best, segmentDistance(p, line.last(), line.first()));
    return best;
}

// The largest distance from a vertex of either drawing to the nearest line of the other.
double deviation(const Drawing& a, const Drawing& b)
{
    const auto oneWay = [](const Drawing& from, const Drawing& to) {
        double worst = 0;
        for (const Contour& contour : from.contours) {
            for (const QPointF& p : contour.points) {
                double best = HUGE_VAL;
                for (const Contour& other : to.contours)
                    best = qMin(best, distanceTo(p, other.points, other.closed));
                worst = qMax(worst, best);
            }
        }
        return worst;
    };
    return qMax(oneWay(a, b), oneWay(b, a));
}

Contour circle(const QPointF& center, double radius, int sides = 48)
{
    Contour contour;
    contour.closed = true;
    for (int i = 0; i < sides; ++i) {
        const double a = 2 * M_PI * i / sides;
        contour.points.append(center + QPointF(radius * std::cos(a), radius * std::sin(a)));
    }
    return contour;
}

// Parts with holes, laid out on a grid and listed in random order: a rounded-off plate with two
// round holes and a slot.
Drawing scatteredParts(int parts)
{
    Drawing drawing;
    const int columns = int(std::ceil(std::sqrt(double(parts))));
    for (int i = 0; i < parts; ++i) {
        const QPointF corner(10 + (i % columns) * 40, 10 + (i / columns) * 30);
        drawing.contours.append(polygon({ corner, corner + QPointF(32, 0), corner + QPointF(32, 22),
            corner + QPointF(0, 22) }));
        drawing.contours.append(circle(corner + QPointF(7, 11), 3, 24));
        drawing.contours.append(circle(corner + QPointF(25, 11), 3, 24));
        drawing.contours.append(polygon({ corner + QPointF(13, 5), corner + QPointF(19, 5),
            corner + QPointF(19, 17), corner + QPointF(13, 17) }));
    }
    QRandomGenerator random(14);
    std::shuffle(drawing.contours.begin(), drawing.contours.end(), random);
    return drawing;
}

CutJob plan(const Drawing& drawing, const CutOptions& options = {})
{
    CutJob job;
    QString error;
    if (!planCut(drawing, options, &job, &error))
        qWarning() << error;
    return job;
}

QByteArray samples(const char* name)
{
    QFile file(QStringLiteral(ZR_SAMPLES_DIR "/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& content)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
    return path;
}

// Where the blade's tip goes when the holder follows path and drags it, offset behind.
QVector<QPointF> trailingTip(const QVector<QPointF>& holder, const QPointF& tipStart, double offset)
{
    QVector<QPointF> trace { tipStart };
    QPointF tip = tipStart;
    for (int i = 0; i + 1 < holder.size(); ++i) {
        const int steps
            = qMax(1, int(std::ceil(QLineF(holder.at(i), holder.at(i + 1)).length() / 0.002)));
        for (int s = 1; s <= steps; ++s) {
            const QPointF h
                = holder.at(i) + (holder.at(i + 1) - holder.at(i)) * (double(s) / steps);
            const QPointF pull = h - tip;
            const double length = std::hypot(pull.x(), pull.y());
            if (length > offset)
                tip = h - pull * (offset / length);
            trace.append(tip);
        }
    }
    return trace;
}

void checkDrawing(
    const Drawing& drawing, int contours, int closed, const QRectF& bounds, double length)
{
    QCOMPARE(drawing.contours.size(), contours);
    const auto closedCount = std::count_if(drawing.contours.begin(), drawing.contours.end(),
        [](const Contour& c) { return c.closed; });
    QCOMPARE(int(closedCount), closed);
    const QRectF actual = drawing.bounds();
    for (double gap : { actual.left() - bounds.left(), actual.top() - bounds.top(),
             actual.right() - bounds.right(), actual.bottom() - bounds.bottom() })
        QVERIFY2(std::abs(gap) <= defaultToleranceMm,
            qPrintable(QStringLiteral("bounds %1,%2 %3x%4")
                           .arg(actual.left())
                           .arg(actual.top())
                           .arg(actual.width())
                           .arg(actual.height())));
    // Chords are shorter than their arcs by a small share.
    QVERIFY2(std::abs(drawing.lengthMm() - length) <= 0.002 * length + 0.01,
        qPrintable(QString::number(drawing.lengthMm())));
}

} // namespace

class tst_CutFile : public QObject {
    Q_OBJECT

private slots:
    void geometry_data();
    void geometry();
    void refused_data();
    void refused();
    void svgText();
    void refusedFiles_data();
    void refusedFiles();
    void samplesAgree_data();
    void samplesAgree();
    void writtenReadsBack();
    void order_data();
    void order();
    void placement_data();
    void placement();
    void placementRefused_data();
    void placementRefused();
    void bladeOffset_data();
    void bladeOffset();
    void overcut();
    void preview();
    void cancelled();
    void progressReported();
    void damagedFilesNeverCrash();
};

void tst_CutFile::geometry_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<int>("contours");
    QTest::addColumn<int>("closed");
    QTest::addColumn<QRectF>("bounds");
    QTest::addColumn<double>("length");

    QTest::newRow("circle") << QStringLiteral("hpgl") << QByteArray("IN;PU4000,4000;CI400;") << 1
                            << 1 << QRectF(90, 90, 20, 20) << 2 * M_PI * 10;
    QTest::newRow("arc absolute") << QStringLiteral("hpgl") << QByteArray("PU400,0;PD;AA0,0,90;PU;")
                                  << 1 << 0 << QRectF(0, 0, 10, 10) << M_PI * 5;
    QTest::newRow("arc relative, clockwise")
        << QStringLiteral("hpgl") << QByteArray("PU0,400;PD;AR0,-400,-180,5;") << 1 << 0
        << QRectF(0, -10, 10, 20) << M_PI * 10;
    QTest::newRow("relative square, several points")
        << QStringLiteral("hpgl") << QByteArray("PU0,0;PR;PD400,0,0,400,-400,0,0,-400;PU;") << 1
        << 1 << QRectF(0, 0, 10, 10) << 40.0;
    QTest::newRow("setup commands ignored")
        << QStringLiteral("hpgl") << QByteArray("IN;SP2;VS10;FS3;DF;PU0,0;PD400,0;PU;SP0;") << 1
        << 0 << QRectF(0, 0, 10, 0) << 10.0;
    QTest::newRow("edge rectangle and pen lifted between")
        << QStringLiteral("hpgl") << QByteArray("PU0,0;EA400,800;PU1000,0;PD1400,0;") << 2 << 1
        << QRectF(0, 0, 35, 20) << 70.0;
    QTest::newRow("circle in a pen-down run")
        << QStringLiteral("hpgl") << QByteArray("PU0,0;PD400,0;CI400;PD800,0;PU;") << 3 << 1
        << QRectF(0, -10, 20, 20) << 20 + 20 * M_PI;
    // Ways cutter files write their moves, and damage a reader must get past.
    const auto hpgl = [](const char* name, const QByteArray& text, int contours, int closed,
                          const QRectF& bounds, double length) {
        QTest::newRow(name) << QStringLiteral("hpgl") << text << contours << closed << bounds
                            << length;
    };
    const QRectF ten(0, 0, 10, 10);
    hpgl("square back to its start", "IN;PU0,0;PD400,0,400,400,0,400,0,0;", 1, 1, ten, 40);
    hpgl("moves in their order", "IN;PU400,400;PD800,400,800,800;PU0,0;", 1, 0,
        QRectF(10, 10, 10, 10), 20);
    hpgl("travel first", "IN;PU400,300;PD800,300;", 1, 0, QRectF(10, 7.5, 10, 0), 10);
    hpgl("PA back to absolute", "PR;PU40,40;PA;PD0,0;", 1, 0, QRectF(0, 0, 1, 1), M_SQRT2);
    hpgl("pen state kept by PA", "PD;PA400,0;PU;PA0,0;", 1, 0, QRectF(0, 0, 10, 0), 10);
    hpgl("IN lifts the pen and ends relative moves", "PR;PU400,0;PD400,0;IN;PA0,0;PD;PR;PD0,400;",
        2, 0, QRectF(0, 0, 20, 10), 20);
    hpgl("no terminators", "INPU0,0PD400,0PU", 1, 0, QRectF(0, 0, 10, 0), 10);
    hpgl("line breaks", "IN\nPU0,0\nPD0,400\r\n", 1, 0, QRectF(0, 0, 0, 10), 10);
    hpgl("blanks as commas", "PD 400 0 400 400;", 1, 0, ten, 20);
    hpgl("lower case", "in;pu0,0;pd400,0;", 1, 0, QRectF(0, 0, 10, 0), 10);
    hpgl("negative", "PU-400,-400;PD400,-400;", 1, 0, QRectF(-10, -10, 20, 0), 20);
    hpgl("decimals", "PD20.5,0,+20.5,-.5;", 1, 0, QRectF(0, -0.0125, 0.5125, 0.0125),
        0.5125 + 0.5 / 40);
    hpgl("lone coordinate", "PD400,0,400;", 1, 0, QRectF(0, 0, 10, 0), 10);
    hpgl("junk inside numbers", "PD4#00,0;", 1, 0, QRectF(0, 0, 0.1, 0), 0.1);
    hpgl("cut off after an x", "PU0,0;PD400,0,4", 1, 0, QRectF(0, 0, 10, 0), 10);
    QByteArray strokes = "IN;PU0,0;";
    for (int i = 0; i < 500000; ++i)
        strokes += "PD4000,0;PU0,0;"; // 7.5 MB
    hpgl("half a million strokes", strokes, 500000, 0, QRectF(0, 0, 100, 0), 500000 * 100.0);

    const QString mm100
        = QStringLiteral("width=\"100mm\" height=\"100mm\" viewBox=\"0 0 100 100\"");
    QTest::newRow("rectangle in mm, y turned upwards")
        << QStringLiteral("svg")
        << svg("width=\"100mm\" height=\"50mm\" viewBox=\"0 0 100 50\"",
               "<rect x=\"10\" y=\"5\" width=\"30\" height=\"20\" stroke=\"black\" fill=\"none\"/>")
        << 1 << 1 << QRectF(10, 25, 30, 20) << 100.0;
    QTest::newRow("circle scaled by the viewBox")
        << QStringLiteral("svg")
        << svg("width=\"200mm\" height=\"200mm\" viewBox=\"0 0 100 100\"",
               "<circle cx=\"50\" cy=\"50\" r=\"25\"/>")
        << 1 << 1 << QRectF(50, 50, 100, 100) << 2 * M_PI * 50;
    QTest::newRow("transformed group") << QStringLiteral("svg")
                                       << svg(mm100,
                                              "<g transform=\"translate(10,20) rotate(90)\"><rect "
                                              "width=\"30\" height=\"10\"/></g>")
                                       << 1 << 1 << QRectF(0, 50, 10, 30) << 80.0;
    QTest::newRow("nested groups, scaled circle")
        << QStringLiteral("svg")
        << svg(mm100,
               "<g transform=\"scale(2)\"><g transform=\"translate(5,5)\"><circle "
               "r=\"5\"/></g></g>")
        << 1 << 1 << QRectF(0, 80, 20, 20) << 2 * M_PI * 10;
    QTest::newRow("px at 96 to the inch, no viewBox")
        << QStringLiteral("svg")
        << svg("width=\"96px\" height=\"96px\"", "<rect width=\"96\" height=\"48\"/>") << 1 << 1
        << QRectF(0, 12.7, 25.4, 12.7) << 76.2;
    QTest::newRow("inches") << QStringLiteral("svg")
                            << svg("width=\"2in\" height=\"1in\" viewBox=\"0 0 2 1\"",
                                   "<path d=\"M0 1 L2 1\" stroke=\"red\"/>")
                            << 1 << 0 << QRectF(0, 0, 50.8, 0) << 50.8;
    QTest::newRow("points") << QStringLiteral("svg")
                            << svg("width=\"72pt\" height=\"72pt\" viewBox=\"0 0 72 72\"",
                                   "<rect width=\"72\" height=\"72\"/>")
                            << 1 << 1 << QRectF(0, 0, 25.4, 25.4) << 101.6;
    QTest::newRow("centimetres") << QStringLiteral("svg")
                                 << svg("width=\"10cm\" height=\"5cm\" viewBox=\"0 0 10 5\"",
                                        "<circle cx=\"5\" cy=\"2.5\" r=\"1\"/>")
                                 << 1 << 1 << QRectF(40, 15, 20, 20) << 2 * M_PI * 10;
    QTest::newRow("arc in a path")
        << QStringLiteral("svg")
        << svg(mm100, "<path d=\"M 10 50 A 40 40 0 0 1 90 50\" fill=\"none\" stroke=\"black\"/>")
        << 1 << 0 << QRectF(10, 50, 80, 40) << M_PI * 40;
    QTest::newRow("filled and stroked, cut once")
        << QStringLiteral("svg")
        << svg(mm100,
               "<line x1=\"0\" y1=\"100\" x2=\"30\" y2=\"60\" stroke=\"black\"/>"
               "<path d=\"M0 0 L 10 0\" fill=\"blue\" stroke=\"black\"/>")
        << 2 << 0 << QRectF(0, 0, 30, 100) << 60.0;

    const QStringList square { "0", "LWPOLYLINE", "8", "0", "90", "4", "70", "1", "10", "0", "20",
        "0", "10", "10", "20", "0", "10", "10", "20", "10", "10", "0", "20", "10" };
    QTest::newRow("line") << QStringLiteral("dxf")
                          << dxfEntities({ "0", "LINE", "8", "cut", "10", "1", "20", "2", "11", "4",
                                 "21", "6" })
                          << 1 << 0 << QRectF(1, 2, 3, 4) << 5.0;
    QTest::newRow("circle and arc")
        << QStringLiteral("dxf")
        << dxfEntities({ "0", "CIRCLE", "8", "0", "10", "50", "20", "50", "40", "20", "0", "ARC",
               "8", "0", "10", "0", "20", "0", "40", "10", "50", "270", "51", "90" })
        << 2 << 1 << QRectF(0, -10, 70, 80) << 2 * M_PI * 20 + M_PI * 10;
    QTest::newRow("polyline with bulges: a rounded slot")
        << QStringLiteral("dxf")
        << dxfEntities({ "0", "LWPOLYLINE", "8", "0", "90", "4", "70", "1", "10", "10", "20", "0",
               "42", "0", "10", "30", "20", "0", "42", "1", "10", "30", "20", "20", "42", "0", "10",
               "10", "20", "20", "42", "1" })
        << 1 << 1 << QRectF(0, 0, 40, 20) << 40 + 2 * M_PI * 10;
    QTest::newRow("old polyline with vertices")
        << QStringLiteral("dxf")
        << dxfEntities({ "0", "POLYLINE", "8", "0", "66", "1", "70", "0", "0", "VERTEX", "8", "0",
               "10", "0", "20", "0", "0", "VERTEX", "8", "0", "10", "3", "20", "4", "0", "SEQEND" })
        << 1 << 0 << QRectF(0, 0, 3, 4) << 5.0;
    QTest::newRow("ellipse") << QStringLiteral("dxf")
                             << dxfEntities({ "0", "ELLIPSE", "8", "0", "10", "0", "20", "0", "11",
                                    "20", "21", "0", "40", "0.5", "41", "0", "42",
                                    "6.283185307179586" })
                             << 1 << 1 << QRectF(-20, -10, 40, 20) << 96.88448220;
    QTest::newRow("quadratic spline")
        << QStringLiteral("dxf")
        << dxfEntities({ "0", "SPLINE", "8", "0", "70", "8", "71", "2", "72", "6", "73", "3", "40",
               "0", "40", "0", "40", "0", "40", "1", "40", "1", "40", "1", "10", "0", "20", "0",
               "10", "10", "20", "20", "10", "20", "20", "0" })
        << 1 << 0 << QRectF(0, 0, 20, 10) << 29.5788571;
    QTest::newRow("inches") << QStringLiteral("dxf")
                            << dxfEntities(square, {}, { "9", "$INSUNITS", "70", "1" }) << 1 << 1
                            << QRectF(0, 0, 254, 254) << 1016.0;
    const QStringList blocks { "0", "BLOCK", "8", "0", "2", "SQ", "70", "0", "10", "5", "20", "5" };
    QTest::newRow("insert scaled and turned")
        << QStringLiteral("dxf")
        << dxfEntities({ "0", "INSERT", "8", "0", "2", "SQ", "10", "100", "20", "100", "41", "2",
                           "42", "2", "50", "90" },
               blocks + square + QStringList { "0", "ENDBLK" })
        << 1 << 1 << QRectF(90, 90, 20, 20) << 80.0;
    QTest::newRow("nested blocks")
        << QStringLiteral("dxf")
        << dxfEntities({ "0", "INSERT", "8", "0", "2", "TWO", "10", "0", "20", "0" },
               blocks + square
                   + QStringList { "0", "ENDBLK", "0", "BLOCK", "8", "0", "2", "TWO", "70", "0",
                       "10", "0", "20", "0", "0", "INSERT", "8", "0", "2", "SQ", "10", "5", "20",
                       "5", "0", "INSERT", "8", "0", "2", "SQ", "10", "25", "20", "5", "41", "0.5",
                       "42", "0.5", "0", "ENDBLK" })
        << 2 << 2 << QRectF(0, 0, 27.5, 10) << 60.0;
}

void tst_CutFile::geometry()
{
    QFETCH(QString, format);
    QFETCH(QByteArray, document);
    QFETCH(int, contours);
    QFETCH(int, closed);
    QFETCH(QRectF, bounds);
    QFETCH(double, length);
    const auto read = format == "hpgl" ? readHpgl : format == "svg" ? readSvg : readDxf;
    Drawing drawing;
    QString error;
    QVERIFY2(read(document, &drawing, &error, {}), qPrintable(error));
    checkDrawing(drawing, contours, closed, bounds, length);
    QVERIFY(drawing.warnings.isEmpty());
}

void tst_CutFile::refused_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("reason");

    QTest::newRow("encoded polyline")
        << QByteArray("IN;PU0,0;\nPE<=?>@;") << "line 2: encoded polylines (PE)";
    QTest::newRow("travel only") << QByteArray("IN;PU100,100;PU0,0;") << "nothing to cut";
    QTest::newRow("moves of no length") << QByteArray("PD0,0,0,0;PU0,0;") << "nothing to cut";
    QTest::newRow("garbage") << QByteArray("\x01\xff@@##!!12,34;;") << "nothing to cut";
    QTest::newRow("letters without sense") << QByteArray("X;Y;Z") << "nothing to cut";
}

void tst_CutFile::refused()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, reason);
    Drawing drawing;
    drawing.contours.append(circle({ 0, 0 }, 1));
    QString error;
    QVERIFY(!readHpgl(text, &drawing, &error));
    QVERIFY2(error.startsWith(reason), qPrintable(error));
    QCOMPARE(drawing.contours.size(), 1); // untouched
    QString frameError;
    QCOMPARE(checkFrameSafe(text, &frameError), !text.contains('\x02') && !text.contains('\x03'));

    // Through a file, the error names it.
    QTemporaryDir dir;
    const QString path = writeFile(dir, QStringLiteral("broken.plt"), text);
    QVERIFY(!readFile(path, &drawing, &error));
    QVERIFY2(error.startsWith(path + ": " + reason), qPrintable(error));
}

void tst_CutFile::refusedFiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("reason");

    QTest::newRow("not SVG") << "a.svg" << QByteArray("<html><body/></html>")
                             << "not an SVG document: its root element is <html>";
    QTest::newRow("broken XML") << "a.svg"
                                << QByteArray("<svg xmlns=\"http://www.w3.org/2000/svg\"><rect")
                                << "not an SVG document:";
    QTest::newRow("no shapes") << "a.svg"
                               << svg("width=\"10mm\" height=\"10mm\"",
                                      "<rect width=\"5\" height=\"5\" fill=\"none\"/>")
                               << "nothing to cut: the drawing holds no visible shape";
    QTest::newRow("not DXF") << "a.dxf" << QByteArray("hello\nworld\n") << "not a DXF file";
    QTest::newRow("binary DXF") << "a.dxf" << QByteArray("AutoCAD Binary DXF\r\n\x1a\x00")
                                << "binary DXF is not supported";
    QTest::newRow("old DXF") << "a.dxf"
                             << dxfEntities(
                                    { "0", "LINE", "10", "0", "20", "0", "11", "1", "21", "1" }, {},
                                    { "9", "$ACADVER", "1", "AC1002" })
                             << "unsupported DXF version AC1002";
    QTest::newRow("empty DXF") << "a.dxf"
                               << dxfEntities({ "0", "POINT", "8", "0", "10", "0", "20", "0" })
                               << "nothing to cut";
    QTest::newRow("a program") << "a.plt" << QByteArray("\x7f"
                                                        "ELF\x01\x01")
                               << "not a cut file: it is a program";
    QTest::newRow("a picture named like HP-GL")
        << "pic.x" << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)
        << "not a cut file: it is a PNG picture";
    QTest::newRow("words") << "notes.txt" << QByteArray("Dear customer,\nthe parts are ready.\n")
                           << "not a cut file: it is neither SVG, DXF nor HP-GL";
    QTest::newRow("light-years") << "a.dxf"
                                 << dxfEntities(
                                        { "0", "LINE", "10", "0", "20", "0", "11", "1", "21", "1" },
                                        {}, { "9", "$INSUNITS", "70", "20" })
                                 << "unsupported drawing units ($INSUNITS 20)";
    QTest::newRow("block in itself")
        << "a.dxf"
        << dxfEntities({ "0", "INSERT", "8", "0", "2", "B", "10", "0", "20", "0" },
               { "0", "BLOCK", "8", "0", "2", "B", "70", "0", "10", "0", "20", "0", "0", "LINE",
                   "10", "0", "20", "0", "11", "1", "21", "1", "0", "INSERT", "8", "0", "2", "B",
                   "10", "1", "20", "0", "0", "ENDBLK" })
        << "block \"B\" is inserted within itself";
    QTest::newRow("empty file") << "a.plt" << QByteArray() << "nothing to cut";
}

void tst_CutFile::refusedFiles()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString path = writeFile(dir, name, content);
    Drawing drawing;
    QString error;
    QVERIFY(!readFile(path, &drawing, &error));
    QVERIFY2(error.startsWith(path + ": " + reason), qPrintable(error));
    QVERIFY(drawing.contours.isEmpty());
}

void tst_CutFile::svgText()
{
    Drawing drawing;
    QString error;
    QVERIFY2(readSvg(svg("width=\"100mm\" height=\"100mm\"", "<text x=\"10\" y=\"10\">A</text>"),
                 &drawing, &error),
        qPrintable(error));
    QVERIFY(!drawing.contours.isEmpty());
    QCOMPARE(drawing.warnings.size(), 1);
}

void tst_CutFile::samplesAgree_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("svg") << "gasket.svg";
    QTest::newRow("dxf") << "gasket.dxf";
}

void tst_CutFile::samplesAgree()
{
    QFETCH(QString, name);
    Drawing plt, other;
    QString error;
    QVERIFY2(
        readFile(QStringLiteral(ZR_SAMPLES_DIR "/gasket.plt"), &plt, &error), qPrintable(error));
    QVERIFY2(
        readFile(QStringLiteral(ZR_SAMPLES_DIR "/") + name, &other, &error), qPrintable(error));
    // The sample: a 120 × 80 mm plate, its polygons a little shorter than its circles.
    QCOMPARE(plt.bounds(), QRectF(0, 0, 120, 80));
    const double curves = 320 + 2 * M_PI * 10 + 4 * 2 * M_PI * 4 + 60 + 2 * M_PI * 15;
    QVERIFY(plt.lengthMm() < curves && plt.lengthMm() > curves * 0.99);
    QCOMPARE(other.contours.size(), plt.contours.size());
    // The sample's own chords (up to 0.07 mm inside its arcs) and plotter units stand a little
    // off the true curves.
    QVERIFY2(deviation(plt, other) < 0.15, qPrintable(QString::number(deviation(plt, other))));
    QVERIFY(std::abs(plt.lengthMm() - other.lengthMm()) < 0.5);
}

void tst_CutFile::writtenReadsBack()
{
    for (const Drawing& drawing : { scatteredParts(20), [] {
                                       Drawing d;
                                       readHpgl(samples("gasket.plt"), &d, nullptr);
                                       return d;
                                   }() }) {
        const CutJob job = plan(drawing);
        QByteArray hpgl;
        QString error;
        QVERIFY(writeHpgl(job, &hpgl, &error));
        QVERIFY(checkFrameSafe(hpgl, &error));
        Drawing back;
        QVERIFY2(readHpgl(hpgl, &back, &error), qPrintable(error));
        QCOMPARE(back.contours.size(), drawing.contours.size());
        QVERIFY(deviation(drawing, back) <= 0.5 / hpglUnitsPerMm * M_SQRT2);
        QVERIFY(std::abs(back.lengthMm() - drawing.lengthMm()) < 0.01 * drawing.contours.size());
        // The written order is the job's: each read-back contour is its step's contour.
        for (int i = 0; i < job.steps.size(); ++i)
            QCOMPARE(
                back.contours.at(i).closed, drawing.contours.at(job.steps.at(i).contour).closed);
    }
}

void tst_CutFile::order_data()
{
    QTest::addColumn<Drawing>("drawing");
    QTest::newRow("520 contours: parts with holes in random order") << scatteredParts(130);
    Drawing open;
    QRandomGenerator random(7);
    for (int i = 0; i < 300; ++i) {
        Contour line;
        const QPointF from(20 + random.bounded(460.0), 20 + random.bounded(460.0));
        line.points
            = { from, from + QPointF(random.bounded(20.0) - 10, random.bounded(20.0) - 10) };
        open.contours.append(line);
    }
    QTest::newRow("300 open strokes") << open;
}

void tst_CutFile::order()
{
    QFETCH(Drawing, drawing);
    CutOptions asDrawn;
    asDrawn.optimizeOrder = false;
    const CutJob original = plan(drawing, asDrawn);
    const CutJob ordered = plan(drawing);
    QCOMPARE(ordered.steps.size(), drawing.contours.size());

    // Every contour once, each after everything it encloses.
    const QVector<int> parent = enclosingContours(drawing.contours);
    QVector<int> turn(drawing.contours.size(), -1);
    for (int i = 0; i < ordered.steps.size(); ++i) {
        QCOMPARE(turn.at(ordered.steps.at(i).contour), -1);
        turn[ordered.steps.at(i).contour] = i;
    }
    for (int c = 0; c < parent.size(); ++c) {
        if (parent.at(c) >= 0)
            QVERIFY(turn.at(c) < turn.at(parent.at(c)));
    }
    // The holes found are the holes made: those inside some closed contour.
    for (int c = 0; c < parent.size(); ++c) {
        const Contour& contour = drawing.contours.at(c);
        bool inside = false;
        for (const Contour& other : drawing.contours)
            inside |= other.closed && &other != &contour
                && other.bounds().contains(contour.bounds()) && other.bounds() != contour.bounds();
        QCOMPARE(parent.at(c) >= 0, inside);
    }
    // The same cuts, less travel.
    QVERIFY(std::abs(ordered.cutLengthMm - drawing.lengthMm()) < 1e-6 * drawing.lengthMm());
    QVERIFY2(ordered.travelLengthMm <= 0.5 * original.travelLengthMm,
        qPrintable(QStringLiteral("%1 against %2")
                       .arg(ordered.travelLengthMm)
                       .arg(original.travelLengthMm)));
    QCOMPARE(ordered.estimatedSeconds(100, 500),
        ordered.cutLengthMm / 100 + ordered.travelLengthMm / 500);
}

void tst_CutFile::placement_data()
{
    QTest::addColumn<Placement>("placement");
    QTest::addColumn<QRectF>("bounds");
    QTest::addColumn<double>("lengthFactor");

    // The design: a right triangle with legs 40 (x) and 20 (y), lower-left corner at (10, 10),
    // kept where the file has it.
    Placement keep;
    keep.mode = PlaceMode::Keep;
    Placement p = keep;
    QTest::newRow("as it is") << p << QRectF(10, 10, 40, 20) << 1.0;
    p.scale = 2;
    QTest::newRow("scaled") << p << QRectF(10, 10, 80, 40) << 2.0;
    p = keep;
    p.rotationDeg = 90;
    QTest::newRow("quarter turn keeps its corner") << p << QRectF(10, 10, 20, 40) << 1.0;
    p.rotationDeg = -270;
    p.move = QPointF(5, 0);
    QTest::newRow("turned back round and moved") << p << QRectF(15, 10, 20, 40) << 1.0;
    p = keep;
    p.rotationDeg = 45;
    QTest::newRow("any angle") << p << QRectF(10, 10, 30 * M_SQRT2, 20 * M_SQRT2) << 1.0;
    p = keep;
    p.mirror = true;
    QTest::newRow("mirrored") << p << QRectF(10, 10, 40, 20) << 1.0;
    p = keep;
    p.copies = 5;
    p.columns = 2;
    p.gapMm = 10;
    QTest::newRow("five copies in two columns") << p << QRectF(10, 10, 90, 80) << 5.0;
    p.columns = 0;
    QTest::newRow("copies across the table") << p << QRectF(10, 10, 240, 20) << 5.0;
    p = Placement();
    p.fit = true;
    p.enlarge = true;
    p.marginMm = 0;
    QTest::newRow("fitted") << p << QRectF(0, 0, 1000, 500) << 25.0;
}

void tst_CutFile::placement()
{
    QFETCH(Placement, placement);
    QFETCH(QRectF, bounds);
    QFETCH(double, lengthFactor);
    Drawing design;
    Contour triangle = polygon({ { 10, 10 }, { 50, 10 }, { 10, 30 } });
    design.contours.append(triangle);
    Drawing placed;
    QString error;
    QVERIFY2(place(design, placement, QSizeF(1000, 600), &placed, &error), qPrintable(error));
    QCOMPARE(placed.contours.size(), placement.copies);
    QVERIFY2(sameExtent(placed.bounds(), bounds), qPrintable(extentText(placed.bounds())));
    QVERIFY(std::abs(placed.lengthMm() - design.lengthMm() * lengthFactor) < 1e-9);
    // A mirror image runs the other way round.
    const auto signedArea = [](const QVector<QPointF>& points) {
        double area = 0;
        for (int i = 0; i < points.size(); ++i)
            area += points.at(i).x() * points.at((i + 1) % points.size()).y()
                - points.at((i + 1) % points.size()).x() * points.at(i).y();
        return area;
    };
    QCOMPARE(signedArea(placed.contours.first().points) > 0, !placement.mirror);
}

void tst_CutFile::placementRefused_data()
{
    QTest::addColumn<Placement>("placement");
    QTest::addColumn<QString>("reason");
    Placement p;
    p.mode = PlaceMode::Keep;
    p.scale = 100;
    QTest::newRow("beyond the table") << p
                                      << "the placed design reaches (4010.0, 2010.0) mm, beyond "
                                         "the work area of 1500.0 × 1200.0 mm";
    p.scale = 1;
    p.move = QPointF(-20, 0);
    QTest::newRow("off the table's edge") << p
                                          << "the placed design has negative coordinates: its "
                                             "lower-left corner is at (-10.0, 10.0) mm";
    p = Placement();
    p.copies = 0;
    QTest::newRow("no copies") << p << "copies must be 1 to";
    p = Placement();
    p.scale = 0;
    QTest::newRow("zero scale") << p << "placement out of range";
}

void tst_CutFile::placementRefused()
{
    QFETCH(Placement, placement);
    QFETCH(QString, reason);
    Drawing design;
    design.contours.append(polygon({ { 10, 10 }, { 50, 10 }, { 10, 30 } }));
    Drawing placed;
    QString error;
    QVERIFY(!place(design, placement, QSizeF(1500, 1200), &placed, &error));
    QVERIFY2(error.startsWith(reason), qPrintable(error));
    QVERIFY(placed.contours.isEmpty());
}

void tst_CutFile::bladeOffset_data()
{
    QTest::addColumn<Contour>("design");
    QTest::addColumn<double>("offset");
    QTest::newRow("square") << polygon({ { 10, 10 }, { 40, 10 }, { 40, 40 }, { 10, 40 } }) << 0.25;
    QTest::newRow("sharp triangle") << polygon({ { 10, 10 }, { 60, 15 }, { 12, 30 } }) << 0.5;
    QTest::newRow("star") << polygon({ { 30, 10 }, { 34, 24 }, { 48, 24 }, { 37, 32 }, { 41, 46 },
        { 30, 37 }, { 19, 46 }, { 23, 32 }, { 12, 24 }, { 26, 24 } })
                          << 0.3;
    Contour zigzag;
    zigzag.points = { { 10, 10 }, { 20, 30 }, { 30, 10 }, { 40, 30 } };
    QTest::newRow("open zigzag") << zigzag << 0.4;
}

void tst_CutFile::bladeOffset()
{
    QFETCH(Contour, design);
    QFETCH(double, offset);
    Drawing drawing;
    drawing.contours.append(design);
    CutOptions options;
    options.knife.bladeOffsetMm = offset;
    const CutJob job = plan(drawing, options);
    const QVector<QPointF> tipPath = [&] {
        CutOptions plain;
        return plan(drawing, plain).path(0);
    }();
    const QVector<QPointF> trace = trailingTip(job.path(0), tipPath.first(), offset);
    // Every corner of the design is reached by the tip, and the tip stays on the design.
    for (const QPointF& corner : design.points) {
        double nearest = HUGE_VAL;
        for (const QPointF& tip : trace)
            nearest = qMin(nearest, QLineF(tip, corner).length());
        QVERIFY2(nearest <= 0.1,
            qPrintable(QStringLiteral("corner %1,%2 missed by %3")
                           .arg(corner.x())
                           .arg(corner.y())
                           .arg(nearest)));
    }
    for (const QPointF& tip : trace)
        QVERIFY(distanceTo(tip, design.points, design.closed) <= 0.1);
    // The holder swings beyond the design: a table that just holds the design refuses it.
    options.workArea = QSizeF(design.bounds().right(), design.bounds().bottom());
    CutJob refused;
    QString error;
    QVERIFY(!planCut(drawing, options, &refused, &error));
    QVERIFY2(error.contains("off the table"), qPrintable(error));
    // Without compensation the holder itself would round the corners off.
    const QVector<QPointF> uncompensated = trailingTip(tipPath, tipPath.first(), offset);
    double worst = 0;
    for (const QPointF& corner : design.points.mid(1, design.points.size() - 2)) {
        double nearest = HUGE_VAL;
        for (const QPointF& tip : uncompensated)
            nearest = qMin(nearest, QLineF(tip, corner).length());
        worst = qMax(worst, nearest);
    }
    QVERIFY(worst > 0.1);
}

void tst_CutFile::overcut()
{
    Drawing drawing;
    drawing.contours.append(polygon({ { 10, 10 }, { 40, 10 }, { 40, 40 }, { 10, 40 } }));
    drawing.contours.append(circle({ 100, 100 }, 1, 8));
    CutOptions options;
    options.knife.overcutMm = 2;
    const CutJob job = plan(drawing, options);
    QVERIFY(std::abs(job.cutLengthMm - (drawing.lengthMm() + 4)) < 1e-9);
    for (int i = 0; i < job.steps.size(); ++i) {
        // The overcut runs along the contour's own start.
        const QVector<QPointF> path = job.path(i);
        const Contour& contour = drawing.contours.at(job.steps.at(i).contour);
        QCOMPARE(path.first(), contour.points.at(job.steps.at(i).start));
        QVERIFY(distanceTo(path.last(), contour.points, true) < 1e-9);
        QVERIFY(QLineF(path.first(), path.last()).length() > 1);
    }
}

void tst_CutFile::preview()
{
    // A square at the origin and one at the far corner: y upwards puts the second at the top.
    Drawing drawing;
    drawing.contours << polygon({ { 0, 0 }, { 10, 0 }, { 10, 10 }, { 0, 10 } })
                     << polygon({ { 90, 40 }, { 100, 40 }, { 100, 50 }, { 90, 50 } });
    const CutJob job = plan(drawing);
    const QImage image = renderPreview(job, QSize(320, 200));
    QCOMPARE(image.size(), QSize(320, 200));
    int cut[2][2] = {}, travel = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            cut[y * 2 / image.height()][x * 2 / image.width()]
                += c.red() < 0x60 && c.green() < 0x60;
            travel += c.red() > 0xc0 && c.green() < 0x90;
        }
    }
    QVERIFY2(cut[0][1] > 60 && cut[1][0] > 60,
        qPrintable(QStringLiteral("%1 %2").arg(cut[0][1]).arg(cut[1][0])));
    QCOMPARE(cut[0][0] + cut[1][1], 0);
    QVERIFY(travel > 100);
    QVERIFY(renderPreview(job, QSize(8, 8)).isNull());
}

void tst_CutFile::cancelled()
{
    std::atomic_bool stop { true };
    Progress progress;
    progress.cancel = &stop;
    Drawing drawing;
    QString error;
    ReadOptions read;
    read.progress = progress;
    QVERIFY(!readHpgl(samples("gasket.plt"), &drawing, &error, read));
    QCOMPARE(error, QStringLiteral("cancelled"));
    QVERIFY(!readSvg(samples("gasket.svg"), &drawing, &error, read));
    QCOMPARE(error, QStringLiteral("cancelled"));
    QVERIFY(!readDxf(samples("gasket.dxf"), &drawing, &error, read));
    QCOMPARE(error, QStringLiteral("cancelled"));
    drawing = scatteredParts(10);
    CutOptions options;
    options.progress = progress;
    CutJob job;
    QVERIFY(!planCut(drawing, options, &job, &error));
    job = plan(drawing);
    QByteArray hpgl;
    QVERIFY(!writeHpgl(job, &hpgl, &error, progress));
    PreviewOptions look;
    look.progress = progress;
    QVERIFY(renderPreview(job, QSize(100, 100), look).isNull());
}
void tst_CutFile::progressReported()
{
    QVector<int> seen;
    Progress progress;
    progress.report = [&](int percent) { seen.append(percent); };
    ReadOptions read;
    read.progress = progress;
    Drawing drawing;
    QString error;
    QVERIFY(readHpgl(samples("gasket.plt"), &drawing, &error, read));
    CutOptions options;
    options.progress = progress;
    CutJob job;
    QVERIFY(planCut(scatteredParts(300), options, &job, &error));
    // Two runs, each rising to 100.
    QCOMPARE(seen.count(100), 2);
    QVERIFY(seen.size() > 10);
    const int second = seen.indexOf(100) + 1;
    QVERIFY(std::is_sorted(seen.begin(), seen.begin() + second));
    QVERIFY(std::is_sorted(seen.begin() + second, seen.end()));

    // A reader of several steps moves the one bar on, never back.
    seen.clear();
    QVERIFY(readDxf(samples("gasket.dxf"), &drawing, &error, read));
    QCOMPARE(seen.count(100), 1);
    QVERIFY(std::is_sorted(seen.begin(), seen.end()));
}

void tst_CutFile::damagedFilesNeverCrash()
{
    // Seeded damage to each sample: bytes changed, cut short, repeated. Each read either fails
    // with a reason or gives contours of finite points.
    QRandomGenerator random(3);
    for (const char* name : { "gasket.plt", "gasket.svg", "gasket.dxf" }) {
        const QByteArray original = samples(name);
        QVERIFY(!original.isEmpty());
        for (int round = 0; round < 300; ++round) {
            QByteArray damaged = original;
            for (int edits = 1 + random.bounded(4); edits > 0; --edits) {
                const int at = random.bounded(damaged.size());
                switch (random.bounded(4)) {
                case 0:
                    damaged[at] = char(random.bounded(256));
                    break;
                case 1:
                    damaged.truncate(at);
                    break;
                case 2:
                    damaged.insert(at, damaged.mid(random.bounded(damaged.size()), 64));
                    break;
                default:
                    damaged.insert(at, QByteArray::number(random.bounded(2.0) * 1e12 - 1e12));
                }
                if (damaged.isEmpty())
                    damaged = "0";
            }
            Drawing drawing;
            QString error;
            bool ok = false;
            if (QByteArray(name).endsWith("plt"))
                ok = readHpgl(damaged, &drawing, &error);
            else if (QByteArray(name).endsWith("svg"))
                ok = readSvg(damaged, &drawing, &error);
            else
                ok = readDxf(damaged, &drawing, &error);
            QVERIFY(ok || !error.isEmpty());
            QCOMPARE(ok, !drawing.contours.isEmpty());
            for (const Contour& contour : qAsConst(drawing.contours)) {
                QVERIFY(contour.points.size() >= 2);
                for (const QPointF& p : contour.points)
                    QVERIFY(std::isfinite(p.x()) && std::isfinite(p.y()));
            }
            if (ok) {
                CutJob job;
                QVERIFY(planCut(drawing, {}, &job, &error) || !error.isEmpty());
            }
        }
    }
}

QTEST_MAIN(tst_CutFile)
#include "tst_cutfile.moc"
