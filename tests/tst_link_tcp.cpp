// The machine link over TCP against a peer on 127.0.0.1: connection reports, status, heartbeat,
// the choice of transport, and the device's link-state table.

#include "awkwardframes.h"
#include "machinepeer.h"
#include "residentmemory.h"
#include "soak.h"
#include "statuslines.h"
#include "testdevice.h"
#include "zrdeviceproperty.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QtTest>

#include <limits>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

using Device = ZRDeviceInterface;

namespace {

constexpr int intMax = std::numeric_limits<int>::max();

const QByteArray heartbeatFrame("\x02"
                                "15;CCMD;1010;\x03");

QVariant valueOf(ZRCommonInterface& device, const char* name)
{
    return device.property_ptr(name)->value();
}

void setValue(ZRCommonInterface& device, const char* name, const QVariant& value)
{
    device.property_ptr(name)->setValue(value);
}

// A device with the settings group, pointed at 127.0.0.1:port with a one-second heartbeat.
void prepare(TestDevice& device, quint16 port)
{
    device.init157(&device);
    setValue(device, "TCP_PORT", int(port));
    setValue(device, "HEARTBEAT", 1);
    device.setIPAddress("127.0.0.1");
}

// A device linked to the machine and up, its heartbeat out of the way.
bool connectQuietly(TestDevice& device, MachinePeer& machine)
{
    prepare(device, machine.port());
    setValue(device, "HEARTBEAT", 600);
    return device.connectDevice() && machine.waitForClient()
        && QTest::qWaitFor([&] { return valueOf(device, "STATUS").toInt() == Device::Working; });
}

quint16 unusedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

} // namespace

class tst_LinkTcp : public QObject {
    Q_OBJECT
private slots:
    void connectHeartbeatAndDrop();
    void refusedConnection();
    void warningSilencesTheLink();
    void connectRefusedUnlessDisconnected_data();
    void connectRefusedUnlessDisconnected();
    void transportSelection_data();
    void transportSelection();
    void reconnectWhileConnectingUsesTheNewPort();
    void noPortNoAttempt();
    void portCutTo16Bits_data();
    void portCutTo16Bits();
    void linkReports_data();
    void linkReports();
    void heartbeatPeriod_data();
    void heartbeatPeriod();
    void heartbeatSwitch();
    void repeatedAddressKeepsTheParameter_data();
    void repeatedAddressKeepsTheParameter();
    void sustainedExchange();
    void framesFromAnotherThread();
    void framesArrivingDuringAHandlerAreRead();
    void destroyingALiveLinkIsSilent();
    void jobFrameIsNeverInterleaved();
    void bytesOnTheWireAreTheFrames_data();
    void bytesOnTheWireAreTheFrames();
};

