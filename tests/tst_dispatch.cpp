// Reply dispatch: frames handed straight to the common dispatcher of a device that carries the
// settings group plus a few parameters of its own, checked against every parameter value and
// every message the device emits.

#include "hanging.h"
#include "testdevice.h"
#include "zrdeviceproperty.h"

#include <QtTest>

using T = ZRDeviceInterface;

namespace {

QString reply(const QString& head, const QString& body)
{
    return QString::fromLatin1(ZRDeviceProperty().pack(body, head));
}

ZRDeviceProperty* parameter(
    QVariant value, int get, int set, int length, T::ZRDeviceCMDType kind, QStringList param = {})
{
    auto* p = new ZRDeviceProperty;
    p->init(value, QString(), QString(), get, set, length, kind, param);
    return p;
}

// Every parameter's value by name, group members included (they hang on the device too).
QMap<QByteArray, QVariant> snapshot(ZRCommonInterface& device)
{
    QMap<QByteArray, QVariant> values;
    for (const QByteArray& name : device.dynamicPropertyNames()) {
        if (ZRDeviceProperty* p = device.property_ptr(name.constData()))
            values.insert(name, p->value());
    }
    return values;
}

// The settings group, then parameters standing in for other groups' registers.
void buildDevice(TestDevice& device)
{
    device.init157(&device);
    adoptParameter(&device, "MOVE_X", parameter(7, 82, 82, 1, T::CMD));
    adoptParameter(&device, "REGISTER_PAIR", parameter(0, 10, 10, 2, T::CMD));
    adoptParameter(&device, "SPLIT_NUMBERS", parameter(0, 91, 92, 1, T::CMD));
    adoptParameter(&device, "FIRST_90", parameter(0, 90, 90, 1, T::CMD));
    adoptParameter(&device, "SECOND_90", parameter(0, 90, 90, 1, T::CMD));
    adoptParameter(&device, "CCMD_82", parameter(7, 182, 182, 1, T::CCMD));
    adoptParameter(&device, "WITH_PARAMS", parameter(15, 70, 70, 1, T::CCMD, { "2", "5" }));
    adoptParameter(&device, "CCMD_27", parameter(7, 27, 27, 1, T::CCMD));
    adoptParameter(&device, "CCMD_125", parameter(7, 125, 125, 1, T::CCMD));
    adoptParameter(&device, "REAL", parameter(1.5, 95, 95, 1, T::CCMD));
    // Read only through a group, like the machine's firmware text: it has no command of its own.
    adoptParameter(&device, "NO_COMMAND", parameter(QString("kept"), 0, 0, 1, T::CCMD));

    auto* info = parameter(QStringList { "FIRMWARE", "DEVICE_ID" }, 63, 22, 1, T::CCMD);
    auto* firmware = parameter(QString("old"), 0, 0, 0, T::UnCMD);
    auto* id = parameter(QString("old"), 0, 0, 0, T::UnCMD);
    hangParameter(info, "FIRMWARE", firmware);
    hangParameter(info, "DEVICE_ID", id);
    adoptParameter(&device, "DEVICE_INFO", info);
    adoptParameter(&device, "FIRMWARE", firmware);
    adoptParameter(&device, "DEVICE_ID", id);
}

} // namespace

class tst_Dispatch : public QObject {
    Q_OBJECT
private slots:
    void replies_data();
    void replies();
    void walkEndsAtForeignProperty();
    void laterParametersJoinTheWalk();
    void taskReportsDropRepeats();
    void factoryDeviceTakesReplies();
    void followsParametersChangedAfterAReply();
    void answeredWhereApplied_data();
    void answeredWhereApplied();
};

