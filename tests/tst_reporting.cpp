// Task reports to the cloud service: the work record posted through the cloud client when a job
// is closed, and the runtime report pushed over a real WebSocket on 127.0.0.1.

#include "hanging.h"
#include "recordingcloud.h"
#include "testdevice.h"
#include "zrdeviceproperty.h"

#include <QJsonDocument>
#include <QRegularExpression>
#include <QWebSocket>
#include <QWebSocketServer>
#include <QtTest>

using T = ZRDeviceInterface;

namespace {

QJsonObject json(const char* text)
{
    return QJsonDocument::fromJson(text).object();
}

void removeParameter(ZRCommonInterface& device, const char* name)
{
    delete device.property_ptr(name);
    device.setProperty(name, QVariant());
}

// A device registered with the service (record id 12) that has finished two of three copies of
// a file started 90 seconds ago.
void prepareFinishedJob(TestDevice& device, RecordingCloud& cloud)
{
    device.init157(&device);
    device.corvane_cloud = &cloud;
    device.cloud_device = json(R"({"code":"ZR01AB12","online":true,"id":12,"device_model":7})");
    device.property_ptr("DEVICE_CLOUD")->setValue(device.cloud_device);
    device.property_ptr("TASK_MODE")->setValue(1);
    device.property_ptr("WORK_MODE")->setValue(2u);
    device.property_ptr("TASK_FILE_INFO")
        ->setValue(json(R"({"path_length":1500,"heigth":300,"width":200,"name":"a.plt"})"));
    device.startTask();
    device.property_ptr("TASK_START_TIME")->setValue(QDateTime::currentDateTime().addSecs(-90));
    device.decode_task("66,1,a.plt,3,2,66.6,0,0,0");
}

// Plays the service's end of the remote channel.
class ServicePeer : public QObject {
public:
    ServicePeer()
        : server(QStringLiteral("service"), QWebSocketServer::NonSecureMode)
    {
        server.listen(QHostAddress::LocalHost, 0);
        connect(&server, &QWebSocketServer::newConnection, this, [this] {
            while (QWebSocket* socket = server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QWebSocket::textMessageReceived, this,
                    [this](const QString& text) { texts.append(text); });
            }
        });
    }

    QUrl url() const { return QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(server.serverPort())); }

    // Opens the device's socket to this peer and waits until it is connected.
    bool attach(TestDevice& device)
    {
        if (!device.web_socket)
            device.web_socket = new QWebSocket;
        device.web_socket->open(url());
        return QTest::qWaitFor(
            [&device] { return device.web_socket->state() == QAbstractSocket::ConnectedState; });
    }

    QWebSocketServer server;
    QStringList texts;
};

} // namespace

class tst_Reporting : public QObject {
    Q_OBJECT
private slots:
    void workRecordConditions_data();
    void workRecordConditions();
    void workRecordBody();
    void pageSize_data();
    void pageSize();
    void pathLength_data();
    void pathLength();
    void taskTime_data();
    void taskTime();
    void stopTaskReportsBeforeReset();
    void workRecordWithoutClient();
    void runtimeReport_data();
    void runtimeReport();
    void runtimeReportNeedsTask();
    void runtimeReportNeedsSocket();
    void progressReportsReachService();
};

void tst_Reporting::workRecordConditions_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("sent");

    QTest::newRow("finished job") << "" << true;
    QTest::newRow("no DEVICE_CLOUD") << "no DEVICE_CLOUD" << false;
    QTest::newRow("no id") << "no id" << false;
    QTest::newRow("id -1") << "id -1" << false;
    QTest::newRow("id 0") << "id 0" << true;
    QTest::newRow("id as text") << "id text" << false;
    QTest::newRow("no TASK") << "no TASK" << false;
    QTest::newRow("TaskCopies 0") << "TaskCopies 0" << false;
    QTest::newRow("Finished 0") << "Finished 0" << false;
    QTest::newRow("no TASK_FILE_INFO") << "no TASK_FILE_INFO" << false;
    QTest::newRow("path_length 0") << "path_length 0" << false;
    QTest::newRow("path_length missing") << "path_length missing" << false;
    QTest::newRow("no TASK_START_TIME") << "no TASK_START_TIME" << false;
    QTest::newRow("null start time") << "null start time" << true;
    QTest::newRow("no TASK_MODE or WORK_MODE") << "no modes" << true;
}

