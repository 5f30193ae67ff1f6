// The device contract and the device core: enumerations, parameters hung on a device, the
// settings catalogue, destruction, build date, setPlt and the send rule on a real socket.

#include "compilerdate.h"
#include "hanging.h"
#include "machinepeer.h"
#include "testdevice.h"
#include "zrdeviceproperty.h"

#include <QTcpSocket>
#include <QtTest>

#include <memory>
#include <thread>

namespace {

// An application-wide filter that keeps every dynamic-property change from its object.
class SwallowPropertyChanges : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override
    {
        return event->type() == QEvent::DynamicPropertyChange;
    }
};

// A host's device class written against a header without the core's own event(): it hands its
// events straight to QObject.
class OwnEvents : public TestDevice {
public:
    bool event(QEvent* event) override { return QObject::event(event); }
};

ZRDeviceProperty* parameter(int get, int set, ZRDeviceInterface::ZRDeviceCMDType kind)
{
    auto* p = new ZRDeviceProperty;
    p->init(0, QString(), QString(), get, set, 1, kind, {});
    return p;
}

} // namespace

using Kind = ZRDeviceInterface::ZRDeviceCMDType;
Q_DECLARE_METATYPE(Kind)

class tst_Device : public QObject {
    Q_OBJECT
private slots:
    void enumerations();
    void interfaceIdentifier();
    void baseBehaviour();
    void settingsCatalogue_data();
    void settingsCatalogue();
    void settingsOrderAndEditors();
    void factoryStaysEmpty();
    void propertyLookup();
    void changesSeenWhateverTheEvents_data();
    void changesSeenWhateverTheEvents();
    void destructionReleasesEachParameterOnce();
    void rebuildingKeepsReplacedParametersAlive();
    void buildDate_data();
    void buildDate();
    void setPlt();
    void sendRule_data();
    void sendRule();
    void sendWithoutTransport();
};

void tst_Device::enumerations()
{
    QCOMPARE(int(ZRDeviceInterface::Warning), 4);
    QCOMPARE(int(ZRDeviceInterface::Error), 5);
    QCOMPARE(int(ZRDeviceInterface::DevTasK), 1);
    QCOMPARE(int(ZRDeviceInterface::Qrcode), 2);
    QCOMPARE(int(ZRDeviceInterface::QRPLT), 6);
    QCOMPARE(int(ZRDeviceInterface::NUM), 3);

    const QMetaObject& meta = ZRDeviceInterface::staticMetaObject;
    const QMetaEnum message = meta.enumerator(meta.indexOfEnumerator("ZRDeviceMessage"));
    QCOMPARE(message.valueToKey(1), "DevTasK");
    QVERIFY(!message.isFlag());
    QVERIFY(QMetaType::type("ZRDeviceInterface::ZRDeviceStatus") != QMetaType::UnknownType);
    QCOMPARE(QVariant(4).value<ZRDeviceInterface::ZRDeviceStatus>(), ZRDeviceInterface::Warning);
    QCOMPARE(meta.indexOfSignal("message(ZRDeviceInterface::ZRDeviceMessage,QString)") >= 0, true);
}

void tst_Device::interfaceIdentifier()
{
    ZRCommonInterface core;
    QCOMPARE(core.qt_metacast(ZRDeviceInterface_iid), nullptr);
    QCOMPARE(core.qt_metacast("ZRCommonInterface"), static_cast<void*>(&core));
    QCOMPARE(core.qt_metacast("ZRDeviceInterface"), static_cast<void*>(&core));
    QCOMPARE(qobject_cast<ZRDeviceInterface*>(&core), nullptr);
}