void tst_Dispatch::replies_data()
{
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QVariantMap>("changes");
    QTest::addColumn<QStringList>("messages");

    const QString stx(QChar(0x02));
    const QString etx(QChar(0x03));
    const QVariantMap none;
    auto to = [](const char* name, QVariant value) { return QVariantMap { { name, value } }; };
    const QStringList quiet;
    auto cmd = [](const QString& body) { return reply("CMD", body); };
    auto ccmd = [](const QString& body) { return reply("CCMD", body); };

    QTest::newRow("CMD register read") << cmd("GET82:32868;") << to("MOVE_X", 32868) << quiet;
    QTest::newRow("CMD register write echo") << cmd("SET82:100;") << to("MOVE_X", 100) << quiet;
    QTest::newRow("CMD no ';' before ETX") << stx + "12;CMD;GET82:5" + etx << none << quiet;
    QTest::newRow("CMD two items, number of the first")
        << cmd("SET10:1;SET11:2;") << to("REGISTER_PAIR", 1 + (2 << 16)) << quiet;
    QTest::newRow("CMD first item decides") << cmd("SET11:1;SET10:2;") << none << quiet;
    QTest::newRow("CMD matched by set number")
        << cmd("SET92:4;") << to("SPLIT_NUMBERS", 4) << quiet;
    QTest::newRow("CMD matched by get number")
        << cmd("GET91:5;") << to("SPLIT_NUMBERS", 5) << quiet;
    QTest::newRow("first in creation order wins") << cmd("GET90:3;") << to("FIRST_90", 3) << quiet;
    QTest::newRow("CMD unknown register") << cmd("GET4242:3;") << none << quiet;
    QTest::newRow("CMD 27 never applied") << cmd("SET27:2;") << none << quiet;
    QTest::newRow("CMD 125 never applied") << cmd("SET125:1;") << none << quiet;
    QTest::newRow("CMD does not reach CCMD") << cmd("GET1010:9;") << none << quiet;
    QTest::newRow("CCMD does not reach CMD") << ccmd("82,0,9;") << none << quiet;
    QTest::newRow("CCMD kind only") << ccmd("182,0,9;") << to("CCMD_82", 9) << quiet;

    QTest::newRow("CCMD heartbeat") << ccmd("1010,0,5;") << to("HEARTBEAT", 5) << quiet;
    QTest::newRow("CCMD two fields left alone") << ccmd("1010,3;") << none << quiet;
    QTest::newRow("CCMD status 1 dropped") << ccmd("1010,1,5;") << none << quiet;
    QTest::newRow("CCMD status not a number reads 0")
        << ccmd("1010,ok,6;") << to("HEARTBEAT", 6) << quiet;
    QTest::newRow("CCMD empty value list") << ccmd("54,0;") << none << quiet;
    QTest::newRow("CCMD extra values ignored")
        << ccmd("1010,0,4,9;") << to("HEARTBEAT", 4) << quiet;
    QTest::newRow("CCMD real value") << ccmd("95,0,2.25;") << to("REAL", 2.25) << quiet;
    QTest::newRow("CCMD 27 never applied") << ccmd("27,0,1;") << none << quiet;
    QTest::newRow("CCMD 125 never applied") << ccmd("125,0,1;") << none << quiet;

    QTest::newRow("three values for two params")
        << ccmd("70,0,2,5,18;") << to("WITH_PARAMS", 18) << quiet;
    QTest::newRow("status 2 is not a value") << ccmd("70,2,5,18;") << none << quiet;
    QTest::newRow("two values for two params") << ccmd("70,0,2,5;") << none << quiet;
    QTest::newRow("four values for two params") << ccmd("70,0,2,5,18,1;") << none << quiet;
    QTest::newRow("last value 0") << ccmd("70,0,2,5,0;") << none << quiet;
    QTest::newRow("params not echoed") << ccmd("70,0,3,5,18;") << none << quiet;
    QTest::newRow("params echoed") << ccmd("70,0,2,5,19;") << to("WITH_PARAMS", 19) << quiet;

    QTest::newRow("QR code file, three fields")
        << ccmd("55,0,abc.plt;") << none << QStringList { "2:abc.plt" };
    QTest::newRow("QR code file, two fields")
        << ccmd("55,abc.plt;") << none << QStringList { "2:abc.plt" };
    QTest::newRow("QR code 11 alone") << ccmd("11;") << none << QStringList { "2:11" };
    QTest::newRow("QR code 11 with text")
        << ccmd("11,0,x,y.plt;") << none << QStringList { "2:y.plt" };
    QTest::newRow("QR code keeps empty last field")
        << ccmd("55,0,;") << none << QStringList { "2:" };
    QTest::newRow("QR code without ';' keeps the ETX")
        << stx + "20;CCMD;55,0,abc.plt" + etx << none << QStringList { "2:abc.plt" + etx };

    QTest::newRow("group reply") << ccmd("63,0,V2.1,ZR123;")
                                 << QVariantMap { { "FIRMWARE", "V2.1" }, { "DEVICE_ID", "ZR123" } }
                                 << quiet;
    QTest::newRow("group reply by set number")
        << ccmd("22,0,V3,ID9;") << QVariantMap { { "FIRMWARE", "V3" }, { "DEVICE_ID", "ID9" } }
        << quiet;
    QTest::newRow("group reply, one field") << ccmd("22,0,V3;") << none << quiet;
    QTest::newRow("group reply, short")
        << ccmd("63,0,,;") << QVariantMap { { "FIRMWARE", "" }, { "DEVICE_ID", "" } } << quiet;

    QTest::newRow("NUM kind ignored") << reply("NUM", "NUM:5;") << none << quiet;
    QTest::newRow("PLT kind ignored") << reply("PLT", "IN;GET82:5;") << none << quiet;
    QTest::newRow("lower-case kind ignored") << reply("cmd", "GET82:5;") << none << quiet;
    QTest::newRow("kind with blank ignored") << reply("CMD ", "GET82:5;") << none << quiet;

    // Malformed frames: nothing may change beyond what the rules for unparsable text say.
    QTest::newRow("empty") << QString() << none << quiet;
    QTest::newRow("STX ETX") << stx + etx << none << quiet;
    QTest::newRow("two fields") << stx + "9;CMD" + etx << none << quiet;
    QTest::newRow("empty kind") << stx + ";;GET82:5;" + etx << none << quiet;
    QTest::newRow("CMD empty item") << cmd(";") << none << quiet;
    QTest::newRow("CMD item without number") << cmd("GET:5;") << none << quiet;
    QTest::newRow("CMD negative number") << cmd("GET-82:5;") << none << quiet;
    QTest::newRow("CMD huge number") << cmd("GET4294967378:5;") << none << quiet;
    QTest::newRow("CMD item without colon") << cmd("GET82;") << to("MOVE_X", 0) << quiet;
    QTest::newRow("CMD huge value") << cmd("GET82:99999999999;") << to("MOVE_X", 0) << quiet;
    QTest::newRow("CMD leading zeros") << cmd("GET0082:0032;") << to("MOVE_X", 32) << quiet;
    QTest::newRow("CMD nine digits") << cmd("GET82:999999999;") << to("MOVE_X", 999999999) << quiet;
    QTest::newRow("CMD largest int")
        << cmd("GET82:2147483647;") << to("MOVE_X", 2147483647) << quiet;
    QTest::newRow("CMD beyond int") << cmd("GET82:2147483648;") << to("MOVE_X", 0) << quiet;
    QTest::newRow("CMD negative value") << cmd("GET82:-12;") << to("MOVE_X", -12) << quiet;
    QTest::newRow("CMD value with plus") << cmd("GET82:+12;") << to("MOVE_X", 12) << quiet;
    QTest::newRow("CMD value between blanks") << cmd("GET82: 12 ;") << to("MOVE_X", 12) << quiet;
    QTest::newRow("CMD empty value") << cmd("GET82:;") << to("MOVE_X", 0) << quiet;
    QTest::newRow("CMD control bytes") << cmd("GET82:\x01\x7f;") << to("MOVE_X", 0) << quiet;
    QTest::newRow("CMD non-Latin-1 value")
        << cmd(QString::fromUtf8("GET82:五;")) << to("MOVE_X", 0) << quiet;
    QTest::newRow("CMD stray STX inside")
        << stx + "9;CMD;GET82:" + stx + "5;" + etx << to("MOVE_X", 0) << quiet;
    QTest::newRow("CCMD empty body") << ccmd(QString()) << none << quiet;
    QTest::newRow("CCMD only commas") << ccmd(",,,,;") << none << quiet;
    QTest::newRow("CCMD without ';' before ETX")
        << stx + "9;CCMD;1010,0," + etx << to("HEARTBEAT", 0) << quiet;
    QTest::newRow("CCMD number not a number") << ccmd("x1010,0,5;") << none << quiet;
    QTest::newRow("CCMD number 0") << ccmd("0,0,noise;") << none << quiet;
    QTest::newRow("CCMD number garbage") << ccmd("abc,0,noise;") << none << quiet;
    QTest::newRow("CMD number 0") << cmd("GET0:5;") << none << quiet;
    QTest::newRow("CCMD huge number") << ccmd("4294968306,0,5;") << none << quiet;
    QTest::newRow("CCMD huge status") << ccmd("1010,4294967296,5;") << to("HEARTBEAT", 5) << quiet;
    QTest::newRow("CCMD huge value") << ccmd("1010,0,1e999;") << to("HEARTBEAT", 0) << quiet;
    QTest::newRow("CCMD NUL bytes")
        << ccmd(QString::fromLatin1("1010\0,0,5;", 10)) << none << quiet;
    QTest::newRow("long CMD frame")
        << cmd(QString("GET82:1;").repeated(100000)) << to("MOVE_X", 1 + (1 << 16)) << quiet;
    QTest::newRow("long CCMD frame")
        << ccmd("1010,0,3" + QString(",").repeated(100000) + ";") << to("HEARTBEAT", 3) << quiet;
}

