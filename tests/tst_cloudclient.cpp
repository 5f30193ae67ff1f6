// The cloud client against the local cloud service: how requests go out, what handlers get,
// and how failures read.

#include "clouddevice.h"
#include "cloudservice.h"
#include "corvanecloud.h"

#include <QJsonArray>
#include <QNetworkReply>
#include <QPointer>
#include <QTcpServer>
#include <QThread>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(CloudAnswer)

namespace {

// What one handler call saw.
struct Outcome {
    int calls = 0;
    int status = -1;
    bool usable = false;
    QByteArray body;
    QThread* thread = nullptr;
    QPointer<QNetworkReply> reply;
};

std::function<void(QNetworkReply*, bool)> recordInto(std::shared_ptr<Outcome> outcome)
{
    return [outcome](QNetworkReply* reply, bool usable) {
        ++outcome->calls;
        outcome->status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        outcome->usable = usable;
        outcome->body = reply->readAll();
        outcome->thread = QThread::currentThread();
        outcome->reply = reply;
    };
}

// A port on which nothing listens.
quint16 refusedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

} // namespace

class tst_CloudClient : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void methods_data();
    void methods();
    void getBodyBecomesQuery();
    void baseWithoutTrailingSlash();
    void answers_data();
    void answers();
    void refusedConnection();
    void invalidMethodIsNotSent_data();
    void invalidMethodIsNotSent();
    void bearerToken();
    void requestFromAnotherThread();
    void handlerMayNestAndSendAgain();
    void clientDestroyedWithRequestPending();
    void defaultConstructed();

private:
    std::unique_ptr<CloudService> service;
    std::unique_ptr<CorvaneCloud> client;
};

void tst_CloudClient::init()
{
    QVERIFY2(startLocalCloud(service, client), qPrintable(service->errorString()));
    client->setRequestTimeout(400);
}

void tst_CloudClient::cleanup()
{
    client.reset();
    service.reset();
}

void tst_CloudClient::methods_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<bool>("carriesBody");
    QTest::newRow("GET") << QByteArray("GET") << false;
    QTest::newRow("POST") << QByteArray("POST") << true;
    QTest::newRow("PUT") << QByteArray("PUT") << true;
    QTest::newRow("PATCH") << QByteArray("PATCH") << true;
    QTest::newRow("other token") << QByteArray("DELETE") << true;
}

void tst_CloudClient::methods()
{
    QFETCH(QByteArray, method);
    QFETCH(bool, carriesBody);
    service->setAnswer("device", method, CloudAnswer::json(200, { { "id", 5 } }));
    const QJsonObject body { { "code", "ZRab12x" }, { "online", true } };
    auto outcome = std::make_shared<Outcome>();
    client->customRequest("device", method, body, recordInto(outcome));
    QCOMPARE(outcome->calls, 0); // never from inside customRequest
    QTRY_COMPARE(outcome->calls, 1);

    const QList<CloudRequest> received = service->requests();
    QCOMPARE(received.size(), 1);
    const CloudRequest& request = received.first();
    QCOMPARE(request.method, method);
    QCOMPARE(request.path, QStringLiteral("/api/device"));
    QCOMPARE(request.header("accept"), QByteArray("application/json"));
    QVERIFY(request.header("authorization").isEmpty());
    if (carriesBody) {
        QCOMPARE(request.header("content-type"), QByteArray("application/json"));
        QVERIFY(request.bodyIsJson);
        QCOMPARE(request.json, body);
        QVERIFY(request.query.isEmpty());
    } else {
        QVERIFY(request.body.isEmpty());
        QVERIFY(request.header("content-type").isEmpty());
        QCOMPARE(request.queryValue("code"), QStringLiteral("ZRab12x"));
    }
    QCOMPARE(outcome->status, 200);
    QVERIFY(outcome->usable);
    QCOMPARE(outcome->body, QByteArray(R"({"id":5})"));
}

