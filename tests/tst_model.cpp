// The ZR-TX4150V plugin as a host sees it: loaded from its module with QPluginLoader, never
// linked in. Entry points and metadata, the factory, the device's catalogue, and the replies of
// a machine connected over TCP.

#include "hanging.h"
#include "machinepeer.h"
#include "zrcommoninterface.h"
#include "zrdeviceproperty.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QLibrary>
#include <QPluginLoader>
#include <QPointer>
#include <QtTest>

#include <memory>

using Kind = ZRDeviceInterface::ZRDeviceCMDType;
Q_DECLARE_METATYPE(Kind)

class tst_Model : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void metadata();
    void oneInstanceAtATime();
    void interfaceIdentifier();
    void factoryBuildsDistinctDevices();
    void propertyOrder();
    void namedListsResolve();
    void modelIdentity();
    void replies_data();
    void replies();
    void jogging();
    void shortRepliesFollowParametersHungLater();

private:
    ZRDeviceInterface* factory();
    std::unique_ptr<ZRCommonInterface> newDevice();

    QPluginLoader loader { QStringLiteral(ZRTX4150V_PLUGIN) };
    QLibrary library { QStringLiteral(ZRTX4150V_PLUGIN) };
};

void tst_Model::initTestCase()
{
    QVERIFY2(loader.load(), qPrintable(loader.errorString()));
    QVERIFY2(library.load(), qPrintable(library.errorString()));
}

ZRDeviceInterface* tst_Model::factory()
{
    return qobject_cast<ZRDeviceInterface*>(loader.instance());
}

std::unique_ptr<ZRCommonInterface> tst_Model::newDevice()
{
    return std::unique_ptr<ZRCommonInterface>(
        qobject_cast<ZRCommonInterface*>(factory()->initInstance()));
}

// The block a host reads without loading the code: Qt 5.15's header, then a CBOR map holding only
// the interface identifier (key 2) and the class name (key 3).
void tst_Model::metadata()
{
    using Query = const char* (*)();
    const auto query = reinterpret_cast<Query>(library.resolve("qt_plugin_query_metadata"));
    QVERIFY(query);
    // clang-format off
    QByteArray expected("QTMETADATA !");
    expected += QByteArray::fromHex("00050f00");
    expected += QByteArray::fromHex("bf" "02" "7821") + "Quorlen.corvane.zrdeviceinterface";
    expected += QByteArray::fromHex("03" "69") + "ZRTX4150V";
    expected += QByteArray::fromHex("ff");
    // clang-format on
    QCOMPARE(QByteArray(query(), expected.size()), expected);

    const QJsonObject seen = loader.metaData();
    QCOMPARE(seen.value("IID").toString(), QStringLiteral("Quorlen.corvane.zrdeviceinterface"));
    QCOMPARE(seen.value("className").toString(), QStringLiteral("ZRTX4150V"));
    QCOMPARE(seen.value("debug").toBool(), false);
    QVERIFY(!seen.contains("MetaData"));
}

// The entry keeps a guarded reference only: one instance while it lives, a fresh one after the
// host has deleted it.
void tst_Model::oneInstanceAtATime()
{
    using Entry = QObject* (*)();
    const auto entry = reinterpret_cast<Entry>(library.resolve("qt_plugin_instance"));
    QVERIFY(entry);
    QPointer<QObject> first = entry();
    QVERIFY(first);
    QCOMPARE(entry(), first.data());
    QCOMPARE(loader.instance(), first.data());
    QCOMPARE(loader.instance(), first.data());
    QVERIFY(!first->parent());

    first->setObjectName("deleted by the host");
    delete first.data();
    QVERIFY(first.isNull());
    QObject* second = entry();
    QVERIFY(second);
    QVERIFY(second->objectName().isEmpty());
    QCOMPARE(entry(), second);
    QCOMPARE(loader.instance(), second);
    QCOMPARE(second->metaObject()->className(), "ZRTX4150V");
}