void tst_Dispatch::replies()
{
    QFETCH(QString, frame);
    QFETCH(QVariantMap, changes);

    TestDevice device;
    buildDevice(device);
    QStringList messages;
    connect(&device, &T::message, this, [&messages](T::ZRDeviceMessage kind, QString text) {
        messages.append(QString::number(kind) + QLatin1Char(':') + text);
    });
    const QList<QByteArray> names = device.dynamicPropertyNames();
    QMap<QByteArray, QVariant> expected = snapshot(device);
    for (auto it = changes.cbegin(); it != changes.cend(); ++it)
        expected[it.key().toLatin1()] = it.value();

    device.decode_cmd(frame);

    const QMap<QByteArray, QVariant> after = snapshot(device);
    for (const QByteArray& name : names) {
        QCOMPARE(after.value(name), expected.value(name));
        QVERIFY2(after.value(name).userType() == expected.value(name).userType(), name);
    }
    QCOMPARE(device.dynamicPropertyNames(), names);
    QTEST(messages, "messages");
    QVERIFY(device.last_task_frame.isEmpty());
}

void tst_Dispatch::walkEndsAtForeignProperty()
{
    TestDevice device;
    device.init157(&device);
    device.setProperty("NOT_A_PARAMETER", QString("text"));
    adoptParameter(&device, "MOVE_X", parameter(7, 82, 82, 1, T::CMD));

    device.decode_cmd(reply("CMD", "GET82:5;"));
    QCOMPARE(device.property_ptr("MOVE_X")->value(), QVariant(7));
    // Parameters before the foreign property are still reached.
    device.decode_cmd(reply("CCMD", "1010,0,9;"));
    QCOMPARE(device.property_ptr("HEARTBEAT")->value(), QVariant(9));
}

