// Reading the outline of HP-GL cut files: moves, extent and path lengths, from good files and
// from damaged ones.

#include "pltoutline.h"

#include <QtTest>

class tst_PltOutline : public QObject {
    Q_OBJECT
private slots:
    void read_data();
    void read();
    void squareMoves();
    void relativeAfterPenUp();
    void sampleGasket();
    void largeFileInOnePass();
};

void tst_PltOutline::read_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("moves");
    QTest::addColumn<int>("cuts");
    QTest::addColumn<double>("cutMm");
    QTest::addColumn<double>("travelMm");
    QTest::addColumn<QRectF>("bounds");

    const QByteArray square = "IN;PU0,0;PD400,0,400,400,0,400,0,0;";
    const QRectF ten(0, 0, 10, 10);
    // clang-format off
    QTest::newRow("square")              << square << 4 << 4 << 40.0 << 0.0 << ten;
    QTest::newRow("square, relative")    << QByteArray("IN;PU0,0;PR;PD400,0,0,400,-400,0,0,-400;") << 4 << 4 << 40.0 << 0.0 << ten;
    QTest::newRow("travel first")        << QByteArray("IN;PU400,300;PD800,300;") << 2 << 1 << 10.0 << 12.5 << QRectF(10, 7.5, 10, 0);
    QTest::newRow("PA back to absolute") << QByteArray("PR;PU40,40;PA;PD0,0;") << 2 << 1 << std::sqrt(2.0) << std::sqrt(2.0) << QRectF(0, 0, 1, 1);
    QTest::newRow("pen state kept by PA") << QByteArray("PD;PA400,0;PU;PA0,0;") << 2 << 1 << 10.0 << 10.0 << QRectF(0, 0, 10, 0);
    QTest::newRow("no terminators")      << QByteArray("INPU0,0PD400,0PU") << 1 << 1 << 10.0 << 0.0 << QRectF(0, 0, 10, 0);
    QTest::newRow("line breaks")         << QByteArray("IN\nPU0,0\nPD0,400\r\n") << 1 << 1 << 10.0 << 0.0 << QRectF(0, 0, 0, 10);
    QTest::newRow("blanks as commas")    << QByteArray("PD 400 0 400 400;") << 2 << 2 << 20.0 << 0.0 << ten;
    QTest::newRow("lower case")          << QByteArray("in;pu0,0;pd400,0;") << 1 << 1 << 10.0 << 0.0 << QRectF(0, 0, 10, 0);
    QTest::newRow("negative")            << QByteArray("PU-400,-400;PD400,-400;") << 2 << 1 << 20.0 << std::sqrt(200.0) << QRectF(-10, -10, 20, 0);
    QTest::newRow("decimals")            << QByteArray("PD20.5,0,+20.5,-.5;") << 2 << 2 << 0.5125 + 0.5 / 40 << 0.0 << QRectF(0, -0.0125, 0.5125, 0.0125);
    QTest::newRow("lone coordinate")     << QByteArray("PD400,0,400;") << 1 << 1 << 10.0 << 0.0 << QRectF(0, 0, 10, 0);
    QTest::newRow("other commands")      << QByteArray("IN;SP1;VS10;DF;PU0,0;PD400,0;SP0;") << 1 << 1 << 10.0 << 0.0 << QRectF(0, 0, 10, 0);
    QTest::newRow("label skipped")       << QByteArray("LBPD4000,4000\nPD400,0;") << 1 << 1 << 10.0 << 0.0 << QRectF(0, 0, 10, 0);
    QTest::newRow("zero-length moves")   << QByteArray("PD0,0,0,0;PU0,0;") << 0 << 0 << 0.0 << 0.0 << QRectF();
    QTest::newRow("empty")               << QByteArray() << 0 << 0 << 0.0 << 0.0 << QRectF();
    QTest::newRow("garbage")             << QByteArray("\x01\xff@@##!!12,34;;") << 0 << 0 << 0.0 << 0.0 << QRectF();
    QTest::newRow("letters without sense") << QByteArray("X;Y;Z") << 0 << 0 << 0.0 << 0.0 << QRectF();
    QTest::newRow("pen up only")         << QByteArray("PU400,0,400,400;") << 2 << 0 << 0.0 << 20.0 << QRectF();
    QTest::newRow("junk inside numbers") << QByteArray("PD4#00,0;") << 1 << 1 << 0.1 << 0.0 << QRectF(0, 0, 0.1, 0);
    QTest::newRow("absurd coordinate")   << QByteArray("PD99999999999999999999,0;PD400,0;") << 1 << 1 << 10.0 << 0.0 << QRectF(0, 0, 10, 0);
    QTest::newRow("cut off after an x")  << QByteArray("PU0,0;PD400,0,4") << 1 << 1 << 10.0 << 0.0 << QRectF(0, 0, 10, 0);
    // clang-format on
}