void tst_Reporting::workRecordConditions()
{
    QFETCH(QString, change);
    QFETCH(bool, sent);

    RecordingCloud cloud;
    TestDevice device;
    prepareFinishedJob(device, cloud);
    ZRDeviceProperty* task = device.property_ptr("TASK");
    ZRDeviceProperty* fileInfo = device.property_ptr("TASK_FILE_INFO");
    QJsonObject record = task->value().toJsonObject();
    QJsonObject file = fileInfo->value().toJsonObject();

    if (change == "no DEVICE_CLOUD")
        removeParameter(device, "DEVICE_CLOUD");
    else if (change == "no id")
        device.cloud_device.remove("id");
    else if (change == "id -1")
        device.cloud_device["id"] = -1;
    else if (change == "id 0")
        device.cloud_device["id"] = 0;
    else if (change == "id text")
        device.cloud_device["id"] = "12";
    else if (change == "no TASK")
        removeParameter(device, "TASK");
    else if (change == "TaskCopies 0")
        record["TaskCopies"] = 0;
    else if (change == "Finished 0")
        record["Finished"] = 0;
    else if (change == "no TASK_FILE_INFO")
        removeParameter(device, "TASK_FILE_INFO");
    else if (change == "path_length 0")
        file["path_length"] = 0;
    else if (change == "path_length missing")
        file.remove("path_length");
    else if (change == "no TASK_START_TIME")
        removeParameter(device, "TASK_START_TIME");
    else if (change == "null start time")
        device.property_ptr("TASK_START_TIME")->setValue(QDateTime());
    else if (change == "no modes") {
        removeParameter(device, "TASK_MODE");
        removeParameter(device, "WORK_MODE");
    }
    if (device.property_ptr("TASK"))
        task->setValue(record);
    if (device.property_ptr("TASK_FILE_INFO"))
        fileInfo->setValue(file);

    device.device_task_record_to_cloud();

    QCOMPARE(cloud.requests.size(), sent ? 1 : 0);
    if (!sent)
        return;
    const RecordingCloud::Request& request = cloud.requests.first();
    QCOMPARE(request.path, QStringLiteral("device_work_records"));
    QCOMPARE(request.method, QByteArray("POST"));
    QVERIFY(!request.hasHandler);
    QCOMPARE(request.body.value("device"), device.cloud_device.value("id"));
    if (change == "null start time")
        QCOMPARE(request.body.value("task_time"), QJsonValue(0));
    if (change == "no modes") {
        QCOMPARE(request.body.value("task_model"), QJsonValue(0));
        QCOMPARE(request.body.value("work_model"), QJsonValue(0));
    }
}

void tst_Reporting::workRecordBody()
{
    RecordingCloud cloud;
    TestDevice device;
    prepareFinishedJob(device, cloud);

    const QDateTime before = QDateTime::currentDateTimeUtc().addMSecs(-1);
    device.device_task_record_to_cloud();
    const QDateTime after = QDateTime::currentDateTimeUtc().addMSecs(1);

    QCOMPARE(cloud.requests.size(), 1);
    QJsonObject body = cloud.requests.first().body;

    // Qt writes the milliseconds as three digits, then once more as a fraction without
    // trailing zeros: 7 ms is "007007", 200 ms "2002".
    const QString endTime = body.take("end_time").toString();
    const QRegularExpressionMatch match
        = QRegularExpression(R"(^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.(\d{3}))(\d+)$)").match(endTime);
    QVERIFY2(match.hasMatch(), qPrintable(endTime));
    QString fraction = match.captured(2);
    while (fraction.size() > 1 && fraction.endsWith('0'))
        fraction.chop(1);
    QCOMPARE(match.captured(3), fraction);
    QDateTime stamp = QDateTime::fromString(match.captured(1), "yyyy-MM-dd hh:mm:ss.zzz");
    stamp.setTimeSpec(Qt::UTC);
    QVERIFY2(stamp >= before && stamp <= after, qPrintable(endTime));

    const int taskTime = body.take("task_time").toInt(-1);
    QVERIFY2(taskTime >= 90 && taskTime <= 92, qPrintable(QString::number(taskTime)));

    QCOMPARE(body, json(R"({
        "softwareType": 3,
        "task_copies": 3,
        "finish_copies": 2,
        "device": 12,
        "page_area": 60000,
        "page_size": "300x200",
        "path_length": 1500,
        "task_model": 1,
        "work_model": 2
    })"));
}