void tst_Device::baseBehaviour()
{
    ZRDeviceInterface base(nullptr);
    QCOMPARE(base.initInstance(), nullptr);
    QCOMPARE(base.connectDevice(), false);
    QCOMPARE(base.icon(), 0);
    QVERIFY(base.userProperty().isEmpty());
    QVERIFY(base.sysProperty().isEmpty());

    // The base keeps the path as the label and the transport's name as the value; a second call
    // updates the same parameter.
    base.setUSBPath("/dev/ttyACM0");
    ZRDeviceProperty* usb = parameterOf(&base, "USB");
    QVERIFY(usb);
    QCOMPARE(usb->value().toString(), QStringLiteral("USB"));
    QCOMPARE(usb->label(), QStringLiteral("/dev/ttyACM0"));
    base.setUSBPath("/dev/ttyUSB1");
    QCOMPARE(parameterOf(&base, "USB"), usb);
    QCOMPARE(usb->label(), QStringLiteral("/dev/ttyUSB1"));

    ZRCommonInterface core;
    QCOMPARE(core.userProperty(),
        QStringList({ "WORK_MODE", "SPEED", "PRESSURE", "CAMERA_OFFSET", "SP1", "SP2" }));
    QVERIFY(core.sysProperty().isEmpty());
    QCOMPARE(core.icon(), 0);
}

void tst_Device::settingsCatalogue_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<int>("get");
    QTest::addColumn<int>("set");
    QTest::addColumn<int>("length");
    QTest::addColumn<Kind>("kind");

    auto row = [](const char* name, const char* label, const char* unit, QVariant value, int get,
                   int set, int length, Kind kind) {
        QTest::newRow(name) << QByteArray(name) << QString::fromUtf8(label)
                            << QString::fromUtf8(unit) << value << get << set << length << kind;
    };
    row("STATUS", "状态", "", 0, 0, 0, 0, Kind::UnCMD);
    row("TCP_PORT", "端口", "", 9100, 0, 0, 0, Kind::UnCMD);
    row("CONNECT_MODE", "连接方式", "", QString(), 0, 0, 0, Kind::UnCMD);
    row("QRCODE_COPIES", "份数", "份", 1, 54, 54, 1, Kind::CCMD);
    row("QRCODE_FILE", "二维码文件", "", QString(), 55, 55, 1, Kind::CCMD);
    row("TASK_COPIES", "份数", "份", 1, 1, 1, 1, Kind::NUM);
    row("TASK_PLT", "plt", "", QString(), 1, 1, 1, Kind::PLT);
    row("TASK_STOP", "停止", "", 2, 125, 125, 1, Kind::CMD);
    row("TASK_PAUSE", "暂停", "", 0, 125, 125, 1, Kind::CMD);
    row("TASK_RESUME", "继续", "", 1, 125, 125, 1, Kind::CMD);
    row("QR_PLT", "QR PLT", "", QString(), 1, 1, 1, Kind::QRPLT);
    row("FLAG_POINT", "设原点", "", 1, 87, 87, 1, Kind::CMD);
    row("BACK_FLAG_POINT", "回原点", "", 1, 93, 93, 1, Kind::CMD);
    row("TASK_MODE", "任务模式", "", 0, 0, 0, 0, Kind::UnCMD);
    row("HEARTBEAT", "心跳", "秒", 2, 1010, 1010, 1, Kind::CCMD);
    row("FILE_PREVIEW", "预览", "", QByteArray(), 0, 0, 0, Kind::UnCMD);
    row("TASK_FILE_INFO", "工作文件", "", QJsonObject(), 0, 0, 0, Kind::UnCMD);
    row("WORK_MODE", "切割质量", "", 0u, 27, 27, 1, Kind::CMD);
    row("PU_SPEED", "PU 速度", "", 0u, 26, 26, 1, Kind::CMD);
    row("DEVICE_CLOUD", "数据上传", "", QJsonObject(), 0, 0, 0, Kind::UnCMD);
}

