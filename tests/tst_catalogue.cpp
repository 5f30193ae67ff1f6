// The group builders: every row of both board profiles, the groups' members and editor order,
// command payloads the rows build, and rebuilding groups on one device.

#include "hanging.h"
#include "zrcommoninterface.h"
#include "zrdeviceproperty.h"

#include <QJsonObject>
#include <QtTest>

#include <cstring>
#include <memory>

using Kind = ZRDeviceInterface::ZRDeviceCMDType;
Q_DECLARE_METATYPE(Kind)

namespace {

// A device carrying every group of one board profile. The 157 profile adds the feeder too.
std::unique_ptr<ZRCommonInterface> buildProfile(int profile)
{
    auto device = std::make_unique<ZRCommonInterface>();
    ZRCommonInterface* d = device.get();
    if (profile == 157) {
        for (auto builder : { &ZRCommonInterface::init157, &ZRCommonInterface::camera_offset_157,
                 &ZRCommonInterface::tool_space_157, &ZRCommonInterface::info_157,
                 &ZRCommonInterface::move_157, &ZRCommonInterface::scale_157,
                 &ZRCommonInterface::work_area_157, &ZRCommonInterface::sp1_157,
                 &ZRCommonInterface::sp2_157, &ZRCommonInterface::feed_157 })
            (d->*builder)(d);
    } else {
        for (auto builder : { &ZRCommonInterface::init437, &ZRCommonInterface::info_437,
                 &ZRCommonInterface::camera_offset_437, &ZRCommonInterface::scale_437,
                 &ZRCommonInterface::work_area_437 })
            (d->*builder)(d);
    }
    return device;
}

QList<QByteArray> names(std::initializer_list<const char*> list)
{
    QList<QByteArray> result;
    for (const char* name : list)
        result.append(name);
    return result;
}

} // namespace

class tst_Catalogue : public QObject {
    Q_OBJECT
private slots:
    void rows_data();
    void rows();
    void groups_data();
    void groups();
    void profile437Order();
    void feedOrder();
    void pressureFactorIsNineteenSixths();
    void commands_data();
    void commands();
    void deviceInfoReply();
    void rebuildingKeepsGroupsOnLiveMembers();
    void buildersFillTheGivenDevice();
    void buildersIgnoreANullDevice();
};