void tst_LinkTcp::connectHeartbeatAndDrop()
{
    MachinePeer machine;
    QElapsedTimer clock;
    QList<qint64> arrivals;
    machine.answer = [&](const QByteArray&) {
        arrivals << clock.elapsed();
        return QByteArray();
    };
    TestDevice device;
    prepare(device, machine.port());
    QSignalSpy messages(&device, &Device::message);

    clock.start();
    QVERIFY(device.connectDevice());
    QTRY_COMPARE(statusLines(messages), QStringList { "TCP CONNECTED." });
    QVERIFY(machine.waitForClient());
    QCOMPARE(valueOf(device, "STATUS").toInt(), int(Device::Working));
    QCOMPARE(valueOf(device, "CONNECT_MODE").toString(), QStringLiteral("TCP"));
    QVERIFY(device.device_timer.isActive());
    QCOMPARE(device.device_timer.interval(), 1000);

    // Keep-alive is in force on the connected socket, so a machine that vanishes is noticed.
    int keepAlive = 0;
    socklen_t size = sizeof keepAlive;
    QCOMPARE(::getsockopt(int(device.tcp_socket->socketDescriptor()), SOL_SOCKET, SO_KEEPALIVE,
                 &keepAlive, &size),
        0);
    QCOMPARE(keepAlive, 1);
    // ...within well under a minute, not after the kernel's two hours.
    int probing[3] = {};
    const int options[3] = { TCP_KEEPIDLE, TCP_KEEPINTVL, TCP_KEEPCNT };
    for (int i = 0; i < 3; ++i) {
        size = sizeof probing[i];
        QCOMPARE(::getsockopt(int(device.tcp_socket->socketDescriptor()), IPPROTO_TCP, options[i],
                     &probing[i], &size),
            0);
        QVERIFY(probing[i] > 0);
    }
    QVERIFY2(probing[0] + probing[1] * probing[2] <= 40, QByteArray::number(probing[0]));
    QCOMPARE(device.tcp_socket->readBufferSize(), qint64(10240));

    QVERIFY(machine.waitForFrames(2, 5000));
    QCOMPARE(machine.frames().mid(0, 2), (QList<QByteArray> { heartbeatFrame, heartbeatFrame }));
    // The first heartbeat waits its period; the timer's interval above is the period itself.
    QVERIFY2(arrivals.at(0) >= 900, QByteArray::number(arrivals.at(0)));

    QTcpSocket* socket = device.tcp_socket;
    machine.dropClient();
    QTRY_COMPARE(statusLines(messages), QStringList({ "TCP CONNECTED.", "TCP DISCONNECTED." }));
    QCOMPARE(valueOf(device, "STATUS").toInt(), int(Device::DisConnected));
    QCOMPARE(valueOf(device, "CONNECT_MODE").toString(), QStringLiteral("TCP"));
    QVERIFY(!device.device_timer.isActive());

    // The next connect reuses the socket, and the heartbeat starts again.
    machine.clearReceived();
    QVERIFY(device.connectDevice());
    QTRY_COMPARE(statusLines(messages).size(), 3);
    QCOMPARE(statusLines(messages).last(), QStringLiteral("TCP CONNECTED."));
    QCOMPARE(device.findChildren<QTcpSocket*>(), QList<QTcpSocket*> { socket });
    QVERIFY(machine.waitForFrames(1, 5000));
    QCOMPARE(machine.frames().first(), heartbeatFrame);
}

void tst_LinkTcp::refusedConnection()
{
    TestDevice device;
    prepare(device, unusedPort());
    setValue(device, "CONNECT_MODE", "USB");
    QSignalSpy messages(&device, &Device::message);

    QVERIFY(device.connectDevice());
    QTRY_COMPARE(statusLines(messages), QStringList { "TCP DISCONNECTED." });
    QCOMPARE(valueOf(device, "STATUS").toInt(), int(Device::DisConnected));
    QCOMPARE(valueOf(device, "CONNECT_MODE").toString(), QStringLiteral("TCP"));
    QVERIFY(!device.device_timer.isActive());
    QVERIFY(device.connectDevice()); // a refused attempt leaves the device free to try again
}

// While the machine reports a warning nothing leaves the device; the heartbeat keeps ticking and
// is dropped like any other frame.
void tst_LinkTcp::warningSilencesTheLink()
{
    MachinePeer machine;
    TestDevice device;
    prepare(device, machine.port());
    QVERIFY(device.connectDevice());
    QTRY_COMPARE(valueOf(device, "STATUS").toInt(), int(Device::Working));

    setValue(device, "STATUS", int(Device::Warning));
    device.sendCMD(device.property_ptr("TASK_STOP")->set_cmd_bytes());
    QTest::qWait(1300);
    QVERIFY(device.device_timer.isActive());
    QCOMPARE(machine.received(), QByteArray());

    setValue(device, "STATUS", int(Device::Working));
    QVERIFY(machine.waitForFrames(1, 5000));
    QCOMPARE(machine.frames().first(), heartbeatFrame);
}

void tst_LinkTcp::connectRefusedUnlessDisconnected_data()
{
    QTest::addColumn<QVariant>("status");
    QTest::newRow("Idle") << QVariant(int(Device::Idle));
    QTest::newRow("Working") << QVariant(int(Device::Working));
    QTest::newRow("Pause") << QVariant(int(Device::Pause));
    QTest::newRow("Warning") << QVariant(int(Device::Warning));
    QTest::newRow("Error") << QVariant(int(Device::Error));
    QTest::newRow("status name") << QVariant("Idle");
}

