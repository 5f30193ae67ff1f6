// The cut-file readers against what real and hostile files hold: HP-GL as plotters read it,
// text as outlines, early and layered DXF, and files made to hang, exhaust memory or read
// another file.

#include "cutdrawings.h"

#include <QFontMetricsF>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

#include <cmath>

using namespace ZRCut;

Q_DECLARE_METATYPE(ReadOptions)

namespace {

using Reader = bool (*)(const QByteArray&, Drawing*, QString*, const ReadOptions&);

Reader readerFor(const QString& format)
{
    return format == "hpgl" ? readHpgl : format == "svg" ? readSvg : readDxf;
}

ReadOptions skippingText()
{
    ReadOptions options;
    options.text = TextMode::Skip;
    return options;
}

QStringList lwpolyline(const QString& layer, const QRectF& r)
{
    return { "0", "LWPOLYLINE", "8", layer, "90", "4", "70", "1", "10", QString::number(r.left()),
        "20", QString::number(r.top()), "10", QString::number(r.right()), "20",
        QString::number(r.top()), "10", QString::number(r.right()), "20",
        QString::number(r.bottom()), "10", QString::number(r.left()), "20",
        QString::number(r.bottom()) };
}

QStringList line(double x1, double y1, double x2, double y2, const QString& layer = "0")
{
    return { "0", "LINE", "8", layer, "10", QString::number(x1), "20", QString::number(y1), "11",
        QString::number(x2), "21", QString::number(y2) };
}

QStringList arc(double cx, double cy, double r, double from, double to)
{
    return { "0", "ARC", "8", "0", "10", QString::number(cx), "20", QString::number(cy), "40",
        QString::number(r), "50", QString::number(from), "51", QString::number(to) };
}

// Blocks B0 to B<levels>: B0 holds bottom, each other inserts the one below in cells × cells.
QStringList blockBomb(int levels, int cells, const QStringList& bottom)
{
    const QStringList start { "0", "BLOCK", "8", "0", "2", "B0", "70", "0", "10", "0", "20", "0" };
    QStringList blocks = start + bottom + QStringList { "0", "ENDBLK" };
    for (int level = 1; level <= levels; ++level) {
        QStringList block = start;
        block[5] = QStringLiteral("B%1").arg(level);
        blocks += block + QStringList { "0", "INSERT", "8", "0", "2", QStringLiteral("B%1").arg(level - 1),
            "70", QString::number(cells), "71", QString::number(cells), "44", "1", "45", "1", "0", "ENDBLK" };
    }
    return blocks;
}

const QString letters = QStringLiteral("ABCDEFGHIKLMNOPRSTUV"); // 20, none below the baseline

// The ink of the letters set in DejaVu Sans with capital letters capHeight high, its baseline's
// start at origin, y upwards: from Qt's own metrics.
QRectF inkOf(double capHeight, const QPointF& origin, bool emSized = false)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(1000);
    const QFontMetricsF metrics(font);
    const double scale = (emSized ? 1000 : metrics.capHeight()) > 0
        ? capHeight / (emSized ? 1000 : metrics.capHeight())
        : 0;
    const QRectF ink = metrics.tightBoundingRect(letters);
    return QRectF(QPointF(origin.x() + ink.left() * scale, origin.y() - ink.bottom() * scale),
        QPointF(origin.x() + ink.right() * scale, origin.y() - ink.top() * scale));
}

} // namespace

class tst_CutInput : public QObject {
    Q_OBJECT

private slots:
    void hpglAsPlottersRead_data();
    void hpglAsPlottersRead();
    void textOutlines_data();
    void textOutlines();
    void textNamed_data();
    void textNamed();
    void drawingsRead_data();
    void drawingsRead();
    void hostileInput_data();
    void hostileInput();
    void noOtherFileOpened();
    void cancelledBomb();
};