void tst_Catalogue::rows_data()
{
    QTest::addColumn<int>("profile");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<int>("get");
    QTest::addColumn<int>("set");
    QTest::addColumn<int>("length");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QJsonObject>("widget");

    auto row
        = [](int profile, const char* name, const char* label, const char* unit, QVariant value,
              int get, int set, int length, Kind kind, QJsonObject widget = {}) {
              QTest::addRow("%d %s", profile, name)
                  << profile << QByteArray(name) << QString::fromUtf8(label)
                  << QString::fromUtf8(unit) << value << get << set << length << kind << widget;
          };
    const QJsonObject lineEdit { { "widget", "QLineEdit" } };
    const QJsonObject label { { "widget", "QLabel" } };
    const QJsonObject groupBox { { "widget", "QGroupBox" } };
    const QJsonObject tab { { "widget", "QTabWidget" } };
    const QJsonObject offset157 { { "widget", "QDoubleSpinBox" }, { "factor", 0.005 },
        { "min", -1000.0 }, { "max", 1000.0 } };
    const QJsonObject speed { { "widget", "QSpinBox" }, { "max", 700 }, { "min", 10 } };
    const QJsonObject pressure { { "widget", "QSpinBox" }, { "max", 1900 }, { "min", 0 },
        { "factor", 3.1666666666666665 } };
    const QJsonObject angle { { "widget", "QSpinBox" }, { "max", 360 }, { "min", -360 } };
    const QJsonObject workModes { { "widget", "QComboBox" },
        { "option", QString::fromUtf8("   速度优先;   平衡;   精度优先") } };
    const QStringList infoFields { "DEVICE_MODEL", "DEVICE_ID", "PCB_ID", "PCB_VERSION", "FIRMWARE",
        "DEVICE_CONFIG_NO" };

    // clang-format off
    // Geometry, 157.
    row(157, "CAMERA_OFFSET_X", "x", "", 0u, 11, 11, 3, Kind::CMD, offset157);
    row(157, "CAMERA_OFFSET_Y", "y", "", 0u, 14, 14, 3, Kind::CMD, offset157);
    row(157, "CAMERA_OFFSET", "摄像头偏移", "(mm x mm)", QVariant(), 0, 0, 0, Kind::UnCMD, groupBox);
    row(157, "FACTORY_SET", "出厂设置", "", 0, 0, 67, 1, Kind::CCMD);
    row(157, "SCALE_X", "x", "", 0u, 24, 24, 1, Kind::CMD, { { "widget", "QLineEdit" }, { "factor", 0.0001 } });
    row(157, "SCALE_Y", "y", "", 0u, 25, 25, 1, Kind::CMD, { { "widget", "QLineEdit" }, { "factor", 0.0001 } });
    row(157, "SCALE", "缩放", "", QVariant(), 0, 0, 0, Kind::UnCMD, groupBox);
    row(157, "WORKAREA_X", "x", "", 0u, 28, 28, 1, Kind::CMD, { { "widget", "QLineEdit" }, { "factor", 0.5 } });
    row(157, "WORKAREA_Y", "y", "", 0u, 29, 29, 1, Kind::CMD, { { "widget", "QLineEdit" }, { "factor", 0.5 } });
    row(157, "WORKAREA", "幅宽", "(mm x mm)", QVariant(), 0, 0, 0, Kind::UnCMD, groupBox);
    // Tool stations.
    row(157, "TOOL_SPACE_X", "x", "", 0u, 5, 5, 3, Kind::CMD, offset157);
    row(157, "TOOL_SPACE_Y", "y", "", 0u, 8, 8, 3, Kind::CMD, offset157);
    row(157, "TOOL_SPACE", "工具偏移", "(mm x mm)", QVariant(), 0, 0, 0, Kind::UnCMD, groupBox);
    row(157, "SP1_TOOL", "工具类型", "", 0u, 128, 128, 1, Kind::CMD,
        { { "widget", "QComboBox" }, { "option", QString::fromUtf8("  拖刀;  转刀") } });
    row(157, "SP1_SPEED", "速度", "(mm/s)", 0u, 1, 1, 1, Kind::CMD, speed);
    row(157, "SP1_PRESSURE", "压力", "(gf)", 0u, 2, 2, 1, Kind::CMD, pressure);
    row(157, "SP1_ANGLE", "转刀校准", "(°)", 0u, 131, 131, 1, Kind::CMD, angle);
    row(157, "SP1", "SP1", "", QVariant(), 0, 0, 0, Kind::UnCMD, tab);
    row(157, "SP2_SPEED", "速度", "(mm/s)", 0u, 3, 3, 1, Kind::CMD, speed);
    row(157, "SP2_PRESSURE", "压力", "(gf)", 0u, 4, 4, 1, Kind::CMD, pressure);
    row(157, "SP2_TOOL", "工具类型", "", 0u, 129, 129, 1, Kind::CMD,
        { { "widget", "QComboBox" }, { "option", QString::fromUtf8("拖刀;转刀") } });
    row(157, "SP2_ANGLE", "转刀校准", "(°)", 0u, 132, 132, 1, Kind::CMD, angle);
    row(157, "SP2", "SP2", "", QVariant(), 0, 0, 0, Kind::UnCMD, tab);
    // Information.
    row(157, "FIRMWARE", "固件版本", "", QString(), 0, 0, 1, Kind::CCMD, lineEdit);
    row(157, "DEVICE_ID", "机器编号", "", QString(), 0, 44, 1, Kind::CCMD, lineEdit);
    row(157, "PCB_ID", "PCB编号", "", QString(), 0, 46, 1, Kind::CCMD, lineEdit);
    row(157, "PCB_VERSION", "PCB版本", "", QString(), 0, 48, 1, Kind::CCMD, lineEdit);
    row(157, "DEVICE_CONFIG_NO", "配置号", "", QString(), 0, 0, 0, Kind::UnCMD, label);
    row(157, "DEVICE_UNIQUE_ID", "Unique ID", "", QString(), 57, 0, 1, Kind::CCMD, label);
    row(157, "DEVICE_MODEL", "型号", "", QString("ZR-MB2620V"), 0, 0, 0, Kind::UnCMD, label);
    row(157, "DEVICE_INFO", "机器信息", "", infoFields, 2, 0, 1, Kind::CCMD);
    // Jogging.
    row(157, "MOVE_X", "X 移动", "", 0, 82, 82, 1, Kind::CMD);
    row(157, "MOVE_Y", "Y 移动", "", 0, 83, 83, 1, Kind::CMD);
    // Feeder.
    row(157, "AUTO_FEED", "自动送料", "", 0u, 134, 134, 1, Kind::CMD,
        { { "widget", "QComboBox" }, { "option", QString::fromUtf8("   关;   开") } });
    row(157, "FEED_MODEL", "送料模式", "", 0u, 133, 133, 1, Kind::CMD,
        { { "widget", "QComboBox" }, { "option", QString::fromUtf8("   同步送料;   异步送料") } });
    row(157, "FEED_LENGTH", "送料距离", "mm", 0u, 135, 135, 1, Kind::CMD, { { "widget", "QSpinBox" } });
    row(157, "FEED_CENTER", "横梁中心距离", "mm", 0u, 136, 136, 1, Kind::CMD, { { "widget", "QSpinBox" } });
    row(157, "FAN_DELAY", "气泵延时", "ms", 0u, 137, 137, 1, Kind::CMD,
        { { "widget", "QSpinBox" }, { "max", 10000.0 }, { "min", 0 } });
    row(157, "FEED_SPEED", "送料速度", "mm/s", 0u, 138, 138, 1, Kind::CMD, { { "widget", "QSpinBox" } });
    row(157, "FEED", "送料", "", QVariant(), 0, 0, 0, Kind::UnCMD, tab);

    // Second board profile: rows of its own and rows renumbered from the 157 settings.
    row(437, "STATUS", "状态", "", 0, 0, 0, 0, Kind::UnCMD);
    row(437, "DEVICE_STATUS", "电机状态", "", QString(), 4, 0, 1, Kind::CCMD);
    row(437, "GET_QRCODE", "获取二维码", "", QVariant(), 11, 0, 1, Kind::CCMD);
    row(437, "QRCODE_FILE", "二维码文件", "", QString(), 55, 55, 1, Kind::CCMD);
    row(437, "TASK_COPIES", "份数", "份", 1, 30, 30, 1, Kind::CCMD);
    row(437, "TASK_PPLT", "pplt", "", QString(), 0, 1, 1, Kind::PPLT);
    row(437, "TASK_STOP", "停止", "", 2, 27, 27, 1, Kind::CCMD);
    row(437, "TASK_PAUSE", "暂停", "", 0, 27, 27, 1, Kind::CCMD);
    row(437, "TASK_RESUME", "继续", "", 1, 27, 27, 1, Kind::CCMD);
    row(437, "TASK_MODE", "任务模式", "", 0, 32, 32, 1, Kind::CCMD);
    row(437, "WORK_MODE", "切割质量", "", 0u, 64, 23, 1, Kind::CCMD, workModes);
    row(437, "DEVICE_CLOUD", "数据上传", "", QJsonObject(), 0, 0, 0, Kind::UnCMD);
    row(437, "FIRMWARE", "固件版本", "", QString(), 51, 0, 1, Kind::CCMD, lineEdit);
    row(437, "DEVICE_ID", "机器编号", "", QString(), 45, 44, 1, Kind::CCMD, lineEdit);
    row(437, "PCB_ID", "PCB编号", "", QString(), 47, 46, 1, Kind::CCMD, lineEdit);
    row(437, "PCB_VERSION", "PCB版本", "", QString(), 49, 48, 1, Kind::CCMD, lineEdit);
    const QJsonObject offset437 { { "widget", "QDoubleSpinBox" }, { "min", -1000.0 }, { "max", 1000.0 } };
    const QJsonObject scale437 { { "widget", "QDoubleSpinBox" }, { "min", 0 }, { "max", 200 } };
    const QJsonObject size437 { { "widget", "QDoubleSpinBox" }, { "min", 10 }, { "max", 10000 } };
    row(437, "CAMERA_OFFSET_X", "x", "", 0.0, 0, 0, 0, Kind::UnCMD, offset437);
    row(437, "CAMERA_OFFSET_Y", "y", "", 0.0, 0, 0, 0, Kind::UnCMD, offset437);
    row(437, "CAMERA_OFFSET", "摄像头偏移", "(mm x mm)", QStringList { "CAMERA_OFFSET_X", "CAMERA_OFFSET_Y" },
        16, 15, 1, Kind::CCMD, groupBox);
    row(437, "SCALE_X", "x", "", 1.0, 61, 20, 1, Kind::CCMD, scale437);
    row(437, "SCALE_Y", "y", "", 1.0, 62, 21, 1, Kind::CCMD, scale437);
    row(437, "SCALE", "缩放", "", QVariant(), 0, 0, 0, Kind::UnCMD, groupBox);
    row(437, "WORKAREA_X", "x", "", 0.0, 0, 0, 0, Kind::UnCMD, size437);
    row(437, "WORKAREA_Y", "y", "", 0.0, 0, 0, 0, Kind::UnCMD, size437);
    row(437, "WORKAREA", "幅宽", "(mm x mm)", QStringList { "WORKAREA_X", "WORKAREA_Y" }, 63, 22, 1,
        Kind::CCMD, groupBox);
    // clang-format on
}

