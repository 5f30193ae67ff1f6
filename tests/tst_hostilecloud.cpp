// A hostile cloud service. Over HTTP: bodies without end or far too large, bodies cut short and
// bodies that are no JSON; the client stays small and says the request failed, and a device
// registers nothing from such answers and posts no work record under a device it does not know.
// On the remote channel, while the device cuts a job on the simulated machine: one message
// without end, a flood of prompts, a flood that never reads; the channel is closed and reported
// or its reports are paced, the job goes on, and memory stays bounded.

#include "clouddevice.h"
#include "cloudservice.h"
#include "corvanecloud.h"
#include "remotereports.h"
#include "residentmemory.h"
#include "simrig.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QWebSocket>
#include <QtTest>

#include <memory>

using T = ZRDeviceInterface;
using Mode = CloudService::ChannelMode;

Q_DECLARE_METATYPE(CloudAnswer)
Q_DECLARE_METATYPE(CloudService::ChannelMode)

namespace {

const QString Code = QStringLiteral("ZRab12x");
constexpr qint64 MemoryBound = 64 * 1024 * 1024;

} // namespace

class tst_HostileCloud : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void hostileReplies_data();
    void hostileReplies();
    void abortRequestsOnGivingUp();
    void noWorkRecordUnderAnUnknownDevice_data();
    void noWorkRecordUnderAnUnknownDevice();
    void channelUnderAttack_data();
    void channelUnderAttack();

private:
    std::unique_ptr<CloudService> service;
    std::unique_ptr<CorvaneCloud> client;
};

void tst_HostileCloud::initTestCase()
{
    dropDebugLines();
    qRegisterMetaType<QNetworkReply*>();
}

void tst_HostileCloud::init()
{
    QVERIFY2(startLocalCloud(service, client), qPrintable(service->errorString()));
}

void tst_HostileCloud::cleanup()
{
    client.reset();
    service.reset();
}

void tst_HostileCloud::hostileReplies_data()
{
    QTest::addColumn<CloudAnswer>("answer");
    QTest::addColumn<bool>("usable");
    QTest::addColumn<bool>("tooLarge");

    QTest::newRow("256 MB body") << CloudAnswer::huge(256 * 1024 * 1024) << false << true;
    QTest::newRow("endless chunked body") << CloudAnswer::endless() << false << true;
    QTest::newRow("truncated body") << CloudAnswer::truncated() << false << false;
    QTest::newRow("body at the limit")
        << CloudAnswer::huge(CorvaneCloud::maxReplyBytes) << true << false;
}

// The handler hears of the failure at once, and neither the client nor the service holds more
// than a bounded part of the body.
void tst_HostileCloud::hostileReplies()
{
    QFETCH(CloudAnswer, answer);
    QFETCH(bool, usable);
    QFETCH(bool, tooLarge);
    service->setAnswer("device", "GET", answer);
    int calls = 0;
    bool wasUsable = !usable;
    bool wasTooLarge = !tooLarge;
    int status = 0;
    MemoryWatch memory(MemoryBound);
    client->customRequest(
        "device", "GET", { { "code", Code } }, [&](QNetworkReply* reply, bool replyUsable) {
            ++calls;
            wasUsable = replyUsable;
            wasTooLarge = CorvaneCloud::replyTooLarge(reply);
            status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            if (replyUsable)
                QCOMPARE(reply->readAll().size(), CorvaneCloud::maxReplyBytes);
        });
    QVERIFY2(memory.waitFor([&] { return calls > 0; }, 20000), memory.report());
    qInfo("%s: noticed after %lld ms, resident memory grew by %lld KiB", QTest::currentDataTag(),
        memory.elapsedMs(), memory.growth() / 1024);
    QCOMPARE(wasUsable, usable);
    QCOMPARE(wasTooLarge, tooLarge);
    QCOMPARE(status, 200);
    QVERIFY2(
        service->streamedBytes() < 32 * 1024 * 1024, QByteArray::number(service->streamedBytes()));
    QVERIFY(memory.run(100));
    QCOMPARE(calls, 1);
}

