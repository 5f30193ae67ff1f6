// The protocol end to end over the device's TCP link: a peer on 127.0.0.1 plays the machine,
// sends replies and progress reports cut at arbitrary byte boundaries and receives the task
// frames byte for byte; then a whole job on the simulated machine, faults and all.

#include "hanging.h"
#include "machinepeer.h"
#include "recordingcloud.h"
#include "simclient.h"
#include "simmachine.h"
#include "simrig.h"
#include "testdevice.h"
#include "zrdeviceproperty.h"

#include <QJsonDocument>
#include <QtTest>

using T = ZRDeviceInterface;

namespace {

const QByteArray heartbeat("\x02"
                           "15;CCMD;1010;\x03");
const QByteArray marker("\x02"
                        "14;CMD;GET5;\x03");

// Connects the device over its own TCP link to a machine listening on 127.0.0.1.
bool connectToMachine(ZRCommonInterface& device, quint16 port)
{
    device.property_ptr("TCP_PORT")->setValue(int(port));
    device.setIPAddress(QStringLiteral("127.0.0.1"));
    if (!device.connectDevice())
        return false;
    return QTest::qWaitFor(
        [&device] { return device.property_ptr("STATUS")->value().toInt() == T::Working; });
}

// Sends a marker after whatever the device has written, waits for it, and returns the frames
// before it without the heartbeat reads the link sends on its own.
QList<QByteArray> framesSent(TestDevice& device, MachinePeer& machine)
{
    device.sendCMD(marker);
    QList<QByteArray> frames;
    if (!QTest::qWaitFor([&] { return machine.frames().contains(marker); }))
        return { "marker never arrived" };
    for (const QByteArray& frame : machine.frames()) {
        if (frame == marker)
            break;
        if (frame != heartbeat)
            frames.append(frame);
    }
    machine.clearReceived();
    return frames;
}

void removeParameter(ZRCommonInterface& device, const char* name)
{
    delete device.property_ptr(name);
    device.setProperty(name, QVariant());
}

} // namespace

class tst_Protocol : public QObject {
    Q_OBJECT
private slots:
    void repliesInPieces_data();
    void repliesInPieces();
    void startTaskFrames_data();
    void startTaskFrames();
    void wholeJob();
    void jobOnSimulatedMachine();
};

void tst_Protocol::repliesInPieces_data()
{
    QTest::addColumn<int>("chunk");
    for (int chunk : { 0, 1, 2, 3, 7, 13, 64 })
        QTest::newRow(qPrintable(QStringLiteral("chunks of %1").arg(chunk))) << chunk;
}

void tst_Protocol::repliesInPieces()
{
    QFETCH(int, chunk);

    MachinePeer machine;
    TestDevice device;
    device.init157(&device);
    auto* moveX = new ZRDeviceProperty;
    moveX->init(0, "X", QString(), 82, 82, 1, T::CMD, {});
    adoptParameter(&device, "MOVE_X", moveX);
    QStringList messages;
    connect(&device, &T::message, this, [&messages](T::ZRDeviceMessage kind, QString text) {
        if (kind != T::DevStatus)
            messages.append(QString::number(kind) + QLatin1Char(':') + text);
    });
    QVERIFY(connectToMachine(device, machine.port()));
    QVERIFY(machine.waitForClient());

    auto frame
        = [](const char* head, const char* body) { return ZRDeviceProperty().pack(body, head); };
    const QByteArray report = frame("CCMD", "66,1,a.plt,3,1,45.9,0,0,0;");
    const QByteArray stream = "noise\x03" + frame("CMD", "GET82:32868;") + "junk"
        + frame("CCMD", "1010,0,5;") + report + report + frame("CCMD", "55,0,abc.plt;")
        + frame("CMD", "SET125:7;") + frame("CCMD", "54,0,9;").chopped(2);
    machine.send(stream, chunk);

    QVERIFY(QTest::qWaitFor([&messages] { return messages.size() >= 2; }));
    QCOMPARE(messages, QStringList({ "1:66,1,a.plt,3,1,45.9,0,0,0", "2:abc.plt" }));
    QCOMPARE(moveX->value(), QVariant(32868));
    QCOMPARE(device.property_ptr("HEARTBEAT")->value(), QVariant(5));
    QCOMPARE(device.property_ptr("TASK")->value().toJsonObject(),
        QJsonObject({ { "Status", 1 }, { "FileName", "a.plt" }, { "TaskCopies", 3 },
            { "Finished", 1 }, { "Percent", 45 } }));

    // The unfinished frame waits for its end.
    QCOMPARE(device.property_ptr("QRCODE_COPIES")->value(), QVariant(1));
    machine.send(";\x03", chunk);
    QVERIFY(QTest::qWaitFor(
        [&device] { return device.property_ptr("QRCODE_COPIES")->value() == QVariant(9); }));
    QCOMPARE(
        device.property_ptr("TASK_STOP")->value(), QVariant(2)); // register 125 is never applied
}