void tst_Device::settingsCatalogue()
{
    QFETCH(QByteArray, name);
    QFETCH(QVariant, value);
    ZRCommonInterface factory;
    std::unique_ptr<ZRDeviceInterface> device(factory.initInstance());
    ZRDeviceProperty* p = device->property_ptr(name.constData());
    QVERIFY(p);
    QTEST(p->label(), "label");
    QTEST(p->uint(), "unit");
    QCOMPARE(p->value().userType(), value.userType());
    QCOMPARE(p->value(), value);
    QTEST(p->get_cmd_int(), "get");
    QTEST(p->set_cmd_int(), "set");
    QTEST(p->cmd_len(), "length");
    QTEST(p->cmd_type(), "kind");
    QVERIFY(p->param().isEmpty());
    QVERIFY(!p->parent());
}

void tst_Device::settingsOrderAndEditors()
{
    ZRCommonInterface factory;
    std::unique_ptr<ZRDeviceInterface> device(factory.initInstance());
    const QList<QByteArray> order { "STATUS", "TCP_PORT", "CONNECT_MODE", "QRCODE_COPIES",
        "QRCODE_FILE", "TASK_COPIES", "TASK_PLT", "TASK_STOP", "TASK_PAUSE", "TASK_RESUME",
        "QR_PLT", "FLAG_POINT", "BACK_FLAG_POINT", "TASK_MODE", "LAST_TIME", "HEARTBEAT",
        "FILE_PREVIEW", "TASK_FILE_INFO", "WORK_MODE", "PU_SPEED", "DEVICE_CLOUD" };
    QCOMPARE(device->dynamicPropertyNames(), order);
    for (const QByteArray& name : order)
        QCOMPARE(device->property(name).userType(), int(QMetaType::VoidStar));

    ZRDeviceProperty* lastTime = device->property_ptr("LAST_TIME");
    QCOMPARE(lastTime->value().userType(), int(QMetaType::QDateTime));
    QVERIFY(qAbs(lastTime->value().toDateTime().secsTo(QDateTime::currentDateTime())) < 60);
    QVERIFY(lastTime->label().isEmpty());

    const QJsonObject workMode
        = device->property_ptr("WORK_MODE")->property("WIDGET").toJsonObject();
    QCOMPARE(workMode.value("widget").toString(), QStringLiteral("QComboBox"));
    QCOMPARE(
        workMode.value("option").toString(), QString::fromUtf8("   速度优先;   平衡;   精度优先"));
    QCOMPARE(workMode.size(), 2);
    const QJsonObject speed = device->property_ptr("PU_SPEED")->property("WIDGET").toJsonObject();
    QCOMPARE(speed, (QJsonObject { { "widget", "QSpinBox" }, { "max", 700 }, { "min", 10 } }));
    for (const QByteArray& name : order) {
        if (name != "WORK_MODE" && name != "PU_SPEED")
            QVERIFY2(!device->property_ptr(name)->property("WIDGET").isValid(), name);
    }
}

void tst_Device::factoryStaysEmpty()
{
    ZRCommonInterface factory;
    std::unique_ptr<ZRDeviceInterface> first(factory.initInstance());
    std::unique_ptr<ZRDeviceInterface> second(factory.initInstance());
    QVERIFY(first && second && first != second);
    QCOMPARE(first->metaObject()->className(), "ZRCommonInterface");
    QVERIFY(!first->parent());
    QVERIFY(factory.dynamicPropertyNames().isEmpty());
    QVERIFY(first->property_ptr("STATUS") != second->property_ptr("STATUS"));
}

