// Lengths as a person types and reads them (mm or inches), and moving the head by hand: jogging
// by a distance on the simulated machine, and an origin that is asked for before it moves.

#include "hostrig.h"
#include "units.h"

#include <QtTest>

#include <pty.h>
#include <unistd.h>

class tst_HostUnits : public QObject {
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void show_data();
    void show();
    void jogByDistance_data();
    void jogByDistance();
    void originAsks_data();
    void originAsks();
};

void tst_HostUnits::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("inch"); // a bare number is in inches
    QTest::addColumn<bool>("speed");
    QTest::addColumn<double>("mm"); // -1: refused
    QTest::addColumn<QString>("why");
    // clang-format off
    QTest::newRow("speed in mm/s")   << "250mm/s"    << false << true  << 250.0  << "";
    QTest::newRow("inches, spaced")  << "10 in"      << false << false << 254.0  << "";
    QTest::newRow("inch speed")      << "9.84in/s"   << false << true  << 249.936 << "";
    QTest::newRow("feet")            << "0.5 ft"     << false << false << 152.4  << "";
    QTest::newRow("quote mark")      << "2\""        << false << false << 50.8   << "";
    QTest::newRow("centimetres")     << "1.5cm"      << false << false << 15.0   << "";
    QTest::newRow("word inch")       << "1 inch"     << false << false << 25.4   << "";
    QTest::newRow("negative")        << "-3mm"       << false << false << -3.0   << "";
    QTest::newRow("bare in mm")      << "12.5"       << false << false << 12.5   << "";
    QTest::newRow("bare in inches")  << "2"          << true  << false << 50.8   << "";
    QTest::newRow("mm in inch mode") << "10mm"       << true  << false << 10.0   << "";
    QTest::newRow("speed's /s")      << "3 in / s"   << true  << true  << 76.2   << "";
    QTest::newRow("too far")         << "1e9 in"     << false << false << -1.0   << "is beyond 1000000 mm";
    QTest::newRow("no number")       << "abc"        << false << false << -1.0   << "\"abc\" is not a number";
    QTest::newRow("no such unit")    << "10 parsecs" << false << false << -1.0   << "\"parsecs\" is no unit of length";
    QTest::newRow("speed as length") << "250mm/s"    << false << false << -1.0   << "is a speed, and a length is wanted";
    QTest::newRow("bare /s")         << "250/s"      << false << true  << -1.0   << "a unit goes before /s";
    QTest::newRow("two numbers")     << "1 2 mm"     << false << false << -1.0   << "is not a number";
    QTest::newRow("empty")           << ""           << false << false << -1.0   << "is not a number";
    // clang-format on
}

void tst_HostUnits::parse()
{
    QFETCH(QString, text);
    QFETCH(bool, inch);
    QFETCH(bool, speed);
    QFETCH(double, mm);
    QFETCH(QString, why);
    double read = -1;
    QString error;
    const bool ok = Units::parse(text, inch ? Units::Inch : Units::Mm, speed, &read, &error);
    QCOMPARE(ok, mm != -1.0);
    if (ok)
        QVERIFY2(qAbs(read - mm) < 1e-9, qPrintable(QString::number(read, 'g', 12)));
    else
        QVERIFY2(error.contains(why), qPrintable(error));
}

void tst_HostUnits::show_data()
{
    QTest::addColumn<double>("mm");
    QTest::addColumn<bool>("inch");
    QTest::addColumn<bool>("speed");
    QTest::addColumn<QString>("shown");
    QTest::newRow("mm") << 120.0 << false << false << "120.0 mm";
    QTest::newRow("inches") << 120.0 << true << false << "4.724 in";
    QTest::newRow("speed in inches") << 250.0 << true << true << "9.843 in/s";
    QTest::newRow("a tenth of a mm in inches") << 0.1 << true << false << "0.004 in";
}

void tst_HostUnits::show()
{
    QFETCH(double, mm);
    QFETCH(bool, inch);
    QFETCH(bool, speed);
    QTEST(Units::text(mm, inch ? Units::Inch : Units::Mm, speed), "shown");
    // What is shown reads back as the same length, to the shown digits.
    double back = 0;
    QString error;
    QVERIFY(Units::parse(
        Units::text(mm, inch ? Units::Inch : Units::Mm, speed), Units::Mm, speed, &back, &error));
    QVERIFY2(qAbs(back - mm) < (inch ? 0.0254 : 0.05), qPrintable(error));
}

