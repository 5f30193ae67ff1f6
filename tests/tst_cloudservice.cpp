// The local cloud service on its own: HTTP read from raw sockets (good, bad and hostile), the
// registry it keeps, fixed answers, and the WebSocket channel.

#include "cloudservice.h"

#include <QJsonDocument>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QWebSocket>
#include <QtTest>

#include <memory>

namespace {

// Sends bytes on a fresh connection and returns everything the service sends back until it
// closes the connection or goes quiet. The service runs in this thread: wait by event loop.
QByteArray exchange(quint16 port, const QByteArray& bytes, int quietMs = 300)
{
    QTcpSocket socket;
    QByteArray received;
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] { received += socket.readAll(); });
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::ConnectedState; }, 3000))
        return "not connected";
    socket.write(bytes);
    QElapsedTimer quiet;
    quiet.start();
    int seen = 0;
    while (socket.state() == QAbstractSocket::ConnectedState && quiet.elapsed() < quietMs) {
        QTest::qWait(5);
        if (received.size() != seen) {
            seen = received.size();
            quiet.restart();
        }
    }
    return received + socket.readAll();
}

int statusOf(const QByteArray& response)
{
    return response.startsWith("HTTP/1.1 ") ? response.mid(9, 3).toInt() : 0;
}

QByteArray request(const QByteArray& method, const QByteArray& target, const QByteArray& body = {},
    const QByteArray& extra = {})
{
    QByteArray text = method + ' ' + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra;
    if (!body.isEmpty())
        text += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    return text + "Connection: close\r\n\r\n" + body;
}

QJsonObject bodyOf(const QByteArray& response)
{
    return QJsonDocument::fromJson(response.mid(response.indexOf("\r\n\r\n") + 4)).object();
}

} // namespace

class tst_CloudService : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void badRequests_data();
    void badRequests();
    void requestInPieces();
    void pipelinedAndKeptAlive();
    void http10ClosesUnlessKeptAlive();
    void randomBytesNeverBreakIt();
    void registry();
    void fixedAnswers();
    void answerParsing_data();
    void answerParsing();
    void channel();
    void channelAtWrongPathIsClosed();

private:
    std::unique_ptr<CloudService> service;
};

void tst_CloudService::init()
{
    service = std::make_unique<CloudService>();
    QVERIFY2(service->listen(), qPrintable(service->errorString()));
}

void tst_CloudService::cleanup()
{
    service.reset();
}

void tst_CloudService::badRequests_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("status");

    QTest::newRow("garbage") << QByteArray("GARBAGE\r\n\r\n") << 400;
    QTest::newRow("no version") << QByteArray("GET /api/device\r\n\r\n") << 400;
    QTest::newRow("target not a path") << QByteArray("GET api HTTP/1.1\r\n\r\n") << 400;
    QTest::newRow("HTTP/2") << QByteArray("GET /api/device HTTP/2.0\r\n\r\n") << 505;
    QTest::newRow("header without colon")
        << QByteArray("GET /api/device HTTP/1.1\r\nHost\r\n\r\n") << 400;
    QTest::newRow("folded header")
        << QByteArray("GET /api/device HTTP/1.1\r\nA: b\r\n c\r\n\r\n") << 400;
    QTest::newRow("control byte in target") << QByteArray("GET /api/\x01 HTTP/1.1\r\n\r\n") << 400;
    QTest::newRow("length not a number")
        << QByteArray("POST /api/device HTTP/1.1\r\nContent-Length: 1x\r\n\r\n1") << 400;
    QTest::newRow("negative length")
        << QByteArray("POST /api/device HTTP/1.1\r\nContent-Length: -1\r\n\r\n") << 400;
    QTest::newRow("two lengths") << QByteArray(
        "POST /api/device HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n12")
                                 << 400;
    QTest::newRow("body too large")
        << QByteArray("POST /api/device HTTP/1.1\r\nContent-Length: 999999999\r\n\r\n") << 413;
    QTest::newRow("chunked") << QByteArray(
        "POST /api/device HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n")
                             << 501;
    QTest::newRow("endless header")
        << QByteArray("GET /api/device HTTP/1.1\r\nX: ") + QByteArray(20000, 'a') << 431;
    QTest::newRow("header block too large")
        << QByteArray("GET /api/device HTTP/1.1\r\n") + QByteArray(17000, 'a') + ": b\r\n\r\n"
        << 431;
}

