// zrhost as a user runs it, against the embedded simulator, a simulated machine here, and peers
// that refuse, stay silent or go silent: what it prints and the exit code it ends with.

#include "hostrig.h"
#include "machinepeer.h"
#include "simclient.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

using hostrig::zrhost;
using simtest::frame;
using simtest::payloadOf;

namespace {

const QString gasket = QStringLiteral(ZR_SAMPLES_DIR "/gasket.plt");

// A peer that answers the heartbeat and the information like a machine until told to fall silent.
struct Peer : MachinePeer {
    bool silent = false;
    Peer()
    {
        answer = [this](const QByteArray& sent) {
            if (silent)
                return QByteArray();
            if (sent.contains(";1010"))
                return frame("CCMD", "1010,0,1;");
            if (sent.contains(";CCMD;2;"))
                return frame("CCMD", "2,0,ZR-TX4150V,M-1,B,V,1.0,C;");
            if (sent.contains(";CCMD;57;"))
                return frame("CCMD", "57,0,U-1;");
            // The table, speeds and tool a job reads: 1000 each.
            if (sent.contains(";CMD;GET"))
                return frame("CMD", payloadOf(sent).chopped(1) + ":1000;");
            if (sent.contains(";PLT;"))
                return frame("CCMD", "66,1,job-0001.plt,1,0,5.0,1,0,0;");
            return QByteArray();
        };
    }
    QStringList at() const { return { "--ip", "127.0.0.1", "--port", QString::number(port()) }; }
};

} // namespace

class tst_HostCli : public QObject {
    Q_OBJECT
private slots:
    void help();
    void mainJobAgreesWithTheMachine();
    void shopFilesCut_data();
    void shopFilesCut();
    void fileChoices_data();
    void fileChoices();
    void refusedCuts_data();
    void refusedCuts();
    void ctrlCStopsOnlyWhenConfirmed();
    void ctrlCEndsAReadAndAJogStops();
    void busyMachine_data();
    void busyMachine();
    void machineHangsMidJob();
    void silentMachine_data();
    void silentMachine();
    void values_data();
    void values();
    void jogAndOrigin();
    void keysOnATerminal();
    void taskControlAndMonitor();
    void json();
    void failures_data();
    void failures();
};

void tst_HostCli::help()
{
    const hostrig::Run all = zrhost({ "--help" });
    QCOMPARE(all.exitCode, 0);
    for (const char* text :
        { "\n  list [--read]", "\n  get NAME...", "\n  set NAME=VALUE...", "\n  job FILE",
            "\n  jog x|y", "\n  panel", "--lost-after", "--cloud-embedded", "\n  5    the link" })
        QVERIFY2(all.out.contains(text), text);
    // A command's help lists its own options, not every command's.
    const hostrig::Run job = zrhost({ "job", "--help" });
    QCOMPARE(job.exitCode, 0);
    QVERIFY(job.out.contains("--copies") && job.out.contains("--json")
        && job.out.contains("--blade-offset") && job.out.contains("Exit codes:"));
    QVERIFY(!job.out.contains("--ms") && !job.out.contains("--cloud-token"));
}

void tst_HostCli::mainJobAgreesWithTheMachine()
{
    // The main job cuts the gasket drawn as SVG.
    const hostrig::Run run = zrhost(
        { "job", ZR_SAMPLES_DIR "/gasket.svg", "--copies", "2", "--simulator", "--speed", "5000" });
    QVERIFY2(run.exitCode == 0, qPrintable(run.err + run.out));
    // The machine's information and its task record are for a diagnosis (-v).
    QVERIFY(!run.out.contains("TX4150V-000128") && !run.out.contains("Task record"));
    QVERIFY(run.out.contains("gasket.svg: 120.0 × 80.0 mm, ")
        && run.out.contains("Cutting 2 copies of gasket.svg (machine: job-0001.plt)."));
    // The user's file is named in the progress and the summary, not only the machine's name.
    QVERIFY(
        run.out.contains(QRegularExpression("100.0 %  copy 2/2  0:00 left  finished  gasket.svg")));
    const QRegularExpression finished("Job finished: 2 of 2 copies of gasket.svg \\(machine: "
                                      "job-0001.plt\\) in .*, ([0-9.]+) mm cut");
    const QRegularExpressionMatch ours = finished.match(run.out);
    const QRegularExpressionMatch theirs
        = QRegularExpression("Simulator counted: 2 copies cut, ([0-9.]+) mm cut, jobs: 1 finished")
              .match(run.out);
    QVERIFY2(ours.hasMatch() && theirs.hasMatch(), qPrintable(run.out));
    // The written HP-GL holds the curves to a fortieth of a millimetre.
    QVERIFY2(qAbs(ours.captured(1).toDouble() - theirs.captured(1).toDouble())
            < 1e-3 * ours.captured(1).toDouble(),
        qPrintable(run.out));
}