void tst_LinkTcp::connectRefusedUnlessDisconnected()
{
    QFETCH(QVariant, status);
    TestDevice device;
    prepare(device, unusedPort());
    setValue(device, "STATUS", status);
    QSignalSpy messages(&device, &Device::message);

    QVERIFY(!device.connectDevice());
    QCOMPARE(device.tcp_socket, nullptr);
    QCOMPARE(device.usb_operate, nullptr);
    QCOMPARE(valueOf(device, "STATUS"), status);
    QTest::qWait(50);
    QCOMPARE(messages.count(), 0);
}

void tst_LinkTcp::transportSelection_data()
{
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<bool>("started");
    QTest::addColumn<QString>("transport");
    QTest::addColumn<QString>("report");

    // clang-format off
    QTest::newRow("no address")   << QStringList()               << false << ""    << "";
    QTest::newRow("IP only")      << QStringList { "ip" }        << true  << "TCP" << "TCP DISCONNECTED.";
    QTest::newRow("USB only")     << QStringList { "usb" }       << true  << "USB" << "USB ERROR.";
    QTest::newRow("USB, then IP") << QStringList { "usb", "ip" } << true  << "USB" << "USB ERROR.";
    QTest::newRow("IP, then USB") << QStringList { "ip", "usb" } << true  << "USB" << "USB ERROR.";
    // clang-format on
}

void tst_LinkTcp::transportSelection()
{
    QFETCH(QStringList, calls);
    QFETCH(bool, started);
    QFETCH(QString, transport);
    QFETCH(QString, report);

    TestDevice device;
    device.init157(&device);
    setValue(device, "TCP_PORT", int(unusedPort()));
    for (const QString& call : calls) {
        if (call == "ip")
            device.setIPAddress("127.0.0.1");
        else
            device.setUSBPath("/nonexistent/zr-usb-port");
    }
    QSignalSpy messages(&device, &Device::message);

    QCOMPARE(device.connectDevice(), started);
    QCOMPARE(device.tcp_socket != nullptr, transport == "TCP");
    QCOMPARE(device.usb_operate != nullptr, transport == "USB");
    if (started)
        QTRY_COMPARE(statusLines(messages), QStringList { report });
    else
        QCOMPARE(messages.count(), 0);
}

// A host that corrects the address while an attempt is still under way gets the new one at
// once, not after the old attempt gives up.
void tst_LinkTcp::reconnectWhileConnectingUsesTheNewPort()
{
    MachinePeer first;
    MachinePeer second;
    TestDevice device;
    prepare(device, first.port());
    QSignalSpy messages(&device, &Device::message);

    QVERIFY(device.connectDevice());
    if (device.tcp_socket->state() != QAbstractSocket::ConnectingState)
        QSKIP("the loopback connection completed before the event loop ran");
    setValue(device, "TCP_PORT", int(second.port()));
    QVERIFY(device.connectDevice());
    QTRY_VERIFY(statusLines(messages).contains("TCP CONNECTED."));
    QVERIFY(second.waitForClient());
    QCOMPARE(device.tcp_socket->peerPort(), second.port());
    QCOMPARE(device.findChildren<QTcpSocket*>().size(), 1);
}

void tst_LinkTcp::noPortNoAttempt()
{
    TestDevice device;
    device.init157(&device);
    delete device.property_ptr("TCP_PORT");
    device.setProperty("TCP_PORT", QVariant());
    device.setIPAddress("127.0.0.1");
    QSignalSpy messages(&device, &Device::message);

    QVERIFY(device.connectDevice());
    QVERIFY(device.tcp_socket);
    QCOMPARE(device.tcp_socket->state(), QAbstractSocket::UnconnectedState);
    QTest::qWait(50);
    QCOMPARE(messages.count(), 0);
}

void tst_LinkTcp::portCutTo16Bits_data()
{
    QTest::addColumn<int>("listenPort"); // 0: any free port
    QTest::addColumn<int>("offset");

    QTest::newRow("70000 reaches 4464") << 4464 << 65536;
    QTest::newRow("port + 2^16") << 0 << 65536;
    QTest::newRow("port + 3 * 2^16") << 0 << 3 * 65536;
    QTest::newRow("port - 2^16 (negative)") << 0 << -65536;
    QTest::newRow("in range") << 0 << 0;
}

