// The remote command channel: the WebSocket a device opens to the local cloud service, the
// status lines it reports, and its life with the device.

#include "clouddevice.h"
#include "cloudservice.h"
#include "corvanecloud.h"
#include "remotereports.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpServer>
#include <QWebSocket>
#include <QtTest>

#include <memory>

namespace {

const QString Code = QStringLiteral("ZRab12x");
const QString Connected = QStringLiteral("WEB SOCKET CONNECTED.");
const QString Disconnected = QStringLiteral("WEB SOCKET DISCONNECTED.");
const QString Error = QStringLiteral("WEB SOCKET ERROR.");

} // namespace

class tst_RemoteChannel : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void opensTheDeviceAddress();
    void emptyCodeAddress();
    void disconnectionIsReported();
    void errorIsReportedWithoutRetry();
    void nothingToOpen_data();
    void nothingToOpen();
    void secondCallDoesNotDoubleReports();
    void reopensWithAFreshAddress();
    void promptsAskForReports_data();
    void promptsAskForReports();
    void promptsBeyondTheRateAreDropped();
    void lastTextSurvivesReopening();
    void destroyedDeviceClosesChannelQuietly();
    void destroyedWhileOpening();

private:
    void makeDevice(bool withSettings = true);
    void openChannel();
    // The device's status lines; those emitted while it is being destroyed are marked.
    QStringList messages;
    bool destroying = false;

    std::unique_ptr<CloudService> service;
    std::unique_ptr<CorvaneCloud> client;
    std::unique_ptr<CloudDevice> device;
};

void tst_RemoteChannel::initTestCase()
{
    dropDebugLines();
}

void tst_RemoteChannel::init()
{
    QVERIFY2(startLocalCloud(service, client), qPrintable(service->errorString()));
    makeDevice();
}

void tst_RemoteChannel::cleanup()
{
    device.reset();
    client.reset();
    service.reset();
}

void tst_RemoteChannel::makeDevice(bool withSettings)
{
    messages.clear();
    destroying = false;
    device = std::make_unique<CloudDevice>(withSettings);
    connect(device.get(), &ZRDeviceInterface::message, this,
        [this](ZRDeviceInterface::ZRDeviceMessage kind, const QString& text) {
            QCOMPARE(kind, ZRDeviceInterface::DevStatus);
            messages << (destroying ? QStringLiteral("while destroyed: ") + text : text);
        });
}

// Registers the device and opens its channel; it carries a task for its reports.
void tst_RemoteChannel::openChannel()
{
    auto* task = new ZRDeviceProperty;
    task->init(QJsonObject { { "Status", 1 }, { "FileName", "job-0001.plt" }, { "TaskCopies", 2 },
                   { "Finished", 1 }, { "Percent", 50 } },
        QString(), QString(), 0, 0, 0, ZRDeviceInterface::UnCMD, {});
    adoptParameter(device.get(), "TASK", task);
    device->property_ptr("FILE_PREVIEW")->setValue(QByteArray("\x89PNG"));
    device->setCorvaneCloud(client.get(), Code);
    device->connect_websocket();
    QTRY_COMPARE(messages, QStringList { Connected });
}

void tst_RemoteChannel::opensTheDeviceAddress()
{
    QSignalSpy opened(service.get(), &CloudService::deviceConnected);
    device->setCorvaneCloud(client.get(), Code);
    QCOMPARE(device->web_socket, nullptr);
    device->connect_websocket();
    QVERIFY(device->web_socket);
    QCOMPARE(device->web_socket->parent(), nullptr);
    QCOMPARE(device->web_socket->version(), QWebSocketProtocol::Version13);
    QVERIFY(device->web_socket->origin().isEmpty());
    QCOMPARE(device->web_socket->requestUrl(), QUrl(service->wsBase() + Code + "/Device/"));
    QTRY_COMPARE(messages, QStringList { Connected });
    QCOMPARE(opened.size(), 1);
    QCOMPARE(service->connectedCodes(), QStringList { Code });
}

void tst_RemoteChannel::emptyCodeAddress()
{
    QSignalSpy opened(service.get(), &CloudService::deviceConnected);
    device->setCorvaneCloud(client.get(), QString());
    device->connect_websocket();
    QCOMPARE(device->web_socket->requestUrl().toString(), service->wsBase() + "/Device/");
    QTRY_COMPARE(opened.size(), 1);
    QCOMPARE(opened[0][0].toString(), QString());
    QTRY_COMPARE(messages, QStringList { Connected });
}