void tst_Catalogue::rows()
{
    QFETCH(int, profile);
    QFETCH(QByteArray, name);
    QFETCH(QVariant, value);
    QFETCH(QJsonObject, widget);

    const auto device = buildProfile(profile);
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
    if (widget.isEmpty())
        QVERIFY(!p->property("WIDGET").isValid());
    else
        QCOMPARE(p->property("WIDGET").toJsonObject(), widget);
}

void tst_Catalogue::groups_data()
{
    QTest::addColumn<int>("profile");
    QTest::addColumn<QByteArray>("group");
    QTest::addColumn<QList<QByteArray>>("properties");

    // clang-format off
    QTest::newRow("WORKAREA") << 157 << QByteArray("WORKAREA") << names({ "WIDGET", "WORKAREA_X", "WORKAREA_Y" });
    QTest::newRow("SCALE") << 157 << QByteArray("SCALE") << names({ "WIDGET", "SCALE_X", "SCALE_Y" });
    QTest::newRow("CAMERA_OFFSET")
        << 157 << QByteArray("CAMERA_OFFSET") << names({ "CAMERA_OFFSET_X", "CAMERA_OFFSET_Y", "WIDGET" });
    QTest::newRow("TOOL_SPACE")
        << 157 << QByteArray("TOOL_SPACE") << names({ "TOOL_SPACE_X", "TOOL_SPACE_Y", "WIDGET" });
    QTest::newRow("SP1") << 157 << QByteArray("SP1")
                         << names({ "SP1_TOOL", "SP1_SPEED", "SP1_PRESSURE", "SP1_ANGLE", "WIDGET" });
    QTest::newRow("SP2 lists its tool first")
        << 157 << QByteArray("SP2") << names({ "SP2_TOOL", "SP2_SPEED", "SP2_PRESSURE", "SP2_ANGLE", "WIDGET" });
    QTest::newRow("FEED speed before delay")
        << 157 << QByteArray("FEED")
        << names({ "AUTO_FEED", "FEED_MODEL", "FEED_LENGTH", "FEED_CENTER", "FEED_SPEED", "FAN_DELAY", "WIDGET" });
    QTest::newRow("DEVICE_INFO in reply order")
        << 157 << QByteArray("DEVICE_INFO")
        << names({ "DEVICE_MODEL", "DEVICE_ID", "PCB_ID", "PCB_VERSION", "FIRMWARE", "DEVICE_CONFIG_NO" });
    QTest::newRow("437 WORKAREA") << 437 << QByteArray("WORKAREA") << names({ "WIDGET", "WORKAREA_X", "WORKAREA_Y" });
    QTest::newRow("437 CAMERA_OFFSET")
        << 437 << QByteArray("CAMERA_OFFSET") << names({ "CAMERA_OFFSET_X", "CAMERA_OFFSET_Y", "WIDGET" });
    // clang-format on
}