void tst_Model::interfaceIdentifier()
{
    QObject* instance = loader.instance();
    QVERIFY(instance);
    ZRDeviceInterface* contract = qobject_cast<ZRDeviceInterface*>(instance);
    QVERIFY(contract);
    QCOMPARE(static_cast<QObject*>(contract), instance);
    QCOMPARE(instance->qt_metacast(ZRDeviceInterface_iid), static_cast<void*>(contract));
    QCOMPARE(instance->qt_metacast("ZRTX4150V"), static_cast<void*>(instance));
    QVERIFY(instance->qt_metacast("ZRCommonInterface"));
    QCOMPARE(instance->qt_metacast("Quorlen.corvane.other"), nullptr);

    const auto device = newDevice();
    QCOMPARE(qobject_cast<ZRDeviceInterface*>(static_cast<QObject*>(device.get())), device.get());
    QCOMPARE(contract->icon(), 58913);
    QCOMPARE(device->icon(), 58913);
}

void tst_Model::factoryBuildsDistinctDevices()
{
    ZRDeviceInterface* f = factory();
    std::unique_ptr<ZRDeviceInterface> first(f->initInstance());
    std::unique_ptr<ZRDeviceInterface> second(f->initInstance());
    QVERIFY(first && second && first != second);
    QVERIFY(first.get() != f && second.get() != f);
    QCOMPARE(first->metaObject()->className(), "ZRTX4150V");
    QVERIFY(!first->parent());
    QVERIFY(f->dynamicPropertyNames().isEmpty());
    QCOMPARE(first->dynamicPropertyNames(), second->dynamicPropertyNames());
    QVERIFY(first->property_ptr("SP1_SPEED") != second->property_ptr("SP1_SPEED"));
    QVERIFY(!first->property_ptr("FEED"));
}

void tst_Model::propertyOrder()
{
    const auto device = newDevice();
    // clang-format off
    const QList<QByteArray> order { "STATUS", "TCP_PORT", "CONNECT_MODE", "QRCODE_COPIES", "QRCODE_FILE",
        "TASK_COPIES", "TASK_PLT", "TASK_STOP", "TASK_PAUSE", "TASK_RESUME", "QR_PLT", "FLAG_POINT",
        "BACK_FLAG_POINT", "TASK_MODE", "LAST_TIME", "HEARTBEAT", "FILE_PREVIEW", "TASK_FILE_INFO", "WORK_MODE",
        "PU_SPEED", "DEVICE_CLOUD",
        "CAMERA_OFFSET_X", "CAMERA_OFFSET_Y", "CAMERA_OFFSET", "FACTORY_SET",
        "TOOL_SPACE_X", "TOOL_SPACE_Y", "TOOL_SPACE",
        "FIRMWARE", "DEVICE_ID", "PCB_ID", "PCB_VERSION", "DEVICE_CONFIG_NO", "DEVICE_UNIQUE_ID", "DEVICE_MODEL",
        "DEVICE_INFO",
        "MOVE_X", "MOVE_Y",
        "SCALE_X", "SCALE_Y", "SCALE",
        "WORKAREA_X", "WORKAREA_Y", "WORKAREA",
        "SP1_TOOL", "SP1_SPEED", "SP1_PRESSURE", "SP1_ANGLE", "SP1",
        "SP2_SPEED", "SP2_PRESSURE", "SP2_TOOL", "SP2_ANGLE", "SP2",
        "DEVICE_MODEL_NAME" };
    // clang-format on
    QCOMPARE(device->dynamicPropertyNames(), order);
    for (const QByteArray& name : order) {
        QCOMPARE(device->property(name.constData()).userType(), int(QMetaType::VoidStar));
        QVERIFY2(device->property_ptr(name.constData()), name);
    }
    QVERIFY(!device->property_ptr("MOVE_X")->property("WIDGET").isValid());
}

void tst_Model::namedListsResolve()
{
    const auto device = newDevice();
    QCOMPARE(device->sysProperty(),
        QStringList({ "DEVICE_MODEL_NAME", "DEVICE_INFO", "FIRMWARE", "DEVICE_ID", "PCB_ID",
            "PCB_VERSION", "WORKAREA", "SCALE", "DEVICE_CONFIG_NO", "DEVICE_UNIQUE_ID" }));
    QCOMPARE(device->userProperty(),
        QStringList({ "WORK_MODE", "PU_SPEED", "TOOL_SPACE", "CAMERA_OFFSET", "SP1", "SP2" }));
    const QStringList all = device->sysProperty() + device->userProperty();
    for (const QString& name : all)
        QVERIFY2(device->property_ptr(name.toLatin1().constData()), qPrintable(name));
    QCOMPARE(factory()->userProperty(), device->userProperty());
}

