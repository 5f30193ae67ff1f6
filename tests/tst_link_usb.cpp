// The machine link over the USB transport, with the test playing the machine on the master side
// of a pseudo-terminal whose slave stands in for the machine's USB port.

#include "awkwardframes.h"
#include "statuslines.h"
#include "testdevice.h"
#include "usbframetext.h"
#include "usboperate.h"
#include "zrdeviceproperty.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using Device = ZRDeviceInterface;

namespace {

const QByteArray heartbeatFrame("\x02"
                                "15;CCMD;1010;\x03");

// The machine's end of the port: the master side of a pseudo-terminal.
class PtyMachine {
public:
    PtyMachine()
    {
        char name[256] = {};
        int slave = -1;
        if (::openpty(&m_master, &slave, name, nullptr, nullptr) == 0) {
            ::close(slave);
            ::fcntl(m_master, F_SETFL, O_NONBLOCK);
            m_path = QString::fromLocal8Bit(name);
        }
    }
    ~PtyMachine() { hangUp(); }
    PtyMachine(const PtyMachine&) = delete;
    PtyMachine& operator=(const PtyMachine&) = delete;

    bool isOpen() const { return m_master >= 0; }
    QString path() const { return m_path; }
    int master() const { return m_master; }

    // Reads what has arrived, at most limit bytes (all when negative).
    QByteArray& read(int limit = -1)
    {
        char chunk[4096];
        while (m_master >= 0 && limit != 0) {
            const size_t want = limit < 0 ? sizeof chunk : qMin(sizeof chunk, size_t(limit));
            const ssize_t n = ::read(m_master, chunk, want);
            if (n <= 0)
                break; // nothing yet, or the slave is not open
            m_received.append(chunk, int(n));
            if (limit > 0)
                limit -= int(n);
        }
        return m_received;
    }

    bool waitForBytes(int count, int timeoutMs = 5000)
    {
        return QTest::qWaitFor([&] { return read().size() >= count; }, timeoutMs);
    }

    void write(const QByteArray& bytes)
    {
        for (int at = 0; at < bytes.size();) {
            const ssize_t n = ::write(m_master, bytes.constData() + at, size_t(bytes.size() - at));
            if (n > 0)
                at += int(n);
            else
                QTest::qWait(1);
        }
    }

    void clear() { m_received.clear(); }

    void hangUp()
    {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }

private:
    int m_master = -1;
    QString m_path;
    QByteArray m_received;
};

QVariant valueOf(ZRCommonInterface& device, const char* name)
{
    return device.property_ptr(name)->value();
}

void setValue(ZRCommonInterface& device, const char* name, const QVariant& value)
{
    device.property_ptr(name)->setValue(value);
}

// How many descriptors of this process are open on path.
int openDescriptors(const QString& path)
{
    int count = 0;
    const QDir fds("/proc/self/fd");
    for (const QString& fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot))
        count += QFile::symLinkTarget(fds.filePath(fd)) == path;
    return count;
}

QtMessageHandler testHandler = nullptr;
QStringList notifierWarnings;

void watchNotifiers(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtWarningMsg && text.contains("QSocketNotifier"))
        notifierWarnings << text;
    testHandler(type, context, text);
}

QList<int> codes(const QSignalSpy& spy)
{
    QList<int> codes;
    for (const QList<QVariant>& args : spy)
        codes << args.at(0).toInt();
    return codes;
}

QByteArray joined(const QSignalSpy& spy)
{
    QByteArray bytes;
    for (const QList<QVariant>& args : spy)
        bytes += args.at(0).toByteArray();
    return bytes;
}

} // namespace

class tst_LinkUsb : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();

    void connectAndHeartbeat();
    void framesLeaveWholeAndInOrder();
    void framesFromAnotherThread();
    void bytesSplitAnywhereReachTheCutter();
    void hangUpThenReconnect();
    void unopenablePath_data();
    void unopenablePath();
    void secondConnectReopensCleanly();

    void transportPassesEveryByteIn();
    void nonTtyDeviceIsUsedAsItIs();
    void endOfFileIsAHangUp();
    void destructionClosesThePort();
    void jobFrameIsNeverInterleaved();
    void frameText_data();
    void frameText();
    void bytesOnTheWireAreTheFrames_data();
    void bytesOnTheWireAreTheFrames();
    void transportThatNeverReportsWrites();

