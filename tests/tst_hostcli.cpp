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
    void ctrlCStopsOnlyWhenConfirmed();
    void ctrlCEndsAReadAndAJogStops();
    void busyMachine();
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
        { "\n  list [--read]", "\n  get NAME...", "\n  set NAME=VALUE...", "\n  job FILE.plt",
            "\n  jog x|y", "\n  panel", "--lost-after", "--cloud-embedded", "\n  5    the link" })
        QVERIFY2(all.out.contains(text), text);
    // A command's help lists its own options, not every command's.
    const hostrig::Run job = zrhost({ "job", "--help" });
    QCOMPARE(job.exitCode, 0);
    QVERIFY(job.out.contains("--copies") && job.out.contains("--json")
        && job.out.contains("Exit codes:"));
    QVERIFY(!job.out.contains("--ms") && !job.out.contains("--cloud-token"));
}

void tst_HostCli::mainJobAgreesWithTheMachine()
{
    const hostrig::Run run = zrhost({ "job", gasket, "--copies", "2", "--speed", "5000" });
    QVERIFY2(run.exitCode == 0, qPrintable(run.err + run.out));
    QVERIFY(run.out.contains("TX4150V-000128"));
    QVERIFY(run.out.contains("Cutting gasket.plt: 120.0 × 80.0 mm"));
    // The user's file is named in the progress and the summary, not only the machine's name.
    QVERIFY(
        run.out.contains(QRegularExpression("100.0 %  copy 2/2  0:00 left  finished  gasket.plt")));
    const QRegularExpressionMatch ours
        = QRegularExpression("Job finished: 2 of 2 copies of gasket.plt in .*, ([0-9.]+) mm cut")
              .match(run.out);
    const QRegularExpressionMatch theirs
        = QRegularExpression("Simulator counted: 2 copies cut, ([0-9.]+) mm cut, jobs: 1 finished")
              .match(run.out);
    QVERIFY2(ours.hasMatch() && theirs.hasMatch(), qPrintable(run.out));
    QCOMPARE(ours.captured(1), theirs.captured(1));
}

