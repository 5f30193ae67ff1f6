// zrhost as a user runs it: its help, the main job against the embedded simulator (the summary
// must agree with what the simulator counted), Ctrl-C during a job, and the exit codes of what
// goes wrong.

#include "simclient.h"
#include "simmachine.h"
#include "simtcpfront.h"

#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

const QString samples = QStringLiteral(ZR_SAMPLES_DIR);

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs zrhost to its end while this process's event loop keeps going, so that a machine
// simulated here goes on answering it.
Run zrhost(const QStringList& arguments, int timeoutMs = 20000)
{
    QProcess process;
    process.start(QStringLiteral(ZRHOST_PATH), arguments);
    Run run;
    if (!process.waitForStarted(5000))
        return run;
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// A loopback port nobody listens on.
quint16 closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    const quint16 port = server.serverPort();
    server.close();
    return port;
}

} // namespace

class tst_HostCli : public QObject {
    Q_OBJECT
private slots:
    void help();
    void mainJob();
    void ctrlCStopsTheJobCleanly();
    void parametersThroughTheProgram();
    void preview();
    void jogAndMonitor();
    void taskControlOfARunningMachine();
    void failures_data();
    void failures();
};

void tst_HostCli::help()
{
    const Run run = zrhost({ "--help" });
    QCOMPARE(run.exitCode, 0);
    for (const char* command : { "list", "info", "get NAME", "set NAME=VALUE", "job FILE.plt",
             "pause", "resume", "stop", "jog x|y", "monitor", "preview FILE.plt" })
        QVERIFY2(run.out.contains(QStringLiteral("\n  ") + command), command);
    QVERIFY(run.out.contains("Exit codes:"));
    for (const char* code :
        { "\n  0 ", "\n  1 ", "\n  2 ", "\n  3 ", "\n  4 ", "\n  5 ", "\n  130 " })
        QVERIFY2(run.out.contains(code), code);
    for (const char* option : { "--ip", "--port", "--usb", "--plugin-dir", "--heartbeat", "--speed",
             "--quiet", "--verbose", "--no-progress", "--cloud <url>", "--cloud-ws <url>",
             "--cloud-token <token>", "--device-code <code>", "--cloud-embedded",
             "--cloud-timeout <seconds>" })
        QVERIFY2(run.out.contains(option), option);

    const Run job = zrhost({ "job", "--help" });
    QCOMPARE(job.exitCode, 0);
    QVERIFY(job.out.startsWith("Usage: zrhost [options] job FILE.plt [--copies N]"));
    QVERIFY(job.out.contains("--copies"));
    QVERIFY(job.out.contains("--cloud-embedded"));
    QVERIFY(job.out.contains("prints the work record the service received"));
    QVERIFY(job.out.contains("Exit codes:"));
}

void tst_HostCli::mainJob()
{
    const Run run = zrhost({ "job", samples + "/gasket.plt", "--copies", "2", "--speed", "5000" });
    QVERIFY2(run.exitCode == 0, qPrintable(run.err + run.out));
    QVERIFY(run.out.contains("Connected to the embedded simulator (127.0.0.1:"));
    QVERIFY(run.out.contains("TX4150V-000128")); // the machine information
    QVERIFY(run.out.contains("Cutting gasket.plt: 120.0 × 80.0 mm"));
    QVERIFY(run.out.contains("100.0 %  copy 2/2"));

    const QRegularExpression record(QStringLiteral("Task record: (\\{.*\\})"));
    const QJsonObject task
        = QJsonDocument::fromJson(record.match(run.out).captured(1).toUtf8()).object();
    QCOMPARE(task.value("Finished").toInt(), 2);
    QCOMPARE(task.value("TaskCopies").toInt(), 2);
    QCOMPARE(task.value("Status").toInt(), 3);
    QCOMPARE(task.value("Percent").toInt(), 100);

    const QRegularExpression summary(
        QStringLiteral("Job finished: (\\d+) of (\\d+) copies in [0-9.]+ s .*, ([0-9.]+) mm cut"));
    const QRegularExpression counted(QStringLiteral(
        "Simulator counted: (\\d+) copies cut, ([0-9.]+) mm cut, jobs: 1 finished, 0 stopped"));
    const QRegularExpressionMatch ours = summary.match(run.out);
    const QRegularExpressionMatch theirs = counted.match(run.out);
    QVERIFY2(ours.hasMatch() && theirs.hasMatch(), qPrintable(run.out));
    QCOMPARE(ours.captured(1), QStringLiteral("2"));
    QCOMPARE(ours.captured(2), QStringLiteral("2"));
    QCOMPARE(theirs.captured(1), ours.captured(1));
    QCOMPARE(theirs.captured(2), ours.captured(3));
}