void tst_Device::propertyLookup()
{
    ZRCommonInterface device;
    QCOMPARE(device.property_ptr("STATUS"), nullptr);
    device.setProperty("TEXT", QString("not a parameter"));
    QCOMPARE(device.property_ptr("TEXT"), nullptr);
    auto* p = new ZRDeviceProperty;
    adoptParameter(&device, "X", p);
    QCOMPARE(device.property_ptr("X"), p);

    // Every lookup sees the dynamic properties as they are now, however often the names were
    // looked up before, from whichever thread, and however long the name.
    auto* q = new ZRDeviceProperty;
    device.setProperty("TEXT", QVariant::fromValue<void*>(q));
    QCOMPARE(device.property_ptr("TEXT"), q);
    device.setProperty("X", QVariant());
    QCOMPARE(device.property_ptr("X"), nullptr);
    delete p;
    QList<ZRDeviceProperty*> many;
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 20; ++i) {
            const QByteArray name = "PARAMETER_" + QByteArray::number(i);
            if (round == 0) {
                many.append(new ZRDeviceProperty);
                adoptParameter(&device, name.constData(), many.last());
            }
            QCOMPARE(device.property_ptr(name.constData()), many.at(i));
        }
    }
    const char* longName = "A_NAME_LONGER_THAN_THE_SHORT_ONES";
    QCOMPARE(device.property_ptr(longName), nullptr);
    adoptParameter(&device, longName, new ZRDeviceProperty);
    QVERIFY(device.property_ptr(longName));
    ZRDeviceProperty* fromThread = nullptr;
    std::thread([&] { fromThread = device.property_ptr("TEXT"); }).join();
    QCOMPARE(fromThread, q);
}

void tst_Device::changesSeenWhateverTheEvents_data()
{
    QTest::addColumn<bool>("filtered");
    QTest::newRow("an application filter swallows the change") << true;
    QTest::newRow("the device's event() leaves out the core's") << false;
}

// Replies, jogging, the heartbeat and the task record follow parameters added, replaced,
// removed and deleted after the device has used them, whoever sees the change events.
void tst_Device::changesSeenWhateverTheEvents()
{
    QFETCH(bool, filtered);
    MachinePeer machine;
    OwnEvents device;
    device.init157(&device);
    device.move_157(&device);
    device.property_ptr("TCP_PORT")->setValue(int(machine.port()));
    device.property_ptr("HEARTBEAT")->setValue(600);
    device.setIPAddress("127.0.0.1");
    QVERIFY(device.connectDevice());
    QVERIFY(machine.waitForClient());
    QTRY_COMPARE(device.property_ptr("STATUS")->value().toInt(), int(ZRDeviceInterface::Working));
    const auto frame = [](const char* payload) { return ZRDeviceProperty().pack(payload, "CMD"); };
    const auto reply = [&](const char* payload) { device.receive(frame(payload)); };

    // Everything looked up and dispatched once before the changes.
    reply("GET82:5;");
    device.move(1, 1);
    device.slot_device_timer();
    QVERIFY(!device.property_ptr("TASK"));
    QVERIFY(machine.waitForFrames(3));
    machine.clearReceived();

    SwallowPropertyChanges swallow;
    if (filtered)
        QCoreApplication::instance()->installEventFilter(&swallow);

    // Replaced: the new parameter takes the reply and the jog.
    ZRDeviceProperty* first = device.property_ptr("MOVE_X");
    auto* replacement = parameter(82, 82, ZRDeviceInterface::CMD);
    device.setProperty("MOVE_X", QVariant::fromValue<void*>(replacement));
    reply("GET82:6;");
    QCOMPARE(replacement->value(), QVariant(6));
    QCOMPARE(first->value(), QVariant(32868));
    // Added: a parameter hung later takes a number nobody else has.
    auto* added = parameter(0, 77, ZRDeviceInterface::CMD);
    device.setProperty("ADDED", QVariant::fromValue<void*>(added));
    reply("SET77:4;");
    QCOMPARE(added->value(), QVariant(4));

    // Removed and deleted: no reply, jog or heartbeat reaches them.
    device.setProperty("MOVE_X", QVariant());
    delete replacement;
    delete device.property_ptr("HEARTBEAT");
    device.setProperty("HEARTBEAT", QVariant());
    reply("GET82:7;");
    device.move(-1, -1);
    device.slot_device_timer();
    QVERIFY(machine.waitForFrames(1));
    QTest::qWait(50);
    QCOMPARE(machine.frames(), QList<QByteArray> { frame("SET83:100;") });

    // One task record, made by the first report and reset by stopTask().
    device.decode_task("66,1,a.plt,2,0,10,0,0,0");
    ZRDeviceProperty* task = device.property_ptr("TASK");
    QVERIFY(task);
    device.decode_task("66,1,a.plt,2,1,60,0,0,0");
    QCOMPARE(device.property_ptr("TASK"), task);
    QCOMPARE(task->value().toJsonObject().value("Percent").toInt(), 60);
    device.stopTask();
    QCOMPARE(task->value().toJsonObject().value("Status").toInt(), 0);
    QCOMPARE(task->value().toJsonObject().value("Percent").toInt(), 100);
    QCoreApplication::instance()->removeEventFilter(&swallow);
    delete first;
}

