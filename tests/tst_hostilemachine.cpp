// A machine that babbles: a frame without end, or random bytes, at 5 MB/s. The device keeps its
// link and its memory bounded, and hands on only what ends in an ETX.

#include "residentmemory.h"
#include "simmachine.h"
#include "simtcpfront.h"
#include "testdevice.h"
#include "zrdeviceproperty.h"

#include <QtTest>

using T = ZRDeviceInterface;

Q_DECLARE_METATYPE(SimOptions::Noise)

class tst_HostileMachine : public QObject {
    Q_OBJECT
private slots:
    void noise_data();
    void noise();
};

void tst_HostileMachine::noise_data()
{
    QTest::addColumn<SimOptions::Noise>("kind");
    QTest::newRow("frame without end") << SimOptions::Noise::Unterminated;
    QTest::newRow("garbage") << SimOptions::Noise::Garbage;
}

void tst_HostileMachine::noise()
{
    QFETCH(SimOptions::Noise, kind);
    SimOptions options;
    options.noise = kind;
    options.noiseAfterFrames = 1;
    options.noiseBytesPerSecond = 5 * 1024 * 1024;
    SimMachine machine(options);
    SimTcpFront front(&machine);
    QVERIFY(front.listen());

    TestDevice device;
    device.init157(&device);
    device.recordFrames = true;
    device.property_ptr("TCP_PORT")->setValue(int(front.port()));
    device.setIPAddress(QStringLiteral("127.0.0.1"));
    QVERIFY(device.connectDevice());
    QTRY_COMPARE(device.property_ptr("STATUS")->value().toInt(), int(T::Working));

    MemoryWatch memory(64 * 1024 * 1024);
    device.sendCMD(device.property_ptr("HEARTBEAT")->get_cmd_bytes());
    // Some megabytes of noise, however long a loaded machine takes to pass them.
    const auto received = [&machine] { return machine.counters().noiseBytes; };
    QVERIFY2(memory.waitFor([&] { return received() > 4 * 1024 * 1024; }, 30000), memory.report());
    qInfo("%s: %lld MB in, resident memory grew by %lld KiB, %d frames handed on",
        QTest::currentDataTag(), received() / 1024 / 1024, memory.growth() / 1024,
        int(device.dispatched.size()));
    QVERIFY2(
        device.recv_buffer.size() <= 128 * 1024, QByteArray::number(device.recv_buffer.size()));
    QCOMPARE(device.property_ptr("STATUS")->value().toInt(), int(T::Working));
    for (const QString& frame : qAsConst(device.dispatched))
        QVERIFY(frame.endsWith(QChar(0x03)));
    if (kind == SimOptions::Noise::Unterminated)
        QCOMPARE(device.dispatched.size(), 1); // the heartbeat's answer, before the noise
}

QTEST_GUILESS_MAIN(tst_HostileMachine)
#include "tst_hostilemachine.moc"