// A caller that gives up aborts what is outstanding: the service sees the connections go, no
// handler runs, and the client serves the next request as usual.
void tst_HostileCloud::abortRequestsOnGivingUp()
{
    service->setAnswer("device", "GET", CloudAnswer::hold());
    service->setAnswer("device_model", "PATCH", CloudAnswer::hold());
    int calls = 0;
    const auto count = [&calls](QNetworkReply*, bool) { ++calls; };
    client->customRequest("device", "GET", { { "code", Code } }, count);
    client->customRequest("device_model", "PATCH", { { "code", 1 } }, count);
    client->customRequest("device_work_records", "POST", { { "device", 1 } }, nullptr);
    QTRY_COMPARE(service->heldConnections(), 2);
    QTRY_COMPARE(service->requests().size(), 3);

    client->abortRequests();
    QTRY_COMPARE(service->heldConnections(), 0);
    QTest::qWait(100);
    QCOMPARE(calls, 0);
    QVERIFY(client->findChild<QNetworkAccessManager*>()->findChildren<QNetworkReply*>().isEmpty());

    service->resetAnswers();
    client->customRequest("device_model", "PATCH", { { "code", 2 } }, count);
    QTRY_COMPARE(calls, 1);
}

void tst_HostileCloud::noWorkRecordUnderAnUnknownDevice_data()
{
    QTest::addColumn<CloudAnswer>("lookup");
    QTest::addColumn<CloudAnswer>("creation");

    const CloudAnswer notFound = CloudAnswer::json(404);
    const CloudAnswer unused = CloudAnswer::json(500);
    QTest::newRow("lookup: garbage") << CloudAnswer::garbage() << unused;
    QTest::newRow("lookup: truncated") << CloudAnswer::truncated() << unused;
    QTest::newRow("lookup: huge") << CloudAnswer::huge() << unused;
    QTest::newRow("lookup: endless") << CloudAnswer::endless() << unused;
    QTest::newRow("lookup: id 0") << CloudAnswer::json(200, { { "id", 0 } }) << unused;
    QTest::newRow("creation: garbage") << notFound << CloudAnswer::garbage();
    QTest::newRow("creation: truncated") << notFound << CloudAnswer::truncated();
    QTest::newRow("creation: endless") << notFound << CloudAnswer::endless();
    QTest::newRow("creation: no id") << notFound << CloudAnswer::json(200, { { "code", Code } });
}

// Registration that got no device id leaves the record without one: the finished job is not
// posted, and no update goes out either.
void tst_HostileCloud::noWorkRecordUnderAnUnknownDevice()
{
    QFETCH(CloudAnswer, lookup);
    QFETCH(CloudAnswer, creation);
    service->setAnswer("device", "GET", lookup);
    service->setAnswer("device_model", "POST", creation);
    CloudDevice device;
    QSignalSpy finished(
        client->findChild<QNetworkAccessManager*>(), &QNetworkAccessManager::finished);
    device.setCorvaneCloud(client.get(), Code);
    const int replies = lookup.status == 404 ? 3 : 2;
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), replies, 10000);
    QTest::qWait(50);
    QVERIFY(!device.cloud_device.contains("id"));
    QCOMPARE(device.mirror(), device.cloud_device);

    device.property_ptr("TASK_FILE_INFO")->setValue(QJsonObject { { "path_length", 1500 } });
    device.startTask();
    device.decode_task("66,3,a.plt,2,2,100,0,0,0");
    device.stopTask();
    QTest::qWait(200);
    QVERIFY(service->requests("device_work_records").isEmpty());
    QVERIFY(service->requests("device", "PUT").isEmpty());
}

void tst_HostileCloud::channelUnderAttack_data()
{
    QTest::addColumn<Mode>("mode");
    QTest::newRow("endless message") << Mode::EndlessMessage;
    QTest::newRow("prompt flood") << Mode::PromptFlood;
    QTest::newRow("flood without reading") << Mode::FloodWithoutReading;
}