void tst_Protocol::startTaskFrames_data()
{
    QTest::addColumn<QVariant>("mode");
    QTest::addColumn<QByteArray>("missing");
    QTest::addColumn<QList<QByteArray>>("frames");
    QTest::addColumn<bool>("started");

    const QByteArray copies("\x02"
                            "15;CMD;NUM:3;\x03");
    const QByteArray plt("\x02"
                         "26;PLT;IN;PU0,0;PD100,0;\x03");
    const QByteArray qrCopies("\x02"
                              "15;CCMD;54,4;\x03");
    using Frames = QList<QByteArray>;

    QTest::newRow("file task") << QVariant(0) << QByteArray() << Frames { copies, plt } << true;
    QTest::newRow("QR code task") << QVariant(1) << QByteArray() << Frames { qrCopies } << true;
    QTest::newRow("other mode") << QVariant(2) << QByteArray() << Frames {} << true;
    QTest::newRow("negative mode") << QVariant(-1) << QByteArray() << Frames {} << true;
    QTest::newRow("mode as text") << QVariant("1") << QByteArray() << Frames { qrCopies } << true;
    QTest::newRow("no TASK_MODE") << QVariant() << QByteArray("TASK_MODE") << Frames { copies, plt }
                                  << true;
    QTest::newRow("no TASK_COPIES")
        << QVariant(0) << QByteArray("TASK_COPIES") << Frames {} << false;
    QTest::newRow("no TASK_PLT") << QVariant(0) << QByteArray("TASK_PLT") << Frames { copies }
                                 << false;
    QTest::newRow("no QRCODE_COPIES")
        << QVariant(1) << QByteArray("QRCODE_COPIES") << Frames {} << false;
    QTest::newRow("QR task without TASK_PLT")
        << QVariant(1) << QByteArray("TASK_PLT") << Frames { qrCopies } << true;
}

void tst_Protocol::startTaskFrames()
{
    QFETCH(QVariant, mode);
    QFETCH(QByteArray, missing);
    QFETCH(bool, started);

    MachinePeer machine;
    TestDevice device;
    device.init157(&device);
    QVERIFY(connectToMachine(device, machine.port()));
    QVERIFY(machine.waitForClient());
    device.property_ptr("TASK_COPIES")->setValue(3);
    device.property_ptr("QRCODE_COPIES")->setValue(4);
    device.property_ptr("TASK_MODE")->setValue(mode);
    device.setPlt("IN;PU0,0;PD100,0;");
    if (!missing.isEmpty())
        removeParameter(device, missing.constData());
    QVERIFY(framesSent(device, machine).isEmpty());

    const QDateTime before = QDateTime::currentDateTime();
    device.startTask();
    QTEST(framesSent(device, machine), "frames");

    ZRDeviceProperty* startTime = device.property_ptr("TASK_START_TIME");
    QCOMPARE(startTime != nullptr, started);
    if (!started)
        return;
    QCOMPARE(device.dynamicPropertyNames().last(), QByteArray("TASK_START_TIME"));
    QCOMPARE(startTime->cmd_type(), T::UnCMD);
    QVERIFY(startTime->label().isEmpty());
    QVERIFY(startTime->uint().isEmpty());
    QCOMPARE(startTime->get_cmd_int() + startTime->set_cmd_int() + startTime->cmd_len(), 0);
    QVERIFY(!startTime->parent());
    const QDateTime first = startTime->value().toDateTime();
    QCOMPARE(first.timeSpec(), Qt::LocalTime);
    QVERIFY(first >= before && first <= QDateTime::currentDateTime());

    // A second start reuses the parameter and moves the time on.
    QTest::qWait(5);
    device.startTask();
    QCOMPARE(device.property_ptr("TASK_START_TIME"), startTime);
    QVERIFY(startTime->value().toDateTime() > first);
}