private:
    // A device with the settings group, linked to the machine's port and up.
    bool connectTo(TestDevice& device, const PtyMachine& machine, int heartbeat);
};

// A notifier left watching a closed descriptor makes Qt warn; no test may cause one.
void tst_LinkUsb::initTestCase()
{
    testHandler = qInstallMessageHandler(watchNotifiers);
}

void tst_LinkUsb::cleanup()
{
    QVERIFY2(notifierWarnings.isEmpty(), qPrintable(notifierWarnings.join('\n')));
    notifierWarnings.clear();
}

bool tst_LinkUsb::connectTo(TestDevice& device, const PtyMachine& machine, int heartbeat)
{
    device.init157(&device);
    setValue(device, "HEARTBEAT", heartbeat);
    device.setUSBPath(machine.path());
    return device.connectDevice()
        && QTest::qWaitFor([&] { return valueOf(device, "STATUS").toInt() == Device::Working; });
}

void tst_LinkUsb::connectAndHeartbeat()
{
    PtyMachine machine;
    QVERIFY(machine.isOpen());
    TestDevice device;
    device.init157(&device);
    setValue(device, "HEARTBEAT", 1);
    device.setUSBPath(machine.path());
    QSignalSpy messages(&device, &Device::message);

    QTest::ignoreMessage(QtDebugMsg, "ZRCommonInterface::slot_usb_status 1");
    QVERIFY(device.connectDevice());
    QTRY_COMPARE(statusLines(messages), QStringList { "USB CONNECTED." });
    QCOMPARE(valueOf(device, "STATUS").toInt(), int(Device::Working));
    QCOMPARE(valueOf(device, "CONNECT_MODE").toString(), QStringLiteral("USB"));
    QVERIFY(device.device_timer.isActive());
    QCOMPARE(device.device_timer.interval(), 1000);

    // The port is raw: no echo, no line editing, no signals, no output translation.
    termios mode;
    QCOMPARE(::tcgetattr(machine.master(), &mode), 0);
    QCOMPARE(mode.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), tcflag_t(0));
    QCOMPARE(mode.c_iflag & (IXON | ICRNL | ISTRIP), tcflag_t(0));
    QCOMPARE(mode.c_oflag & OPOST, tcflag_t(0));

    QVERIFY(machine.waitForBytes(2 * heartbeatFrame.size(), 5000));
    QCOMPARE(machine.read(), heartbeatFrame + heartbeatFrame);
}

void tst_LinkUsb::framesLeaveWholeAndInOrder()
{
    PtyMachine machine;
    TestDevice device;
    QVERIFY(connectTo(device, machine, 600));
    QSignalSpy written(device.usb_operate, &UsbOperate::writeData);

    // Control characters a tty would otherwise act on, and text beyond ASCII.
    QByteArray controls;
    for (char c = 1; c < 0x20; ++c) {
        if (c != 0x02 && c != 0x03)
            controls += c;
    }
    const QByteArray first = "\x02"
                             "40;CMD;"
        + controls + "\x7f\r\n;\x03";
    const QByteArray text("\x02"
                          "24;CCMD;55,\xe4\xba\x8c\xe7\xbb\xb4\xe7\xa0\x81.plt;\x03");
    QByteArray body;
    for (int i = 0; body.size() < 200 * 1024; ++i)
        body += "PD" + QByteArray::number(i) + "," + QByteArray::number(i * 7 % 1000) + ";";
    const QByteArray large = ZRDeviceProperty().pack(QString::fromLatin1(body), "PLT");

    device.sendCMD(first);
    device.sendCMD(large);
    device.sendCMD(text);
    device.sendCMD(heartbeatFrame);

    // The machine reads slowly, so the transport has to wait for room more than once.
    const QByteArray expected = first + large + text + heartbeatFrame;
    QVERIFY(QTest::qWaitFor(
        [&] {
            machine.read(2048);
            return machine.read(0).size() >= expected.size();
        },
        20000));
    QTest::qWait(20);
    QCOMPARE(machine.read().size(), expected.size());
    QVERIFY(machine.read() == expected);
    QCOMPARE(written.count(), 4);
    QVERIFY(joined(written) == expected);
}