void tst_Device::destructionReleasesEachParameterOnce()
{
    auto* device = new ZRCommonInterface;
    device->init157(device);
    auto* shared = new ZRDeviceProperty;
    hangParameter(device, "SHARED_A", shared);
    hangParameter(device, "SHARED_B", shared);
    device->setProperty("TEXT", QString("no pointer"));

    int destroyed = 0;
    const QList<QByteArray> names = device->dynamicPropertyNames();
    QSet<ZRDeviceProperty*> parameters;
    for (const QByteArray& name : names) {
        if (ZRDeviceProperty* p = device->property_ptr(name))
            parameters.insert(p);
    }
    QCOMPARE(parameters.size(), 22);
    for (ZRDeviceProperty* p : parameters)
        connect(p, &QObject::destroyed, this, [&destroyed] { ++destroyed; });
    delete device;
    QCOMPARE(destroyed, 22);
}

// A host that took a parameter and then ran a builder again still holds a live object; the
// device deletes it, once, when it goes.
void tst_Device::rebuildingKeepsReplacedParametersAlive()
{
    auto* device = new ZRCommonInterface;
    device->init157(device);
    ZRDeviceProperty* oldStatus = device->property_ptr("STATUS");
    int oldDeleted = 0;
    connect(oldStatus, &QObject::destroyed, this, [&oldDeleted] { ++oldDeleted; });
    device->init157(device);
    device->init157(device);
    QCOMPARE(oldDeleted, 0);
    QVERIFY(device->property_ptr("STATUS") != oldStatus);
    oldStatus->setValue(3);
    QCOMPARE(oldStatus->value(), QVariant(3));
    QCOMPARE(device->dynamicPropertyNames().size(), 21);
    delete device;
    QCOMPARE(oldDeleted, 1);
}

void tst_Device::buildDate_data()
{
    QTest::addColumn<QString>("compilerDate");
    QTest::addColumn<QString>("formatted");
    QTest::newRow("two-digit day") << "Jun 27 2025"
                                   << "2025 - 06 - 27";
    QTest::newRow("blank-padded day") << "Jun  7 2025"
                                      << "2025 - 06 - 07";
    QTest::newRow("december") << "Dec 31 1999"
                              << "1999 - 12 - 31";
    QTest::newRow("garbage") << "yesterday"
                             << "";
}

void tst_Device::buildDate()
{
    QFETCH(QString, compilerDate);
    QTEST(formatCompilerDate(compilerDate), "formatted");
    QCOMPARE(ZRDeviceInterface::buildDate(), formatCompilerDate(QStringLiteral(__DATE__)));
    QVERIFY(QDate::fromString(ZRDeviceInterface::buildDate(), "yyyy - MM - dd").isValid());
}