void tst_CutInput::hpglAsPlottersRead_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<ReadOptions>("options");
    QTest::addColumn<int>("contours");
    QTest::addColumn<QRectF>("bounds");
    QTest::addColumn<double>("length");
    QTest::addColumn<QString>("warning");
    const ReadOptions plain;
    const ReadOptions skip = skippingText();
    const auto row = [](const char* name, const QByteArray& document, const ReadOptions& options,
                         int contours, const QRectF& bounds, double length, const char* warning) {
        QTest::newRow(name) << document << options << contours << bounds << length
                            << QString::fromUtf8(warning);
    };
    row("stray ETX before the first instruction", "\x03IN;PU0,0;PD400,0;", plain, 1,
        QRectF(0, 0, 10, 0), 10, "1 bytes outside instructions skipped");
    row("NULs between instructions", QByteArray("IN;\0\0PU0,0;\r\nPD400,0;", 21), plain, 1,
        QRectF(0, 0, 10, 0), 10, "2 bytes outside instructions skipped");
    row("printer wrapping", "\x1b%-12345X@PJL ENTER LANGUAGE=HPGL2\r\n\x1b%0BIN;PU0,0;PD400,0;",
        plain, 1, QRectF(0, 0, 10, 0), 10, "bytes outside instructions skipped");
    row("frame byte among a move's numbers", "IN;PU0,0;\nPD40\x02,0;", plain, 1,
        QRectF(0, 0, 1, 0), 1, "");
    row("absurd coordinate", "PD99999999999999999999,0;PD400,0;", plain, 1, QRectF(0, 0, 10, 0),
        10, "1 points left out");
    row("cut clipped by the window", "IN;IW0,0,400,400;PU-400,200;PD800,200;PU;", plain, 1,
        QRectF(0, 5, 10, 0), 10, "");
    row("IN ends the window", "IW0,0,400,400;IN;PU-400,200;PD800,200;", plain, 1,
        QRectF(-10, 5, 30, 0), 30, "");
    // User units: P1 and P2 stand for the corners SC names.
    row("SC stretched to P1 and P2", "IP0,0,4000,4000;SC0,100,0,200;PU0,0;PD100,0,100,200;",
        plain, 1, QRectF(0, 0, 100, 100), 200, "");
    row("SC isotropic, centred", "IP0,0,8000,4000;SC0,100,0,100,1;PU0,0;PD100,100;", plain, 1,
        QRectF(50, 0, 100, 100), 100 * M_SQRT2, "");
    row("SC by point factor from the default P1", "SC0,40,0,40,2;PU0,0;PD10,0;", plain, 1,
        QRectF(6.25, 14.9, 10, 0), 10, "");
    row("relative moves in user units", "IP0,0,4000,4000;SC0,100,0,100;PU50,50;PR;PD10,0;", plain,
        1, QRectF(50, 50, 10, 0), 10, "");
    // Chord angles: the polygon a plotter draws.
    row("circle of 60° chords: a hexagon", "PU400,0;CI400,60;", plain, 1,
        QRectF(0, -10 * std::sqrt(0.75), 20, 20 * std::sqrt(0.75)), 60, "");
    row("arc of 90° chords", "PU400,0;PD;AA0,0,180,90;", plain, 1, QRectF(-10, 0, 20, 10),
        20 * M_SQRT2, "");
    row("wedge edged in 45° chords", "PU400,400;EW400,0,90,45;", plain, 1,
        QRectF(10, 10, 10, 10), 20 + 40 * std::sin(M_PI / 8), "");
    row("square across the window's corner",
        "IW0,0,400,400;PU200,200;PD600,200,600,600,200,600,200,200;", plain, 2,
        QRectF(5, 5, 5, 5), 10, "");
    // The pen moves on as the letters would take it: 1.5 letter widths each.
    row("the pen after a label", "SI0.2,0.4;LBAB\x03PD;PR400,0;", skip, 1, QRectF(6, 0, 10, 0),
        10, "1 text items left out");
    row("CP by cells and lines", "SI0.2,0.4;PU0,0;CP2,1;PD;PR400,0;", plain, 1,
        QRectF(6, 8, 10, 0), 10, "");
    row("CP alone: the next line", "SI0.2,0.4;PU400,400;CP;PD;PR400,0;", plain, 1,
        QRectF(10, 2, 10, 0), 10, "");
    row("DI turns the baseline upwards", "DI0,1;SI0.2,0.4;LBABC\x03PD;PR0,400;", skip, 1,
        QRectF(0, 9, 0, 10), 10, "1 text items left out");
    row("DT's own terminator", "DT*;SI0.2,0.4;LBAB*PD;PR400,0;", skip, 1, QRectF(6, 0, 10, 0),
        10, "1 text items left out");
    row("a label cut off by the file's end", "PU0,0;PD400,0;PU;LBunfinished", skip, 1,
        QRectF(0, 0, 10, 0), 10, "1 text items left out");
}