void tst_LinkUsb::framesFromAnotherThread()
{
    PtyMachine machine;
    TestDevice device;
    QVERIFY(connectTo(device, machine, 600));

    ZRDeviceProperty packer;
    QByteArray expected;
    for (int i = 0; i < 500; ++i)
        expected += packer.pack(QString("GET%1;").arg(i), "CMD");
    std::unique_ptr<QThread> host(QThread::create([&] {
        for (int i = 0; i < 500; ++i)
            device.sendCMD(packer.pack(QString("GET%1;").arg(i), "CMD"));
    }));
    host->start();
    QVERIFY(host->wait(10000));
    QVERIFY(machine.waitForBytes(expected.size(), 10000));
    QCOMPARE(machine.read(), expected);
}

void tst_LinkUsb::bytesSplitAnywhereReachTheCutter()
{
    PtyMachine machine;
    TestDevice device;
    device.recordFrames = true;
    QVERIFY(connectTo(device, machine, 600));

    ZRDeviceProperty packer;
    QStringList frames;
    QByteArray stream = "noise";
    for (int i = 0; i < 300; ++i) {
        const QByteArray frame = packer.pack(QString("SET%1:%2;GET9:1;").arg(i).arg(i * 31), "CMD");
        frames << QString::fromUtf8(frame);
        stream += frame;
        if (i % 50 == 0)
            stream += "\r\n";
    }

    QRandomGenerator random(4150);
    for (int at = 0; at < stream.size();) {
        const int size = random.bounded(1, 40);
        machine.write(stream.mid(at, size));
        at += size;
        if (random.bounded(4) == 0)
            QTest::qWait(1);
    }
    QTRY_COMPARE(device.dispatched.size(), frames.size());
    QCOMPARE(device.dispatched, frames);
}

void tst_LinkUsb::hangUpThenReconnect()
{
    auto machine = std::make_unique<PtyMachine>();
    TestDevice device;
    QVERIFY(connectTo(device, *machine, 1));
    QSignalSpy messages(&device, &Device::message);
    UsbOperate* transport = device.usb_operate;

    machine->hangUp();
    QTRY_COMPARE(statusLines(messages), QStringList { "USB DISCONNECTED." });
    QCOMPARE(valueOf(device, "STATUS").toInt(), int(Device::DisConnected));
    QCOMPARE(valueOf(device, "CONNECT_MODE").toString(), QStringLiteral("USB"));
    QVERIFY(!device.device_timer.isActive());
    QCOMPARE(openDescriptors(machine->path()), 0);

    // The machine comes back on another port; the same transport opens it.
    machine = std::make_unique<PtyMachine>();
    device.setUSBPath(machine->path());
    QVERIFY(device.connectDevice());
    QTRY_COMPARE(statusLines(messages), QStringList({ "USB DISCONNECTED.", "USB CONNECTED." }));
    QCOMPARE(device.usb_operate, transport);
    QVERIFY(machine->waitForBytes(heartbeatFrame.size()));
    QCOMPARE(machine->read().left(heartbeatFrame.size()), heartbeatFrame);
}

void tst_LinkUsb::unopenablePath_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("no such device") << "/nonexistent/ttyACM0";
    QTest::newRow("empty path") << "";
    QTest::newRow("a directory") << "/";
}

void tst_LinkUsb::unopenablePath()
{
    QFETCH(QString, path);
    TestDevice device;
    device.init157(&device);
    device.setUSBPath(path);
    QSignalSpy messages(&device, &Device::message);

    QVERIFY(device.connectDevice());
    QTRY_COMPARE(statusLines(messages), QStringList { "USB ERROR." });
    QCOMPARE(valueOf(device, "STATUS").toInt(), int(Device::Warning));
    QCOMPARE(valueOf(device, "CONNECT_MODE").toString(), QStringLiteral("USB"));
    QVERIFY(!device.device_timer.isActive());

    // Refused until the transport itself reports again.
    QVERIFY(!device.connectDevice());
    QTest::qWait(50);
    QCOMPARE(messages.count(), 1);

    PtyMachine machine;
    device.connect_usb(machine.path());
    QTRY_COMPARE(statusLines(messages), QStringList({ "USB ERROR.", "USB CONNECTED." }));
    QCOMPARE(valueOf(device, "STATUS").toInt(), int(Device::Working));
}

