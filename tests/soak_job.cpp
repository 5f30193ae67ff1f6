// Jobs without pause on the simulated machine with its faults on: output in pieces, junk before
// frames, a malformed frame now and then, late replies, and a hang-up at a quarter of every
// job, after which the device connects again and hears the rest. A cloud service takes the
// runtime reports, prompts the device five times a second and receives a work record per job.
//
// Every frame the machine wrote reaches the device, every frame the device wrote reaches the
// machine, every job ends finished with its work record, and memory stays flat. The run lasts
// ZR_JOB_SOAK_SECONDS (20 s unless told); it is not part of the default test run.

#include "clouddevice.h"
#include "cloudservice.h"
#include "corvanecloud.h"
#include "residentmemory.h"
#include "simrig.h"
#include "soak.h"

#include <QJsonDocument>
#include <QtTest>

using T = ZRDeviceInterface;

namespace {

void dropDebug(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type != QtDebugMsg)
        qt_message_output(type, context, text);
}

// Counts the frames it writes to the machine.
class SoakDevice : public CloudDevice {
public:
    int framesOut = 0;
    int framesIn = 0;

    void sendCMD(QByteArray frame) override
    {
        if (property_ptr("STATUS")->value().toInt() == Working)
            ++framesOut;
        CloudDevice::sendCMD(frame);
    }
};

} // namespace

class soak_Job : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void jobsWithFaults();
};

void soak_Job::initTestCase()
{
    qInstallMessageHandler(dropDebug);
}

void soak_Job::jobsWithFaults()
{
    const int seconds = soakSeconds("ZR_JOB_SOAK_SECONDS", 20);
    CloudService service;
    QVERIFY2(service.listen(), qPrintable(service.errorString()));
    int reports = 0;
    connect(&service, &CloudService::reportReceived, this, [&reports] { ++reports; });
    CorvaneCloud client(service.httpBase(), service.wsBase());

    SimOptions options;
    // Jobs of one to two seconds: long after the hang-up, time enough to connect again.
    options.speedMmPerSecond = 250;
    options.reportIntervalMs = 20;
    options.chunkMax = 48;
    options.junkMax = 6;
    options.malformedEvery = 5;
    options.replyDelayMs = 3;
    options.dropAtPercent = 25;
    SimRig rig(options);
    QVERIFY(rig.listening);

    SoakDevice device;
    device.info_157(&device);
    device.onFrame = [&device](const QString&) { ++device.framesIn; };
    device.property_ptr("TASK_FILE_INFO")
        ->setValue(QJsonObject { { "path_length", 400 }, { "heigth", 50 }, { "width", 50 } });
    device.property_ptr("FILE_PREVIEW")->setValue(QByteArray(1024, 'p'));
    // The device writes only when a job starts, never while the machine hangs up: a frame in
    // flight then would be lost to the connection, not to the link.
    device.property_ptr("HEARTBEAT")->setValue(600);
    device.property_ptr("TCP_PORT")->setValue(int(rig.tcp.port()));
    device.setIPAddress(QStringLiteral("127.0.0.1"));
    int progress = 0;
    int reconnections = 0;
    connect(&device, &T::message, this, [&](T::ZRDeviceMessage kind, const QString& text) {
        if (kind == T::DevTasK)
            ++progress;
        if (text == QLatin1String("TCP DISCONNECTED.")) {
            ++reconnections;
            QTimer::singleShot(10, &device, [&device] { device.connectDevice(); });
        }
    });
    const auto working
        = [&device] { return device.property_ptr("STATUS")->value().toInt() == T::Working; };
    QVERIFY(device.connectDevice());
    QTRY_VERIFY(working());
    device.sendCMD(device.property_ptr("DEVICE_INFO")->get_cmd_bytes());
    QTRY_COMPARE(device.property_ptr("PCB_ID")->value().toString(), options.boardNumber);
    device.setCorvaneCloud(&client, QStringLiteral("ZRab12x"));
    QTRY_VERIFY(device.cloud_device.contains("id"));
    device.connect_websocket();
    QTRY_COMPARE(service.connectedCodes().size(), 1);
    QTimer prompter;
    int prompts = 0;
    connect(&prompter, &QTimer::timeout, this,
        [&] { service.sendPrompt("ZRab12x", QString::number(++prompts)); });
    prompter.start(200);

    const auto task = [&device] {
        ZRDeviceProperty* record = device.property_ptr("TASK");
        return record ? record->value().toJsonObject() : QJsonObject();
    };
    QElapsedTimer clock;
    clock.start();
    qint64 settledMemory = 0;
    qint64 peakMemory = 0;
    int jobs = 0;
    while (clock.elapsed() < seconds * 1000) {
        QTRY_VERIFY_WITH_TIMEOUT(working(), 10000);
        device.property_ptr("TASK_COPIES")->setValue(2);
        device.setPlt(QString::fromLatin1(simtest::square(40 + jobs % 20)));
        device.startTask();
        const auto why = [&] {
            return QStringLiteral("job %1: the device's record %2, the machine's job %3 at %4 %, "
                                  "%5 hang-ups, %6 reconnections")
                .arg(QString::number(jobs + 1),
                    QString::fromUtf8(QJsonDocument(task()).toJson(QJsonDocument::Compact)),
                    QString::number(rig.sim.jobStatus()), QString::number(rig.sim.jobPercent()),
                    QString::number(rig.sim.counters().linksDropped),
                    QString::number(reconnections));
        };
        QTRY_VERIFY2_WITH_TIMEOUT(task().value("Status").toInt() == 3, qPrintable(why()), 20000);
        QCOMPARE(task().value("Finished").toInt(), 2);
        device.stopTask();
        ++jobs;
        // The service's own record of reports would grow the run; they are counted as they come.
        service.clearReports();
        peakMemory = qMax(peakMemory, residentBytes());
        if (jobs == 3)
            settledMemory = peakMemory;
    }
    prompter.stop();
    QTRY_COMPARE(service.workRecords().size(), jobs);
    QTRY_COMPARE_WITH_TIMEOUT(device.framesIn, rig.sim.counters().framesWritten, 10000);
    QTRY_COMPARE(rig.sim.counters().framesReceived, device.framesOut);

    qInfo("%d jobs in %lld s with %d hang-ups: %d frames to the device, %d from it, %d runtime "
          "reports for %d progress reports and %d prompts; resident memory grew by %lld KiB",
        jobs, clock.elapsed() / 1000, reconnections, device.framesIn, device.framesOut, reports,
        progress, prompts, (peakMemory - settledMemory) / 1024);
    QCOMPARE(rig.sim.counters().jobsFinished, jobs);
    QCOMPARE(rig.sim.counters().linksDropped, jobs);
    QCOMPARE(reconnections, jobs);
    QCOMPARE(rig.sim.counters().framesRejected, 0);
    QVERIFY2(reports >= progress && reports <= progress + prompts + 1, QByteArray::number(reports));
    QVERIFY2(peakMemory - settledMemory < 16 * 1024 * 1024,
        QByteArray::number(peakMemory - settledMemory));
}

SOAK_TEST_MAIN(soak_Job, "ZR_JOB_SOAK_SECONDS", 20)
#include "soak_job.moc"