void tst_HostCli::shopFilesCut_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("figures");
    QTest::newRow("svg, six on the table, drag knife") << QStringList { "gasket.svg", "--rows", "2",
        "--columns", "3", "--gap", "10", "--station", "2", "--blade-offset", "0.25", "--overcut",
        "0.5", "--move-x", "5", "--move-y", "5" } << "gasket.svg: 38[0-9].[0-9] × 17[0-9].[0-9] mm";
    QTest::newRow("dxf turned") << QStringList { "gasket.dxf", "--rotate", "90" }
                                << "gasket.dxf: 80.0 × 120.0 mm";
}

void tst_HostCli::shopFilesCut()
{
    QFETCH(QStringList, arguments);
    arguments[0] = QStringLiteral(ZR_SAMPLES_DIR "/") + arguments[0];
    const hostrig::Run run
        = zrhost(QStringList { "job", "--simulator", "--speed", "20000" } + arguments);
    QVERIFY2(run.exitCode == 0, qPrintable(run.err + run.out));
    QFETCH(QString, figures);
    QVERIFY2(run.out.contains(QRegularExpression(figures)), qPrintable(run.out));
    // The machine cut what the figures tell.
    const QRegularExpressionMatch told = QRegularExpression(
        ", ([0-9.]+) mm to cut, [0-9.]+ mm pen-up travel, about [0-9]+:[0-9]{2} a copy.")
                                             .match(run.out);
    const QRegularExpressionMatch cut
        = QRegularExpression("Simulator counted: 1 copy cut, ([0-9.]+) mm cut, jobs: 1 finished")
              .match(run.out);
    QVERIFY2(told.hasMatch() && cut.hasMatch(), qPrintable(run.out));
    QVERIFY(qAbs(told.captured(1).toDouble() - cut.captured(1).toDouble())
        < 0.01 * told.captured(1).toDouble());
}

// Layers, placement and text as a person asks for them, on files whose answers are worked out by
// hand: two 10 mm squares on pens 1 and 2, 25 mm apart; a 20 mm square centred on the origin; a
// 10 mm square with a word beside it.
void tst_HostCli::fileChoices_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("told");
    // clang-format off
    QTest::newRow("layers listed")      << "pens.plt" << QStringList { "layers" } << 0 << "pen 2  1         0     40.0";
    QTest::newRow("layers as JSON")     << "pens.plt" << QStringList { "layers", "--json" } << 0 << "\"name\": \"pen 1\"";
    QTest::newRow("every layer")        << "pens.plt" << QStringList { "preview" } << 0 << "pens.plt: 35.0 × 10.0 mm, 80.0 mm to cut";
    QTest::newRow("one layer")          << "pens.plt" << QStringList { "preview", "--layers", "pen 2" } << 0 << "pens.plt: 10.0 × 10.0 mm, 40.0 mm to cut";
    QTest::newRow("a layer left out")   << "pens.plt" << QStringList { "preview", "--skip-layers", "pen 1" } << 0 << "pens.plt: 10.0 × 10.0 mm, 40.0 mm to cut";
    QTest::newRow("no such layer")      << "pens.plt" << QStringList { "preview", "--layers", "pen 9" } << 2 << "pen 1, pen 2";
    QTest::newRow("around the origin")  << "centred.plt" << QStringList { "preview" } << 0 << "centred.plt: 20.0 × 20.0 mm";
    QTest::newRow("kept where it is")   << "centred.plt" << QStringList { "preview", "--place", "keep" } << 2 << "negative coordinates";
    QTest::newRow("no such place")      << "centred.plt" << QStringList { "preview", "--place", "left" } << 2 << "--place takes origin, center or keep";
    QTest::newRow("text left out")      << "text.svg" << QStringList { "preview", "--text", "skip" } << 0 << "text.svg: 1 text items left out";
    QTest::newRow("text as outlines")   << "text.svg" << QStringList { "layers" } << 0 << "#000000  8";
    // clang-format on
}