// A group holds the device's own member objects, by the member's name, and never a copy.
void tst_Catalogue::groups()
{
    QFETCH(int, profile);
    QFETCH(QByteArray, group);
    QFETCH(QList<QByteArray>, properties);

    const auto device = buildProfile(profile);
    ZRDeviceProperty* g = device->property_ptr(group.constData());
    QVERIFY(g);
    QCOMPARE(g->dynamicPropertyNames(), properties);
    for (const QByteArray& member : properties) {
        if (member == "WIDGET") {
            QCOMPARE(g->property_ptr("WIDGET"), nullptr);
            continue;
        }
        QVERIFY2(device->property_ptr(member.constData()), member);
        QCOMPARE(g->property_ptr(member.constData()), device->property_ptr(member.constData()));
        QCOMPARE(g->property(member.constData()).userType(), int(QMetaType::VoidStar));
    }
}

void tst_Catalogue::profile437Order()
{
    ZRCommonInterface device;
    device.init437(&device);
    device.info_437(&device);
    QCOMPARE(device.dynamicPropertyNames(),
        names({ "STATUS", "DEVICE_STATUS", "TCP_PORT", "FILE_PREVIEW", "TASK_FILE_INFO",
            "GET_QRCODE", "QRCODE_FILE", "TASK_COPIES", "TASK_PPLT", "TASK_STOP", "TASK_PAUSE",
            "TASK_RESUME", "TASK_MODE", "LAST_TIME", "CONNECT_MODE", "DEVICE_CLOUD", "WORK_MODE",
            "FIRMWARE", "DEVICE_ID", "PCB_ID", "PCB_VERSION" }));
    for (const char* absent : { "QRCODE_COPIES", "TASK_PLT", "QR_PLT", "FLAG_POINT",
             "BACK_FLAG_POINT", "HEARTBEAT", "PU_SPEED", "DEVICE_INFO" })
        QVERIFY2(!device.property_ptr(absent), absent);
    QVERIFY(device.property_ptr("LAST_TIME")->value().toDateTime().isValid());

    // The file goes to the second form's parameter.
    device.setPlt("IN;");
    QCOMPARE(device.property_ptr("TASK_PPLT")->value(), QVariant("IN;"));
}