void tst_HostCli::ctrlCStopsOnlyWhenConfirmed()
{
    QProcess process;
    process.start(
        QStringLiteral(ZRHOST_PATH), { "job", gasket, "--copies", "2", "--speed", "300" });
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

void tst_HostCli::busyMachine()
{
    // Another host's job is on the machine: this host's job is refused, naming it.
    hostrig::Machine machine(fastMachine(50));
    QVERIFY(hostrig::otherHostsJob(machine, 5));
    const hostrig::Run run = zrhost(QStringList { "job", gasket, "-q" } + machine.at());
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(
        run.err.contains("the machine is busy with job-0001.plt (cutting"), qPrintable(run.err));
    QVERIFY(!run.out.contains("Job finished"));
    QCOMPARE(machine.sim.counters().jobsStarted, 1);
    // Jogging and the origin wait for the cut too.
    const hostrig::Run jog = zrhost(QStringList { "jog", "x", "+" } + machine.at());
    QCOMPARE(jog.exitCode, 1);
    QVERIFY2(jog.err.contains("does not move the head during a job") && !jog.out.contains("Jogged"),
        qPrintable(jog.err));
    QCOMPARE(zrhost(QStringList { "origin" } + machine.at()).exitCode, 1);
}

void tst_HostCli::silentMachine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("goesSilentLater");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("told");
    QTest::newRow("get") << QStringList { "get", "PU_SPEED" } << false << 1
                         << "no machine answered";
    QTest::newRow("info") << QStringList { "info" } << false << 1 << "no machine answered";
    QTest::newRow("list --read") << QStringList { "list", "--read" } << false << 1
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
        // It answers the greeting and the information, then nothing more.
        const auto talking = peer.answer;
        peer.answer = [&peer, talking](const QByteArray& sent) {
            const QByteArray reply = talking(sent);
            peer.silent = peer.silent || sent.contains(";PLT;") || sent.contains(";GET26;");
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
    // clang-format on
}

void tst_HostCli::values()
{
    QFETCH(QStringList, arguments);
    const hostrig::Run run = zrhost(arguments);
    QTEST(run.exitCode, "exitCode");
    QFETCH(QString, shown);
    QVERIFY2((run.out + run.err).contains(shown), qPrintable(run.out + run.err));
}

void tst_HostCli::jogAndOrigin()
{
    const hostrig::Run jog = zrhost({ "jog", "x", "+", "--ms", "300" });
    QCOMPARE(jog.exitCode, 0);
    const QRegularExpressionMatch moved
        = QRegularExpression("Simulated head: \\(0.0, 0.0\\) mm -> \\(([0-9.]+), 0.0\\) mm")
              .match(jog.out);
    QVERIFY2(jog.out.contains("Jogged x + for 300 ms.") && moved.hasMatch(), qPrintable(jog.out));
    QVERIFY(moved.captured(1).toDouble() >= 20 && moved.captured(1).toDouble() <= 60);
    QCOMPARE(zrhost({ "origin", "set", "-q" }).out, QStringLiteral("Origin set at the head.\n"));
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
    process.start(
        QStringLiteral(ZRHOST_PATH), { "job", gasket, "--copies", "3", "--speed", "300" });
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
    const hostrig::Run get = zrhost({ "get", "WORKAREA_X", "--json" });
    QCOMPARE(get.exitCode, 0);
    const QJsonArray rows = QJsonDocument::fromJson(get.out.toUtf8()).array();
    QCOMPARE(rows.first().toObject().value("value").toString(), QStringLiteral("1500"));
    QCOMPARE(rows.first().toObject().value("raw").toString(), QStringLiteral("3000"));
    const hostrig::Run job = zrhost({ "job", gasket, "--speed", "5000", "--json" });
    const QJsonObject done = QJsonDocument::fromJson(job.out.toUtf8()).object();
    QVERIFY2(job.exitCode == 0 && done.value("outcome") == "finished", qPrintable(job.out));
    QCOMPARE(done.value("record").toObject().value("Finished").toInt(), 1);

    QTemporaryDir dir;
    const hostrig::Run preview
        = zrhost({ "preview", gasket, "-o", dir.filePath("g.png"), "--size", "128" });
    QVERIFY(preview.exitCode == 0 && preview.out.contains("120 × 80 mm"));
    QCOMPARE(QImage(dir.filePath("g.png")).size(), QSize(128, 88));
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
    QTest::newRow("not a number")      << QStringList { "job", gasket, "--copies", "two" } << 2 << "--copies wants a number from 1 to 9999, not \"two\"";
    QTest::newRow("missing file")      << QStringList { "job", "/nonexistent.plt" } << 2 << "cannot read";
    QTest::newRow("speed of a machine") << QStringList { "job", gasket, "--ip", "127.0.0.1", "--speed", "9" } << 2 << "--speed";
    QTest::newRow("pause, no machine") << QStringList { "pause" } << 2 << "--ip or --usb";
    QTest::newRow("no plugin")         << QStringList { "list", "--plugin-dir", "/nonexistent" } << 3 << "cannot load the device plugin";
    QTest::newRow("refused")           << QStringList { "info", "--ip", "127.0.0.1", "--port", port } << 4 << "Connection refused";
    QTest::newRow("empty address")     << QStringList { "info", "--ip", "" } << 2 << "--ip wants an address";
    QTest::newRow("no usb device")     << QStringList { "info", "--usb", "/nonexistent/ttyACM9" } << 4 << "no USB device";
    QTest::newRow("a file as usb")     << QStringList { "info", "--usb", ZR_SAMPLES_DIR "/gasket.plt" } << 4 << "is not a device";
    QTest::newRow("/dev/null as usb")  << QStringList { "info", "--usb", "/dev/null", "--reply-timeout", "300" } << 1 << "cannot reach the machine: the link to USB /dev/null";
    QTest::newRow("cloud not http")    << QStringList { "info", "--cloud", "127.0.0.1:8700" } << 2 << "--cloud wants an http://";
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