void tst_HostCli::fileChoices()
{
    QFETCH(QString, file);
    QFETCH(QStringList, arguments);
    QTemporaryDir dir;
    const QHash<QString, QByteArray> files {
        { "pens.plt",
            "IN;SP1;PU0,0;PD400,0,400,400,0,400,0,0;SP2;PU1000,0;PD1400,0,1400,400,1000,400,1000,"
            "0;" },
        { "centred.plt", "IN;PU-400,-400;PD400,-400,400,400,-400,400,-400,-400;" },
        { "text.svg",
            "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"100mm\" height=\"30mm\" "
            "viewBox=\"0 0 100 30\"><rect x=\"1\" y=\"1\" width=\"10\" height=\"10\"/>"
            "<text x=\"20\" y=\"20\" font-size=\"10\">Hello</text></svg>" },
    };
    QFile written(dir.filePath(file));
    QVERIFY(written.open(QIODevice::WriteOnly) && written.write(files.value(file)) > 0);
    written.close();
    arguments.insert(1, written.fileName());
    if (arguments.first() == QLatin1String("preview"))
        arguments << "-o" << dir.filePath("p.png") << "--simulator";
    const hostrig::Run run = zrhost(arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, told);
    QVERIFY2(run.exitCode == exitCode && (run.out + run.err).contains(told),
        qPrintable(run.out + run.err));
}

void tst_HostCli::refusedCuts_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    // clang-format off
    QTest::newRow("knife aids for the rotary knife") << QStringList { "gasket.svg", "--overcut", "1" } << "station 1 holds the rotary knife";
    QTest::newRow("beyond the table")  << QStringList { "gasket.svg", "--scale", "20" } << "beyond the work area";
    QTest::newRow("no such station")   << QStringList { "gasket.svg", "--station", "3" } << "--station wants a number from 1 to 2";
    QTest::newRow("not a cut file")    << QStringList { "picture.svg" } << "picture.svg: not a cut file: it is a PNG picture";
    // clang-format on
}

void tst_HostCli::refusedCuts()
{
    QFETCH(QStringList, arguments);
    QTemporaryDir dir;
    QFile picture(dir.filePath("picture.svg"));
    QVERIFY(picture.open(QIODevice::WriteOnly) && picture.write("\x89PNG\r\n\x1a\n") == 8);
    picture.close();
    arguments[0] = QFile::exists(dir.filePath(arguments[0])) ? dir.filePath(arguments[0])
                                                             : ZR_SAMPLES_DIR "/" + arguments[0];
    for (const QStringList& command :
        { QStringList { "job" }, QStringList { "preview", "-o", dir.filePath("p.png") } }) {
        const hostrig::Run run = zrhost(command + arguments + QStringList { "--simulator" });
        QCOMPARE(run.exitCode, 2);
        QFETCH(QString, message);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QVERIFY(!run.out.contains("Cutting") && !QFile::exists(dir.filePath("p.png")));
    }
}

void tst_HostCli::ctrlCStopsOnlyWhenConfirmed()
{
    QProcess process;
    // With -v the task record is told too: it holds the machine's stop.
    process.start(QStringLiteral(ZRHOST_PATH),
        { "job", gasket, "--copies", "2", "--simulator", "--speed", "300", "-v" });
    QString out;
    QVERIFY(QTest::qWaitFor(
        [&] { return (out += process.readAllStandardOutput()).contains("% "); }, 10000));
    ::kill(pid_t(process.processId()), SIGINT);
    QVERIFY(process.waitForFinished(10000));
    out += process.readAllStandardOutput();
    QCOMPARE(process.exitCode(), 130);
    QVERIFY2(
        out.contains("Stop sent to the machine.") && out.contains("\"Status\":4"), qPrintable(out));
    QVERIFY(
        out.contains("Job stopped: 0 of 2 copies") && out.contains("jobs: 0 finished, 1 stopped"));

    // A machine that never confirms: the stop is not reported as done.
    Peer peer;
    QProcess silent;
    silent.start(QStringLiteral(ZRHOST_PATH),
        QStringList { "job", gasket, "--reply-timeout", "300" } + peer.at());
    QVERIFY(QTest::qWaitFor([&] { return peer.received().contains(";PLT;"); }, 10000));
    QTest::qWait(100);
    ::kill(pid_t(silent.processId()), SIGINT);
    QVERIFY(QTest::qWaitFor([&] { return silent.state() == QProcess::NotRunning; }, 10000));
    const QString said = silent.readAllStandardOutput() + silent.readAllStandardError();
    QCOMPARE(silent.exitCode(), 1);
    QVERIFY2(said.contains("the machine did not confirm the stop") && !said.contains("Job stopped"),
        qPrintable(said));
}