void tst_HostUnits::jogByDistance_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<double>("mm");
    QTest::newRow("100 mm") << QStringList { "x", "+", "100" } << 100.0;
    QTest::newRow("10 mm along y") << QStringList { "y", "+", "10mm" } << 10.0;
    QTest::newRow("2 in by the units") << QStringList { "x", "+", "2", "--units", "inch" } << 50.8;
}

// The head moves by the distance asked for, as near as a move timed from the machine's jog speed
// goes: the command tells the distance it timed, and the machine's head moved about that far.
void tst_HostUnits::jogByDistance()
{
    QFETCH(QStringList, arguments);
    QFETCH(double, mm);
    hostrig::Machine machine;
    const bool alongX = arguments.first() == "x";
    const hostrig::Run run = hostrig::zrhost(QStringList { "jog" } + arguments + machine.at());
    QVERIFY2(run.exitCode == 0, qPrintable(run.out + run.err));
    const QRegularExpression told(QStringLiteral("Jogged [xy] [+-] about ([0-9.]+) (mm|in) "));
    const QRegularExpressionMatch match = told.match(run.out);
    QVERIFY2(match.hasMatch(), qPrintable(run.out));
    const double timed = match.captured(1).toDouble() * (match.captured(2) == "in" ? 25.4 : 1);
    QVERIFY2(qAbs(timed - qAbs(mm)) < 0.02 * qAbs(mm), qPrintable(run.out));
    const QPointF head = machine.sim.headPosition();
    const double moved = alongX ? head.x() : head.y();
    QCOMPARE(alongX ? head.y() : head.x(), 0.0);
    // The stop reaches the machine after the link's delays: never short, a little long.
    QVERIFY2(moved >= mm * 0.95 && moved < mm * 1.5,
        qPrintable(QString::number(moved) + "\n" + run.out));
}

void tst_HostUnits::originAsks_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("typed"); // on a terminal; empty: no terminal
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("moved");
    QTest::addColumn<QString>("told");
    QTest::newRow("no") << QStringList { "origin" } << QByteArray("n\n") << 0 << false
                        << "The origin stays where it was.";
    QTest::newRow("Enter alone") << QStringList { "origin" } << QByteArray("\n") << 0 << false
                                 << "The origin stays where it was.";
    QTest::newRow("yes") << QStringList { "origin" } << QByteArray("y\n") << 0 << true
                         << "Origin set at the head.";
    QTest::newRow("no terminal") << QStringList { "origin" } << QByteArray() << 2 << false
                                 << "give set or --yes";
    QTest::newRow("--yes") << QStringList { "origin", "--yes" } << QByteArray() << 0 << true
                           << "Origin set at the head.";
    QTest::newRow("set says it") << QStringList { "origin", "set" } << QByteArray() << 0 << true
                                 << "Origin set at the head.";
}

void tst_HostUnits::originAsks()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, typed);
    QFETCH(int, exitCode);
    QFETCH(bool, moved);
    QFETCH(QString, told);
    hostrig::Machine machine;
    const hostrig::Run jogged
        = hostrig::zrhost(QStringList { "jog", "x", "+", "20" } + machine.at());
    QVERIFY2(jogged.exitCode == 0, qPrintable(jogged.err));
    const QPointF head = machine.sim.headPosition();
    QVERIFY(head.x() > 0);
    QProcess process;
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (!typed.isEmpty()) {
        QCOMPARE(::openpty(&master, &slave, name, nullptr, nullptr), 0);
        process.setStandardInputFile(QString::fromLocal8Bit(name));
    } else {
        process.setStandardInputFile(QProcess::nullDevice());
    }
    process.start(QStringLiteral(ZRHOST_PATH), arguments + machine.at());
    QString out;
    if (!typed.isEmpty()) {
        QVERIFY(QTest::qWaitFor(
            [&] { return (out += process.readAllStandardOutput()).contains("[y/N]"); }, 20000));
        QCOMPARE(machine.sim.origin(), QPointF());
        QCOMPARE(int(::write(master, typed.constData(), size_t(typed.size()))), typed.size());
    }
    QVERIFY(QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 20000));
    out += process.readAllStandardOutput() + process.readAllStandardError();
    if (master >= 0) {
        ::close(master);
        ::close(slave);
    }
    QCOMPARE(process.exitCode(), exitCode);
    QVERIFY2(out.contains(told), qPrintable(out));
    QCOMPARE(machine.sim.origin(), moved ? head : QPointF());
}

QTEST_GUILESS_MAIN(tst_HostUnits)
#include "tst_hostunits.moc"
