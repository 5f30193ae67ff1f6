// What the host makes of a cut file (the description and the preview it hands the device) and
// of the machine's progress reports.

#include "cutfile.h"
#include "cutpreview.h"
#include "progressline.h"
#include "taskreport.h"

#include <QImage>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

namespace {

int darkPixels(const QImage& image)
{
    int dark = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            dark += qGray(image.pixel(x, y)) < 128;
    }
    return dark;
}

} // namespace

class tst_HostCutFile : public QObject {
    Q_OBJECT
private slots:
    void gasketDescription();
    void preview_data();
    void preview();
    void unusableFiles_data();
    void unusableFiles();
    void reports_data();
    void reports();
    void progressLine();
};

void tst_HostCutFile::gasketDescription()
{
    QString error;
    const CutFile file = CutFile::read(QStringLiteral(ZR_SAMPLES_DIR "/gasket.plt"), &error);
    QVERIFY2(file.isValid(), qPrintable(error));
    const QJsonObject info = file.fileInfo();
    // The cloud's work record reads these three as integers: they must be whole numbers.
    for (const char* key : { "width", "heigth", "path_length" })
        QVERIFY2(
            info.value(key).toInt(-1) >= 0 && info.value(key).toDouble() == info.value(key).toInt(),
            key);
    QCOMPARE(info.value("width").toInt(), 120);
    QCOMPARE(info.value("heigth").toInt(), 80);
    QCOMPARE(info.value("path_length").toInt(), qRound(file.outline().penDownLengthMm()));
    QVERIFY(info.value("path_length").toInt() > 630 && info.value("path_length").toInt() < 640);
    QCOMPARE(info.value("name").toString(), QStringLiteral("gasket.plt"));
    QCOMPARE(info.value("bytes").toInt(), file.data().size());
    QVERIFY(info.value("travel_length").toInt() > 0);
    // The device writes the text back in the local encoding: it must give the same bytes.
    QCOMPARE(file.text().toLocal8Bit(), file.data());
}

void tst_HostCutFile::preview_data()
{
    QTest::addColumn<QByteArray>("hpgl");
    QTest::addColumn<int>("longSide");
    QTest::addColumn<QSize>("size");

    // 40 plotter units to the millimetre; 4 pixels of margin on every side.
    // clang-format off
    QTest::newRow("gasket 120 x 80")  << QByteArray() << 256 << QSize(256, 174);
    QTest::newRow("square")           << QByteArray("IN;PU0,0;PD400,0,400,400,0,400,0,0;") << 256 << QSize(256, 256);
    QTest::newRow("tall")             << QByteArray("IN;PU0,0;PD0,4000,1000,4000;") << 128 << QSize(38, 128);
    QTest::newRow("straight cut")     << QByteArray("IN;PU0,0;PD4000,0;") << 256 << QSize(256, 9);
    QTest::newRow("far from origin")  << QByteArray("IN;PU40000,40000;PD44000,40000,44000,42000;") << 64 << QSize(64, 36);
    // clang-format on
}

void tst_HostCutFile::preview()
{
    QFETCH(QByteArray, hpgl);
    QFETCH(int, longSide);
    QFETCH(QSize, size);
    CutFile file;
    if (hpgl.isEmpty()) {
        QString error;
        file = CutFile::read(QStringLiteral(ZR_SAMPLES_DIR "/gasket.plt"), &error);
    } else {
        file = CutFile::fromData("test.plt", hpgl);
    }
    QVERIFY(file.isValid());

    const QByteArray png = file.previewPng(longSide);
    QVERIFY(png.startsWith("\x89PNG\r\n\x1a\n"));
    const QImage image = QImage::fromData(png, "PNG");
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), size);
    // Strokes are drawn, the margin stays white.
    QVERIFY(darkPixels(image) > longSide / 4);
    QCOMPARE(qGray(image.pixel(0, 0)), 255);
    QCOMPARE(qGray(image.pixel(image.width() - 1, image.height() - 1)), 255);
}

void tst_HostCutFile::unusableFiles_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("reason");
    QTest::newRow("empty") << QByteArray() << QStringLiteral("nothing to cut");
    QTest::newRow("travel only") << QByteArray("IN;PU0,0;PU400,400;")
                                 << QStringLiteral("nothing to cut");
    QTest::newRow("not hp-gl") << QByteArray("\x89PNG\r\n\x1a\n garbage")
                               << QStringLiteral("nothing to cut");
    QTest::newRow("missing") << QByteArray() << QStringLiteral("cannot read");
}