void tst_Dispatch::laterParametersJoinTheWalk()
{
    TestDevice device;
    device.init157(&device);
    device.decode_cmd(reply("CMD", "GET82:5;"));
    adoptParameter(&device, "MOVE_X", parameter(7, 82, 82, 1, T::CMD));
    QCOMPARE(device.property_ptr("MOVE_X")->value(), QVariant(7));
    device.decode_cmd(reply("CMD", "GET82:5;"));
    QCOMPARE(device.property_ptr("MOVE_X")->value(), QVariant(5));
}

void tst_Dispatch::taskReportsDropRepeats()
{
    TestDevice device;
    device.init157(&device);
    QStringList reports;
    connect(&device, &T::message, this, [&reports](T::ZRDeviceMessage kind, QString text) {
        QCOMPARE(kind, T::DevTasK);
        reports.append(text);
    });

    const QString first = reply("CCMD", "66,1,a.plt,3,1,45.9,0,0,0;");
    const QString second = reply("CCMD", "66,1,a.plt,3,2,70,0,0,0;");
    device.decode_cmd(first);
    device.decode_cmd(first);
    QCOMPARE(reports, QStringList { "66,1,a.plt,3,1,45.9,0,0,0" });
    QCOMPARE(device.last_task_frame, first);

    device.decode_cmd(second);
    device.decode_cmd(first);
    QCOMPARE(reports,
        QStringList({ "66,1,a.plt,3,1,45.9,0,0,0", "66,1,a.plt,3,2,70,0,0,0",
            "66,1,a.plt,3,1,45.9,0,0,0" }));
    const QJsonObject record = device.property_ptr("TASK")->value().toJsonObject();
    QCOMPARE(record.value("Finished").toInt(), 1);

    // A short report still counts as the last task frame, so the full one after it is new.
    device.decode_cmd(reply("CCMD", "66;"));
    QCOMPARE(device.last_task_frame, reply("CCMD", "66;"));
    device.decode_cmd(first);
    QCOMPARE(reports.size(), 4);

    // Another command number in between does not reset the filter.
    device.decode_cmd(reply("CCMD", "1010,0,5;"));
    device.decode_cmd(first);
    QCOMPARE(reports.size(), 4);
}

