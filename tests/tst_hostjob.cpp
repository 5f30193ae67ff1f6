// The host's job path (plugin, device, link, JobRunner) against the project's simulated machine,
// over TCP and over a pseudo-terminal standing in for the USB port: every copy cut, progress in
// order, the exact frames the machine received, a link that drops mid-job, a clean stop, pause
// and resume, and a machine that never reports.

#include "cutfile.h"
#include "embeddedmachine.h"
#include "hostsession.h"
#include "jobrunner.h"
#include "machineinfo.h"
#include "machinepeer.h"
#include "parameterreader.h"
#include "zrdeviceproperty.h"

#include <QFile>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

#include <memory>

namespace {

enum Transport { Tcp, Usb };

CutFile gasket()
{
    QString error;
    return CutFile::read(QStringLiteral(ZR_SAMPLES_DIR "/gasket.plt"), &error);
}

// A fast machine that reports often, so a job takes a fraction of a second.
SimOptions fastMachine(double speed = 20000)
{
    SimOptions options;
    options.speedMmPerSecond = speed;
    options.reportIntervalMs = 20;
    return options;
}

// Frames the machine received, without the heartbeats, as "HEAD;payload".
QList<QByteArray> framesWithoutHeartbeats(const SimMachine* machine)
{
    QList<QByteArray> frames;
    for (const SimFrame& frame : machine->received()) {
        if (!(frame.head == "CCMD" && frame.payload.startsWith("1010")))
            frames.append(frame.head + ';' + frame.payload);
    }
    return frames;
}

} // namespace

Q_DECLARE_METATYPE(Transport)

class tst_HostJob : public QObject {
    Q_OBJECT
private slots:
    void jobCutsEveryCopy_data();
    void jobCutsEveryCopy();
    void linkDropMidJob_data();
    void linkDropMidJob();
    void cleanStop();
    void secondStopClosesAtOnce();
    void pauseAndResume();
    void machineThatNeverReports();
    void refusesWhatCannotRun();
    void connectorWaitsForALateMachine();
    void connectorReportsTheLinkLost();

private:
    // The simulated machine on the transport, and a session of the plugin connected to it.
    bool start(Transport transport, const SimOptions& options);

    std::unique_ptr<EmbeddedMachine> m_machine;
    std::unique_ptr<HostSession> m_session;
};

bool tst_HostJob::start(Transport transport, const SimOptions& options)
{
    m_session.reset();
    m_machine.reset(new EmbeddedMachine(options));
    if (!(transport == Tcp ? m_machine->listenTcp() : m_machine->openPty()))
        return false;
    SessionOptions session;
    session.pluginDir = QStringLiteral(ZR_PLUGIN_DIR);
    session.target = m_machine->target();
    session.connectTimeoutMs = 5000;
    m_session.reset(new HostSession);
    return m_session->open(session) && m_session->connectMachine();
}

void tst_HostJob::jobCutsEveryCopy_data()
{
    QTest::addColumn<Transport>("transport");
    QTest::newRow("tcp") << Tcp;
    QTest::newRow("usb") << Usb;
}