void tst_Reporting::pageSize_data()
{
    QTest::addColumn<QJsonObject>("fileInfo");
    QTest::addColumn<int>("area");
    QTest::addColumn<QString>("size");

    auto row = [](const char* name, const char* info, int area, const char* size) {
        QTest::newRow(name) << json(info) << area << QString(size);
    };
    row("300 x 200", R"({"path_length":1,"heigth":300,"width":200})", 60000, "300x200");
    row("wraps at 32 bits", R"({"path_length":1,"heigth":100000,"width":100000})", 1410065408,
        "100000x100000");
    row("wraps to 0", R"({"path_length":1,"heigth":65536,"width":65536})", 0, "65536x65536");
    row("wraps negative", R"({"path_length":1,"heigth":2147483647,"width":2})", -2, "2147483647x2");
    row("negative side", R"({"path_length":1,"heigth":-3,"width":5})", -15, "-3x5");
    row("extremes", R"({"path_length":1,"heigth":-2147483648,"width":-2147483648})", 0,
        "-2147483648x-2147483648");
    row("missing height", R"({"path_length":1,"width":200})", 0, "0x200");
    row("height as text", R"({"path_length":1,"heigth":"300","width":200})", 0, "0x200");
    row("height not whole", R"({"path_length":1,"heigth":300.5,"width":200})", 0, "0x200");
    row("width beyond int", R"({"path_length":1,"heigth":3,"width":1e12})", 0, "3x0");
}

void tst_Reporting::pageSize()
{
    QFETCH(QJsonObject, fileInfo);
    RecordingCloud cloud;
    TestDevice device;
    prepareFinishedJob(device, cloud);
    device.property_ptr("TASK_FILE_INFO")->setValue(fileInfo);

    device.device_task_record_to_cloud();
    QCOMPARE(cloud.requests.size(), 1);
    const QJsonObject body = cloud.requests.first().body;
    QTEST(body.value("page_area").toInt(-1), "area");
    QVERIFY(body.value("page_area").isDouble());
    QTEST(body.value("page_size").toString(), "size");
    QCOMPARE(body.value("path_length"), QJsonValue(1));
}

void tst_Reporting::pathLength_data()
{
    QTest::addColumn<QJsonValue>("pathLength");
    QTest::addColumn<QJsonValue>("sent"); // undefined: no record

    QTest::newRow("whole") << QJsonValue(1500) << QJsonValue(1500);
    QTest::newRow("half rounds up") << QJsonValue(1275.5) << QJsonValue(1276);
    QTest::newRow("rounds down") << QJsonValue(1275.4) << QJsonValue(1275);
    QTest::newRow("rounds to 0") << QJsonValue(0.4) << QJsonValue(QJsonValue::Undefined);
    QTest::newRow("beyond int") << QJsonValue(1e12) << QJsonValue(2147483647);
    QTest::newRow("text") << QJsonValue("1500") << QJsonValue(QJsonValue::Undefined);
}

void tst_Reporting::pathLength()
{
    QFETCH(QJsonValue, pathLength);
    QFETCH(QJsonValue, sent);
    RecordingCloud cloud;
    TestDevice device;
    prepareFinishedJob(device, cloud);
    device.property_ptr("TASK_FILE_INFO")
        ->setValue(QJsonObject { { "path_length", pathLength }, { "heigth", 3 }, { "width", 2 } });

    device.device_task_record_to_cloud();
    QCOMPARE(cloud.requests.size(), sent.isUndefined() ? 0 : 1);
    if (!sent.isUndefined())
        QCOMPARE(cloud.requests.first().body.value("path_length"), sent);
}