void tst_Catalogue::feedOrder()
{
    ZRCommonInterface device;
    device.init157(&device);
    const int before = device.dynamicPropertyNames().size();
    device.feed_157(&device);
    QCOMPARE(device.dynamicPropertyNames().mid(before),
        names({ "AUTO_FEED", "FEED_MODEL", "FEED_LENGTH", "FEED_CENTER", "FAN_DELAY", "FEED_SPEED",
            "FEED" }));
}

void tst_Catalogue::pressureFactorIsNineteenSixths()
{
    const auto device = buildProfile(157);
    for (const char* name : { "SP1_PRESSURE", "SP2_PRESSURE" }) {
        const double factor = device->property_ptr(name)
                                  ->property("WIDGET")
                                  .toJsonObject()
                                  .value("factor")
                                  .toDouble();
        quint64 bits = 0;
        std::memcpy(&bits, &factor, sizeof bits);
        QCOMPARE(bits, Q_UINT64_C(0x4009555555555555));
        QCOMPARE(int(600 * factor), 1900);
    }
}

void tst_Catalogue::commands_data()
{
    QTest::addColumn<int>("profile");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QVariantMap>("values"); // values set before the commands are built
    QTest::addColumn<QByteArray>("read");
    QTest::addColumn<QByteArray>("write");

    auto frame = [](const char* head, const char* payload) {
        ZRDeviceProperty builder;
        return builder.pack(QString::fromLatin1(payload), QString::fromLatin1(head));
    };
    // clang-format off
    QTest::newRow("FACTORY_SET writes only") << 157 << QByteArray("FACTORY_SET") << QVariantMap()
                                             << QByteArray() << frame("CCMD", "67,0;");
    QTest::newRow("CAMERA_OFFSET_X -2500 over three registers")
        << 157 << QByteArray("CAMERA_OFFSET_X") << QVariantMap { { "CAMERA_OFFSET_X", -2500 } }
        << frame("CMD", "GET11;12;13;") << frame("CMD", "SET11:63036;12:65535;13:0;");
    QTest::newRow("CAMERA_OFFSET_Y") << 157 << QByteArray("CAMERA_OFFSET_Y") << QVariantMap()
                                     << frame("CMD", "GET14;15;16;") << frame("CMD", "SET14:0;15:0;16:0;");
    QTest::newRow("SCALE_X") << 157 << QByteArray("SCALE_X") << QVariantMap { { "SCALE_X", 10000u } }
                             << frame("CMD", "GET24;") << frame("CMD", "SET24:10000;");
    QTest::newRow("WORKAREA_Y") << 157 << QByteArray("WORKAREA_Y") << QVariantMap { { "WORKAREA_Y", 3200u } }
                                << frame("CMD", "GET29;") << frame("CMD", "SET29:3200;");
    QTest::newRow("TOOL_SPACE_Y") << 157 << QByteArray("TOOL_SPACE_Y") << QVariantMap { { "TOOL_SPACE_Y", 200000u } }
                                  << frame("CMD", "GET8;9;10;") << frame("CMD", "SET8:3392;9:3;10:0;");
    QTest::newRow("SP2_TOOL") << 157 << QByteArray("SP2_TOOL") << QVariantMap { { "SP2_TOOL", 1 } }
                              << frame("CMD", "GET129;") << frame("CMD", "SET129:1;");
    QTest::newRow("DEVICE_ID") << 157 << QByteArray("DEVICE_ID") << QVariantMap { { "DEVICE_ID", "A7" } }
                               << QByteArray() << frame("CCMD", "44,A7;");
    QTest::newRow("DEVICE_INFO reads only") << 157 << QByteArray("DEVICE_INFO") << QVariantMap()
                                            << frame("CCMD", "2;") << QByteArray();
    for (const char* group : { "SP1", "SP2", "TOOL_SPACE", "WORKAREA", "SCALE", "CAMERA_OFFSET", "FEED" })
        QTest::addRow("157 %s sends nothing", group) << 157 << QByteArray(group) << QVariantMap() << QByteArray()
                                                     << QByteArray();
    QTest::newRow("437 WORKAREA")
        << 437 << QByteArray("WORKAREA") << QVariantMap { { "WORKAREA_X", 1200.5 }, { "WORKAREA_Y", 900.0 } }
        << frame("CCMD", "63;") << frame("CCMD", "22,1200.5,900;");
    QTest::newRow("437 CAMERA_OFFSET")
        << 437 << QByteArray("CAMERA_OFFSET")
        << QVariantMap { { "CAMERA_OFFSET_X", -12.5 }, { "CAMERA_OFFSET_Y", 3.0 } } << frame("CCMD", "16;")
        << frame("CCMD", "15,-12.5,3;");
    QTest::newRow("437 SCALE_Y") << 437 << QByteArray("SCALE_Y") << QVariantMap { { "SCALE_Y", 1.002 } }
                                 << frame("CCMD", "62;") << frame("CCMD", "21,1.002;");
    QTest::newRow("437 TASK_STOP") << 437 << QByteArray("TASK_STOP") << QVariantMap() << frame("CCMD", "27;")
                                   << frame("CCMD", "27,2;");
    QTest::newRow("437 WORK_MODE") << 437 << QByteArray("WORK_MODE") << QVariantMap { { "WORK_MODE", 2 } }
                                   << frame("CCMD", "64;") << frame("CCMD", "23,2;");
    // clang-format on
}