void tst_HostCli::ctrlCEndsAReadAndAJogStops()
{
    // A read the machine does not answer ends at Ctrl-C, not as a success after its time-out.
    Peer peer;
    const auto talking = peer.answer;
    peer.answer = [&peer, talking](const QByteArray& sent) {
        peer.silent = peer.silent || sent.contains(";GET26;");
        return talking(sent);
    };
    QProcess get;
    get.start(QStringLiteral(ZRHOST_PATH),
        QStringList { "get", "PU_SPEED", "--reply-timeout", "60000" } + peer.at());
    QVERIFY(QTest::qWaitFor([&] { return peer.received().contains(";GET26;"); }, 10000));
    ::kill(pid_t(get.processId()), SIGINT);
    QVERIFY(QTest::qWaitFor([&] { return get.state() == QProcess::NotRunning; }, 10000));
    QCOMPARE(get.exitCode(), 130);
    QVERIFY(!get.readAllStandardOutput().contains("PU_SPEED"));

    // A move the machine does not confirm is still told to stop.
    Peer quiet;
    const hostrig::Run jog
        = zrhost(QStringList { "jog", "x", "+", "--reply-timeout", "300" } + quiet.at());
    QCOMPARE(jog.exitCode, 1);
    QVERIFY(!jog.out.contains("Jogged"));
    const QByteArray sent = quiet.received();
    QVERIFY(
        sent.contains("SET82:32868;") && sent.indexOf("SET82:0;") > sent.indexOf("SET82:32868;"));
}

void tst_HostCli::busyMachine_data()
{
    QTest::addColumn<QString>("qrName"); // empty: another host's file job
    QTest::addColumn<QString>("said");
    QTest::newRow("file job") << QString() << "the machine is busy with job-0001.plt (cutting";
    // The machine's words reach the terminal as text, never as its commands.
    QTest::newRow("QR-code job named with terminal commands") << QString::fromUtf8(
        "sign\x1b]0;owned\x07\xc2\x9b"
        "2J.plt") << "the machine is busy with sign\\x1b]0-owned\\x07\\x9b2J.plt (cutting";
}

void tst_HostCli::busyMachine()
{
    // Another host's job is on the machine: this host's job is refused, naming it.
    QFETCH(QString, qrName);
    QFETCH(QString, said);
    SimOptions options = fastMachine(50);
    if (!qrName.isEmpty())
        options.qrNames = QStringList { qrName };
    hostrig::Machine machine(options);
    if (qrName.isEmpty()) {
        QVERIFY(hostrig::otherHostsJob(machine, 5));
    } else {
        QVERIFY(machine.connectClient());
        machine.client.send("CCMD", "54,5;");
        for (int copy = 0; copy < 5; ++copy)
            machine.client.send("QR_PLT", simtest::square(100));
    }
    const hostrig::Run run = zrhost(QStringList { "job", gasket } + machine.at());
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(said), qPrintable(run.err));
    QVERIFY(!run.err.contains(QChar(0x1b)) && !run.err.contains(QChar(0x9b)));
    // Nothing was cut: no word of cutting, of an end or of a record.
    for (const char* untrue : { "Cutting", "Job ", "Task record", "mm cut" })
        QVERIFY2(!run.out.contains(untrue), qPrintable(run.out));
    QCOMPARE(machine.sim.counters().jobsStarted, 1);
    // Jogging and the origin wait for the cut too.
    const hostrig::Run jog = zrhost(QStringList { "jog", "x", "+" } + machine.at());
    QCOMPARE(jog.exitCode, 1);
    QVERIFY2(jog.err.contains("does not move the head during a job") && !jog.out.contains("Jogged"),
        qPrintable(jog.err));
    QCOMPARE(zrhost(QStringList { "origin", "set" } + machine.at()).exitCode, 1);
}