void tst_RemoteChannel::disconnectionIsReported()
{
    device->setCorvaneCloud(client.get(), Code);
    device->connect_websocket();
    QTRY_COMPARE(messages, QStringList { Connected });
    service->dropChannel(Code);
    QTRY_COMPARE(messages, QStringList({ Connected, Disconnected }));
    // Nothing reopens the channel by itself.
    QTest::qWait(300);
    QCOMPARE(messages, QStringList({ Connected, Disconnected }));
    QVERIFY(service->connectedCodes().isEmpty());
    QCOMPARE(device->web_socket->state(), QAbstractSocket::UnconnectedState);
}

void tst_RemoteChannel::errorIsReportedWithoutRetry()
{
    quint16 refused = 0;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        refused = probe.serverPort();
    }
    client->setWs(QStringLiteral("ws://127.0.0.1:%1/api/").arg(refused));
    device->setCorvaneCloud(client.get(), Code);
    device->connect_websocket();
    // Qt's socket reports a failed opening as a disconnection, then the error.
    QTRY_COMPARE(messages, QStringList({ Disconnected, Error }));
    QTest::qWait(300);
    QCOMPARE(messages, QStringList({ Disconnected, Error }));
    QCOMPARE(device->web_socket->state(), QAbstractSocket::UnconnectedState);
}

void tst_RemoteChannel::nothingToOpen_data()
{
    QTest::addColumn<bool>("withSettings");
    QTest::addColumn<bool>("withClient");
    QTest::newRow("no DEVICE_CLOUD") << false << true;
    QTest::newRow("no client") << true << false;
    QTest::newRow("neither") << false << false;
}

void tst_RemoteChannel::nothingToOpen()
{
    QFETCH(bool, withSettings);
    QFETCH(bool, withClient);
    makeDevice(withSettings);
    device->setCorvaneCloud(withClient ? client.get() : nullptr, Code);
    device->connect_websocket();
    QWebSocket* socket = device->web_socket;
    QVERIFY(socket);
    device->connect_websocket();
    QCOMPARE(device->web_socket, socket);
    QTest::qWait(200);
    QCOMPARE(socket->state(), QAbstractSocket::UnconnectedState);
    QVERIFY(!socket->requestUrl().isValid());
    QVERIFY(messages.isEmpty());
    QVERIFY(service->connectedCodes().isEmpty());
}

void tst_RemoteChannel::secondCallDoesNotDoubleReports()
{
    QSignalSpy opened(service.get(), &CloudService::deviceConnected);
    QSignalSpy closed(service.get(), &CloudService::deviceDisconnected);
    device->setCorvaneCloud(client.get(), Code);
    device->connect_websocket();
    QTRY_COMPARE(messages, QStringList { Connected });
    QWebSocket* socket = device->web_socket;

    // Opening again replaces the connection; each event still reaches the device once.
    device->connect_websocket();
    QCOMPARE(device->web_socket, socket);
    QTRY_COMPARE(opened.size(), 2);
    QTRY_COMPARE(closed.size(), 1);
    QTRY_COMPARE(messages, QStringList({ Connected, Connected }));
    service->dropChannel(Code);
    QTRY_COMPARE(messages, QStringList({ Connected, Connected, Disconnected }));
    QTest::qWait(100);
    QCOMPARE(messages, QStringList({ Connected, Connected, Disconnected }));
}

void tst_RemoteChannel::reopensWithAFreshAddress()
{
    QSignalSpy opened(service.get(), &CloudService::deviceConnected);
    device->setCorvaneCloud(client.get(), Code);
    device->connect_websocket();
    QTRY_COMPARE(opened.size(), 1);
    service->dropChannel(Code);
    QTRY_COMPARE(messages, QStringList({ Connected, Disconnected }));

    device->setCorvaneCloud(client.get(), "ZRcd34y");
    device->connect_websocket();
    QTRY_COMPARE(opened.size(), 2);
    QCOMPARE(opened[1][0].toString(), QStringLiteral("ZRcd34y"));
    QTRY_COMPARE(messages, QStringList({ Connected, Disconnected, Connected }));
}