void tst_CloudService::badRequests()
{
    QFETCH(QByteArray, bytes);
    const QByteArray response = exchange(service->httpPort(), bytes);
    QTEST(statusOf(response), "status");
    QVERIFY(response.contains("Connection: close"));
    QVERIFY(service->requests().isEmpty());
    // The service still serves the next client.
    QCOMPARE(statusOf(exchange(service->httpPort(), request("GET", "/api/device?code=X"))), 404);
}

void tst_CloudService::requestInPieces()
{
    const QByteArray whole = request("POST", "/api/device", R"({"code":"ZRab12x"})");
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, service->httpPort());
    QVERIFY(socket.waitForConnected(3000));
    for (char byte : whole) {
        socket.write(&byte, 1);
        socket.flush();
    }
    QTRY_VERIFY(socket.bytesAvailable() > 0 || socket.state() != QAbstractSocket::ConnectedState);
    QTRY_VERIFY(socket.state() != QAbstractSocket::ConnectedState);
    const QByteArray response = socket.readAll();
    QCOMPARE(statusOf(response), 200);
    QCOMPARE(bodyOf(response).value("code").toString(), QStringLiteral("ZRab12x"));
    QCOMPARE(service->requests().size(), 1);
}

void tst_CloudService::pipelinedAndKeptAlive()
{
    const QByteArray first = "\r\nGET /api/device?code=A HTTP/1.1\r\n\r\n";
    const QByteArray second
        = "PATCH /api/device_model/ HTTP/1.1\r\nContent-Length: 10\r\n\r\n{\"code\":7}";
    const QByteArray response = exchange(service->httpPort(), first + second);
    QCOMPARE(response.count("HTTP/1.1 "), 2);
    QCOMPARE(statusOf(response), 404);
    QVERIFY(response.contains(R"({"code":7,"id":1})"));
    QVERIFY(!response.contains("Connection: close"));
    const QList<CloudRequest> received = service->requests();
    QCOMPARE(received.size(), 2);
    QCOMPARE(received[1].resource, QStringLiteral("device_model"));
    QCOMPARE(received[1].answerStatus, 200);
}

void tst_CloudService::http10ClosesUnlessKeptAlive()
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, service->httpPort());
    QVERIFY(socket.waitForConnected(3000));
    socket.write("GET /api/device?code=A HTTP/1.0\r\nConnection: keep-alive\r\n\r\n");
    QTRY_VERIFY(socket.bytesAvailable() > 0);
    QTest::qWait(50);
    QCOMPARE(socket.state(), QAbstractSocket::ConnectedState);
    socket.readAll();
    socket.write("GET /api/device?code=A HTTP/1.0\r\n\r\n");
    QTRY_COMPARE(socket.state(), QAbstractSocket::UnconnectedState);
    QVERIFY(socket.readAll().contains("Connection: close"));
}

void tst_CloudService::randomBytesNeverBreakIt()
{
    QRandomGenerator random(4150);
    static const QByteArray pieces[] = { "GET ", "POST ", "/api/device", "?code=", " HTTP/1.1",
        "\r\n", "\n", "Content-Length: ", "12", ": ", "%zz", QByteArray(1, '\0'),
        "{\"code\":", "\r\n\r\n" };
    for (int round = 0; round < 60; ++round) {
        QByteArray bytes;
        const int count = random.bounded(1, 30);
        for (int i = 0; i < count; ++i) {
            if (random.bounded(3) == 0) {
                bytes += char(random.bounded(256));
            } else {
                bytes += pieces[random.bounded(int(std::size(pieces)))];
            }
        }
        exchange(service->httpPort(), bytes, 30);
    }
    const QByteArray response = exchange(service->httpPort(), request("GET", "/api/device?code=X"));
    QCOMPARE(statusOf(response), 404);
}