void tst_LinkTcp::portCutTo16Bits()
{
    QFETCH(int, listenPort);
    QFETCH(int, offset);

    QTcpServer machine;
    if (!machine.listen(QHostAddress::LocalHost, quint16(listenPort)))
        QSKIP("the port is taken on this machine");
    TestDevice device;
    prepare(device, 0);
    setValue(device, "TCP_PORT", int(machine.serverPort()) + offset);

    QVERIFY(device.connectDevice());
    QTRY_VERIFY(machine.hasPendingConnections());
    QTRY_COMPARE(valueOf(device, "STATUS").toInt(), int(Device::Working));
    QCOMPARE(device.tcp_socket->peerPort(), machine.serverPort());
}

// Every report sets CONNECT_MODE; the ones that change the link set STATUS, move the timer, and
// tell the host.
void tst_LinkTcp::linkReports_data()
{
    QTest::addColumn<bool>("usb");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("statusBefore");
    QTest::addColumn<bool>("timerBefore");
    QTest::addColumn<int>("statusAfter");
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("timerAfter");

    const int idle = Device::DisConnected, up = Device::Working, warn = Device::Warning;
    // clang-format off
    QTest::newRow("USB 1")             << true  << 1  << idle << false << up   << "USB CONNECTED."    << true;
    QTest::newRow("USB 1 again")       << true  << 1  << up   << true  << up   << "USB CONNECTED."    << true;
    QTest::newRow("USB 2")             << true  << 2  << up   << true  << warn << "USB ERROR."        << false;
    QTest::newRow("USB 0")             << true  << 0  << up   << true  << idle << "USB DISCONNECTED." << false;
    QTest::newRow("USB 0 from error")  << true  << 0  << warn << false << idle << "USB DISCONNECTED." << false;
    QTest::newRow("USB 3")             << true  << 3  << up   << true  << up   << ""                  << true;
    QTest::newRow("USB -1")            << true  << -1 << idle << false << idle << ""                  << false;
    QTest::newRow("TCP connected")     << false << int(QAbstractSocket::ConnectedState)   << idle << false << up   << "TCP CONNECTED."    << true;
    QTest::newRow("TCP unconnected")   << false << int(QAbstractSocket::UnconnectedState) << up   << true  << idle << "TCP DISCONNECTED." << false;
    QTest::newRow("TCP host lookup")   << false << int(QAbstractSocket::HostLookupState)  << idle << false << idle << ""                  << false;
    QTest::newRow("TCP connecting")    << false << int(QAbstractSocket::ConnectingState)  << idle << false << idle << ""                  << false;
    QTest::newRow("TCP bound")         << false << int(QAbstractSocket::BoundState)       << up   << true  << up   << ""                  << true;
    QTest::newRow("TCP listening")     << false << int(QAbstractSocket::ListeningState)   << up   << true  << up   << ""                  << true;
    QTest::newRow("TCP closing")       << false << int(QAbstractSocket::ClosingState)     << up   << true  << up   << ""                  << true;
    // clang-format on
}

void tst_LinkTcp::linkReports()
{
    QFETCH(bool, usb);
    QFETCH(int, code);
    QFETCH(int, statusBefore);
    QFETCH(bool, timerBefore);
    QFETCH(int, statusAfter);
    QFETCH(QString, line);
    QFETCH(bool, timerAfter);

    TestDevice device;
    device.init157(&device);
    setValue(device, "CONNECT_MODE", usb ? "TCP" : "USB");
    setValue(device, "STATUS", statusBefore);
    if (timerBefore)
        device.device_timer.start(7000);
    QSignalSpy messages(&device, &Device::message);

    if (usb) {
        const QString line = QString("ZRCommonInterface::slot_usb_status %1").arg(code);
        QTest::ignoreMessage(QtDebugMsg, qPrintable(line));
        device.slot_usb_status(code);
    } else {
        device.slot_tcp_socket_state(QAbstractSocket::SocketState(code));
    }

    QCOMPARE(valueOf(device, "CONNECT_MODE").toString(), QString(usb ? "USB" : "TCP"));
    QCOMPARE(valueOf(device, "STATUS").toInt(), statusAfter);
    QCOMPARE(statusLines(messages), line.isEmpty() ? QStringList() : QStringList { line });
    QCOMPARE(device.device_timer.isActive(), timerAfter);
    if (timerAfter) // restarted at the catalogue's two seconds, or left as it was
        QCOMPARE(device.device_timer.interval(), line.isEmpty() ? 7000 : 2000);
}