void tst_LinkUsb::secondConnectReopensCleanly()
{
    PtyMachine first;
    PtyMachine second;
    TestDevice device;
    QVERIFY(connectTo(device, first, 600));
    QSignalSpy reports(device.usb_operate, &UsbOperate::statusChanged);
    QSignalSpy messages(&device, &Device::message);

    device.usb_operate->usbConnect(first.path(), UsbOperate::Serial, false);
    QTRY_COMPARE(codes(reports), QList<int>({ 0, 1 }));
    QCOMPARE(statusLines(messages), QStringList({ "USB DISCONNECTED.", "USB CONNECTED." }));
    QCOMPARE(openDescriptors(first.path()), 1);
    device.sendCMD(heartbeatFrame);
    QVERIFY(first.waitForBytes(heartbeatFrame.size()));
    QCOMPARE(first.read(), heartbeatFrame);

    device.usb_operate->usbConnect(second.path(), UsbOperate::Serial, false);
    QTRY_COMPARE(codes(reports), QList<int>({ 0, 1, 0, 1 }));
    QCOMPARE(openDescriptors(first.path()), 0);
    QCOMPARE(openDescriptors(second.path()), 1);
    device.sendCMD(heartbeatFrame);
    QVERIFY(second.waitForBytes(heartbeatFrame.size()));
    QCOMPARE(second.read(), heartbeatFrame);
    QTest::qWait(20);
    QCOMPARE(first.read(), heartbeatFrame);
}

// Every byte value the machine sends reaches the reader unchanged and in order.
void tst_LinkUsb::transportPassesEveryByteIn()
{
    PtyMachine machine;
    UsbOperate transport;
    QSignalSpy reports(&transport, &UsbOperate::statusChanged);
    QSignalSpy received(&transport, &UsbOperate::readData);
    transport.usbConnect(machine.path(), UsbOperate::Serial, false);
    QCOMPARE(reports.count(), 0); // reported from the event loop, not from inside the call
    QTRY_COMPARE(codes(reports), QList<int> { 1 });

    QByteArray bytes;
    QRandomGenerator random(1);
    for (int i = 0; i < 256 * 1024; ++i)
        bytes += char(i < 256 ? i : random.bounded(256));
    for (int at = 0; at < bytes.size(); at += 3000) {
        machine.write(bytes.mid(at, 3000));
        QTest::qWait(0);
    }
    QTRY_COMPARE(joined(received).size(), bytes.size());
    QVERIFY(joined(received) == bytes);
}

// A device that is not a tty keeps its own settings; a FIFO loops the frame back.
void tst_LinkUsb::nonTtyDeviceIsUsedAsItIs()
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath("port");
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    UsbOperate transport;
    QSignalSpy reports(&transport, &UsbOperate::statusChanged);
    QSignalSpy received(&transport, &UsbOperate::readData);

    transport.usbConnect(fifo, UsbOperate::Serial, false);
    QTRY_COMPARE(codes(reports), QList<int> { 1 });
    transport.send(QString::fromUtf8(heartbeatFrame));
    QTRY_COMPARE(joined(received), heartbeatFrame);
}

void tst_LinkUsb::endOfFileIsAHangUp()
{
    const int before = openDescriptors("/dev/null");
    UsbOperate transport;
    QSignalSpy reports(&transport, &UsbOperate::statusChanged);
    transport.usbConnect("/dev/null", UsbOperate::Serial, false);
    QCOMPARE(openDescriptors("/dev/null"), before + 1);
    QTRY_COMPARE(codes(reports), QList<int>({ 1, 0 }));
    transport.send("dropped: the port is closed");
    QCOMPARE(openDescriptors("/dev/null"), before);
}