void tst_Reporting::taskTime_data()
{
    QTest::addColumn<QVariant>("start");
    QTest::addColumn<qint64>("seconds"); // -1: about an hour, measured from now

    QTest::newRow("an hour ago") << QVariant(QDateTime::currentDateTime().addSecs(-3600))
                                 << qint64(-1);
    QTest::newRow("null") << QVariant(QDateTime()) << qint64(0);
    QTest::newRow("in the future")
        << QVariant(QDateTime::currentDateTime().addSecs(60)) << qint64(0);
    QTest::newRow("far future") << QVariant(QDateTime(QDate(9999, 12, 31), QTime(23, 59)))
                                << qint64(0);
    QTest::newRow("not a date") << QVariant(QString("yesterday")) << qint64(0);
    QTest::newRow("far past")
        << QVariant(QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC))
        << QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC).secsTo(QDateTime::currentDateTimeUtc());
}

void tst_Reporting::taskTime()
{
    QFETCH(QVariant, start);
    QFETCH(qint64, seconds);
    RecordingCloud cloud;
    TestDevice device;
    prepareFinishedJob(device, cloud);
    device.property_ptr("TASK_START_TIME")->setValue(start);

    device.device_task_record_to_cloud();
    QCOMPARE(cloud.requests.size(), 1);
    const QJsonValue taskTime = cloud.requests.first().body.value("task_time");
    QVERIFY(taskTime.isDouble());
    const qint64 measured = qint64(taskTime.toDouble());
    QCOMPARE(double(measured), taskTime.toDouble());
    if (seconds == -1)
        QVERIFY2(measured >= 3600 && measured <= 3602, qPrintable(QString::number(measured)));
    else if (seconds > 1000)
        QVERIFY(qAbs(measured - seconds) <= 2);
    else
        QCOMPARE(measured, seconds);
}

void tst_Reporting::stopTaskReportsBeforeReset()
{
    RecordingCloud cloud;
    TestDevice device;
    prepareFinishedJob(device, cloud);

    device.stopTask();
    QCOMPARE(cloud.requests.size(), 1);
    const QJsonObject body = cloud.requests.first().body;
    QCOMPARE(body.value("task_copies"), QJsonValue(3));
    QCOMPARE(body.value("finish_copies"), QJsonValue(2));
    QVERIFY(body.value("task_time").toInt() >= 90);
    QCOMPARE(device.property_ptr("TASK")->value().toJsonObject().value("Percent"), QJsonValue(100));

    // The reset record has no finished copies, so closing again posts nothing.
    device.stopTask();
    QCOMPARE(cloud.requests.size(), 1);
}

void tst_Reporting::workRecordWithoutClient()
{
    RecordingCloud cloud;
    TestDevice device;
    prepareFinishedJob(device, cloud);
    device.corvane_cloud = nullptr;
    device.device_task_record_to_cloud();
    device.cloud_device_workrecord(QJsonObject { { "a", 1 } });
    QVERIFY(cloud.requests.isEmpty());

    device.corvane_cloud = &cloud;
    device.cloud_device_workrecord(QJsonObject { { "a", 1 } });
    QCOMPARE(cloud.requests.size(), 1);
    QCOMPARE(cloud.requests.first().body, QJsonObject({ { "a", 1 } }));
    QVERIFY(!cloud.requests.first().hasHandler);

    device.device_info_to_cloud(); // reports nothing
    QCOMPARE(cloud.requests.size(), 1);
}

void tst_Reporting::runtimeReport_data()
{
    QTest::addColumn<bool>("hasPreview");
    QTest::addColumn<QByteArray>("preview");
    QTest::addColumn<QString>("text");

    const QString head = R"({"actions":["Runtime"],"message":{"Runtime":{"FileName":"a.plt",)";
    const QString tail
        = R"("Finished":1,"Percent":45,"Status":1,"TaskCopies":3}},"sender":"Device"})";
    QTest::newRow("empty preview")
        << true << QByteArray() << head + R"("FilePreview":null,)" + tail;
    QTest::newRow("preview with padding")
        << true << QByteArray("abcd") << head + R"("FilePreview":"YWJjZA==",)" + tail;
    QTest::newRow("binary preview") << true << QByteArray("\x89PNG\r\n\0\xff", 8)
                                    << head + R"("FilePreview":"iVBORw0KAP8=",)" + tail;
    QTest::newRow("no preview parameter") << false << QByteArray() << head + tail;
}

