// The parameter record: construction, init, the setValue rule, copies and member lookup.

#include "hanging.h"
#include "zrdeviceproperty.h"

#include <QtTest>

class tst_Property : public QObject {
    Q_OBJECT
private slots:
    void freshProperty();
    void init();
    void setValueRule_data();
    void setValueRule();
    void valueIsAQtProperty();
    void copy();
    void memberLookup();
    void retStatus();
};

void tst_Property::freshProperty()
{
    ZRDeviceProperty p;
    QVERIFY(!p.value().isValid());
    QCOMPARE(p.cmd_type(), ZRDeviceInterface::UnCMD);
    QCOMPARE(p.cmd_len(), 0);
    QCOMPARE(p.get_cmd_int(), 0);
    QCOMPARE(p.set_cmd_int(), 0);
    QVERIFY(p.label().isEmpty());
    QVERIFY(p.uint().isEmpty());
    QVERIFY(p.param().isEmpty());
    QVERIFY(!p.parent());
    QCOMPARE(p.metaObject()->className(), "ZRDeviceProperty");
}

void tst_Property::init()
{
    ZRDeviceProperty p;
    QSignalSpy changed(&p, &ZRDeviceProperty::valueChanged);
    QVERIFY(p.init(5u, "x", "", 28, 28, 1, ZRDeviceInterface::CMD, { "a", "b" }));
    QCOMPARE(p.value().userType(), int(QMetaType::UInt));
    QCOMPARE(p.value().toUInt(), 5u);
    QCOMPARE(p.get_cmd_int(), 28);
    QCOMPARE(p.set_cmd_int(), 28);
    QCOMPARE(p.cmd_len(), 1);
    QCOMPARE(p.cmd_type(), ZRDeviceInterface::CMD);
    QCOMPARE(p.label(), QStringLiteral("x"));
    QCOMPARE(p.param(), QStringList({ "a", "b" }));
    QCOMPARE(changed.count(), 0);
}

void tst_Property::setValueRule_data()
{
    QTest::addColumn<QVariantList>("writes");
    QTest::addColumn<int>("signals");
    QTest::addColumn<QVariant>("final");

    QTest::newRow("same value") << QVariantList { 5 } << 0 << QVariant(5);
    QTest::newRow("one change") << QVariantList { 7 } << 1 << QVariant(7);
    QTest::newRow("change back is silent") << QVariantList { 7, 5 } << 1 << QVariant(5);
    QTest::newRow("two changes") << QVariantList { 7, 9 } << 2 << QVariant(9);
    QTest::newRow("change, back, change") << QVariantList { 7, 5, 7 } << 2 << QVariant(7);
    QTest::newRow("repeat") << QVariantList { 7, 7, 7 } << 1 << QVariant(7);
    QTest::newRow("text equal to the number is stored")
        << QVariantList { QString("5") } << 0 << QVariant("5");
    QTest::newRow("text equal to the previous")
        << QVariantList { 7, QString("5") } << 1 << QVariant("5");
}

void tst_Property::setValueRule()
{
    QFETCH(QVariantList, writes);
    ZRDeviceProperty p;
    p.init(5, "x", "", 0, 0, 0, ZRDeviceInterface::UnCMD, {});
    QSignalSpy changed(&p, &ZRDeviceProperty::valueChanged);
    for (const QVariant& v : writes)
        p.setValue(v);
    QTEST(changed.count(), "signals");
    QFETCH(QVariant, final);
    QCOMPARE(p.value(), final);
    QCOMPARE(p.value().userType(), final.userType());
}

void tst_Property::valueIsAQtProperty()
{
    ZRDeviceProperty p;
    p.init(5, "x", "", 0, 0, 0, ZRDeviceInterface::UnCMD, {});
    QSignalSpy changed(&p, &ZRDeviceProperty::valueChanged);
    QVERIFY(p.setProperty("value", 7));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(p.property("value"), QVariant(7));
    const QMetaProperty meta = p.metaObject()->property(p.metaObject()->indexOfProperty("value"));
    QVERIFY(meta.hasNotifySignal());
    QCOMPARE(meta.notifySignal().name(), QByteArray("valueChanged"));
}

void tst_Property::copy()
{
    ZRDeviceProperty member;
    ZRDeviceProperty original;
    original.init(3.5, "label", "mm", 11, 12, 3, ZRDeviceInterface::CMD, { "2" });
    original.setValue(4.5);
    original.setProperty("WIDGET", QJsonObject { { "widget", "QLabel" } });
    hangParameter(&original, "MEMBER", &member);

    ZRDeviceProperty copy(original);
    QCOMPARE(copy.value(), QVariant(4.5));
    QCOMPARE(copy.label(), QStringLiteral("label"));
    QCOMPARE(copy.uint(), QStringLiteral("mm"));
    QCOMPARE(copy.get_cmd_int(), 11);
    QCOMPARE(copy.set_cmd_int(), 12);
    QCOMPARE(copy.cmd_len(), 3);
    QCOMPARE(copy.cmd_type(), ZRDeviceInterface::CMD);
    QVERIFY(copy.param().isEmpty());
    QVERIFY(copy.dynamicPropertyNames().isEmpty());
    QVERIFY(!copy.parent());

    // The previous value came along: going back to 3.5 stays silent.
    QSignalSpy changed(&copy, &ZRDeviceProperty::valueChanged);
    copy.setValue(3.5);
    QCOMPARE(changed.count(), 0);
}

void tst_Property::memberLookup()
{
    ZRDeviceProperty group;
    ZRDeviceProperty x;
    hangParameter(&group, "WORKAREA_X", &x);
    group.setProperty("WIDGET", QJsonObject { { "widget", "QGroupBox" } });
    group.setProperty("TEXT", QString("not a parameter"));
    QCOMPARE(group.property_ptr("WORKAREA_X"), &x);
    QCOMPARE(group.property_ptr("WIDGET"), nullptr);
    QCOMPARE(group.property_ptr("TEXT"), nullptr);
    QCOMPARE(group.property_ptr("MISSING"), nullptr);
    QCOMPARE(group.dynamicPropertyNames(), QList<QByteArray>({ "WORKAREA_X", "WIDGET", "TEXT" }));
}

void tst_Property::retStatus()
{
    ZRDeviceProperty p;
    p.init(0, "x", "", 0, 67, 1, ZRDeviceInterface::CCMD, {});
    QSignalSpy status(&p, &ZRDeviceProperty::retStatus);
    QSignalSpy changed(&p, &ZRDeviceProperty::valueChanged);
    p.ret_Status(3);
    QCOMPARE(status.count(), 1);
    QCOMPARE(status.first().first().toInt(), 3);
    QCOMPARE(p.value(), QVariant(0));
    QCOMPARE(changed.count(), 0);
}

QTEST_GUILESS_MAIN(tst_Property)
#include "tst_property.moc"