void tst_LinkUsb::destructionClosesThePort()
{
    PtyMachine machine;
    auto transport = std::make_unique<UsbOperate>();
    transport->send("dropped: nothing is open yet");
    transport->usbConnect(machine.path(), UsbOperate::Serial, false);
    QCOMPARE(openDescriptors(machine.path()), 1);
    transport->send(QString(70000, 'x')); // more than the pty takes at once
    transport.reset();
    QCOMPARE(openDescriptors(machine.path()), 0);
    QTest::qWait(20); // no report or notifier outlives the transport
}

// A cut file streams out as the port drains to a slow reader; frames sent meanwhile (jog,
// heartbeat, pause) follow it whole and in order, never inside it.
void tst_LinkUsb::jobFrameIsNeverInterleaved()
{
    PtyMachine machine;
    TestDevice device;
    QVERIFY(connectTo(device, machine, 600));

    const QByteArray expected = device.streamJob(1 << 20, [] {});
    QVERIFY(QTest::qWaitFor(
        [&] {
            machine.read(16 * 1024);
            return machine.read(0).size() >= expected.size();
        },
        30000));
    QTest::qWait(20);
    QVERIFY(machine.read() == expected);
}

// The transport is handed each frame as its text: the bytes decoded as UTF-8, a byte-order mark
// kept, and each byte that is no UTF-8 as U+DC80 + byte.
void tst_LinkUsb::frameText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("ASCII") << QByteArray("\x02"
                                         "14;CMD;GET5;\x03")
                           << QString("\x02"
                                      "14;CMD;GET5;\x03");
    QTest::newRow("characters") << QByteArray("\xc3\xa9\xe4\xba\x8c\xf0\x9f\x98\x80")
                                << QString::fromUtf8("\xc3\xa9\xe4\xba\x8c\xf0\x9f\x98\x80");
    const auto escaped = [](std::initializer_list<char16_t> units) {
        QString text;
        for (char16_t unit : units)
            text += QChar(unit);
        return text;
    };
    QTest::newRow("byte-order mark first")
        << QByteArray("\xef\xbb\xbfPD") << escaped({ 0xfeff, 'P', 'D' });
    QTest::newRow("no UTF-8") << QByteArray("A\xff\xc3") << escaped({ 'A', 0xdcff, 0xdcc3 });
    QTest::newRow("encoded surrogate")
        << QByteArray("\xed\xb2\x80") << escaped({ 0xdced, 0xdcb2, 0xdc80 });
}

void tst_LinkUsb::frameText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(usbFrameText(bytes.constData(), bytes.size()), text);
    QCOMPARE(usbFrameBytes(text), bytes);
}

void tst_LinkUsb::bytesOnTheWireAreTheFrames_data()
{
    awkwardFrameRows();
}

void tst_LinkUsb::bytesOnTheWireAreTheFrames()
{
    QFETCH(QList<QByteArray>, frames);
    PtyMachine machine;
    TestDevice device;
    QVERIFY(connectTo(device, machine, 600));
    const QByteArray expected = sendAll(device, frames);
    QVERIFY(QTest::qWaitFor([&] { return machine.read().size() >= expected.size(); }, 30000));
    QTest::qWait(20);
    QVERIFY(machine.read() == expected);
}

// Nothing waits for the transport to say it wrote a frame: through one that never says so, a
// job and everything sent after it (jog, heartbeat, pause, stop) leave whole and in order.
void tst_LinkUsb::transportThatNeverReportsWrites()
{
    PtyMachine machine;
    TestDevice device;
    QVERIFY(connectTo(device, machine, 600));
    QObject::disconnect(device.usb_operate, &UsbOperate::writeData, nullptr, nullptr);

    QByteArray expected = device.streamJob(600 * 1000, [] {});
    const QByteArray stop = device.property_ptr("TASK_STOP")->set_cmd_bytes();
    device.sendCMD(stop);
    expected += stop;
    QVERIFY(QTest::qWaitFor([&] { return machine.read().size() >= expected.size(); }, 30000));
    QTest::qWait(20);
    QVERIFY(machine.read() == expected);
}

QTEST_GUILESS_MAIN(tst_LinkUsb)
#include "tst_link_usb.moc"
