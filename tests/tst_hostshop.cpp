// The shop's transforms as a user runs them with zrhost: what the command line takes and refuses,
// two files nested and cut on the embedded simulator, a design cut in tiles with the person
// advancing the material at a terminal, and sheets sent one by one through the machine service.

#include "hostrig.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

using hostrig::zrhost;

namespace {

const QString gasket = QStringLiteral(ZR_SAMPLES_DIR "/gasket.svg");

// A 20 × 10 mm rectangle (60 mm to cut) and a 30 mm square (120 mm), worked out by hand.
const QByteArray rectangle = "IN;PU0,0;PD800,0,800,400,0,400,0,0;";
const QByteArray square = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"40mm\" height=\"40mm\" "
                          "viewBox=\"0 0 40 40\"><rect x=\"5\" y=\"5\" width=\"30\" height=\"30\"/></svg>";

QString written(const QTemporaryDir& dir, const QString& name, const QByteArray& data)
{
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        return QString();
    return file.fileName();
}

double captured(const QString& text, const QString& pattern)
{
    const QRegularExpressionMatch match = QRegularExpression(pattern).match(text);
    return match.hasMatch() ? match.captured(1).toDouble() : -1;
}

// The millimetres the simulator counted as cut, as the last of its lines tells.
double simulatorCut(const QString& out)
{
    double mm = -1;
    QRegularExpressionMatchIterator lines
        = QRegularExpression("Simulator counted: .*, ([0-9.]+) mm cut").globalMatch(out);
    while (lines.hasNext())
        mm = lines.next().captured(1).toDouble();
    return mm;
}

} // namespace

class tst_HostShop : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void arguments_data();
    void arguments();
    void twoFilesNestedAndCut();
    void tilesWaitForThePerson();
    void sheetsThroughTheService();

private:
    QTemporaryDir m_dir;
    QString m_rectangle;
    QString m_square;
};

void tst_HostShop::initTestCase()
{
    m_rectangle = written(m_dir, "rectangle.plt", rectangle);
    m_square = written(m_dir, "square.svg", square);
    QVERIFY(!m_rectangle.isEmpty() && !m_square.isEmpty());
}

// Each row previews on the simulated machine (a 1500 × 1200 mm table); the files are the two
// shapes above and the 120 × 80 mm gasket. The square's weeding: a 40 mm frame (160 mm) 5 mm
// out, and a line across it each way at 20 mm cut only 3 mm from each side, 2 mm short of the
// square.
void tst_HostShop::arguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("told");
    // clang-format off
    QTest::newRow("copies nested")          << QStringList { "G", "--nest", "--copies", "3" } << 0 << "Nested: 3 of 3 parts placed \\(0 in holes\\) on 1 sheet";
    QTest::newRow("two files, a count each") << QStringList { "R", "S", "--nest", "--copies", "3,2" } << 0 << "Nested: 5 of 5 parts placed";
    QTest::newRow("turns as a step")        << QStringList { "R", "--nest", "--copies", "40", "--sheet", "60x200", "--rotations", "90" } << 0 << "Nested: 40 of 40 parts placed .* on [1-9] sheets?";
    QTest::newRow("more sheets")            << QStringList { "G", "--nest", "--copies", "3", "--sheet", "130x90" } << 0 << "on 3 sheets,";
    QTest::newRow("a part too big")         << QStringList { "R", "G", "--nest", "--sheet", "100x100" } << 0 << "Nested: 1 of 2 parts placed.*\n1 parts could not be placed.\n1 parts left out: too big for the 100.0 × 100.0 mm sheet";
    QTest::newRow("nothing fits")           << QStringList { "G", "--nest", "--sheet", "50x50" } << 2 << "no part fits on a sheet: 1 parts left out: too big";
    QTest::newRow("bridges")                << QStringList { "R", "--bridges", "2" } << 0 << "R: 20.0 × 10.0 mm, 58.0 mm to cut.*\nBridges: 2 on 1 contours, 2.0 mm left uncut.";
    QTest::newRow("a bridge every 15 mm")   << QStringList { "S", "--bridge-every", "15", "--bridge-width", "0.5" } << 0 << "Bridges: 8 on 1 contours, 4.0 mm left uncut.";
    QTest::newRow("weeding frame")          << QStringList { "S", "--weed", "--weed-margin", "5" } << 0 << "S: 40.0 × 40.0 mm, 292.0 mm to cut.*\nWeeding: a frame and 4 lines, 12.0 mm.";
    QTest::newRow("tiles")                  << QStringList { "G", "--scale", "20", "--tile" } << 0 << "Tiled: 4 tiles";
    QTest::newRow("copies for too few files") << QStringList { "R", "S", "--nest", "--copies", "3" } << 2 << "--copies gives 1 count for 2 files";
    QTest::newRow("copies for too many")    << QStringList { "R", "--nest", "--copies", "3,4" } << 2 << "--copies gives 2 counts for 1 file";
    QTest::newRow("copies not a count")     << QStringList { "R", "--copies", "0" } << 2 << "--copies wants a count from 1 to 9999";
    QTest::newRow("two files not nested")   << QStringList { "R", "S" } << 2 << "several files are cut together only when nested";
    QTest::newRow("zero sheet")             << QStringList { "R", "--nest", "--sheet", "0x600" } << 2 << "--sheet: a sheet is WIDTHxHEIGHT in mm, both above 0";
    QTest::newRow("sheet beyond the table") << QStringList { "R", "--nest", "--sheet", "2000x600" } << 2 << "the 2000 × 600 mm sheet is larger than the 1500 × 1200 mm table";
    QTest::newRow("negative spacing")       << QStringList { "R", "--nest", "--spacing", "-1" } << 2 << "--spacing wants a number from 0 to 1000";
    QTest::newRow("spacing without a nest") << QStringList { "R", "--spacing", "3" } << 2 << "--spacing is for --nest";
    QTest::newRow("turns not degrees")      << QStringList { "R", "--nest", "--rotations", "0,ninety" } << 2 << "--rotations: the turns are degrees";
    QTest::newRow("a step too fine")        << QStringList { "R", "--nest", "--rotations", "0.01" } << 2 << "a step of turns is at least 1 degree";
    QTest::newRow("rows and a nest")        << QStringList { "R", "--nest", "--rows", "2", "--columns", "2" } << 2 << "nesting sets its own copies";
    QTest::newRow("tiles and a nest")       << QStringList { "R", "--nest", "--tile" } << 2 << "not both at once";
    QTest::newRow("bridges too wide")       << QStringList { "R", "--bridges", "4", "--bridge-width", "10" } << 2 << "bridges 10 mm wide take half or more of";
    QTest::newRow("bridges counted twice")  << QStringList { "R", "--bridges", "4", "--bridge-every", "10" } << 2 << "two ways to count bridges";
    QTest::newRow("width without bridges")  << QStringList { "R", "--bridge-width", "2" } << 2 << "--bridge-width is for --bridges or --bridge-every";
    QTest::newRow("overlap too small")      << QStringList { "G", "--scale", "20", "--tile", "--tile-overlap", "0" } << 2 << "an overlap of at least 1 mm";
    QTest::newRow("tiles cut once")         << QStringList { "G", "--tile", "--copies", "2" } << 2 << "a tiled design is cut once";
    // clang-format on
}