void tst_Dispatch::factoryDeviceTakesReplies()
{
    ZRCommonInterface factory;
    std::unique_ptr<ZRDeviceInterface> built(factory.initInstance());
    auto* device = static_cast<ZRCommonInterface*>(built.get());
    device->decode_cmd(reply("CCMD", "1010,0,7;"));
    device->decode_cmd(reply("CCMD", "54,0,3;"));
    device->decode_cmd(reply("CMD", "SET26:450;"));
    QCOMPARE(device->property_ptr("HEARTBEAT")->value(), QVariant(7));
    QCOMPARE(device->property_ptr("QRCODE_COPIES")->value(), QVariant(3));
    QCOMPARE(device->property_ptr("PU_SPEED")->value(), QVariant(450u));
    QCOMPARE(device->property_ptr("PU_SPEED")->value().userType(), int(QMetaType::UInt));
    // The task control parameters keep their fixed values.
    device->decode_cmd(reply("CMD", "GET125:7;"));
    QCOMPARE(device->property_ptr("TASK_STOP")->value(), QVariant(2));
    QCOMPARE(device->property_ptr("TASK_PAUSE")->value(), QVariant(0));
    QCOMPARE(device->property_ptr("TASK_RESUME")->value(), QVariant(1));
}

// Replies reach whatever hangs on the device when they arrive, also after a first reply was
// dispatched: parameters hung, replaced, removed or given other numbers later.
void tst_Dispatch::followsParametersChangedAfterAReply()
{
    TestDevice device;
    device.init157(&device);
    auto* first = parameter(7, 82, 82, 1, T::CMD);
    adoptParameter(&device, "MOVE_X", first);
    device.decode_cmd(reply("CMD", "GET82:5;"));
    QCOMPARE(first->value(), QVariant(5));

    auto* replacement = parameter(7, 82, 82, 1, T::CMD);
    adoptParameter(&device, "MOVE_X", replacement);
    device.decode_cmd(reply("CMD", "GET82:6;"));
    QCOMPARE(replacement->value(), QVariant(6));
    QCOMPARE(first->value(), QVariant(5));

    // Hung later: last in creation order, first for a number nobody else has.
    auto* later = parameter(0, 82, 90, 1, T::CMD);
    adoptParameter(&device, "LATER", later);
    device.decode_cmd(reply("CMD", "GET82:8;"));
    device.decode_cmd(reply("CMD", "SET90:9;"));
    QCOMPARE(replacement->value(), QVariant(8));
    QCOMPARE(later->value(), QVariant(9));

    // Removed: the next parameter in creation order with the number takes the reply.
    device.setProperty("MOVE_X", QVariant());
    device.decode_cmd(reply("CMD", "GET82:10;"));
    QCOMPARE(replacement->value(), QVariant(8));
    QCOMPARE(later->value(), QVariant(10));

    // Given other numbers, or another kind.
    later->init(0, QString(), QString(), 91, 91, 1, T::CMD, {});
    device.decode_cmd(reply("CMD", "GET82:11;"));
    device.decode_cmd(reply("CMD", "GET91:12;"));
    QCOMPARE(later->value(), QVariant(12));
    later->init(0, QString(), QString(), 91, 91, 1, T::CCMD, {});
    device.decode_cmd(reply("CMD", "GET91:13;"));
    device.decode_cmd(reply("CCMD", "91,0,14;"));
    QCOMPARE(later->value(), QVariant(14));

    // A property that holds no parameter, hung before it, ends the walk.
    device.setProperty("LATER", QVariant());
    device.setProperty("NOT_A_PARAMETER", QString("text"));
    adoptParameter(&device, "LATER", later);
    device.decode_cmd(reply("CCMD", "91,0,15;"));
    QCOMPARE(later->value(), QVariant(14));
    device.decode_cmd(reply("CCMD", "1010,0,4;"));
    QCOMPARE(device.property_ptr("HEARTBEAT")->value(), QVariant(4));
    delete replacement;
}