void tst_CloudService::registry()
{
    const quint16 port = service->httpPort();
    auto status
        = [port](const QByteArray& method, const QByteArray& target, const QByteArray& body = {}) {
              return statusOf(exchange(port, request(method, target, body)));
          };

    // Model ids: one per model number, stable.
    QCOMPARE(bodyOf(exchange(port, request("PATCH", "/api/device_model", R"({"code":480854})"))),
        QJsonObject({ { "code", 480854 }, { "id", 1 } }));
    QCOMPARE(
        bodyOf(exchange(port, request("PATCH", "/api/device_model", R"({"code":5})"))).value("id"),
        2);
    QCOMPARE(bodyOf(exchange(port, request("PATCH", "/api/device_model", R"({"code":480854})")))
                 .value("id"),
        1);
    QCOMPARE(service->modelId(480854), 1);
    QCOMPARE(status("PATCH", "/api/device_model", R"({"code":"x"})"), 400);

    // A device is found only once created; creation assigns ids and refuses a taken code.
    QCOMPARE(status("GET", "/api/device?code=ZRab12x"), 404);
    QCOMPARE(status("GET", "/api/device"), 400);
    const QJsonObject created = bodyOf(exchange(
        port, request("POST", "/api/device_model", R"({"code":"ZRab12x","online":true})")));
    QCOMPARE(created, QJsonObject({ { "code", "ZRab12x" }, { "online", true }, { "id", 1001 } }));
    QCOMPARE(status("POST", "/api/device_model", R"({"code":"ZRab12x"})"), 409);
    QCOMPARE(status("POST", "/api/device", R"({"online":true})"), 400);
    QCOMPARE(status("POST", "/api/device", "not json"), 400);
    QCOMPARE(bodyOf(exchange(port, request("GET", "/api/device?code=ZRab12x"))), created);

    // Updates store, by id or by code.
    QCOMPARE(status("PUT", "/api/device", R"({"id":1001,"pcb":"P1","online":true})"), 200);
    QCOMPARE(status("PUT", "/api/device", R"({"code":"ZRab12x","version":"V2"})"), 200);
    QCOMPARE(status("PUT", "/api/device", R"({"id":77})"), 404);
    QCOMPARE(service->device("ZRab12x"),
        QJsonObject({ { "code", "ZRab12x" }, { "online", true }, { "id", 1001 }, { "pcb", "P1" },
            { "version", "V2" } }));
    QCOMPARE(service->addDevice({ { "code", "other" }, { "id", 5 } }), 1002);
    QCOMPARE(service->devices().size(), 2);

    // Work records.
    QCOMPARE(
        bodyOf(exchange(port, request("POST", "/api/device_work_records", R"({"device":1001})"))),
        QJsonObject({ { "id", 1 } }));
    QCOMPARE(service->workRecords().value(0), QJsonObject({ { "device", 1001 }, { "id", 1 } }));
    QCOMPARE(status("DELETE", "/api/device"), 405);
    QCOMPARE(status("GET", "/api/elsewhere"), 404);
    QCOMPARE(status("GET", "/other/device?code=ZRab12x"), 404);
}

void tst_CloudService::fixedAnswers()
{
    const quint16 port = service->httpPort();
    service->setAnswer("device", "GET", CloudAnswer::json(500, { { "error", "down" } }));
    service->queueAnswer("device", "GET", CloudAnswer::json(200, { { "id", 12 } }));
    service->queueAnswer("device", "GET", CloudAnswer::raw(200, "not json"));

    QCOMPARE(exchange(port, request("GET", "/api/device?code=A")).endsWith(R"({"id":12})"), true);
    QCOMPARE(exchange(port, request("GET", "/api/device?code=A")).endsWith("not json"), true);
    QCOMPARE(statusOf(exchange(port, request("GET", "/api/device?code=A"))), 500);
    // Other methods of the resource are untouched.
    QCOMPARE(statusOf(exchange(port, request("PUT", "/api/device", R"({"id":1})"))), 404);

    service->setAnswer("device_model", "PATCH", CloudAnswer::close());
    QCOMPARE(exchange(port, request("PATCH", "/api/device_model", R"({"code":1})")), QByteArray());
    QCOMPARE(service->requests("device_model").value(0).answerStatus, 0);

    service->setAnswer("device_model", "POST", CloudAnswer::hold());
    QTcpSocket held;
    held.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(held.waitForConnected(3000));
    held.write(request("POST", "/api/device_model", R"({"code":"B"})"));
    QTRY_COMPARE(service->heldConnections(), 1);
    QTest::qWait(100);
    QCOMPARE(held.state(), QAbstractSocket::ConnectedState);
    QCOMPARE(held.bytesAvailable(), 0);
    QVERIFY(service->device("B").isEmpty());
    held.abort();
    QTRY_COMPARE(service->heldConnections(), 0);

    service->resetAnswers();
    QCOMPARE(statusOf(exchange(port, request("GET", "/api/device?code=A"))), 404);
    QCOMPARE(service->requests("device", "GET").size(), 4);
    service->clearRequests();
    QVERIFY(service->requests().isEmpty());
}

Q_DECLARE_METATYPE(CloudAnswer::Kind)