void tst_LinkTcp::heartbeatPeriod_data()
{
    QTest::addColumn<QVariant>("heartbeat");
    QTest::addColumn<int>("interval");

    QTest::newRow("catalogue default") << QVariant(2) << 2000;
    QTest::newRow("5 s") << QVariant(5) << 5000;
    QTest::newRow("0: lower bound") << QVariant(0) << 1000;
    QTest::newRow("negative: lower bound") << QVariant(-3) << 1000;
    QTest::newRow("ten minutes") << QVariant(600) << 600000;
    QTest::newRow("an hour") << QVariant(3600u) << 3600000;
    QTest::newRow("largest the timer holds") << QVariant(2147483) << 2147483000;
    QTest::newRow("past what the timer holds") << QVariant(3000000) << intMax;
    QTest::newRow("largest unsigned") << QVariant(4294967295u) << intMax;
    QTest::newRow("huge 64-bit") << QVariant(Q_INT64_C(1) << 62) << intMax;
    QTest::newRow("fraction rounded up") << QVariant(2.7) << 3000;
    QTest::newRow("fraction rounded down") << QVariant(2.4) << 2000;
    QTest::newRow("fraction below one") << QVariant(0.4) << 1000;
    QTest::newRow("infinity") << QVariant(qInf()) << intMax;
    QTest::newRow("NaN") << QVariant(qQNaN()) << 1000;
    QTest::newRow("text") << QVariant("3") << 3000;
    QTest::newRow("not a number") << QVariant("fast") << 1000;
}

void tst_LinkTcp::heartbeatPeriod()
{
    QFETCH(QVariant, heartbeat);
    QFETCH(int, interval);

    TestDevice device;
    device.init157(&device);
    setValue(device, "HEARTBEAT", heartbeat);

    device.slot_tcp_socket_state(QAbstractSocket::ConnectedState);
    QVERIFY(device.device_timer.isActive());
    QCOMPARE(device.device_timer.interval(), interval);
    device.heartbeat_switch(false);
    device.heartbeat_switch(true);
    QCOMPARE(device.device_timer.interval(), interval);
}

void tst_LinkTcp::heartbeatSwitch()
{
    TestDevice device;
    device.init157(&device);
    device.slot_tcp_socket_state(QAbstractSocket::ConnectedState);
    QCOMPARE(device.device_timer.interval(), 2000);

    // A new value waits for the next start of the timer.
    setValue(device, "HEARTBEAT", 5);
    QCOMPARE(device.device_timer.interval(), 2000);
    device.heartbeat_switch(false);
    QVERIFY(!device.device_timer.isActive());
    device.heartbeat_switch(true);
    QVERIFY(device.device_timer.isActive());
    QCOMPARE(device.device_timer.interval(), 5000);

    // Without a heartbeat parameter the switch leaves the timer alone.
    TestDevice bare;
    bare.device_timer.start(3000);
    bare.heartbeat_switch(false);
    QVERIFY(bare.device_timer.isActive());
    bare.slot_device_timer(); // nothing to send, nothing to send it with
}

void tst_LinkTcp::repeatedAddressKeepsTheParameter_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("label");
    QTest::newRow("USB") << QByteArray("USB") << QString::fromUtf8("USB 地址");
    QTest::newRow("TCP") << QByteArray("TCP") << QString::fromUtf8("IP 地址");
}

void tst_LinkTcp::repeatedAddressKeepsTheParameter()
{
    QFETCH(QByteArray, name);
    QFETCH(QString, label);

    TestDevice device;
    auto set = [&](const QString& address) {
        if (name == "USB")
            device.setUSBPath(address);
        else
            device.setIPAddress(address);
    };
    set("first");
    ZRDeviceProperty* parameter = device.property_ptr(name);
    QVERIFY(parameter);
    QCOMPARE(parameter->label(), label);
    QCOMPARE(parameter->value().toString(), QStringLiteral("first"));
    QCOMPARE(parameter->cmd_type(), Device::UnCMD);
    QCOMPARE(parameter->get_cmd_bytes(), QByteArray());
    QSignalSpy changed(parameter, &ZRDeviceProperty::valueChanged);

    for (int i = 0; i < 100; ++i)
        set(QString("address %1").arg(i));
    QCOMPARE(device.property_ptr(name), parameter);
    QCOMPARE(parameter->value().toString(), QStringLiteral("address 99"));
    QCOMPARE(changed.count(), 100);
    QCOMPARE(device.dynamicPropertyNames(), QList<QByteArray> { name });
}