void tst_HostJob::jobCutsEveryCopy()
{
    QFETCH(Transport, transport);
    QVERIFY2(start(transport, fastMachine()),
        qPrintable(m_session ? m_session->errorString() : QString()));
    ZRDeviceInterface* device = m_session->device();

    // The machine information first, as the job command reads it.
    ParameterReader reader(device);
    QVERIFY(reader.read(MachineInfo::reads(), 3000));
    QCOMPARE(
        device->property_ptr("DEVICE_ID")->value().toString(), QStringLiteral("TX4150V-000128"));
    QCOMPARE(device->property_ptr("FIRMWARE")->value().toString(), QStringLiteral("1.5.7"));
    QVERIFY(device->property_ptr("DEVICE_UNIQUE_ID")
                ->value()
                .toString()
                .startsWith("5A52B7C40E19F263"));

    const CutFile file = gasket();
    QVERIFY(file.isValid());
    JobRunner runner(device);
    QList<TaskReport> reports;
    connect(
        &runner, &JobRunner::progress, [&](const TaskReport& report) { reports.append(report); });
    QVERIFY(runner.start(file, 2));
    QTRY_VERIFY_WITH_TIMEOUT(runner.outcome() != JobRunner::Running, 10000);

    QCOMPARE(runner.outcome(), JobRunner::Finished);
    QVERIFY(reports.size() >= 2);
    for (int i = 1; i < reports.size(); ++i) {
        QVERIFY2(reports[i].percent >= reports[i - 1].percent,
            qPrintable(
                QStringLiteral("%1 after %2").arg(reports[i].percent).arg(reports[i - 1].percent)));
        QVERIFY(reports[i].finished >= reports[i - 1].finished);
    }
    QCOMPARE(reports.last().status, int(TaskReport::Finished));
    QCOMPARE(reports.last().finished, 2);
    QCOMPARE(reports.last().copies, 2);

    // The record as the last report left it; stopTask() has reset the device's own.
    QCOMPARE(runner.record().value("Finished").toInt(), 2);
    QCOMPARE(runner.record().value("TaskCopies").toInt(), 2);
    QCOMPARE(runner.record().value("Status").toInt(), 3);
    const QJsonObject reset = device->property_ptr("TASK")->value().toJsonObject();
    QCOMPARE(reset.value("Percent").toInt(), 100);
    QCOMPARE(reset.value("Finished").toInt(), 0);
    QVERIFY(device->property_ptr("TASK_START_TIME")->value().toDateTime().isNull());
    QCOMPARE(device->property_ptr("TASK_FILE_INFO")->value().toJsonObject(), file.fileInfo());
    QCOMPARE(device->property_ptr("FILE_PREVIEW")->value().toByteArray(), file.previewPng());

    const SimCounters& counted = m_machine->machine()->counters();
    QCOMPARE(counted.copiesCut, 2);
    QCOMPARE(counted.jobsFinished, 1);
    QCOMPARE(counted.jobsStopped, 0);
    QCOMPARE(QString::number(runner.cutMm(), 'f', 1), QString::number(counted.pathCutMm, 'f', 1));

    // Exactly what a host sends: the two information reads, the copies, the cut data.
    const QList<QByteArray> expected { "CCMD;2;", "CCMD;57;", "CMD;NUM:2;", "PLT;" + file.data() };
    QCOMPARE(framesWithoutHeartbeats(m_machine->machine()), expected);
}

void tst_HostJob::linkDropMidJob_data()
{
    QTest::addColumn<Transport>("transport");
    QTest::addColumn<QString>("statusLine");
    QTest::newRow("tcp") << Tcp << QStringLiteral("TCP DISCONNECTED.");
    QTest::newRow("usb") << Usb << QStringLiteral("USB DISCONNECTED.");
}

void tst_HostJob::linkDropMidJob()
{
    QFETCH(Transport, transport);
    QFETCH(QString, statusLine);
    SimOptions options = fastMachine(2000);
    options.dropAtPercent = 30;
    QVERIFY(start(transport, options));
    ZRDeviceInterface* device = m_session->device();
    QStringList lost;
    connect(
        m_session.get(), &HostSession::linkLost, [&](const QString& line) { lost.append(line); });

    JobRunner runner(device);
    QVERIFY(runner.start(gasket(), 2));
    QTRY_VERIFY_WITH_TIMEOUT(runner.outcome() != JobRunner::Running, 10000);

    QCOMPARE(runner.outcome(), JobRunner::LinkLost);
    QCOMPARE(runner.linkStatus(), statusLine);
    QCOMPARE(lost, QStringList { statusLine });
    // The record stands as the last report left it, and the task is not closed: the machine
    // goes on cutting.
    const QJsonObject record = runner.record();
    QCOMPARE(record.value("Status").toInt(), 1);
    QCOMPARE(record.value("TaskCopies").toInt(), 2);
    QVERIFY(record.value("Percent").toInt() >= 30);
    QVERIFY(record.value("Finished").toInt() < 2);
    QCOMPARE(device->property_ptr("TASK")->value().toJsonObject(), record);
    QVERIFY(device->property_ptr("TASK_START_TIME")->value().toDateTime().isValid());
    QVERIFY(runner.summary().startsWith("Link lost (" + statusLine + ")"));
}