void tst_RemoteChannel::promptsAskForReports_data()
{
    QTest::addColumn<QStringList>("prompts");
    QTest::addColumn<int>("reports");
    QTest::newRow("A B A") << QStringList { "A", "B", "A" } << 3;
    QTest::newRow("repeat") << QStringList { "A", "A" } << 1;
    QTest::newRow("empty first") << QStringList { "" } << 0;
    QTest::newRow("empty after A") << QStringList { "A", "" } << 2;
    QTest::newRow("runs") << QStringList { "A", "A", "B", "B", "B", "A" } << 3;
    QTest::newRow("content is not read") << QStringList { "{}", R"({"actions":["Stop"]})" } << 2;
}

void tst_RemoteChannel::promptsAskForReports()
{
    QFETCH(QStringList, prompts);
    QFETCH(int, reports);
    openChannel();
    // A closing prompt of its own shows when the service's texts have all been handled.
    prompts.append("sentinel");
    for (const QString& prompt : qAsConst(prompts))
        QCOMPARE(service->sendPrompt(Code, prompt), 1);
    QTRY_COMPARE(service->reports(Code).size(), reports + 1);
    QTest::qWait(100);
    QCOMPARE(service->reports(Code).size(), reports + 1);
    QCOMPARE(device->last_remote_text, QStringLiteral("sentinel"));

    const QJsonObject report
        = QJsonDocument::fromJson(service->reports(Code).last().toUtf8()).object();
    QCOMPARE(report.value("sender").toString(), QStringLiteral("Device"));
    QCOMPARE(report.value("actions").toArray(), QJsonArray { "Runtime" });
    QJsonObject runtime = device->property_ptr("TASK")->value().toJsonObject();
    runtime.insert("FilePreview", QString::fromLatin1(QByteArray("\x89PNG").toBase64()));
    QCOMPARE(report.value("message").toObject(), QJsonObject({ { "Runtime", runtime } }));
}

// A burst of prompts is answered in full; the prompts beyond it are dropped, counted and
// answered together by one report once the rate allows. However slowly a loaded machine reads
// them, the rate admits only a few of the many beyond the burst.
void tst_RemoteChannel::promptsBeyondTheRateAreDropped()
{
    openChannel();
    const int prompts = RemoteReports::promptBurst + 200;
    for (int i = 0; i < prompts; ++i)
        service->sendPrompt(Code, QString::number(i));
    QTRY_VERIFY(device->web_socket->findChild<RemoteReports*>());
    auto* reports = device->web_socket->findChild<RemoteReports*>();
    const auto answered = [&] { return prompts - reports->droppedPrompts(); };
    QTRY_VERIFY(service->reports(Code).size() == answered() + 1);
    QVERIFY2(reports->droppedPrompts() > 100, QByteArray::number(reports->droppedPrompts()));
    QTest::qWait(2000 / RemoteReports::promptsPerSecond);
    QCOMPARE(service->reports(Code).size(), answered() + 1);
}

void tst_RemoteChannel::lastTextSurvivesReopening()
{
    openChannel();
    service->sendPrompt(Code, "A");
    QTRY_COMPARE(service->reports(Code).size(), 1);
    service->dropChannel(Code);
    QTRY_COMPARE(messages, QStringList({ Connected, Disconnected }));

    device->connect_websocket();
    QTRY_COMPARE(service->connectedCodes(), QStringList { Code });
    service->clearReports();
    service->sendPrompt(Code, "A");
    service->sendPrompt(Code, "B");
    QTRY_COMPARE(service->reports(Code).size(), 1);
    QTest::qWait(100);
    QCOMPARE(service->reports(Code).size(), 1);
}

void tst_RemoteChannel::destroyedDeviceClosesChannelQuietly()
{
    QSignalSpy closed(service.get(), &CloudService::deviceDisconnected);
    device->setCorvaneCloud(client.get(), Code);
    device->connect_websocket();
    QTRY_COMPARE(messages, QStringList { Connected });
    destroying = true;
    device.reset();
    QTRY_COMPARE(closed.size(), 1);
    QTest::qWait(100);
    QCOMPARE(messages, QStringList { Connected });
}

void tst_RemoteChannel::destroyedWhileOpening()
{
    device->setCorvaneCloud(client.get(), Code);
    device->connect_websocket();
    destroying = true;
    device.reset();
    QTest::qWait(300);
    QVERIFY(messages.isEmpty());
    QVERIFY(service->connectedCodes().isEmpty());
}

QTEST_MAIN(tst_RemoteChannel)
#include "tst_remotechannel.moc"