void tst_Protocol::wholeJob()
{
    MachinePeer machine;
    RecordingCloud cloud;
    TestDevice device;
    device.init157(&device);
    device.corvane_cloud = &cloud;
    device.cloud_device = QJsonObject { { "code", "ZR01AB12" }, { "id", 31 } };
    device.property_ptr("TASK_FILE_INFO")
        ->setValue(QJsonObject { { "path_length", 4200 }, { "heigth", 300 }, { "width", 200 } });
    QStringList reports;
    connect(&device, &T::message, this, [&reports](T::ZRDeviceMessage kind, QString text) {
        if (kind == T::DevTasK)
            reports.append(text);
    });
    QVERIFY(connectToMachine(device, machine.port()));
    QVERIFY(machine.waitForClient());

    device.property_ptr("TASK_COPIES")->setValue(2);
    device.setPlt("IN;PD0,0,10,10;PU;");
    device.startTask();
    QCOMPARE(framesSent(device, machine),
        QList<QByteArray>({ QByteArray("\x02"
                                       "15;CMD;NUM:2;\x03"),
            QByteArray("\x02"
                       "27;PLT;IN;PD0,0,10,10;PU;\x03") }));

    machine.send("\x02"
                 "36;CCMD;66,1,job.plt,2,0,50.5,0,0,0;\x03"
                 "\x02"
                 "36;CCMD;66,1,job.plt,2,1,100,0,0,0;\x03",
        5);
    QVERIFY(QTest::qWaitFor([&reports] { return reports.size() == 2; }));

    // The host stops the machine through register 125; closing the task sends nothing more.
    device.sendCMD(device.property_ptr("TASK_STOP")->set_cmd_bytes());
    device.stopTask();
    QCOMPARE(framesSent(device, machine),
        QList<QByteArray>({ QByteArray("\x02"
                                       "18;CMD;SET125:2;\x03") }));
    QCOMPARE(cloud.requests.size(), 1);
    const QJsonObject body = cloud.requests.first().body;
    QCOMPARE(body.value("device"), QJsonValue(31));
    QCOMPARE(body.value("task_copies"), QJsonValue(2));
    QCOMPARE(body.value("finish_copies"), QJsonValue(1));
    QCOMPARE(body.value("path_length"), QJsonValue(4200));
    QCOMPARE(body.value("page_area"), QJsonValue(60000));
    QCOMPARE(device.property_ptr("TASK")->value().toJsonObject().value("Percent"), QJsonValue(100));
    QVERIFY(device.property_ptr("TASK_START_TIME")->value().toDateTime().isNull());
}

void tst_Protocol::jobOnSimulatedMachine()
{
    SimOptions options;
    options.speedMmPerSecond = 2000;
    options.reportIntervalMs = 50;
    options.chunkMax = 16;
    options.junkMax = 3;
    options.malformedEvery = 3;
    SimRig rig(options);
    QVERIFY(rig.listening);

    RecordingCloud cloud;
    TestDevice device;
    device.init157(&device);
    device.corvane_cloud = &cloud;
    device.cloud_device = QJsonObject { { "id", 5 } };
    device.property_ptr("TASK_FILE_INFO")
        ->setValue(QJsonObject { { "path_length", 800 }, { "heigth", 100 }, { "width", 100 } });
    QStringList reports;
    connect(&device, &T::message, this, [&reports](T::ZRDeviceMessage kind, QString text) {
        if (kind == T::DevTasK)
            reports.append(text);
    });
    auto record = [&device] { return device.property_ptr("TASK")->value().toJsonObject(); };
    auto status = [&device, &record] {
        return device.property_ptr("TASK") ? record().value("Status").toInt() : -1;
    };
    QVERIFY(connectToMachine(device, rig.tcp.port()));

    device.property_ptr("TASK_COPIES")->setValue(2);
    device.setPlt(QString::fromLatin1(simtest::square(100))); // 400 mm a copy
    device.startTask();
    QVERIFY(QTest::qWaitFor([&status] { return status() == 1; }));
    device.sendCMD(device.property_ptr("TASK_PAUSE")->set_cmd_bytes());
    QVERIFY(QTest::qWaitFor([&status] { return status() == 2; }));
    device.sendCMD(device.property_ptr("TASK_RESUME")->set_cmd_bytes());
    QVERIFY(QTest::qWaitFor([&status] { return status() == 3; }, 10000));

    QCOMPARE(record(),
        QJsonObject({ { "Status", 3 }, { "FileName", "job-0001.plt" }, { "TaskCopies", 2 },
            { "Finished", 2 }, { "Percent", 100 } }));
    for (int i = 1; i < reports.size(); ++i)
        QVERIFY2(reports.at(i) != reports.at(i - 1), qPrintable(reports.at(i)));
    // The machine echoes register 125; the control parameters keep their values.
    QCOMPARE(device.property_ptr("TASK_PAUSE")->value(), QVariant(0));
    QCOMPARE(device.property_ptr("TASK_RESUME")->value(), QVariant(1));
    QCOMPARE(device.property_ptr("TASK_STOP")->value(), QVariant(2));

    device.stopTask();
    QCOMPARE(cloud.requests.size(), 1);
    const QJsonObject body = cloud.requests.first().body;
    QCOMPARE(body.value("device"), QJsonValue(5));
    QCOMPARE(body.value("task_copies"), QJsonValue(2));
    QCOMPARE(body.value("finish_copies"), QJsonValue(2));
    QCOMPARE(body.value("page_size"), QJsonValue("100x100"));
    QCOMPARE(record().value("Percent"), QJsonValue(100));
    QCOMPARE(record().value("Status"), QJsonValue(0));
}

QTEST_GUILESS_MAIN(tst_Protocol)
#include "tst_protocol.moc"