void tst_CutInput::hpglAsPlottersRead()
{
    QFETCH(QByteArray, document);
    QFETCH(ReadOptions, options);
    QFETCH(int, contours);
    QFETCH(QRectF, bounds);
    QFETCH(double, length);
    QFETCH(QString, warning);
    Drawing drawing;
    QString error;
    QVERIFY2(readHpgl(document, &drawing, &error, options), qPrintable(error));
    QCOMPARE(drawing.contours.size(), contours);
    QVERIFY2(sameExtent(drawing.bounds(), bounds), qPrintable(extentText(drawing.bounds())));
    QVERIFY(std::abs(drawing.lengthMm() - length) < 1e-6);
    if (warning.isEmpty())
        QVERIFY2(drawing.warnings.isEmpty(), qPrintable(drawing.warnings.join("; ")));
    else
        QVERIFY2(drawing.warnings.join("; ").contains(warning),
            qPrintable(drawing.warnings.join("; ")));
}

void tst_CutInput::textOutlines_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QRectF>("ink");

    // A 20-letter line in a 5 mm font through each format, its ink from Qt's metrics (SVG's
    // font-size is the em, DXF's height and HP-GL's SI the capitals').
    QTest::newRow("SVG text, 5 mm em")
        << "svg"
        << svg("width=\"200mm\" height=\"100mm\" viewBox=\"0 0 200 100\"",
               "<text x=\"10\" y=\"50\" font-size=\"5\" font-family=\"DejaVu Sans\">" + letters
                   + "</text>")
        << inkOf(5, QPointF(10, 50), true);
    QTest::newRow("SVG tspan") << "svg"
                               << svg("width=\"200mm\" height=\"100mm\" viewBox=\"0 0 200 100\"",
                                      "<text font-size=\"5\"><tspan x=\"10\" y=\"50\">" + letters
                                          + "</tspan></text>")
                               << inkOf(5, QPointF(10, 50), true);
    QTest::newRow("DXF TEXT, 5 mm capitals")
        << "dxf"
        << dxfEntities({ "0", "TEXT", "8", "0", "10", "10", "20", "50", "40", "5", "1", letters })
        << inkOf(5, QPointF(10, 50));
    QTest::newRow("DXF MTEXT") << "dxf"
                               << dxfEntities({ "0", "MTEXT", "8", "0", "10", "10", "20", "55",
                                      "40", "5", "71", "1", "1", "{\\fArial;" + letters + "}" })
                               << inkOf(5, QPointF(10, 50));
    QTest::newRow("DXF TEXT centred on its alignment point")
        << "dxf"
        << dxfEntities({ "0", "TEXT", "8", "0", "10", "0", "20", "0", "11", "100", "21", "50",
               "40", "5", "72", "1", "1", letters })
        << inkOf(5, QPointF(100 - inkOf(5, QPointF()).center().x(), 50));
    // Letters 3 mm wide in cells of 4.5 mm: the ink spans 19 cells and a letter.
    QTest::newRow("HP-GL label, 5 mm capitals")
        << "hpgl" << ("PU400,2000;SI0.3,0.5;LB" + letters.toLatin1() + "\x03")
        << QRectF(10, 50, 19 * 4.5 + 3, 5);
    QTest::newRow("HP-GL label centred (LO5)")
        << "hpgl" << ("PU4000,2000;SI0.3,0.5;LO5;LB" + letters.toLatin1() + "\x03")
        << QRectF(100 - 44.25, 50 - 2.5, 88.5, 5);
}