void tst_HostCli::ctrlCStopsTheJobCleanly()
{
    QProcess process;
    process.start(QStringLiteral(ZRHOST_PATH),
        { "job", samples + "/gasket.plt", "--copies", "2", "--speed", "300" });
    QString out;
    QVERIFY(QTest::qWaitFor(
        [&] {
            out += QString::fromUtf8(process.readAllStandardOutput());
            return out.contains("% ");
        },
        10000));
    ::kill(pid_t(process.processId()), SIGINT);
    QVERIFY(process.waitForFinished(10000));
    out += QString::fromUtf8(process.readAllStandardOutput());
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 130);
    QVERIFY2(out.contains("Stop sent to the machine."), qPrintable(out));
    QVERIFY(out.contains("stopped"));
    QVERIFY(out.contains("\"Status\":4"));
    QVERIFY(out.contains("Job stopped: 0 of 2 copies"));
    QVERIFY(out.contains("jobs: 0 finished, 1 stopped"));
}

void tst_HostCli::parametersThroughTheProgram()
{
    const Run list = zrhost({ "list" });
    QCOMPARE(list.exitCode, 0);
    for (const char* name : { "DEVICE_MODEL_NAME", "DEVICE_INFO", "FIRMWARE", "DEVICE_ID", "PCB_ID",
             "PCB_VERSION", "WORKAREA", "SCALE", "DEVICE_CONFIG_NO", "DEVICE_UNIQUE_ID",
             "WORK_MODE", "PU_SPEED", "TOOL_SPACE", "CAMERA_OFFSET", "SP1", "SP2" })
        QVERIFY2(list.out.contains(QRegularExpression(QStringLiteral("\\n *%1 ").arg(name))), name);

    const Run get = zrhost({ "get", "workarea" });
    QCOMPARE(get.exitCode, 0);
    QVERIFY(get.out.contains(QRegularExpression("WORKAREA_X +x +3000 \\(×0.5 = 1500\\)")));

    const Run set = zrhost({ "set", "WORKAREA_X=2800", "PU_SPEED=500", "-q" });
    QCOMPARE(set.exitCode, 0);
    QCOMPARE(set.out,
        QStringLiteral(
            "WORKAREA_X = 2800 (×0.5 = 1400)  (confirmed)\nPU_SPEED = 500  (confirmed)\n"));
}

void tst_HostCli::preview()
{
    QTemporaryDir dir;
    const QString png = dir.filePath("gasket.png");
    const Run run = zrhost({ "preview", samples + "/gasket.plt", "-o", png, "--size", "128" });
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.out.contains("120 × 80 mm"));
    QCOMPARE(QImage(png).size(), QSize(128, 88));
}

void tst_HostCli::jogAndMonitor()
{
    const Run jog = zrhost({ "jog", "x", "+", "--ms", "300" });
    QCOMPARE(jog.exitCode, 0);
    QVERIFY(jog.out.contains("Jogged x + for 300 ms."));
    // The simulated head moves at 100 mm/s along x only.
    const QRegularExpression head(
        QStringLiteral("Simulated head: \\(0.0, 0.0\\) mm -> \\(([0-9.]+), 0.0\\) mm"));
    const QRegularExpressionMatch moved = head.match(jog.out);
    QVERIFY2(moved.hasMatch(), qPrintable(jog.out));
    QVERIFY(moved.captured(1).toDouble() >= 20 && moved.captured(1).toDouble() <= 60);

    const Run monitor = zrhost({ "monitor", "--seconds", "0.3" });
    QCOMPARE(monitor.exitCode, 0);
    QVERIFY(monitor.out.contains(QRegularExpression("DevStatus +TCP CONNECTED\\.")));
}

