// A job as the cloud service sees it: a device registers with the local cloud service, opens its
// channel, cuts a job on the simulated machine with a runtime report per progress report and
// per prompt, and posts its work record when the host closes the job.

#include "clouddevice.h"
#include "cloudservice.h"
#include "corvanecloud.h"
#include "simclient.h"
#include "simmachine.h"
#include "simrig.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QtTest>

using T = ZRDeviceInterface;

namespace {

const QString Code = QStringLiteral("ZRab12x");
const QByteArray Preview("\x89PNG\r\n preview");

void dropDebug(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type != QtDebugMsg)
        qt_message_output(type, context, text);
}

QJsonObject runtimeOf(const QString& report)
{
    const QJsonObject message = QJsonDocument::fromJson(report.toUtf8()).object();
    return message.value("message").toObject().value("Runtime").toObject();
}

} // namespace

class tst_CloudJob : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void jobReportedAndRecorded();
};

void tst_CloudJob::initTestCase()
{
    qInstallMessageHandler(dropDebug);
}

void tst_CloudJob::jobReportedAndRecorded()
{
    CloudService service;
    QVERIFY2(service.listen(), qPrintable(service.errorString()));
    CorvaneCloud client(service.httpBase(), service.wsBase());

    SimOptions options;
    options.speedMmPerSecond = 2000;
    options.reportIntervalMs = 50;
    SimRig rig(options);
    QVERIFY(rig.listening);

    CloudDevice device;
    device.info_157(&device);
    device.property_ptr("TASK_FILE_INFO")
        ->setValue(QJsonObject { { "path_length", 4200 }, { "heigth", 300 }, { "width", 200 } });
    device.property_ptr("FILE_PREVIEW")->setValue(Preview);
    device.property_ptr("WORK_MODE")->setValue(2u);
    QStringList progress;
    connect(&device, &T::message, this, [&progress](T::ZRDeviceMessage kind, const QString& text) {
        if (kind == T::DevTasK)
            progress.append(text);
    });

    device.property_ptr("TCP_PORT")->setValue(int(rig.tcp.port()));
    device.setIPAddress(QStringLiteral("127.0.0.1"));
    QVERIFY(device.connectDevice());
    QTRY_COMPARE(device.property_ptr("STATUS")->value().toInt(), int(T::Working));
    // The host reads the machine's information before it registers the machine.
    device.sendCMD(device.property_ptr("DEVICE_INFO")->get_cmd_bytes());
    QTRY_COMPARE(device.property_ptr("PCB_ID")->value().toString(), options.boardNumber);

    // Registration: the service has never seen this device, so it is created.
    device.setCorvaneCloud(&client, Code);
    QTRY_VERIFY(device.cloud_device.contains("id") && device.cloud_device.contains("device_model"));
    QCOMPARE(device.cloud_device.value("id"), QJsonValue(1001));
    const QJsonObject registered = service.device(Code);
    QCOMPARE(registered.value("pcb").toString(), options.boardNumber);
    QCOMPARE(registered.value("version").toString(), options.firmware);
    QCOMPARE(registered.value("device_id").toString(), options.machineNumber);
    device.connect_websocket();
    QTRY_COMPARE(service.connectedCodes(), QStringList { Code });

    device.property_ptr("TASK_COPIES")->setValue(2);
    device.setPlt(QString::fromLatin1(simtest::square(100)));
    device.startTask();
    auto record = [&device] {
        ZRDeviceProperty* task = device.property_ptr("TASK");
        return task ? task->value().toJsonObject() : QJsonObject();
    };
    QTRY_COMPARE_WITH_TIMEOUT(record().value("Status").toInt(), 3, 10000);

    // One runtime report per progress report, each carrying the record of its moment.
    QTRY_COMPARE(service.reports(Code).size(), progress.size());
    QVERIFY(progress.size() >= 3);
    QJsonObject expected = record();
    expected.insert("FilePreview", QString::fromLatin1(Preview.toBase64()));
    QCOMPARE(runtimeOf(service.reports(Code).last()), expected);
    for (const QString& report : service.reports(Code)) {
        const QJsonObject whole = QJsonDocument::fromJson(report.toUtf8()).object();
        QCOMPARE(whole.value("sender").toString(), QStringLiteral("Device"));
        QCOMPARE(whole.value("actions").toArray(), QJsonArray { "Runtime" });
    }

    // The service asks; the device answers with the finished job.
    service.clearReports();
    service.sendPrompt(Code, "status");
    QTRY_COMPARE(service.reports(Code).size(), 1);
    QCOMPARE(runtimeOf(service.reports(Code).first()), expected);

    const QDateTime started = device.property_ptr("TASK_START_TIME")->value().toDateTime();
    const qint64 secondsBefore = started.secsTo(QDateTime::currentDateTime());
    const QDateTime before = QDateTime::currentDateTimeUtc().addMSecs(-1);
    device.stopTask();
    const qint64 secondsAfter = started.secsTo(QDateTime::currentDateTime());
    QTRY_COMPARE(service.requests("device_work_records", "POST").size(), 1);

    const CloudRequest posted = service.requests("device_work_records", "POST").first();
    QCOMPARE(posted.answerStatus, 200);
    QJsonObject body = posted.json;
    const QString endTime = body.take("end_time").toString();
    const qint64 taskTime = qint64(body.take("task_time").toDouble());
    QCOMPARE(body,
        QJsonObject({ { "softwareType", 3 }, { "task_copies", 2 }, { "finish_copies", 2 },
            { "device", 1001 }, { "page_area", 60000 }, { "page_size", "300x200" },
            { "path_length", 4200 }, { "task_model", 0 }, { "work_model", 2 } }));
    QVERIFY(taskTime >= secondsBefore && taskTime <= secondsAfter);
    QVERIFY2(QRegularExpression(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{4,6}$)")
                 .match(endTime)
                 .hasMatch(),
        qPrintable(endTime));
    QDateTime ended = QDateTime::fromString(endTime.left(23), "yyyy-MM-dd hh:mm:ss.zzz");
    ended.setTimeSpec(Qt::UTC);
    QVERIFY2(ended >= before && ended <= QDateTime::currentDateTimeUtc(), qPrintable(endTime));
    QCOMPARE(service.workRecords().size(), 1);
}

QTEST_GUILESS_MAIN(tst_CloudJob)
#include "tst_cloudjob.moc"