void tst_CutInput::textOutlines()
{
    QFETCH(QString, format);
    QFETCH(QByteArray, document);
    QFETCH(QRectF, ink);
    Drawing drawing;
    QString error;
    QVERIFY2(readerFor(format)(document, &drawing, &error, {}), qPrintable(error));
    QCOMPARE(drawing.textItems, 1);
    // Letters are closed outlines, holes (A, B, D, O, P, R) included.
    QVERIFY(drawing.contours.size() >= 20);
    QVERIFY(std::all_of(drawing.contours.begin(), drawing.contours.end(),
        [](const Contour& c) { return c.closed; }));
    const QRectF actual = drawing.bounds();
    const double dx = 0.05 * ink.width(), dy = 0.05 * ink.height();
    QVERIFY2(std::abs(actual.left() - ink.left()) <= dx
            && std::abs(actual.right() - ink.right()) <= dx
            && std::abs(actual.top() - ink.top()) <= dy
            && std::abs(actual.bottom() - ink.bottom()) <= dy,
        qPrintable(extentText(actual) + " against " + extentText(ink)));

    // Left out, the text is counted and told.
    Drawing skipped;
    const bool read = readerFor(format)(document, &skipped, &error, skippingText());
    QVERIFY(!read);
    QVERIFY2(error.startsWith("nothing to cut"), qPrintable(error));
}

void tst_CutInput::textNamed_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("note");
    const QStringList style { "0", "TABLE", "2", "STYLE", "0", "STYLE", "2", "LABELS", "70", "0",
        "40", "0", "41", "1", "50", "0", "71", "0", "42", "2.5", "3", "nosuchfont.ttf", "4", "",
        "0", "ENDTAB" };
    QStringList shx = style;
    shx[21] = "romans.shx";
    const QStringList texts { "0", "TEXT", "8", "0", "10", "0", "20", "0", "40", "5", "1", "Hi",
        "7", "LABELS" };
    QTest::newRow("DXF style's font missing")
        << "dxf" << dxfEntities(texts, {}, {}, style)
        << "font \"nosuchfont\" is not on this computer: drawn in DejaVu Sans";
    QTest::newRow("DXF SHX font") << "dxf" << dxfEntities(texts, {}, {}, shx)
                                  << "font \"romans.shx (an SHX font)\" is not on this computer: "
                                     "drawn in DejaVu Sans";
    QTest::newRow("SVG family missing")
        << "svg"
        << svg("width=\"100mm\" height=\"100mm\"",
               "<text x=\"10\" y=\"10\" style=\"font-family:'Nosuch Sans',serif\">Hi</text>")
        << "font \"'Nosuch Sans'\" is not on this computer: drawn in DejaVu Sans";
    QTest::newRow("SVG without a family")
        << "svg" << svg("width=\"100mm\" height=\"100mm\"", "<text x=\"10\" y=\"10\">Hi</text>")
        << "text without a font of its own drawn in DejaVu Sans";
    QTest::newRow("HP-GL labels") << "hpgl" << QByteArray("LBHi\x03")
                                  << "text without a font of its own drawn in DejaVu Sans";
}

void tst_CutInput::textNamed()
{
    QFETCH(QString, format);
    QFETCH(QByteArray, document);
    QFETCH(QString, note);
    Drawing drawing;
    QString error;
    QVERIFY2(readerFor(format)(document, &drawing, &error, {}), qPrintable(error));
    QVERIFY2(drawing.warnings.contains(note), qPrintable(drawing.warnings.join("; ")));
    QVERIFY(drawing.contours.size() >= 3); // H and i's stem and dot at least
}