void tst_CloudClient::getBodyBecomesQuery()
{
    const QJsonObject body { { "code", QString::fromUtf8("A B+&=é/?#%") }, { "n", 3 },
        { "big", 480854 }, { "f", 1.5 }, { "t", true }, { "z", QJsonValue::Null },
        { "o", QJsonObject { { "a", 1 } } }, { "list", QJsonArray { 1, "x" } },
        { "", "empty key" } };
    auto outcome = std::make_shared<Outcome>();
    client->customRequest("device", "GET", body, recordInto(outcome));
    QTRY_COMPARE(outcome->calls, 1);

    const CloudRequest request = service->requests().value(0);
    QVERIFY(request.body.isEmpty());
    QCOMPARE(request.path, QStringLiteral("/api/device"));
    const QList<QPair<QString, QString>> expected {
        { "", "empty key" },
        { "big", "480854" },
        { "code", QString::fromUtf8("A B+&=é/?#%") },
        { "f", "1.5" },
        { "list", R"([1,"x"])" },
        { "n", "3" },
        { "o", R"({"a":1})" },
        { "t", "true" },
        { "z", "null" },
    };
    QCOMPARE(request.query, expected);
}

void tst_CloudClient::baseWithoutTrailingSlash()
{
    QUrl base = service->httpBase();
    base.setPath("/api");
    base.setQuery("tenant=7");
    client->setBaseUrl(base);
    QCOMPARE(client->baseUrl(), base);
    auto outcome = std::make_shared<Outcome>();
    client->customRequest("device", "GET", { { "code", "X" } }, recordInto(outcome));
    QTRY_COMPARE(outcome->calls, 1);
    const CloudRequest request = service->requests().value(0);
    QCOMPARE(request.path, QStringLiteral("/api/device"));
    const QList<QPair<QString, QString>> expected { { "tenant", "7" }, { "code", "X" } };
    QCOMPARE(request.query, expected);
}

void tst_CloudClient::answers_data()
{
    QTest::addColumn<CloudAnswer>("answer");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("usable");
    QTest::addColumn<QByteArray>("body");

    QTest::newRow("200 with an id")
        << CloudAnswer::json(200, { { "id", 12 } }) << 200 << true << QByteArray(R"({"id":12})");
    QTest::newRow("201") << CloudAnswer::json(201) << 201 << true << QByteArray("{}");
    QTest::newRow("200 not JSON") << CloudAnswer::raw(200, "not json") << 200 << true
                                  << QByteArray("not json");
    QTest::newRow("404") << CloudAnswer::json(404, { { "error", "x" } }) << 404 << false
                         << QByteArray(R"({"error":"x"})");
    QTest::newRow("409") << CloudAnswer::json(409) << 409 << false << QByteArray("{}");
    QTest::newRow("500") << CloudAnswer::raw(500, "boom") << 500 << false << QByteArray("boom");
    QTest::newRow("no answer") << CloudAnswer::hold() << 0 << false << QByteArray();
    QTest::newRow("closed unanswered") << CloudAnswer::close() << 0 << false << QByteArray();
}

void tst_CloudClient::answers()
{
    QFETCH(CloudAnswer, answer);
    service->setAnswer("device_model", "PATCH", answer);
    auto outcome = std::make_shared<Outcome>();
    QElapsedTimer clock;
    clock.start();
    client->customRequest("device_model", "PATCH", { { "code", 1 } }, recordInto(outcome));
    QTRY_COMPARE_WITH_TIMEOUT(outcome->calls, 1, 5000);
    QTEST(outcome->status, "status");
    QTEST(outcome->usable, "usable");
    QTEST(outcome->body, "body");
    QCOMPARE(outcome->thread, client->thread());
    if (answer.kind == CloudAnswer::Hold)
        QVERIFY2(clock.elapsed() >= 350, "the request timeout decides when a silent service fails");
    // The reply goes once the handler has returned, and the handler is not called again.
    QTRY_VERIFY(outcome->reply.isNull());
    QTest::qWait(50);
    QCOMPARE(outcome->calls, 1);
}

void tst_CloudClient::refusedConnection()
{
    QUrl base = service->httpBase();
    base.setPort(refusedPort());
    client->setBaseUrl(base);
    auto outcome = std::make_shared<Outcome>();
    client->customRequest("device", "GET", { { "code", "X" } }, recordInto(outcome));
    QTRY_COMPARE(outcome->calls, 1);
    QCOMPARE(outcome->status, 0);
    QVERIFY(!outcome->usable);
    QVERIFY(outcome->body.isEmpty());
}

void tst_CloudClient::invalidMethodIsNotSent_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("space") << QByteArray("GET /x");
    QTest::newRow("header smuggling") << QByteArray("POST\r\nX-Evil: 1\r\n");
}