void tst_HostJob::cleanStop()
{
    QVERIFY(start(Tcp, fastMachine(1000)));
    ZRDeviceInterface* device = m_session->device();
    JobRunner runner(device);
    QStringList notices;
    connect(&runner, &JobRunner::notice, [&](const QString& line) { notices.append(line); });
    // Ctrl-C reaches the runner as stop(); here it comes once the job is under way.
    connect(&runner, &JobRunner::progress, [&](const TaskReport& report) {
        if (report.percent >= 10)
            runner.stop();
    });
    QVERIFY(runner.start(gasket(), 2));
    QTRY_VERIFY_WITH_TIMEOUT(runner.outcome() != JobRunner::Running, 10000);

    QCOMPARE(runner.outcome(), JobRunner::Stopped);
    QVERIFY(runner.stopRequested());
    QCOMPARE(notices, QStringList { QStringLiteral("Stop sent to the machine.") });
    QCOMPARE(runner.record().value("Status").toInt(), 4);
    QVERIFY(runner.record().value("Percent").toInt() < 100);
    // stopTask() closed the task.
    QCOMPARE(device->property_ptr("TASK")->value().toJsonObject().value("Percent").toInt(), 100);
    QVERIFY(device->property_ptr("TASK_START_TIME")->value().toDateTime().isNull());

    const SimMachine* machine = m_machine->machine();
    QCOMPARE(machine->counters().jobsStopped, 1);
    QCOMPARE(machine->counters().jobsFinished, 0);
    const QList<QByteArray> frames = framesWithoutHeartbeats(machine);
    QCOMPARE(frames.size(), 3);
    QCOMPARE(frames.at(0), QByteArray("CMD;NUM:2;"));
    QVERIFY(frames.at(1).startsWith("PLT;"));
    QCOMPARE(frames.at(2), QByteArray("CMD;SET125:2;"));
}

void tst_HostJob::secondStopClosesAtOnce()
{
    // A machine that takes its time to report the stop.
    SimOptions options = fastMachine(1000);
    options.replyDelayMs = 2000;
    QVERIFY(start(Tcp, options));
    JobRunner runner(m_session->device());
    runner.setStartTimeoutMs(5000);
    QVERIFY(runner.start(gasket(), 1));
    runner.stop();
    QCOMPARE(runner.outcome(), JobRunner::Running);
    runner.stop();
    QCOMPARE(runner.outcome(), JobRunner::Stopped);
    QCOMPARE(runner.reportCount(), 0);
}

void tst_HostJob::pauseAndResume()
{
    QVERIFY(start(Usb, fastMachine(2000)));
    JobRunner runner(m_session->device());
    QList<int> statuses;
    connect(&runner, &JobRunner::progress, [&](const TaskReport& report) {
        statuses.append(report.status);
        if (report.status == TaskReport::Cutting && report.percent > 20
            && !statuses.contains(TaskReport::Paused))
            runner.pause();
        else if (report.status == TaskReport::Paused)
            QTimer::singleShot(100, &runner, &JobRunner::resume);
    });
    QVERIFY(runner.start(gasket(), 1));
    QTRY_VERIFY_WITH_TIMEOUT(runner.outcome() != JobRunner::Running, 10000);

    QCOMPARE(runner.outcome(), JobRunner::Finished);
    const int paused = statuses.indexOf(TaskReport::Paused);
    QVERIFY(paused > 0);
    QCOMPARE(statuses.count(TaskReport::Paused), 1);
    QCOMPARE(statuses.value(paused + 1), int(TaskReport::Cutting));
    QCOMPARE(m_machine->machine()->counters().copiesCut, 1);
    const QList<QByteArray> frames = framesWithoutHeartbeats(m_machine->machine());
    QVERIFY(frames.contains("CMD;SET125:0;"));
    QVERIFY(frames.indexOf("CMD;SET125:1;") > frames.indexOf("CMD;SET125:0;"));
}