void tst_HostShop::arguments()
{
    QFETCH(QStringList, arguments);
    QTemporaryDir out;
    QFETCH(QString, told);
    for (QString& argument : arguments) {
        const QString path = argument == "R" ? m_rectangle
            : argument == "S"                ? m_square
            : argument == "G"                ? gasket
                                             : QString();
        if (!path.isEmpty()) {
            told.replace(QRegularExpression("^" + argument + ":"), QFileInfo(path).fileName() + ":");
            argument = path;
        }
    }
    const hostrig::Run run = zrhost(QStringList { "preview", "--simulator", "--no-progress", "-o",
                                        out.filePath("p.png") }
        + arguments);
    QFETCH(int, exitCode);
    QVERIFY2(run.exitCode == exitCode, qPrintable(run.out + run.err));
    QVERIFY2((run.out + run.err).contains(QRegularExpression(told)), qPrintable(run.out + run.err));
    QCOMPARE(QFile::exists(out.filePath("p.png")), exitCode == 0);
}

// Three rectangles and two squares nested on one sheet: the machine cuts 3 × 60 + 2 × 120 mm.
void tst_HostShop::twoFilesNestedAndCut()
{
    const hostrig::Run run = zrhost({ "job", m_rectangle, m_square, "--nest", "--copies", "3,2",
        "--rotations", "0,90", "--simulator", "--speed", "20000", "--no-progress" });
    QVERIFY2(run.exitCode == 0, qPrintable(run.out + run.err));
    QVERIFY2(run.out.contains("Nested: 5 of 5 parts placed (0 in holes) on 1 sheet"),
        qPrintable(run.out));
    // Placed, used and timed before the knife goes down.
    QVERIFY(run.out.indexOf("Nested: ") < run.out.indexOf("Cutting 1 copy"));
    QVERIFY(run.out.contains(QRegularExpression("material used, in [0-9.]+ s.")));
    const double told = captured(run.out, ", ([0-9.]+) mm to cut");
    QVERIFY2(qAbs(told - 420) < 0.05, qPrintable(run.out));
    QVERIFY2(qAbs(simulatorCut(run.out) - 420) < 0.5, qPrintable(run.out));
    QVERIFY(run.out.contains("jobs: 1 finished"));
}