// The simulated machine hangs a third into the job while its connection stays up: zrhost says it
// is not answering, ends with the link-lost code, and claims neither a stop nor an end.
void tst_HostCli::machineHangsMidJob()
{
    SimOptions options = fastMachine(500);
    options.silentAtPercent = 30;
    hostrig::Machine machine(options);
    const hostrig::Run run = zrhost(
        QStringList { "job", gasket, "--lost-after", "2", "--no-progress" } + machine.at());
    QCOMPARE(run.exitCode, 5);
    QVERIFY2(run.err.contains("machine not answering") && run.err.contains("has not answered for"),
        qPrintable(run.err));
    QVERIFY(!run.out.contains("Job stopped") && !run.out.contains("Job finished"));
    QVERIFY(machine.sim.isSilent());
}

void tst_HostCli::silentMachine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("goesSilentLater");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("told");
    QTest::newRow("get") << QStringList { "get", "PU_SPEED" } << false << 4
                         << "no machine answered";
    QTest::newRow("info") << QStringList { "info" } << false << 4 << "no machine answered";
    QTest::newRow("list --read") << QStringList { "list", "--read" } << false << 4
                                 << "no machine answered";
    QTest::newRow("unanswered read")
        << QStringList { "get", "PU_SPEED" } << true << 1 << "no answer from the machine";
    QTest::newRow("job") << QStringList { "job", gasket, "--lost-after", "2" } << true << 5
                         << "has not answered for";
}

void tst_HostCli::silentMachine()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, goesSilentLater);
    Peer peer;
    peer.silent = !goesSilentLater;
    if (goesSilentLater) {
        // It answers the greeting and the information, then nothing more: nothing to the read
        // of PU_SPEED, or nothing after the first report of a job.
        const auto talking = peer.answer;
        const bool get = arguments.first() == QLatin1String("get");
        peer.answer = [&peer, talking, get](const QByteArray& sent) {
            peer.silent = peer.silent || (get && sent.contains(";GET26;"));
            const QByteArray reply = talking(sent);
            peer.silent = peer.silent || sent.contains(";PLT;");
            return reply;
        };
    }
    const hostrig::Run run
        = zrhost(arguments + QStringList { "--reply-timeout", "300" } + peer.at());
    QTEST(run.exitCode, "exitCode");
    QFETCH(QString, told);
    QVERIFY2(run.err.contains(told), qPrintable(run.err));
    QVERIFY(!run.out.contains("PU_SPEED ") && !run.out.contains("Job stopped"));
    if (QTest::currentDataTag() == QLatin1String("job"))
        QVERIFY(run.err.contains("machine not answering"));
}