void tst_CloudClient::invalidMethodIsNotSent()
{
    QFETCH(QByteArray, method);
    auto outcome = std::make_shared<Outcome>();
    client->customRequest("device", method, { { "code", "X" } }, recordInto(outcome));
    QCOMPARE(outcome->calls, 0);
    QTRY_COMPARE(outcome->calls, 1);
    QCOMPARE(outcome->status, 0);
    QVERIFY(!outcome->usable);
    QTRY_VERIFY(outcome->reply.isNull());
    QTest::qWait(100);
    QCOMPARE(outcome->calls, 1);
    QVERIFY(service->requests().isEmpty());
}

void tst_CloudClient::bearerToken()
{
    service->setRequiredToken("s3cret");
    auto refused = std::make_shared<Outcome>();
    client->customRequest("device", "PUT", { { "code", "X" } }, recordInto(refused));
    QTRY_COMPARE(refused->calls, 1);
    QCOMPARE(refused->status, 401);
    QVERIFY(!refused->usable);

    QVERIFY(client->bearerToken().isEmpty());
    client->setBearerToken("s3cret");
    QCOMPARE(client->bearerToken(), QStringLiteral("s3cret"));
    auto accepted = std::make_shared<Outcome>();
    client->customRequest("device_model", "PATCH", { { "code", 1 } }, recordInto(accepted));
    QTRY_COMPARE(accepted->calls, 1);
    QCOMPARE(accepted->status, 200);
    QCOMPARE(service->requests().last().header("authorization"), QByteArray("Bearer s3cret"));
}

void tst_CloudClient::requestFromAnotherThread()
{
    auto outcome = std::make_shared<Outcome>();
    std::unique_ptr<QThread> sender(QThread::create([this, outcome] {
        client->customRequest("device_model", "PATCH", { { "code", 2 } }, recordInto(outcome));
    }));
    sender->start();
    QVERIFY(sender->wait(5000));
    QTRY_COMPARE(outcome->calls, 1);
    QCOMPARE(outcome->status, 200);
    QCOMPARE(outcome->thread, QThread::currentThread());
}

void tst_CloudClient::handlerMayNestAndSendAgain()
{
    auto second = std::make_shared<Outcome>();
    int status = -1;
    QByteArray body;
    client->customRequest(
        "device_model", "PATCH", { { "code", 3 } }, [&](QNetworkReply* reply, bool) {
            QEventLoop wait;
            QTimer::singleShot(100, &wait, &QEventLoop::quit);
            wait.exec();
            status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            body = reply->readAll();
            client->customRequest("device_model", "PATCH", { { "code", 4 } }, recordInto(second));
        });
    QTRY_COMPARE(second->calls, 1);
    QCOMPARE(status, 200);
    QCOMPARE(body, QByteArray(R"({"code":3,"id":1})"));
    QCOMPARE(second->body, QByteArray(R"({"code":4,"id":2})"));
}

void tst_CloudClient::clientDestroyedWithRequestPending()
{
    service->setAnswer("device", "GET", CloudAnswer::hold());
    auto outcome = std::make_shared<Outcome>();
    client->customRequest("device", "GET", { { "code", "X" } }, recordInto(outcome));
    QTRY_COMPARE(service->heldConnections(), 1);
    client.reset();
    QTRY_COMPARE(service->heldConnections(), 0);
    QTest::qWait(100);
    QCOMPARE(outcome->calls, 0);
}

void tst_CloudClient::defaultConstructed()
{
    CorvaneCloud bare;
    QVERIFY(bare.ws().isEmpty());
    QVERIFY(bare.baseUrl().isEmpty());
    QCOMPARE(bare.requestTimeout(), 30000);
    auto outcome = std::make_shared<Outcome>();
    bare.customRequest("device", "GET", {}, recordInto(outcome));
    QTRY_COMPARE(outcome->calls, 1);
    QCOMPARE(outcome->status, 0);
    QVERIFY(!outcome->usable);

    client->setWs("ws://127.0.0.1:1/x/");
    QCOMPARE(client->ws(), QStringLiteral("ws://127.0.0.1:1/x/"));
}

QTEST_MAIN(tst_CloudClient)
#include "tst_cloudclient.moc"