void tst_HostCli::taskControlOfARunningMachine()
{
    // A machine here cuts a long job that another host started.
    SimOptions options;
    options.speedMmPerSecond = 50;
    options.reportIntervalMs = 50;
    SimMachine machine(options);
    SimTcpFront front(&machine);
    QVERIFY(front.listen(QHostAddress::LocalHost, 0));
    simtest::Client other;
    QVERIFY(other.connectTo(front.port()));
    other.send("CMD", "NUM:3;");
    other.send("PLT", simtest::square(100));
    QTRY_COMPARE(machine.jobStatus(), SimMachine::Cutting);
    const QStringList at { "-q", "--ip", "127.0.0.1", "--port", QString::number(front.port()) };

    const Run pause = zrhost(QStringList { "pause" } + at);
    QCOMPARE(pause.exitCode, 0);
    QVERIFY2(pause.out.startsWith("paused: job-0001.plt, "), qPrintable(pause.out + pause.err));
    QVERIFY(pause.out.contains("0 of 3 copies finished."));
    QCOMPARE(machine.jobStatus(), SimMachine::Paused);

    const Run resume = zrhost(QStringList { "resume" } + at);
    QCOMPARE(resume.exitCode, 0);
    QVERIFY(resume.out.startsWith("cutting: job-0001.plt, "));
    QCOMPARE(machine.jobStatus(), SimMachine::Cutting);

    const Run stop = zrhost(QStringList { "stop" } + at);
    QCOMPARE(stop.exitCode, 0);
    QVERIFY(stop.out.startsWith("stopped: job-0001.plt, "));
    QCOMPARE(machine.jobStatus(), SimMachine::Idle);
    QCOMPARE(machine.counters().jobsStopped, 1);

    // Nothing left to stop: the machine says nothing.
    const Run again = zrhost(QStringList { "stop", "--reply-timeout", "300" } + at);
    QCOMPARE(again.exitCode, 1);
    QVERIFY(again.err.contains("is a job running?"));
}

void tst_HostCli::failures_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    const QString gasket = samples + "/gasket.plt";
    const QString port = QString::number(closedPort());
    // clang-format off
    QTest::newRow("no command")         << QStringList {} << 2 << "no command";
    QTest::newRow("unknown command")    << QStringList { "cut" } << 2 << "no command \"cut\"";
    QTest::newRow("unknown option")     << QStringList { "info", "--copies", "2" } << 2 << "Unknown option";
    QTest::newRow("missing file")       << QStringList { "job", samples + "/missing.plt" } << 2 << "cannot read";
    QTest::newRow("no copies")          << QStringList { "job", gasket, "--copies", "0" } << 2 << "--copies";
    QTest::newRow("speed of a machine") << QStringList { "job", gasket, "--ip", "127.0.0.1", "--speed", "9" } << 2 << "--speed";
    QTest::newRow("unknown parameter")  << QStringList { "get", "NO_SUCH" } << 2 << "no such parameter: NO_SUCH";
    QTest::newRow("group to set")       << QStringList { "set", "WORKAREA=1" } << 2 << "set its members";
    QTest::newRow("value too big")      << QStringList { "set", "PU_SPEED=70000" } << 2 << "out of range";
    QTest::newRow("pause, no machine")  << QStringList { "pause" } << 2 << "--ip or --usb";
    QTest::newRow("no plugin")          << QStringList { "list", "--plugin-dir", "/nonexistent" } << 3 << "cannot load the device plugin";
    QTest::newRow("nobody listening")   << QStringList { "info", "--ip", "127.0.0.1", "--port", port, "--timeout", "0.6" } << 4 << "no machine answered";
    QTest::newRow("cloud not http")     << QStringList { "info", "--cloud", "127.0.0.1:8700" } << 2 << "--cloud wants an http://";
    QTest::newRow("code, no cloud")     << QStringList { "job", gasket, "--device-code", "ZR1" } << 2 << "--device-code needs --cloud";
    QTest::newRow("two clouds")         << QStringList { "job", gasket, "--cloud-embedded", "--cloud", "http://127.0.0.1/" } << 2 << "not both";
    QTest::newRow("no usb device")      << QStringList { "info", "--usb", "/nonexistent/ttyACM9" } << 4 << "no USB device";
    // clang-format on
}

void tst_HostCli::failures()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    const Run run = zrhost(arguments);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
}

QTEST_MAIN(tst_HostCli)
#include "tst_hostcli.moc"