void tst_CloudService::answerParsing_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<CloudAnswer::Kind>("kind");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("registry") << "registry" << true << CloudAnswer::Registry << 200 << QByteArray();
    QTest::newRow("hold") << "hold" << true << CloudAnswer::Hold << 0 << QByteArray();
    QTest::newRow("close") << "close" << true << CloudAnswer::Close << 0 << QByteArray();
    QTest::newRow("status") << "404" << true << CloudAnswer::Respond << 404 << QByteArray("{}");
    QTest::newRow("status and JSON")
        << R"(200:{"id":12})" << true << CloudAnswer::Respond << 200 << QByteArray(R"({"id":12})");
    QTest::newRow("status and text")
        << "200:not: json" << true << CloudAnswer::Respond << 200 << QByteArray("not: json");
    const QByteArray hostile(R"({"id":4242})");
    QTest::newRow("huge") << "huge" << true << CloudAnswer::Stream << 200 << hostile;
    QTest::newRow("huge of a size") << "huge:2048" << true << CloudAnswer::Stream << 200 << hostile;
    QTest::newRow("huge of no size")
        << "huge:x" << false << CloudAnswer::Registry << 0 << QByteArray();
    QTest::newRow("endless") << "endless" << true << CloudAnswer::Stream << 200 << hostile;
    QTest::newRow("garbage") << "garbage" << true << CloudAnswer::Respond << 200
                             << CloudAnswer::garbage().body;
    QTest::newRow("truncated") << "truncated" << true << CloudAnswer::Truncated << 200
                               << QByteArray(R"({"code":"cut short","id":4242})");
    QTest::newRow("status too small")
        << "99" << false << CloudAnswer::Registry << 0 << QByteArray();
    QTest::newRow("status too large")
        << "600" << false << CloudAnswer::Registry << 0 << QByteArray();
    QTest::newRow("word") << "later" << false << CloudAnswer::Registry << 0 << QByteArray();
    QTest::newRow("empty") << "" << false << CloudAnswer::Registry << 0 << QByteArray();
}

void tst_CloudService::answerParsing()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    CloudAnswer answer;
    QCOMPARE(CloudAnswer::parse(text, &answer), valid);
    if (!valid)
        return;
    QTEST(answer.kind, "kind");
    QTEST(answer.status, "status");
    QTEST(answer.body, "body");
}

void tst_CloudService::channel()
{
    QSignalSpy connected(service.get(), &CloudService::deviceConnected);
    QSignalSpy disconnected(service.get(), &CloudService::deviceDisconnected);
    QWebSocket device;
    QStringList prompts;
    connect(
        &device, &QWebSocket::textMessageReceived, [&](const QString& text) { prompts << text; });
    device.open(QUrl(service->wsBase() + "ZRab12x/Device/"));
    QTRY_COMPARE(connected.size(), 1);
    QCOMPARE(connected[0][0].toString(), QStringLiteral("ZRab12x"));
    QCOMPARE(service->connectedCodes(), QStringList { "ZRab12x" });

    QCOMPARE(service->sendPrompt("ZRab12x", "A"), 1);
    QCOMPARE(service->sendPrompt("nobody", "A"), 0);
    QTRY_COMPARE(prompts, QStringList { "A" });
    device.sendTextMessage(R"({"sender":"Device"})");
    QTRY_COMPARE(service->reports("ZRab12x"), QStringList { R"({"sender":"Device"})" });

    service->dropChannel("ZRab12x");
    QTRY_COMPARE(disconnected.size(), 1);
    QTRY_COMPARE(device.state(), QAbstractSocket::UnconnectedState);
    QVERIFY(service->connectedCodes().isEmpty());
    service->clearReports();
    QVERIFY(service->reports("ZRab12x").isEmpty());
}

void tst_CloudService::channelAtWrongPathIsClosed()
{
    QSignalSpy connected(service.get(), &CloudService::deviceConnected);
    QWebSocket stranger;
    stranger.open(QUrl(service->wsBase() + "Device/"));
    QTRY_COMPARE(stranger.state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(stranger.closeCode(), QWebSocketProtocol::CloseCodePolicyViolated);
    QCOMPARE(connected.size(), 0);

    // The empty code has a channel of its own.
    QWebSocket empty;
    empty.open(QUrl(service->wsBase() + "/Device/"));
    QTRY_COMPARE(connected.size(), 1);
    QCOMPARE(connected[0][0].toString(), QString());
}

QTEST_MAIN(tst_CloudService)
#include "tst_cloudservice.moc"
