// Jogging: the two axis registers, and the frames move() sends to a machine connected over TCP.

#include "machinepeer.h"
#include "testdevice.h"
#include "zrdeviceproperty.h"

#include <QtTest>

#include <climits>

namespace {

QByteArray setFrame(int registerNumber, int value)
{
    const QByteArray payload
        = "SET" + QByteArray::number(registerNumber) + ':' + QByteArray::number(value) + ';';
    ZRDeviceProperty builder;
    return builder.pack(QString::fromLatin1(payload), QStringLiteral("CMD"));
}

} // namespace

class tst_Jogging : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void frames_data();
    void frames();
    void valuesAndSignals();
    void missingAxisIsSkipped_data();
    void missingAxisIsSkipped();

private:
    MachinePeer* machine = nullptr;
    TestDevice* device = nullptr;
};

// A device with the settings and jogging groups, connected to the machine over TCP. The
// heartbeat is slowed down so that only jog frames go out during a test.
void tst_Jogging::init()
{
    machine = new MachinePeer;
    device = new TestDevice;
    device->init157(device);
    device->move_157(device);
    device->property_ptr("TCP_PORT")->setValue(int(machine->port()));
    device->property_ptr("HEARTBEAT")->setValue(600);
    device->setIPAddress("127.0.0.1");
    QVERIFY(device->connectDevice());
    QVERIFY(machine->waitForClient());
    QTRY_COMPARE(device->property_ptr("STATUS")->value().toInt(), int(ZRDeviceInterface::Working));
}

void tst_Jogging::cleanup()
{
    delete device;
    delete machine;
}

void tst_Jogging::frames_data()
{
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("second");
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("x");
    QTest::newRow("Y back, X stop") << -5 << 0 << 100 << 0;
    QTest::newRow("Y stop, X forward") << 0 << 1 << 0 << 32868;
    QTest::newRow("both stop") << 0 << 0 << 0 << 0;
    QTest::newRow("extremes") << INT_MIN << INT_MAX << 100 << 32868;
    QTest::newRow("both forward") << 1 << 1 << 32868 << 32868;
    QTest::newRow("only the sign counts") << 250 << -250 << 32868 << 100;
}

// Y always goes first, and both axes go out on every call.
void tst_Jogging::frames()
{
    QFETCH(int, first);
    QFETCH(int, second);
    QFETCH(int, y);
    QFETCH(int, x);
    device->move(first, second);
    QVERIFY(machine->waitForFrames(2));
    QCOMPARE(machine->frames(), QList<QByteArray>({ setFrame(83, y), setFrame(82, x) }));

    // The same request again still sends both frames.
    machine->clearReceived();
    device->move(first, second);
    QVERIFY(machine->waitForFrames(2));
    QCOMPARE(machine->frames(), QList<QByteArray>({ setFrame(83, y), setFrame(82, x) }));
}

void tst_Jogging::valuesAndSignals()
{
    ZRDeviceProperty* moveX = device->property_ptr("MOVE_X");
    ZRDeviceProperty* moveY = device->property_ptr("MOVE_Y");
    QSignalSpy xChanged(moveX, &ZRDeviceProperty::valueChanged);
    QSignalSpy yChanged(moveY, &ZRDeviceProperty::valueChanged);

    device->move(1, 1);
    QCOMPARE(moveX->value(), QVariant(32868));
    QCOMPARE(moveY->value(), QVariant(32868));
    QCOMPARE(moveX->value().userType(), int(QMetaType::Int));
    QCOMPARE(xChanged.count(), 1);
    QCOMPARE(yChanged.count(), 1);

    device->move(1, -1);
    QCOMPARE(moveX->value(), QVariant(100));
    QCOMPARE(yChanged.count(), 1);
    QCOMPARE(xChanged.count(), 2);
}

void tst_Jogging::missingAxisIsSkipped_data()
{
    QTest::addColumn<QByteArray>("missing");
    QTest::addColumn<QList<QByteArray>>("sent");
    QTest::newRow("no MOVE_Y") << QByteArray("MOVE_Y") << QList<QByteArray> { setFrame(82, 32868) };
    QTest::newRow("no MOVE_X") << QByteArray("MOVE_X") << QList<QByteArray> { setFrame(83, 100) };
}

void tst_Jogging::missingAxisIsSkipped()
{
    QFETCH(QByteArray, missing);
    delete device->property_ptr(missing.constData());
    device->setProperty(missing.constData(), QVariant());

    device->move(-1, 1);
    QVERIFY(machine->waitForFrames(1));
    QTest::qWait(50);
    QTEST(machine->frames(), "sent");
}

QTEST_GUILESS_MAIN(tst_Jogging)
#include "tst_jogging.moc"