void tst_HostCli::values_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("shown");
    // clang-format off
    QTest::newRow("display units")    << QStringList { "get", "workarea", "sp1_pressure" } << 0 << "  WORKAREA_X  x          1500";
    QTest::newRow("raw units")        << QStringList { "get", "WORKAREA_X", "--raw" } << 0 << "WORKAREA_X  x      3000";
    QTest::newRow("set in mm")        << QStringList { "set", "WORKAREA_X=1400", "SP1_PRESSURE=300", "-q" } << 0 << "WORKAREA_X = 1400  (confirmed)\nSP1_PRESSURE = 300.833 (gf)  (confirmed)";
    QTest::newRow("signed")           << QStringList { "set", "SP1_ANGLE=-30", "-q" } << 0 << "SP1_ANGLE = -30 (°)  (confirmed)";
    QTest::newRow("list item")        << QStringList { "set", "WORK_MODE=2", "-q" } << 0 << "(sent; the machine's answer cannot be seen)";
    QTest::newRow("raw set")          << QStringList { "set", "SP1_PRESSURE=100", "--raw", "-q" } << 0 << "SP1_PRESSURE = 100  (confirmed)";
    QTest::newRow("value held")       << QStringList { "set", "HEARTBEAT=2", "--raw", "-q" } << 0 << "HEARTBEAT = 2  (confirmed)";
    QTest::newRow("past the editor")  << QStringList { "set", "SP1_SPEED=5000" } << 2 << "5000 is out of range (10 to 700";
    QTest::newRow("negative speed")   << QStringList { "set", "PU_SPEED=-5" } << 2 << "-5 is out of range (10 to 700)";
    QTest::newRow("no such item")     << QStringList { "set", "WORK_MODE=7" } << 2 << "7 is out of range (0 to 2)";
    QTest::newRow("tool item")        << QStringList { "set", "SP1_TOOL=5" } << 2 << "5 is out of range (0 to 1)";
    QTest::newRow("motion register")  << QStringList { "set", "MOVE_X=32868" } << 2 << "use zrhost jog";
    QTest::newRow("firmware")         << QStringList { "set", "FIRMWARE=9" } << 2 << "FIRMWARE is read-only";
    QTest::newRow("status")           << QStringList { "set", "STATUS=2" } << 2 << "STATUS is read-only";
    QTest::newRow("port")             << QStringList { "set", "TCP_PORT=99999" } << 2 << "TCP_PORT is read-only";
    QTest::newRow("group")            << QStringList { "set", "WORKAREA=1" } << 2 << "set its members";
    QTest::newRow("unknown")          << QStringList { "get", "NO_SUCH" } << 2 << "no such parameter: NO_SUCH";
    QTest::newRow("choice by word")   << QStringList { "set", "SP1_TOOL=rotary", "-q" } << 0 << "SP1_TOOL = Rotary knife  (confirmed)";
    QTest::newRow("choice typo")      << QStringList { "set", "SP1_TOOL=rotry" } << 2 << "\"rotry\" is none of the choices: Drag knife (0), Rotary knife (1); did you mean \"rotary\"?";
    QTest::newRow("name typo")        << QStringList { "get", "SP1_SPED" } << 2 << "no such parameter: SP1_SPED (did you mean SP1_SPEED?";
    QTest::newRow("set name typo")    << QStringList { "set", "SP1_TOL=drag" } << 2 << "did you mean SP1_TOOL?";
    QTest::newRow("speed with unit")  << QStringList { "set", "SP1_SPEED=250mm/s", "-q" } << 0 << "SP1_SPEED = 250 mm/s  (confirmed)";
    QTest::newRow("speed in inches")  << QStringList { "set", "SP1_SPEED=10", "--units", "inch", "-q" } << 0 << "SP1_SPEED = 10.00 in/s  (confirmed)";
    QTest::newRow("inches named")     << QStringList { "set", "SP1_SPEED=10in/s", "-q" } << 0 << "SP1_SPEED = 254 mm/s  (confirmed)";
    QTest::newRow("no such unit")     << QStringList { "set", "SP1_SPEED=10 parsecs" } << 2 << "SP1_SPEED: \"parsecs\" is no unit of length";
    QTest::newRow("inches too fast")  << QStringList { "set", "SP1_SPEED=30in/s" } << 2 << "762 is out of range (10 to 700";
    QTest::newRow("units unknown")    << QStringList { "get", "SP1_SPEED", "--units", "ft" } << 2 << "--units wants mm or inch";
    // clang-format on
}

void tst_HostCli::values()
{
    QFETCH(QStringList, arguments);
    const hostrig::Run run = zrhost(arguments + QStringList { "--simulator" });
    QTEST(run.exitCode, "exitCode");
    QFETCH(QString, shown);
    QVERIFY2((run.out + run.err).contains(shown), qPrintable(run.out + run.err));
}

void tst_HostCli::jogAndOrigin()
{
    const hostrig::Run jog = zrhost({ "jog", "x", "+", "--ms", "300", "--simulator" });
    QCOMPARE(jog.exitCode, 0);
    const QRegularExpressionMatch moved
        = QRegularExpression("Simulated head: \\(0.0, 0.0\\) mm -> \\(([0-9.]+), 0.0\\) mm")
              .match(jog.out);
    QVERIFY2(jog.out.contains("Jogged x + for 300 ms.") && moved.hasMatch(), qPrintable(jog.out));
    QVERIFY(moved.captured(1).toDouble() >= 20 && moved.captured(1).toDouble() <= 60);
    QCOMPARE(zrhost({ "origin", "set", "-q", "--simulator" }).out,
        QStringLiteral("Origin set at the head.\n"));
}