void tst_CutInput::drawingsRead_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<int>("contours");
    QTest::addColumn<int>("closed");
    QTest::addColumn<double>("length");
    QTest::addColumn<QString>("warning");

    // A plate drawn as CAD draws it: four lines, a hole of two arcs.
    const QStringList plate = line(0, 0, 40, 0) + line(40, 0, 40, 20) + line(0, 20, 40, 20)
        + line(0, 0, 0, 20) + arc(20, 10, 5, 0, 180) + arc(20, 10, 5, 180, 360);
    QTest::newRow("lines and arcs joined into outlines")
        << "dxf" << dxfEntities(plate) << 2 << 2 << 120 + 2 * M_PI * 5 << "";
    QTest::newRow("early DXF (AC1003)")
        << "dxf" << dxfEntities(plate, {}, { "9", "$ACADVER", "1", "AC1003" }) << 2 << 2
        << 120 + 2 * M_PI * 5 << "";
    QTest::newRow("R12 with ENTITIES alone")
        << "dxf"
        << dxf(QStringList { "0", "SECTION", "2", "ENTITIES" } + line(0, 0, 3, 4)
            + QStringList { "0", "ENDSEC", "0", "EOF" })
        << 1 << 0 << 5.0 << "";
    const QStringList layers { "0", "TABLE", "2", "LAYER", "0", "LAYER", "2", "cut", "70", "0",
        "62", "1", "6", "CONTINUOUS", "0", "LAYER", "2", "off", "70", "0", "62", "-7", "6",
        "CONTINUOUS", "0", "LAYER", "2", "frozen", "70", "1", "62", "3", "6", "CONTINUOUS", "0",
        "ENDTAB" };
    QTest::newRow("layers off and frozen left out")
        << "dxf"
        << dxfEntities(lwpolyline("cut", QRectF(0, 0, 10, 10)) + line(0, 0, 9, 0, "off")
                + line(0, 0, 7, 0, "frozen"),
               {}, {}, layers)
        << 1 << 1 << 40.0 << "layers that are off or frozen left out: frozen (1), off (1)";
    QTest::newRow("an arc of no radius is a line")
        << "svg"
        << svg("width=\"100mm\" height=\"100mm\" viewBox=\"0 0 100 100\"",
               "<path d=\"M 10 50 A 0 0 0 0 1 90 50 L 90 90\" fill=\"none\" stroke=\"black\"/>")
        << 1 << 0 << 120.0 << "";
    QTest::newRow("relative arcs of no radius, flags run together")
        << "svg"
        << svg("width=\"100mm\" height=\"100mm\" viewBox=\"0 0 100 100\"",
               "<path d=\"M10 50a0 5 0 1180 0l0 40\" fill=\"none\" stroke=\"black\"/>")
        << 1 << 0 << 120.0 << "";
    QTest::newRow("a picture left out")
        << "svg"
        << svg("width=\"100mm\" height=\"100mm\"",
               "<image xlink:href=\"/etc/passwd\" width=\"10\" height=\"10\"/>"
               "<rect width=\"10\" height=\"10\"/>")
        << 1 << 1 << 4 * 10 * 25.4 / 96 << "1 pictures left out";
}

void tst_CutInput::drawingsRead()
{
    QFETCH(QString, format);
    QFETCH(QByteArray, document);
    QFETCH(int, contours);
    QFETCH(int, closed);
    QFETCH(double, length);
    QFETCH(QString, warning);
    Drawing drawing;
    QString error;
    QVERIFY2(readerFor(format)(document, &drawing, &error, {}), qPrintable(error));
    QCOMPARE(drawing.contours.size(), contours);
    QCOMPARE(int(std::count_if(drawing.contours.begin(), drawing.contours.end(),
                 [](const Contour& c) { return c.closed; })),
        closed);
    QVERIFY2(std::abs(drawing.lengthMm() - length) < 0.002 * length,
        qPrintable(QString::number(drawing.lengthMm())));
    QCOMPARE(drawing.warnings.join("; "), warning);
}