void tst_Dispatch::answeredWhereApplied_data()
{
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QByteArray>("answered"); // empty: nobody
    const auto cmd = [](const QString& body) { return reply("CMD", body); };
    const auto ccmd = [](const QString& body) { return reply("CCMD", body); };
    QTest::newRow("register") << cmd("GET82:5;") << QByteArray("MOVE_X");
    QTest::newRow("value already held") << cmd("GET82:7;") << QByteArray("MOVE_X");
    QTest::newRow("two registers") << cmd("SET10:1;SET11:2;") << QByteArray("REGISTER_PAIR");
    QTest::newRow("comma command") << ccmd("1010,0,5;") << QByteArray("HEARTBEAT");
    QTest::newRow("params echoed") << ccmd("70,0,2,5,19;") << QByteArray("WITH_PARAMS");
    QTest::newRow("params not echoed") << ccmd("70,0,3,5,18;") << QByteArray();
    QTest::newRow("group") << ccmd("63,0,V2.1,ZR123;") << QByteArray("DEVICE_INFO");
    QTest::newRow("task control") << cmd("SET125:1;") << QByteArray();
    QTest::newRow("no such register") << cmd("GET4242:3;") << QByteArray();
    QTest::newRow("status not 0") << ccmd("1010,1,5;") << QByteArray();
    QTest::newRow("QR code") << ccmd("55,0,abc.plt;") << QByteArray();
}

// A parameter says a reply was applied to it, once, and only then; its value is in by then.
void tst_Dispatch::answeredWhereApplied()
{
    QFETCH(QString, frame);
    QFETCH(QByteArray, answered);
    TestDevice device;
    buildDevice(device);
    QList<QByteArray> heard;
    for (const QByteArray& name : device.dynamicPropertyNames()) {
        ZRDeviceProperty* p = device.property_ptr(name.constData());
        connect(p, &ZRDeviceProperty::answered, this, [&heard, name, p, &device] {
            QCOMPARE(device.property_ptr(name.constData()), p);
            heard.append(name);
        });
    }
    const QMap<QByteArray, QVariant> before = snapshot(device);
    device.decode_cmd(frame);
    QCOMPARE(heard, answered.isEmpty() ? QList<QByteArray>() : QList<QByteArray> { answered });
    if (!answered.isEmpty() && answered != "DEVICE_INFO" && frame.contains("GET82:5"))
        QVERIFY(snapshot(device) != before);
}

QTEST_GUILESS_MAIN(tst_Dispatch)
#include "tst_dispatch.moc"
