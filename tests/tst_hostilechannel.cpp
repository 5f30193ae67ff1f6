// A hostile cloud service on the remote channel while the device cuts a job on the simulated
// machine: one message without end, a flood of prompts, a flood that never reads. The channel
// is closed and reported or its reports are paced; the job goes on; memory stays bounded.

#include "clouddevice.h"
#include "cloudservice.h"
#include "corvanecloud.h"
#include "remotereports.h"
#include "residentmemory.h"
#include "simclient.h"
#include "simmachine.h"
#include "simtcpfront.h"

#include <QWebSocket>
#include <QtTest>

#include <memory>

using T = ZRDeviceInterface;
using Mode = CloudService::ChannelMode;

Q_DECLARE_METATYPE(CloudService::ChannelMode)

namespace {

const QString Code = QStringLiteral("ZRab12x");
constexpr qint64 MemoryBound = 64 * 1024 * 1024;

void dropDebug(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type != QtDebugMsg)
        qt_message_output(type, context, text);
}

} // namespace

class tst_HostileChannel : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void jobGoesOn_data();
    void jobGoesOn();

private:
    QStringList statusLines;
    std::unique_ptr<CloudService> service;
    std::unique_ptr<CorvaneCloud> client;
    std::unique_ptr<SimMachine> machine;
    std::unique_ptr<SimTcpFront> front;
    std::unique_ptr<CloudDevice> device;
};

void tst_HostileChannel::initTestCase()
{
    qInstallMessageHandler(dropDebug);
}

void tst_HostileChannel::init()
{
    service = std::make_unique<CloudService>();
    QVERIFY2(service->listen(), qPrintable(service->errorString()));
    client = std::make_unique<CorvaneCloud>(service->httpBase(), service->wsBase());
    SimOptions options;
    options.speedMmPerSecond = 400;
    options.reportIntervalMs = 50;
    machine = std::make_unique<SimMachine>(options);
    front = std::make_unique<SimTcpFront>(machine.get());
    QVERIFY(front->listen());

    statusLines.clear();
    device = std::make_unique<CloudDevice>();
    connect(device.get(), &T::message, this, [this](T::ZRDeviceMessage kind, const QString& text) {
        if (kind == T::DevStatus)
            statusLines.append(text);
    });
    // A large preview makes each runtime report some 87 KB: a backlog builds up fast.
    device->property_ptr("FILE_PREVIEW")->setValue(QByteArray(64 * 1024, '\x89'));
    device->property_ptr("TCP_PORT")->setValue(int(front->port()));
    device->setIPAddress(QStringLiteral("127.0.0.1"));
    QVERIFY(device->connectDevice());
    QTRY_VERIFY(statusLines.contains("TCP CONNECTED."));
    device->setCorvaneCloud(client.get(), Code);
    QTRY_VERIFY(device->cloud_device.contains("id"));
}

void tst_HostileChannel::cleanup()
{
    device.reset();
    front.reset();
    machine.reset();
    client.reset();
    service.reset();
}

void tst_HostileChannel::jobGoesOn_data()
{
    QTest::addColumn<Mode>("mode");
    QTest::newRow("endless message") << Mode::EndlessMessage;
    QTest::newRow("prompt flood") << Mode::PromptFlood;
    QTest::newRow("flood without reading") << Mode::FloodWithoutReading;
}

void tst_HostileChannel::jobGoesOn()
{
    QFETCH(Mode, mode);
    service->setChannelMode(mode);
    MemoryWatch memory(MemoryBound);
    qint64 closedAfterMs = -1;
    connect(device.get(), &T::message, this, [&](T::ZRDeviceMessage, const QString& text) {
        if (text == QLatin1String("WEB SOCKET DISCONNECTED."))
            closedAfterMs = memory.elapsedMs();
    });
    device->connect_websocket();
    QTRY_VERIFY(statusLines.contains("WEB SOCKET CONNECTED."));

    // Two copies of 400 mm at 400 mm/s: a job of two seconds under attack.
    device->property_ptr("TASK_COPIES")->setValue(2);
    device->setPlt(QString::fromLatin1(simtest::square(100)));
    device->startTask();
    int progress = 0;
    connect(device.get(), &T::message, this,
        [&progress](T::ZRDeviceMessage kind) { progress += kind == T::DevTasK; });
    const auto status = [this] {
        ZRDeviceProperty* task = device->property_ptr("TASK");
        return task ? task->value().toJsonObject().value("Status").toInt() : 0;
    };
    QVERIFY2(memory.waitFor([&] { return status() == 3; }, 20000), memory.report());
    QVERIFY2(memory.run(300), memory.report());
    qInfo("%s: job done after %lld ms, channel closed after %lld ms, resident memory grew by "
          "%lld KiB",
        QTest::currentDataTag(), memory.elapsedMs(), closedAfterMs, memory.growth() / 1024);
    QCOMPARE(machine->counters().copiesCut, 2);
    QVERIFY(statusLines.contains("TCP CONNECTED."));
    QVERIFY(!statusLines.contains("TCP DISCONNECTED."));

    auto* reports = device->web_socket->findChild<RemoteReports*>();
    QVERIFY(reports);
    if (mode == Mode::EndlessMessage) {
        // Closed as soon as the message passed the bound, and said so.
        QTRY_VERIFY(statusLines.contains("WEB SOCKET DISCONNECTED."));
        QCOMPARE(device->web_socket->state(), QAbstractSocket::UnconnectedState);
        QVERIFY(service->hostileBytesSent() < 64 * 1024 * 1024);
        return;
    }
    QVERIFY(!statusLines.contains("WEB SOCKET DISCONNECTED."));
    // Thousands of prompts, a few reports: most prompts are dropped, and counted.
    const int prompts = service->promptsSent();
    QVERIFY2(prompts > 1000, QByteArray::number(prompts));
    QVERIFY2(
        reports->droppedPrompts() > prompts / 2, QByteArray::number(reports->droppedPrompts()));
    QVERIFY2(device->web_socket->bytesToWrite() <= RemoteReports::maxQueuedBytes + 64 * 1024,
        QByteArray::number(device->web_socket->bytesToWrite()));
    if (mode == Mode::PromptFlood) {
        // A report per progress report, and for the prompts a burst and then a trickle.
        const qint64 seconds = memory.elapsedMs() / 1000 + 1;
        const int most = progress + RemoteReports::promptBurst
            + int(seconds) * RemoteReports::promptsPerSecond + 1;
        QVERIFY2(service->reports(Code).size() <= most,
            QByteArray::number(service->reports(Code).size()));
        QVERIFY(service->reports(Code).size() >= progress);
    }
}

QTEST_GUILESS_MAIN(tst_HostileChannel)
#include "tst_hostilechannel.moc"