void tst_Reporting::runtimeReport()
{
    QFETCH(bool, hasPreview);
    QFETCH(QByteArray, preview);

    ServicePeer service;
    TestDevice device;
    device.init157(&device);
    if (hasPreview)
        device.property_ptr("FILE_PREVIEW")->setValue(preview);
    else
        removeParameter(device, "FILE_PREVIEW");
    QVERIFY(service.attach(device));

    device.decode_task("66,1,a.plt,3,1,45.9,0,0,0");
    QVERIFY(QTest::qWaitFor([&service] { return !service.texts.isEmpty(); }));
    QCOMPARE(service.texts.size(), 1);
    QTEST(service.texts.first(), "text");

    // The preview travels in the report only.
    QVERIFY(!device.property_ptr("TASK")->value().toJsonObject().contains("FilePreview"));

    device.device_task_to_cloud();
    QVERIFY(QTest::qWaitFor([&service] { return service.texts.size() == 2; }));
    QCOMPARE(service.texts.at(1), service.texts.at(0));
}

void tst_Reporting::runtimeReportNeedsTask()
{
    ServicePeer service;
    TestDevice device;
    device.init157(&device);
    QVERIFY(service.attach(device));

    device.device_task_to_cloud(); // no TASK yet
    device.decode_task("66,1"); // TASK now exists, empty, but the report was too short
    device.device_task_to_cloud();
    QVERIFY(QTest::qWaitFor([&service] { return !service.texts.isEmpty(); }));
    QTest::qWait(50);
    QCOMPARE(service.texts,
        QStringList {
            R"({"actions":["Runtime"],"message":{"Runtime":{"FilePreview":null}},"sender":"Device"})" });
}

void tst_Reporting::runtimeReportNeedsSocket()
{
    ServicePeer service;
    TestDevice device;
    device.init157(&device);
    device.decode_task("66,1,a.plt,3,1,45.9,0,0,0"); // no socket: nothing to send on
    device.device_task_to_cloud();

    device.web_socket = new QWebSocket; // not opened: the report is dropped
    device.device_task_to_cloud();
    device.decode_task("66,1,a.plt,3,2,50,0,0,0");

    QVERIFY(service.attach(device));
    device.decode_task("66,1,a.plt,3,3,100,0,0,0");
    QVERIFY(QTest::qWaitFor([&service] { return !service.texts.isEmpty(); }));
    QTest::qWait(50);
    QCOMPARE(service.texts.size(), 1);
    QVERIFY(service.texts.first().contains(R"("Finished":3)"));
}

void tst_Reporting::progressReportsReachService()
{
    ServicePeer service;
    TestDevice device;
    device.init157(&device);
    QVERIFY(service.attach(device));
    QStringList tasks;
    connect(&device, &T::message, this, [&tasks](T::ZRDeviceMessage kind, QString text) {
        if (kind == T::DevTasK)
            tasks.append(text);
    });

    const QString frame
        = QString::fromLatin1(ZRDeviceProperty().pack("66,1,a.plt,3,1,10,0,0,0;", "CCMD"));
    device.decode_cmd(frame);
    device.decode_cmd(frame); // a repeat reaches neither the host nor the service
    device.decode_cmd(
        QString::fromLatin1(ZRDeviceProperty().pack("66,1,a.plt,3,1,20,0,0,0;", "CCMD")));
    QVERIFY(QTest::qWaitFor([&service] { return service.texts.size() >= 2; }));
    QTest::qWait(50);
    QCOMPARE(tasks.size(), 2);
    QCOMPARE(service.texts.size(), 2);
    QVERIFY(service.texts.at(0).contains(R"("Percent":10)"));
    QVERIFY(service.texts.at(1).contains(R"("Percent":20)"));
}

QTEST_GUILESS_MAIN(tst_Reporting)
#include "tst_reporting.moc"