void tst_HostCli::keysOnATerminal()
{
    // zrhost reads its keys from a terminal; what is not a key stays for the next program.
    int master = -1;
    int slave = -1;
    char name[256] = {};
    QCOMPARE(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    QProcess process;
    process.setStandardInputFile(QString::fromLocal8Bit(name));
    process.start(QStringLiteral(ZRHOST_PATH),
        { "job", gasket, "--copies", "3", "--simulator", "--speed", "300" });
    QString out;
    QVERIFY(QTest::qWaitFor(
        [&] { return (out += process.readAllStandardOutput()).contains("% "); }, 10000));
    QVERIFY(::write(master, "s", 1) == 1);
    QVERIFY(QTest::qWaitFor(
        [&] { return (out += process.readAllStandardOutput()).contains("Stop the job?"); }, 5000));
    QVERIFY(::write(master, "n", 1) == 1); // not y: the job goes on
    QTest::qWait(300);
    QVERIFY(process.state() == QProcess::Running);
    QVERIFY(::write(master, "ls\n", 3) == 3); // typed ahead for the shell
    QTest::qWait(300);
    ::kill(pid_t(process.processId()), SIGINT);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 130);
    // The typing is still on the terminal, in order.
    char left[16] = {};
    QVERIFY(::read(slave, left, sizeof left) >= 3);
    QCOMPARE(QByteArray(left).left(3), QByteArray("ls\n"));
    ::close(master);
    ::close(slave);
}

void tst_HostCli::taskControlAndMonitor()
{
    hostrig::Machine machine(fastMachine(50));
    QVERIFY(hostrig::otherHostsJob(machine, 3));
    const QStringList at = QStringList { "-q" } + machine.at();
    const hostrig::Run pause = zrhost(QStringList { "pause" } + at);
    QVERIFY2(pause.out.startsWith("paused: job-0001.plt, ")
            && pause.out.contains("0 of 3 copies finished."),
        qPrintable(pause.out + pause.err));
    QCOMPARE(machine.sim.jobStatus(), SimMachine::Paused);
    // A link that comes up later hears of the paused job: asked again, and asked its state.
    const hostrig::Run pausedAgain = zrhost(QStringList { "pause" } + at);
    QVERIFY2(
        pausedAgain.exitCode == 0 && pausedAgain.out.startsWith("already paused: job-0001.plt"),
        qPrintable(pausedAgain.out + pausedAgain.err));
    const hostrig::Run status = zrhost(QStringList { "status", "--json" } + at);
    const QJsonObject state
        = QJsonDocument::fromJson(status.out.toUtf8()).object().value("state").toObject();
    QCOMPARE(state.value("status").toInt(), int(TaskReport::Paused));
    QVERIFY(zrhost(QStringList { "resume" } + at).out.startsWith("cutting: job-0001.plt, "));
    const hostrig::Run monitor = zrhost(QStringList { "monitor", "--seconds", "0.5" } + at);
    // Progress decoded, not the raw fields.
    QVERIFY2(monitor.out.contains(QRegularExpression(
                 "DevTasK +[ 0-9.]+ %  copy 1/3  .* left  cutting  job-0001.plt")),
        qPrintable(monitor.out));
    QVERIFY(zrhost(QStringList { "stop" } + at).out.startsWith("stopped: job-0001.plt, "));
    QCOMPARE(machine.sim.counters().jobsStopped, 1);
    const hostrig::Run again = zrhost(QStringList { "stop", "--reply-timeout", "300" } + at);
    QCOMPARE(again.exitCode, 1);
    QVERIFY(again.err.contains("is a job running?"));

    // Any field value of a report, however large, makes a sound progress line.
    Peer peer;
    QProcess watching;
    watching.start(
        QStringLiteral(ZRHOST_PATH), QStringList { "monitor", "--seconds", "2" } + peer.at());
    QVERIFY(peer.waitForClient() && peer.waitForFrames(1));
    peer.send(frame("CCMD", "66,1,big.plt,2147483647,2147483647,50,9223372036854775807,0,0;"));
    QVERIFY(watching.waitForFinished(10000));
    QCOMPARE(watching.exitCode(), 0);
    QVERIFY(QString(watching.readAllStandardOutput()).contains("copy 2147483647/2147483647"));
}