void tst_Device::setPlt()
{
    ZRCommonInterface bare;
    bare.setPlt("IN;"); // neither TASK_PLT nor TASK_PPLT: nothing happens
    QVERIFY(bare.dynamicPropertyNames().isEmpty());

    ZRCommonInterface factory;
    std::unique_ptr<ZRDeviceInterface> device(factory.initInstance());
    ZRDeviceProperty* plt = device->property_ptr("TASK_PLT");
    QSignalSpy changed(plt, &ZRDeviceProperty::valueChanged);
    device->setPlt("IN;PU0,0;");
    QCOMPARE(plt->value(), QVariant("IN;PU0,0;"));
    QCOMPARE(changed.count(), 1);

    auto* pplt = new ZRDeviceProperty;
    pplt->init(QString(), "pplt", QString(), 0, 1, 1, ZRDeviceInterface::PPLT, {});
    adoptParameter(device.get(), "TASK_PPLT", pplt);
    device->setPlt("IN;PD;");
    QCOMPARE(pplt->value(), QVariant("IN;PD;"));
    QCOMPARE(plt->value(), QVariant("IN;PU0,0;"));
}

void tst_Device::sendRule_data()
{
    QTest::addColumn<QVariant>("status");
    QTest::addColumn<bool>("sent");
    QTest::newRow("DisConnected") << QVariant(0) << false;
    QTest::newRow("Idle") << QVariant(1) << true;
    QTest::newRow("Working") << QVariant(2) << true;
    QTest::newRow("Pause") << QVariant(3) << true;
    QTest::newRow("Warning") << QVariant(4) << false;
    QTest::newRow("Error") << QVariant(5) << false;
    QTest::newRow("outside the enumeration") << QVariant(9) << true;
    // A status may hold its name; a name that is no status reads as DisConnected.
    QTest::newRow("name Idle") << QVariant("Idle") << true;
    QTest::newRow("name Warning") << QVariant("Warning") << false;
    QTest::newRow("no status name") << QVariant("Busy") << false;
}

void tst_Device::sendRule()
{
    QFETCH(QVariant, status);
    QFETCH(bool, sent);

    MachinePeer machine;
    TestDevice device;
    device.init157(&device);
    device.tcp_socket = new QTcpSocket(&device);
    device.tcp_socket->connectToHost(QHostAddress::LocalHost, machine.port());
    QVERIFY(device.tcp_socket->waitForConnected(5000));
    QVERIFY(machine.waitForClient());
    device.property_ptr("CONNECT_MODE")->setValue("TCP");
    device.property_ptr("STATUS")->setValue(status);

    const QByteArray heartbeat("\x02"
                               "15;CCMD;1010;\x03");
    device.sendCMD(QByteArray()); // an empty frame never goes out
    device.sendCMD(device.property_ptr("HEARTBEAT")->get_cmd_bytes());
    device.sendCMD(device.property_ptr("TASK_STOP")->set_cmd_bytes());
    if (sent) {
        QVERIFY(machine.waitForFrames(2));
        QCOMPARE(machine.received(),
            heartbeat
                + QByteArray("\x02"
                             "18;CMD;SET125:2;\x03"));
    } else {
        QTest::qWait(100);
        QVERIFY(machine.received().isEmpty());
    }
}

void tst_Device::sendWithoutTransport()
{
    TestDevice device;
    const QByteArray frame("\x02"
                           "14;CMD;GET5;\x03");
    device.sendCMD(frame); // no STATUS, no CONNECT_MODE: dropped

    device.init157(&device);
    device.property_ptr("STATUS")->setValue(2);
    device.property_ptr("CONNECT_MODE")->setValue("TCP");
    device.sendCMD(frame); // no socket yet: dropped
    device.property_ptr("CONNECT_MODE")->setValue("USB");
    device.sendCMD(frame); // no USB transport yet: dropped
    QCOMPARE(device.tcp_socket, nullptr);
    QCOMPARE(device.usb_operate, nullptr);
}

QTEST_GUILESS_MAIN(tst_Device)
#include "tst_device.moc"