void tst_PltOutline::read()
{
    QFETCH(QByteArray, text);
    QFETCH(int, moves);
    QFETCH(int, cuts);
    QFETCH(double, cutMm);
    QFETCH(double, travelMm);
    QFETCH(QRectF, bounds);
    const PltOutline outline = PltOutline::fromHpgl(text);
    QCOMPARE(outline.segments().size(), moves);
    QCOMPARE(outline.cutSegmentCount(), cuts);
    QVERIFY2(qAbs(outline.penDownLengthMm() - cutMm) < 1e-9,
        qPrintable(QString::number(outline.penDownLengthMm())));
    QVERIFY2(qAbs(outline.penUpLengthMm() - travelMm) < 1e-9,
        qPrintable(QString::number(outline.penUpLengthMm())));
    QCOMPARE(outline.cutBounds(), bounds);
    QCOMPARE(outline.widthMm(), bounds.width());
    QCOMPARE(outline.heightMm(), bounds.height());
    QCOMPARE(outline.isEmpty(), moves == 0);
}

void tst_PltOutline::squareMoves()
{
    const PltOutline outline = PltOutline::fromHpgl("IN;PU400,400;PD800,400,800,800;PU0,0;");
    const QVector<PltSegment>& s = outline.segments();
    QCOMPARE(s.size(), 4);
    QCOMPARE(s.at(0).from, QPointF(0, 0));
    QCOMPARE(s.at(0).to, QPointF(10, 10));
    QVERIFY(!s.at(0).penDown);
    QCOMPARE(s.at(1).from, QPointF(10, 10));
    QCOMPARE(s.at(1).to, QPointF(20, 10));
    QVERIFY(s.at(1).penDown);
    QCOMPARE(s.at(2).to, QPointF(20, 20));
    QVERIFY(s.at(2).penDown);
    QCOMPARE(s.at(3).to, QPointF(0, 0));
    QVERIFY(!s.at(3).penDown);
}

void tst_PltOutline::relativeAfterPenUp()
{
    // IN returns to absolute coordinates and lifts the pen; the position stays.
    const PltOutline outline = PltOutline::fromHpgl("PR;PU400,0;PD400,0;IN;PA0,0;PD;PR;PD0,400;");
    const QVector<PltSegment>& s = outline.segments();
    QCOMPARE(s.size(), 4);
    QCOMPARE(s.at(1).to, QPointF(20, 0));
    QCOMPARE(s.at(2).to, QPointF(0, 0));
    QVERIFY(!s.at(2).penDown);
    QCOMPARE(s.at(3).to, QPointF(0, 10));
    QVERIFY(s.at(3).penDown);
}

void tst_PltOutline::sampleGasket()
{
    QFile file(QStringLiteral(ZR_SAMPLES_DIR "/gasket.plt"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const PltOutline outline = PltOutline::fromHpgl(file.readAll());
    QCOMPARE(outline.cutSegmentCount(), 262);
    QCOMPARE(outline.cutBounds(), QRectF(0, 0, 120, 80));
    // Outer edge 320 mm + 2 pi 10, four holes 2 pi 4, the opening 60 + 2 pi 15; polygons are a
    // little shorter than their circles.
    const double expected = 320 + 2 * M_PI * 10 + 4 * 2 * M_PI * 4 + 60 + 2 * M_PI * 15;
    QVERIFY2(outline.penDownLengthMm() < expected && outline.penDownLengthMm() > expected * 0.99,
        qPrintable(QString::number(outline.penDownLengthMm())));
}

void tst_PltOutline::largeFileInOnePass()
{
    QByteArray text = "IN;PU0,0;";
    for (int i = 0; i < 500000; ++i)
        text += "PD4000,0;PU0,0;"; // 7.5 MB
    const PltOutline outline = PltOutline::fromHpgl(text);
    QCOMPARE(outline.cutSegmentCount(), 500000);
    QCOMPARE(outline.penDownLengthMm(), 500000 * 100.0);
    QCOMPARE(outline.penUpLengthMm(), 500000 * 100.0);
}

QTEST_GUILESS_MAIN(tst_PltOutline)
#include "tst_pltoutline.moc"