void tst_HostCli::json()
{
    const hostrig::Run get = zrhost({ "get", "WORKAREA_X", "--json", "--simulator" });
    QCOMPARE(get.exitCode, 0);
    const QJsonArray rows = QJsonDocument::fromJson(get.out.toUtf8()).array();
    QCOMPARE(rows.first().toObject().value("value").toString(), QStringLiteral("1500"));
    QCOMPARE(rows.first().toObject().value("raw").toString(), QStringLiteral("3000"));
    const hostrig::Run job = zrhost({ "job", gasket, "--simulator", "--speed", "5000", "--json" });
    const QJsonObject done = QJsonDocument::fromJson(job.out.toUtf8()).object();
    QVERIFY2(job.exitCode == 0 && done.value("outcome") == "finished", qPrintable(job.out));
    QCOMPARE(done.value("record").toObject().value("Finished").toInt(), 1);

    QTemporaryDir dir;
    const hostrig::Run preview = zrhost(
        { "preview", gasket, "-o", dir.filePath("g.png"), "--size", "128", "--simulator" });
    QVERIFY(preview.exitCode == 0 && preview.out.contains("gasket.plt: 120.0 × 80.0 mm"));
    QCOMPARE(QImage(dir.filePath("g.png")).size(), QSize(128, 86));
}

void tst_HostCli::failures_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    const QString port = QString::number(closed.serverPort());
    closed.close();
    QTemporaryDir dir;
    // clang-format off
    QTest::newRow("no command")        << QStringList {} << 2 << "no command";
    QTest::newRow("unknown command")   << QStringList { "cut" } << 2 << "no command \"cut\"";
    QTest::newRow("unknown option")    << QStringList { "info", "--copies", "2" } << 2 << "there is no option --copies";
    QTest::newRow("not a number")      << QStringList { "job", gasket, "--copies", "two" } << 2 << "--copies wants a count from 1 to 9999 for each file (10 or 10,4), not \"two\"";
    QTest::newRow("missing file")      << QStringList { "job", "/nonexistent.plt" } << 2 << "cannot read";
    QTest::newRow("speed of a machine") << QStringList { "job", gasket, "--ip", "127.0.0.1", "--speed", "9" } << 2 << "--speed";
    QTest::newRow("pause, simulator")  << QStringList { "pause", "--simulator" } << 2 << "the simulated machine of --simulator runs none";
    QTest::newRow("no plugin")         << QStringList { "list", "--plugin-dir", "/nonexistent" } << 3 << "cannot load the device plugin";
    QTest::newRow("refused")           << QStringList { "info", "--ip", "127.0.0.1", "--port", port } << 4 << "Connection refused";
    QTest::newRow("empty address")     << QStringList { "info", "--ip", "" } << 2 << "--ip wants an address";
    QTest::newRow("no usb device")     << QStringList { "info", "--usb", "/nonexistent/ttyACM9" } << 4 << "no USB device";
    QTest::newRow("a file as usb")     << QStringList { "info", "--usb", ZR_SAMPLES_DIR "/gasket.plt" } << 4 << "is not a device";
    QTest::newRow("/dev/null as usb")  << QStringList { "info", "--usb", "/dev/null", "--reply-timeout", "300" } << 4 << "cannot reach the machine: the link to USB /dev/null";
    QTest::newRow("cloud not http")    << QStringList { "info", "--cloud", "127.0.0.1:8700" } << 2 << "--cloud wants an http://";
    QTest::newRow("panel, two files")  << QStringList { "panel", gasket, gasket } << 2 << "panel opens one cut file";
    QTest::newRow("cut, no file")      << QStringList { "panel", "--cut" } << 2 << "--cut needs a FILE";
    QTest::newRow("code, no cloud")    << QStringList { "job", gasket, "--device-code", "ZR1" } << 2 << "--device-code needs --cloud";
    QTest::newRow("two clouds")        << QStringList { "job", gasket, "--cloud-embedded", "--cloud", "http://127.0.0.1/" } << 2 << "not both";
    QTest::newRow("channel not ws")    << QStringList { "info", "--cloud", "http://a/", "--cloud-ws", "http://a/" } << 2 << "--cloud-ws wants a ws://";
    QTest::newRow("code with a slash") << QStringList { "info", "--cloud-embedded", "--device-code", "ZR/1" } << 2 << "--device-code wants";
    QTest::newRow("token with a line") << QStringList { "info", "--cloud-embedded", "--cloud-token", "a\r\nX: 1" } << 2 << "--cloud-token may not hold";
    QTest::newRow("cloud, no machine") << QStringList { "list", "--cloud-embedded" } << 0 << "list does not connect to a machine";
    // clang-format on
}

void tst_HostCli::failures()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    const hostrig::Run run = zrhost(arguments);
    QTEST(run.exitCode, "exitCode");
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QVERIFY(!run.out.contains("Connected to"));
}

QTEST_MAIN(tst_HostCli)
#include "tst_hostcli.moc"