// gasket.svg 20 times as large takes four tiles of the 1500 × 1200 mm table. At a terminal the
// job cuts one, asks for the material to be advanced and waits for Enter; q stops before the
// next. With --yes it goes on by itself, and all the tiles together cut what the design has.
void tst_HostShop::tilesWaitForThePerson()
{
    int master = -1;
    int slave = -1;
    char name[256] = {};
    QCOMPARE(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    QProcess process;
    process.setStandardInputFile(QString::fromLocal8Bit(name));
    process.start(QStringLiteral(ZRHOST_PATH),
        { "job", gasket, "--scale", "20", "--tile", "--simulator", "--speed", "1000000",
            "--no-progress" });
    QString out;
    const auto heard = [&](const QString& text) {
        return QTest::qWaitFor(
            [&] { return (out += process.readAllStandardOutput()).contains(text); }, 20000);
    };
    QVERIFY2(heard("Advance the material for tile 2 of 4, then press Enter (q stops)."),
        qPrintable(out));
    // Waiting: the first tile is cut, the second not sent.
    QTest::qWait(500);
    out += process.readAllStandardOutput();
    QVERIFY(out.contains("jobs: 1 finished") && !out.contains("job-0002.plt"));
    QVERIFY(::write(master, "\n", 1) == 1);
    QVERIFY2(heard("Advance the material for tile 3 of 4"), qPrintable(out));
    QVERIFY(out.contains("Cutting 1 copy of gasket.svg (tile 2 of 4) (machine: job-0002.plt)."));
    QVERIFY(::write(master, "q\n", 2) == 2);
    QVERIFY(process.waitForFinished(10000));
    out += process.readAllStandardOutput();
    QCOMPARE(process.exitCode(), 130);
    QVERIFY2(out.contains("Stopped before tile 3 of 4: 2 of 4 cut.") && out.contains("jobs: 2 finished")
            && !out.contains("job-0003.plt"),
        qPrintable(out));
    ::close(master);
    ::close(slave);

    const hostrig::Run all = zrhost({ "job", gasket, "--scale", "20", "--tile", "--yes",
        "--simulator", "--speed", "1000000", "--no-progress" });
    QVERIFY2(all.exitCode == 0, qPrintable(all.out + all.err));
    double tiles = 0;
    QRegularExpressionMatchIterator each
        = QRegularExpression("gasket.svg, tile [1-4]: .* mm, ([0-9.]+) mm to cut").globalMatch(all.out);
    int count = 0;
    for (; each.hasNext(); ++count)
        tiles += each.next().captured(1).toDouble();
    QCOMPARE(count, 4);
    QVERIFY2(all.out.contains("jobs: 4 finished") && qAbs(simulatorCut(all.out) - tiles) < 0.5,
        qPrintable(all.out));

    // Without a terminal nor --yes nothing is cut.
    const hostrig::Run refused
        = zrhost({ "job", gasket, "--scale", "20", "--tile", "--simulator", "--no-progress" });
    QCOMPARE(refused.exitCode, 2);
    QVERIFY(refused.err.contains("give --yes") && !refused.out.contains("Cutting"));
}

// A nest of three sheets through zrhost serve: the client plans, and sends each sheet as a job of
// its own once the person (here --yes) goes on; the service's machine cuts all three.
void tst_HostShop::sheetsThroughTheService()
{
    QTemporaryDir dir;
    QProcess serve;
    serve.start(QStringLiteral(ZRHOST_PATH),
        { "serve", "--listen", "127.0.0.1:0", "--simulator", "--speed", "1000000", "--database",
            dir.filePath("service.sqlite") });
    QString log;
    QRegularExpressionMatch match;
    QVERIFY(QTest::qWaitFor(
        [&] {
            log += QString::fromUtf8(serve.readAllStandardOutput());
            match = QRegularExpression("Serving (ws://127.0.0.1:\\d+)/").match(log);
            return match.hasMatch();
        },
        10000));
    const hostrig::Run run = zrhost({ "job", gasket, "--nest", "--copies", "3", "--sheet",
        "130x90", "--yes", "--no-progress", "--server", match.captured(1) });
    QVERIFY2(run.exitCode == 0, qPrintable(run.out + run.err));
    for (const char* sheet : { "(sheet 1 of 3)", "(sheet 2 of 3)", "(sheet 3 of 3)" })
        QVERIFY2(run.out.contains(QStringLiteral("Job finished: 1 of 1 copy of gasket.svg %1")
                                      .arg(QLatin1String(sheet))),
            qPrintable(run.out));
    const hostrig::Run history = zrhost({ "history", "--server", match.captured(1) });
    QVERIFY2(history.out.count("completed") >= 3, qPrintable(history.out));
    ::kill(pid_t(serve.processId()), SIGINT);
    QVERIFY(serve.waitForFinished(10000));
}

QTEST_GUILESS_MAIN(tst_HostShop)
#include "tst_hostshop.moc"