void tst_HostCutFile::unusableFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString path = dir.filePath("cut.plt");
    if (reason != QLatin1String("cannot read")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    QString error;
    const CutFile file = CutFile::read(path, &error);
    QVERIFY(!file.isValid());
    QVERIFY2(error.contains(reason), qPrintable(error));
    QVERIFY(CutPreview::render(file.outline(), 256).isNull());
}

void tst_HostCutFile::reports_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("copies");
    QTest::addColumn<int>("finished");
    QTest::addColumn<double>("percent");

    // clang-format off
    QTest::newRow("cutting")        << QString("66,1,job-0001.plt,2,0,12.5,3,10.0,20.0")     << true  << 1 << 2 << 0 << 12.5;
    QTest::newRow("etx attached")   << QString("66,3,job-0001.plt,2,2,100.0,8,0.0,0.0\x03")  << true  << 3 << 2 << 2 << 100.0;
    QTest::newRow("extra fields")   << QString("66,2,a.plt,3,1,45.9,0,0,0,7")                << true  << 2 << 3 << 1 << 45.9;
    QTest::newRow("bad numbers")    << QString("66,x,a.plt,y,z,w,0,0,0")                     << true  << 0 << 0 << 0 << 0.0;
    QTest::newRow("infinite")       << QString("66,1,a.plt,1,0,inf,0,0,0")                   << true  << 1 << 1 << 0 << 0.0;
    QTest::newRow("not a number")   << QString("66,1,a.plt,1,0,nan,0,0,0")                   << true  << 1 << 1 << 0 << 0.0;
    QTest::newRow("over 100")       << QString("66,1,a.plt,1,0,1e300,0,0,0")                 << true  << 1 << 1 << 0 << 100.0;
    QTest::newRow("eight fields")   << QString("66,1,a.plt,1,0,5,0,0")                       << false << 0 << 0 << 0 << 0.0;
    QTest::newRow("other command")  << QString("55,1,a.plt,1,0,5,0,0,0")                     << false << 0 << 0 << 0 << 0.0;
    // clang-format on
}

void tst_HostCutFile::reports()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    TaskReport report;
    QCOMPARE(TaskReport::parse(text, &report), valid);
    if (!valid)
        return;
    QTEST(report.status, "status");
    QTEST(report.copies, "copies");
    QTEST(report.finished, "finished");
    QTEST(report.percent, "percent");
    QVERIFY(!report.fileName.contains(QChar(3)));
}

void tst_HostCutFile::progressLine()
{
    TaskReport report;
    QVERIFY(TaskReport::parse("66,1,job.plt,2,1,50.0,4,0,0", &report));
    QCOMPARE(ProgressLine::render(report, 65000),
        QStringLiteral("[###############---------------]  50.0 %  copy 2/2  1:05  cutting"));
    QVERIFY(TaskReport::parse("66,3,job.plt,2,2,100.0,9,0,0", &report));
    QCOMPARE(ProgressLine::render(report, 9400),
        QStringLiteral("[##############################] 100.0 %  copy 2/2  0:09  finished"));

    // Not on a terminal: a line when the job moves on, none for repeats.
    QTemporaryDir dir;
    FILE* stream = std::fopen(qPrintable(dir.filePath("progress.txt")), "w+");
    QVERIFY(stream);
    ProgressLine plain(stream, false);
    for (const char* text : { "66,1,j,2,0,1.0,0,0,0", "66,1,j,2,0,2.0,0,0,0",
             "66,1,j,2,0,12.0,0,0,0", "66,2,j,2,0,12.5,0,0,0", "66,1,j,2,1,50.0,0,0,0" }) {
        QVERIFY(TaskReport::parse(text, &report));
        plain.update(report, 1000);
    }
    std::fclose(stream);
    QFile written(dir.filePath("progress.txt"));
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = written.readAll().split('\n');
    QCOMPARE(lines.size(), 5); // four lines and what follows the last line break
    QVERIFY(lines.at(0).contains("  1.0 %"));
    QVERIFY(lines.at(1).contains(" 12.0 %"));
    QVERIFY(lines.at(2).contains("paused"));
    QVERIFY(lines.at(3).contains("copy 2/2"));
}

QTEST_MAIN(tst_HostCutFile)
#include "tst_hostcutfile.moc"