// Run under a Chinese locale: the built-in texts show.
void tst_Model::modelIdentity()
{
    const auto device = newDevice();
    ZRDeviceProperty* model = device->property_ptr("DEVICE_MODEL");
    QCOMPARE(model->value(), QVariant("ZR-TX4150V"));
    QCOMPARE(model->value().userType(), int(QMetaType::QString));

    ZRDeviceProperty* name = device->property_ptr("DEVICE_MODEL_NAME");
    QCOMPARE(name->value(), QVariant(QString::fromUtf8("主动转刀平板机")));
    QCOMPARE(name->label(), QString::fromUtf8("名称"));
    QVERIFY(name->uint().isEmpty());
    QCOMPARE(name->cmd_type(), Kind::UnCMD);
    QCOMPARE(name->get_cmd_int() + name->set_cmd_int() + name->cmd_len(), 0);
    QVERIFY(name->param().isEmpty());
    QCOMPARE(name->property("WIDGET").toJsonObject(), (QJsonObject { { "widget", "QLabel" } }));
    QVERIFY(!name->parent());
}

namespace {

// Connects the device to the machine over TCP, with the heartbeat slowed down so that only the
// frames a test sends go out.
void connectTo(ZRDeviceInterface* device, MachinePeer& machine)
{
    device->property_ptr("TCP_PORT")->setValue(int(machine.port()));
    device->property_ptr("HEARTBEAT")->setValue(600);
    device->setIPAddress("127.0.0.1");
    QVERIFY(device->connectDevice());
    QVERIFY(machine.waitForClient());
    QTRY_COMPARE(device->property_ptr("STATUS")->value().toInt(), int(ZRDeviceInterface::Working));
}

QString framed(const char* head, const char* payload)
{
    ZRDeviceProperty builder;
    return QString::fromLatin1(
        builder.pack(QString::fromLatin1(payload), QString::fromLatin1(head)));
}

} // namespace

void tst_Model::replies_data()
{
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QList<int>>("statuses"); // retStatus of the named parameter; no other emits
    QTest::addColumn<QStringList>("qrcodes"); // texts of Qrcode messages

    const QStringList infoFields { "DEVICE_MODEL", "DEVICE_ID", "PCB_ID", "PCB_VERSION", "FIRMWARE",
        "DEVICE_CONFIG_NO" };
    auto row = [](const char* tag, const QString& frame, const char* name, const QVariant& value,
                   QList<int> statuses = {}, QStringList qrcodes = {}) {
        QTest::newRow(tag) << frame << QByteArray(name) << value << statuses << qrcodes;
    };
    // clang-format off
    // Two comma fields: the model's own handling.
    row("get number: value", framed("CCMD", "1010,5;"), "HEARTBEAT", 5);
    row("get number: text", framed("CCMD", "57,AB-12;"), "DEVICE_UNIQUE_ID", "AB-12");
    row("file name: stored, then reported", framed("CCMD", "55,a.plt;"), "QRCODE_FILE", "a.plt", {}, { "a.plt" });
    row("set number: status", framed("CCMD", "44,3;"), "DEVICE_ID", QString(), { 3 });
    row("status not a number", framed("CCMD", "67,ok;"), "FACTORY_SET", 0, { 0 });
    row("equal numbers: a value", framed("CCMD", "54,7;"), "QRCODE_COPIES", 7);
    row("group takes nothing from one field", framed("CCMD", "2,x;"), "DEVICE_INFO", infoFields);
    row("number 0 names no command", framed("CCMD", "0,5;"), "FACTORY_SET", 0);
    row("not a number names no command", framed("CCMD", "abc,9;"), "FIRMWARE", QString());
    row("number of another kind", framed("CCMD", "82,5;"), "MOVE_X", 0);
    // Other shapes pass to the common dispatch.
    row("three fields: applied by the common dispatch", framed("CCMD", "1010,0,5;"), "HEARTBEAT", 5);
    row("three fields, status not 0", framed("CCMD", "1010,1,5;"), "HEARTBEAT", 600);
    row("three fields for a set number", framed("CCMD", "44,0,X;"), "DEVICE_ID", "X");
    row("file name with status: reported only", framed("CCMD", "55,0,abc.plt;"), "QRCODE_FILE", QString(), {}, { "abc.plt" });
    row("QR code text alone", framed("CCMD", "11;"), "QRCODE_FILE", QString(), {}, { "11" });
    row("information in reply order", framed("CCMD", "2,0,ZR-TX4150V,M-1,PCB-7,V2,FW3,C9;"), "FIRMWARE", "FW3");
    row("CMD straight through", framed("CMD", "GET82:32868;"), "MOVE_X", 32868);
    row("CMD over three registers", framed("CMD", "SET11:63036;SET12:65535;SET13:0;"), "CAMERA_OFFSET_X", -2500);
    row("fewer than three fields", QString::fromLatin1("\x02" "8;CCMD\x03"), "QRCODE_COPIES", 1);
    // clang-format on
}