void tst_CutInput::hostileInput_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("outcome"); // the error's start, or "warning: " and a warning

    QTest::newRow("ellipse with parameters of 1e20")
        << "dxf"
        << dxfEntities({ "0", "ELLIPSE", "8", "0", "10", "0", "20", "0", "11", "20", "21", "0",
               "40", "0.5", "41", "1e20", "42", "0" })
        << "";
    const QStringList top { "0", "INSERT", "8", "0", "2", "B10", "10", "0", "20", "0" };
    QTest::newRow("block bomb of lines: 10^20 copies")
        << "dxf" << dxfEntities(top, blockBomb(10, 10, line(0, 0, 1, 1))) << "the drawing";
    QTest::newRow("block bomb that draws nothing")
        << "dxf" << dxfEntities(top, blockBomb(10, 10, {}))
        << "the drawing's blocks, inserted in each other, make more than 4 million entities";
    QStringList bulges { "0", "LWPOLYLINE", "8", "0", "90", "3000", "70", "0" };
    for (int i = 0; i < 3000; ++i)
        bulges << "10" << QString::number(i) << "20"
               << "0"
               << "42"
               << "1e9";
    QTest::newRow("bulges of 1e9")
        << "dxf" << dxfEntities(bulges) << "warning: 2999 arcs reaching beyond 1 km cut as straight lines";
    QTest::newRow("a spline that declares a billion controls")
        << "dxf"
        << dxfEntities({ "0", "SPLINE", "8", "0", "70", "8", "71", "3", "72", "1000000000", "73",
               "1000000000", "74", "0" })
        << "line 14: SPLINE declares 1000000000 items (group 72), more than the file holds";
    QTest::newRow("a polyline that declares a billion vertices")
        << "dxf" << dxfEntities({ "0", "LWPOLYLINE", "8", "0", "90", "1000000000", "10", "0" })
        << "line 10: LWPOLYLINE declares 1000000000 items";
    QStringList huge { "0", "POLYLINE", "8", "0", "66", "1", "70", "1" };
    huge.reserve(8 * 1000002 + 20);
    for (int i = 0; i <= 1000000; ++i)
        huge << "0"
             << "VERTEX"
             << "10" << QString::number(i % 1000) << "20" << QString::number(i / 1000);
    huge << "0"
         << "SEQEND";
    QTest::newRow("closed polyline of 1000001 vertices")
        << "dxf" << dxfEntities(huge) << "a polyline holds more than 1000000 vertices (near line 6000";
    QByteArray circles = "PU0,0;PD;";
    for (int i = 0; i < 2100; ++i)
        circles += "CI39999999;";
    QTest::newRow("HP-GL circles of 1 km")
        << "hpgl" << circles << "line 1: the drawing makes more than 20 million points";
    QByteArray far = "<rect width=\"10\" height=\"10\"/>";
    for (int i = 0; i < 100; ++i)
        far += "<circle r=\"1e30\"/>";
    QTest::newRow("SVG circles of radius 1e30")
        << "svg" << svg("width=\"100mm\" height=\"100mm\"", far)
        << "warning: points left out: not numbers, or further than 1 km from the origin";
    QTest::newRow("SVG nested 100000 deep")
        << "svg"
        << svg("width=\"10mm\" height=\"10mm\"",
               QString("<g>").repeated(100000) + QString("</g>").repeated(100000))
        << "not an SVG document: elements nested more than 256 deep";
}

void tst_CutInput::hostileInput()
{
    QFETCH(QString, format);
    QFETCH(QByteArray, document);
    QFETCH(QString, outcome);
    Drawing drawing;
    QString error;
    const bool read = readerFor(format)(document, &drawing, &error, {});
    if (outcome.isEmpty() || outcome.startsWith("warning: ")) {
        QVERIFY2(read, qPrintable(error));
        QVERIFY2(drawing.warnings.join("; ").contains(outcome.mid(9)),
            qPrintable(drawing.warnings.join("; ")));
    } else {
        QVERIFY(!read);
        QVERIFY2(error.startsWith(outcome), qPrintable(error));
    }
}

void tst_CutInput::noOtherFileOpened()
{
    // A pipe no one writes: opening it would wait for ever.
    QTemporaryDir dir;
    const QString fifo = dir.filePath("fifo");
    QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    Drawing drawing;
    QString error;
    QVERIFY2(readSvg(svg("width=\"10mm\" height=\"10mm\"",
                         QStringLiteral("<image xlink:href=\"%1\" width=\"5\" height=\"5\"/>"
                                        "<use xlink:href=\"%1#part\"/><use href=\"file://%1\"/>"
                                        "<rect width=\"5\" height=\"5\"/>")
                             .arg(fifo)),
                 &drawing, &error),
        qPrintable(error));
    QCOMPARE(drawing.warnings,
        QStringList({ "1 pictures left out", "2 references to other files left out" }));
    QVERIFY(!readFile(fifo, &drawing, &error));
    QCOMPARE(error, fifo + ": not a regular file");
}

void tst_CutInput::cancelledBomb()
{
    std::atomic_bool stop { true };
    ReadOptions options;
    options.progress.cancel = &stop;
    Drawing drawing;
    QString error;
    QVERIFY(!readDxf(dxfEntities({ "0", "INSERT", "2", "B8", "10", "0", "20", "0" },
                         blockBomb(8, 100, line(0, 0, 1, 1))),
        &drawing, &error, options));
    QCOMPARE(error, QStringLiteral("cancelled"));
}

QTEST_MAIN(tst_CutInput)
#include "tst_cutinput.moc"