void tst_HostJob::machineThatNeverReports()
{
    MachinePeer peer;
    SessionOptions options;
    options.pluginDir = QStringLiteral(ZR_PLUGIN_DIR);
    options.target = MachineTarget::tcp(QStringLiteral("127.0.0.1"), peer.port());
    HostSession session;
    QVERIFY(session.open(options));
    QVERIFY(session.connectMachine());

    JobRunner runner(session.device());
    runner.setStartTimeoutMs(300);
    QStringList notices;
    connect(&runner, &JobRunner::notice, [&](const QString& line) { notices.append(line); });
    QVERIFY(runner.start(gasket(), 3));
    QTRY_VERIFY_WITH_TIMEOUT(runner.outcome() != JobRunner::Running, 5000);

    QCOMPARE(runner.outcome(), JobRunner::NotStarted);
    QCOMPARE(notices.size(), 1);
    QVERIFY(notices.first().startsWith("No progress report within 0.3 s"));
    // Copies, cut data, then the stop for a job nobody can follow.
    QVERIFY(peer.waitForFrames(3));
    const QList<QByteArray> frames = peer.frames();
    QVERIFY(frames.at(0).endsWith(";CMD;NUM:3;\x03"));
    QVERIFY(frames.at(1).contains(";PLT;IN;"));
    QVERIFY(frames.at(2).endsWith(";CMD;SET125:2;\x03"));
}

void tst_HostJob::refusesWhatCannotRun()
{
    QVERIFY(start(Tcp, fastMachine()));
    JobRunner runner(m_session->device());
    QVERIFY(!runner.start(CutFile::fromData("empty.plt", "IN;PU100,100;"), 1));
    QVERIFY(!runner.start(gasket(), 0));
    QCOMPARE(runner.outcome(), JobRunner::Idle);
    QTest::qWait(50);
    QCOMPARE(m_machine->machine()->counters().jobsStarted, 0);
}

void tst_HostJob::connectorWaitsForALateMachine()
{
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    probe.close();

    HostSession session;
    SessionOptions options;
    options.pluginDir = QStringLiteral(ZR_PLUGIN_DIR);
    QVERIFY(session.open(options));
    MachineConnector* connector = session.connector();
    QSignalSpy connected(connector, &MachineConnector::connected);
    connector->start(MachineTarget::tcp(QStringLiteral("127.0.0.1"), port), 5000);
    QTest::qWait(MachineConnector::retryMs * 2);
    QCOMPARE(connector->state(), MachineConnector::Connecting);

    // The machine comes up and the next attempt reaches it.
    QTcpServer late;
    QVERIFY(late.listen(QHostAddress::LocalHost, port));
    QVERIFY(connector->waitForConnected());
    QCOMPARE(connected.count(), 1);
    QCOMPARE(
        session.device()->property_ptr("STATUS")->value().toInt(), int(ZRDeviceInterface::Working));
}

void tst_HostJob::connectorReportsTheLinkLost()
{
    MachinePeer peer;
    HostSession session;
    SessionOptions options;
    options.pluginDir = QStringLiteral(ZR_PLUGIN_DIR);
    options.target = MachineTarget::tcp(QStringLiteral("127.0.0.1"), peer.port());
    options.connectTimeoutMs = 300;
    QVERIFY(session.open(options));
    QVERIFY(session.connectMachine());
    QVERIFY(peer.waitForClient());
    QSignalSpy lost(&session, &HostSession::linkLost);
    QSignalSpy failed(session.connector(), &MachineConnector::failed);
    peer.dropClient();
    QVERIFY(lost.wait(3000));
    QCOMPARE(lost.first().first().toString(), QStringLiteral("TCP DISCONNECTED."));
    QCOMPARE(session.connector()->state(), MachineConnector::Lost);
    // A lost link is not retried, and not reported as a failed attempt.
    QTest::qWait(MachineConnector::retryMs + 100);
    QCOMPARE(lost.count(), 1);
    QCOMPARE(failed.count(), 0);
    QCOMPARE(session.device()->property_ptr("STATUS")->value().toInt(),
        int(ZRDeviceInterface::DisConnected));
}

QTEST_MAIN(tst_HostJob)
#include "tst_hostjob.moc"