// Each frame comes from a machine connected over TCP and goes through the model's handling and
// then the common dispatch. A status reply for PCB_VERSION follows it as a marker: once that has
// arrived, the frame before it has been handled.
void tst_Model::replies()
{
    QFETCH(QString, frame);
    QFETCH(QByteArray, name);
    QFETCH(QList<int>, statuses);

    MachinePeer machine;
    const auto device = newDevice();
    connectTo(device.get(), machine);

    QList<QPair<QByteArray, int>> emitted;
    const QList<QByteArray> names = device->dynamicPropertyNames();
    for (const QByteArray& each : names) {
        connect(device->property_ptr(each.constData()), &ZRDeviceProperty::retStatus, this,
            [&emitted, each](int status) {
                emitted.append({ each, status });
            });
    }
    QStringList qrcodes;
    connect(device.get(), &ZRDeviceInterface::message, this,
        [&qrcodes](ZRDeviceInterface::ZRDeviceMessage kind, const QString& text) {
            if (kind == ZRDeviceInterface::Qrcode)
                qrcodes.append(text);
        });
    const QPair<QByteArray, int> marker { "PCB_VERSION", 77 };
    machine.send(frame.toLatin1() + framed("CCMD", "48,77;").toLatin1());
    QTRY_VERIFY(emitted.contains(marker));
    QCOMPARE(emitted.takeLast(), marker);

    QTEST(device->property_ptr(name.constData())->value(), "value");
    QList<QPair<QByteArray, int>> expected;
    for (int status : statuses)
        expected.append({ name, status });
    QCOMPARE(emitted, expected);
    QTEST(qrcodes, "qrcodes");
}

// Two-field replies reach parameters hung, replaced or cut off after a first reply was handled.
void tst_Model::shortRepliesFollowParametersHungLater()
{
    const auto device = newDevice();
    device->decode_cmd(framed("CCMD", "1010,5;"));
    auto* late = new ZRDeviceProperty;
    late->init(0, QString(), QString(), 300, 301, 1, ZRDeviceInterface::CCMD, {});
    adoptParameter(device.get(), "LATE", late);
    QSignalSpy status(late, &ZRDeviceProperty::retStatus);
    device->decode_cmd(framed("CCMD", "300,9;"));
    device->decode_cmd(framed("CCMD", "301,4;"));
    QCOMPARE(late->value(), QVariant(9));
    QCOMPARE(status.count(), 1);
    QCOMPARE(status.first().first(), QVariant(4));

    auto* heartbeat = new ZRDeviceProperty;
    heartbeat->init(2, QString(), QString(), 1010, 1010, 1, ZRDeviceInterface::CCMD, {});
    adoptParameter(device.get(), "HEARTBEAT", heartbeat);
    device->decode_cmd(framed("CCMD", "1010,6;"));
    QCOMPARE(heartbeat->value(), QVariant(6));

    // Behind a property that holds no parameter, a reply reaches neither handler.
    device->setProperty("LATE", QVariant());
    device->setProperty("NOT_A_PARAMETER", QString("text"));
    adoptParameter(device.get(), "LATE", late);
    device->decode_cmd(framed("CCMD", "300,10;"));
    QCOMPARE(late->value(), QVariant(9));
}

// The host jogs through the contract; Y goes out before X.
void tst_Model::jogging()
{
    MachinePeer machine;
    std::unique_ptr<ZRDeviceInterface> device(factory()->initInstance());
    connectTo(device.get(), machine);
    device->move(-5, 0);
    QVERIFY(machine.waitForFrames(2));
    QCOMPARE(machine.frames(),
        QList<QByteArray>(
            { framed("CMD", "SET83:100;").toLatin1(), framed("CMD", "SET82:0;").toLatin1() }));
}

QTEST_GUILESS_MAIN(tst_Model)
#include "tst_model.moc"