void tst_HostileCloud::channelUnderAttack()
{
    QFETCH(Mode, mode);
    SimRig machine(fastMachine(400, 50));
    QVERIFY(machine.listening);
    QStringList statusLines;
    CloudDevice device;
    connect(
        &device, &T::message, this, [&statusLines](T::ZRDeviceMessage kind, const QString& text) {
            if (kind == T::DevStatus)
                statusLines.append(text);
        });
    // A large preview makes each runtime report some 87 KB: a backlog builds up fast.
    device.property_ptr("FILE_PREVIEW")->setValue(QByteArray(64 * 1024, '\x89'));
    device.property_ptr("TCP_PORT")->setValue(int(machine.tcp.port()));
    device.setIPAddress(QStringLiteral("127.0.0.1"));
    QVERIFY(device.connectDevice());
    QTRY_VERIFY(statusLines.contains("TCP CONNECTED."));
    device.setCorvaneCloud(client.get(), Code);
    QTRY_VERIFY(device.cloud_device.contains("id"));

    service->setChannelMode(mode);
    MemoryWatch memory(MemoryBound);
    qint64 openedAt = -1;
    qint64 closedAfterMs = -1; // from the channel's opening
    connect(&device, &T::message, this, [&](T::ZRDeviceMessage, const QString& text) {
        if (text == QLatin1String("WEB SOCKET CONNECTED."))
            openedAt = memory.elapsedMs();
        if (text == QLatin1String("WEB SOCKET DISCONNECTED."))
            closedAfterMs = memory.elapsedMs() - openedAt;
    });
    device.connect_websocket();
    QTRY_VERIFY(statusLines.contains("WEB SOCKET CONNECTED."));

    // Two copies of 400 mm at 400 mm/s: a job of two seconds under attack.
    device.property_ptr("TASK_COPIES")->setValue(2);
    device.setPlt(QString::fromLatin1(simtest::square(100)));
    device.startTask();
    int progress = 0;
    connect(&device, &T::message, this,
        [&progress](T::ZRDeviceMessage kind) { progress += kind == T::DevTasK; });
    const auto status = [&device] {
        ZRDeviceProperty* task = device.property_ptr("TASK");
        return task ? task->value().toJsonObject().value("Status").toInt() : 0;
    };
    QVERIFY2(memory.waitFor([&] { return status() == 3; }, 20000), memory.report());
    QVERIFY2(memory.run(300), memory.report());
    qInfo("%s: job done after %lld ms, channel closed after %lld ms, resident memory grew by "
          "%lld KiB",
        QTest::currentDataTag(), memory.elapsedMs(), closedAfterMs, memory.growth() / 1024);
    QCOMPARE(machine.sim.counters().copiesCut, 2);
    QVERIFY(statusLines.contains("TCP CONNECTED."));
    QVERIFY(!statusLines.contains("TCP DISCONNECTED."));

    auto* reports = device.web_socket->findChild<RemoteReports*>();
    QVERIFY(reports);
    if (mode == Mode::EndlessMessage) {
        // Closed as soon as the message passed the bound, and said so.
        QTRY_VERIFY(statusLines.contains("WEB SOCKET DISCONNECTED."));
        QCOMPARE(device.web_socket->state(), QAbstractSocket::UnconnectedState);
        QVERIFY(service->hostileBytesSent() < 64 * 1024 * 1024);
        return;
    }
    QVERIFY(!statusLines.contains("WEB SOCKET DISCONNECTED."));
    // Thousands of prompts, a few reports: most prompts are dropped, and counted.
    const int prompts = service->promptsSent();
    QVERIFY2(prompts > 1000, QByteArray::number(prompts));
    QVERIFY2(
        reports->droppedPrompts() > prompts / 2, QByteArray::number(reports->droppedPrompts()));
    // Nothing new is queued past the bound: what waits is at most the bound and one report.
    QVERIFY2(device.web_socket->bytesToWrite() <= RemoteReports::maxQueuedBytes + 128 * 1024,
        QByteArray::number(device.web_socket->bytesToWrite()));
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

QTEST_GUILESS_MAIN(tst_HostileCloud)
#include "tst_hostilecloud.moc"