void tst_Catalogue::commands()
{
    QFETCH(int, profile);
    QFETCH(QByteArray, name);
    QFETCH(QVariantMap, values);

    const auto device = buildProfile(profile);
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        device->property_ptr(it.key().toLatin1().constData())->setValue(it.value());
    ZRDeviceProperty* p = device->property_ptr(name.constData());
    QVERIFY(p);
    QTEST(p->get_cmd_bytes(), "read");
    QTEST(p->set_cmd_bytes(), "write");
}

void tst_Catalogue::deviceInfoReply()
{
    const auto device = buildProfile(157);
    ZRDeviceProperty* info = device->property_ptr("DEVICE_INFO");
    const QVariant fields = info->value();
    info->set_decode(QStringList { "ZR-TX4150V", "M-0042", "PCB-7", "V2.1", "FW 3.05", "C9" });
    QCOMPARE(device->property_ptr("DEVICE_MODEL")->value(), QVariant("ZR-TX4150V"));
    QCOMPARE(device->property_ptr("DEVICE_ID")->value(), QVariant("M-0042"));
    QCOMPARE(device->property_ptr("PCB_ID")->value(), QVariant("PCB-7"));
    QCOMPARE(device->property_ptr("PCB_VERSION")->value(), QVariant("V2.1"));
    QCOMPARE(device->property_ptr("FIRMWARE")->value(), QVariant("FW 3.05"));
    QCOMPARE(device->property_ptr("DEVICE_CONFIG_NO")->value(), QVariant("C9"));
    QCOMPARE(info->value(), fields);

    // A shorter reply fills the leading members and leaves the others.
    info->set_decode(QStringList { "ZR-X", "M-1" });
    QCOMPARE(device->property_ptr("DEVICE_ID")->value(), QVariant("M-1"));
    QCOMPARE(device->property_ptr("PCB_ID")->value(), QVariant("PCB-7"));
}