// The link carries a steady stream both ways without losing or reordering a frame, and its
// memory stays flat. The run lasts three seconds; ZR_LINK_SOAK_SECONDS soaks it for longer.
// Frames are checked as they arrive, so that a run of any length keeps none of them.
void tst_LinkTcp::sustainedExchange()
{
    const int seconds = soakSeconds("ZR_LINK_SOAK_SECONDS", 3);
    ZRDeviceProperty packer;
    const QByteArray heartbeatAnswer = packer.pack("1010,0,1;", "CCMD");

    MachinePeer machine;
    machine.keepReceived = false;
    int heartbeats = 0;
    int received = 0; // requests the machine got, in order
    int outOfOrder = 0;
    machine.answer = [&](const QByteArray& frame) {
        if (frame == heartbeatFrame) {
            ++heartbeats;
            return heartbeatAnswer;
        }
        // "GET<n>;" is answered with "SET<n>:<n>;".
        const QByteArray n = frame.mid(frame.indexOf("GET") + 3).chopped(2);
        if (frame != packer.pack("GET" + QByteArray::number(received++) + ';', "CMD"))
            ++outOfOrder;
        return packer.pack("SET" + n + ":" + n + ";", "CMD");
    };
    TestDevice device;
    device.recordFrames = true;
    int answered = 0; // answers the device got, in order
    int beatsAnswered = 0;
    device.onFrame = [&](const QString& frame) {
        device.dispatched.clear();
        const QByteArray bytes = frame.toUtf8();
        if (bytes == heartbeatAnswer)
            ++beatsAnswered;
        else if (bytes != packer.pack(QString("SET%1:%1;").arg(answered++), "CMD"))
            ++outOfOrder;
    };
    prepare(device, machine.port());
    QVERIFY(device.connectDevice());
    QTRY_COMPARE(valueOf(device, "STATUS").toInt(), int(Device::Working));

    int sent = 0;
    QTimer sender;
    connect(&sender, &QTimer::timeout, [&] {
        for (int i = 0; i < 3; ++i)
            device.sendCMD(packer.pack(QString("GET%1;").arg(sent++), "CMD"));
    });
    // Memory is measured once the link has settled in.
    qint64 settledMemory = 0;
    qint64 peakMemory = 0;
    QTimer sampler;
    connect(&sampler, &QTimer::timeout, [&] {
        peakMemory = qMax(peakMemory, residentBytes());
        if (settledMemory == 0)
            settledMemory = peakMemory;
    });
    sender.start(1);
    QTimer::singleShot(1000, &sampler, [&sampler] { sampler.start(250); });
    // The run lasts its seconds and at least a few heartbeats and a thousand frames: a loaded
    // machine makes it longer, never a failure. A plain event loop: QTest::qWait() sleeps
    // between its passes and would starve the link.
    const int leastFrames = 1000;
    const int leastHeartbeats = 3;
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer check;
    connect(&check, &QTimer::timeout, [&] {
        if (clock.elapsed() >= seconds * 1000 && sent >= leastFrames
            && heartbeats >= leastHeartbeats)
            loop.quit();
    });
    check.start(100);
    QTimer::singleShot((seconds + 60) * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    sender.stop();
    sampler.stop();
    QTRY_COMPARE_WITH_TIMEOUT(answered, sent, 10000);
    QTRY_COMPARE(beatsAnswered, heartbeats);

    qInfo("%d frames each way and %d heartbeats in %lld s; resident memory grew by %lld KiB", sent,
        heartbeats, clock.elapsed() / 1000, (peakMemory - settledMemory) / 1024);
    QCOMPARE(outOfOrder, 0);
    QCOMPARE(received, sent);
    QVERIFY2(heartbeats >= leastHeartbeats && sent >= leastFrames,
        qPrintable(QStringLiteral("%1 heartbeats, %2 frames").arg(heartbeats).arg(sent)));
    QVERIFY2(peakMemory - settledMemory < 32 * 1024 * 1024,
        QByteArray::number(peakMemory - settledMemory));
}

// A host may send from a thread of its own; the frames still reach the machine whole and in order.
void tst_LinkTcp::framesFromAnotherThread()
{
    MachinePeer machine;
    TestDevice device;
    QVERIFY(connectQuietly(device, machine));

    ZRDeviceProperty packer;
    QByteArray expected;
    for (int i = 0; i < 500; ++i)
        expected += packer.pack(QString("GET%1;").arg(i), "CMD");
    std::unique_ptr<QThread> host(QThread::create([&] {
        for (int i = 0; i < 500; ++i)
            device.sendCMD(packer.pack(QString("GET%1;").arg(i), "CMD"));
    }));
    host->start();
    QVERIFY(QTest::qWaitFor([&] { return host->isFinished(); }, 10000));
    QTRY_COMPARE_WITH_TIMEOUT(machine.received().size(), expected.size(), 10000);
    QCOMPARE(machine.received(), expected);
}

// A host whose message slot runs an event loop: frames that arrive meanwhile are dispatched when
// the slot returns, not when the machine next happens to send something.
void tst_LinkTcp::framesArrivingDuringAHandlerAreRead()
{
    MachinePeer machine;
    TestDevice device;
    prepare(device, machine.port());
    QVERIFY(device.connectDevice());
    QVERIFY(machine.waitForClient());
    QTRY_COMPARE(valueOf(device, "STATUS").toInt(), int(Device::Working));

    ZRDeviceProperty packer;
    QStringList texts;
    connect(&device, &Device::message, this, [&](Device::ZRDeviceMessage kind, QString text) {
        if (kind != Device::Qrcode)
            return;
        texts << text;
        if (texts.size() == 1) {
            machine.send(
                packer.pack("55,0,second.plt;", "CCMD") + packer.pack("1010,0,7;", "CCMD"));
            QVERIFY(QTest::qWaitFor([&] { return device.tcp_socket->bytesAvailable() > 0; }));
        }
    });
    machine.send(packer.pack("55,0,first.plt;", "CCMD"));
    QTRY_COMPARE(texts, QStringList({ "first.plt", "second.plt" }));
    QCOMPARE(valueOf(device, "HEARTBEAT"), QVariant(7));
}

// Destroying a connected device closes its socket without telling the host about it.
void tst_LinkTcp::destroyingALiveLinkIsSilent()
{
    MachinePeer machine;
    auto* device = new TestDevice;
    prepare(*device, machine.port());
    QVERIFY(device->connectDevice());
    QVERIFY(machine.waitForClient());
    QTRY_COMPARE(valueOf(*device, "STATUS").toInt(), int(Device::Working));
    QSignalSpy messages(device, &Device::message);
    delete device;
    QCOMPARE(messages.count(), 0);
    QTRY_COMPARE(machine.client()->state(), QAbstractSocket::UnconnectedState);
}

// A cut file streams out as the socket drains; frames sent meanwhile (jog, heartbeat, pause)
// follow it whole and in order, never inside it.
void tst_LinkTcp::jobFrameIsNeverInterleaved()
{
    MachinePeer machine;
    TestDevice device;
    QVERIFY(connectQuietly(device, machine));

    // The socket holds a slice or two, not the file.
    const QByteArray expected
        = device.streamJob(3 << 20, [&] { QVERIFY(device.tcp_socket->bytesToWrite() <= 1 << 20); });
    QVERIFY(QTest::qWaitFor([&] { return machine.received().size() >= expected.size(); }, 20000));
    QVERIFY(machine.received() == expected);
}

void tst_LinkTcp::bytesOnTheWireAreTheFrames_data()
{
    awkwardFrameRows();
}

void tst_LinkTcp::bytesOnTheWireAreTheFrames()
{
    QFETCH(QList<QByteArray>, frames);
    MachinePeer machine;
    TestDevice device;
    QVERIFY(connectQuietly(device, machine));
    const QByteArray expected = sendAll(device, frames);
    QVERIFY(QTest::qWaitFor([&] { return machine.received().size() >= expected.size(); }, 20000));
    QVERIFY(machine.received() == expected);
}

SOAK_TEST_MAIN(tst_LinkTcp, "ZR_LINK_SOAK_SECONDS", 3)
#include "tst_link_tcp.moc"