// Building a group again, or another board's variant of it, replaces parameters under their
// names; no group is left holding a replaced (deleted) member.
void tst_Catalogue::rebuildingKeepsGroupsOnLiveMembers()
{
    const auto device = buildProfile(157);
    const int count = device->dynamicPropertyNames().size();
    device->info_437(device.get());
    device->camera_offset_437(device.get());
    device->sp1_157(device.get());
    QCOMPARE(device->dynamicPropertyNames().size(), count);

    ZRDeviceProperty* info = device->property_ptr("DEVICE_INFO");
    for (const char* member : { "FIRMWARE", "DEVICE_ID", "PCB_ID", "PCB_VERSION" })
        QCOMPARE(info->property_ptr(member), device->property_ptr(member));
    QCOMPARE(device->property_ptr("FIRMWARE")->get_cmd_int(), 51);
    info->set_decode(QStringList { "M", "ID", "PCB", "V", "FW", "C" });
    QCOMPARE(device->property_ptr("FIRMWARE")->value(), QVariant("FW"));

    ZRDeviceProperty* offset = device->property_ptr("CAMERA_OFFSET");
    QCOMPARE(offset->cmd_type(), Kind::CCMD);
    QCOMPARE(offset->property_ptr("CAMERA_OFFSET_X"), device->property_ptr("CAMERA_OFFSET_X"));
    QCOMPARE(
        device->property_ptr("SP1")->property_ptr("SP1_ANGLE"), device->property_ptr("SP1_ANGLE"));
}

void tst_Catalogue::buildersFillTheGivenDevice()
{
    ZRCommonInterface factory;
    ZRCommonInterface device;
    factory.sp1_157(&device);
    factory.feed_157(&device);
    QVERIFY(factory.dynamicPropertyNames().isEmpty());
    QCOMPARE(device.dynamicPropertyNames().size(), 12);
}

void tst_Catalogue::buildersIgnoreANullDevice()
{
    using Builder = void (ZRCommonInterface::*)(ZRDeviceInterface*);
    ZRCommonInterface factory;
    for (Builder builder : { &ZRCommonInterface::init157, &ZRCommonInterface::info_157,
             &ZRCommonInterface::camera_offset_157, &ZRCommonInterface::tool_space_157,
             &ZRCommonInterface::move_157, &ZRCommonInterface::scale_157,
             &ZRCommonInterface::work_area_157, &ZRCommonInterface::sp1_157,
             &ZRCommonInterface::sp2_157, &ZRCommonInterface::feed_157, &ZRCommonInterface::init437,
             &ZRCommonInterface::info_437, &ZRCommonInterface::camera_offset_437,
             &ZRCommonInterface::scale_437, &ZRCommonInterface::work_area_437 })
        (factory.*builder)(nullptr);
    QVERIFY(factory.dynamicPropertyNames().isEmpty());
}

QTEST_GUILESS_MAIN(tst_Catalogue)
#include "tst_catalogue.moc"
