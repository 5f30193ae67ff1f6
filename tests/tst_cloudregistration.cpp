// Registering a device with the cloud: the record, the model query, the lookup with its
// creation, update and retry, all through the real client against the local cloud service.

#include "clouddevice.h"
#include "cloudservice.h"
#include "corvanecloud.h"
#include "lookupretry.h"
#include "zrdevicehost.h"

#include <QNetworkAccessManager>
#include <QTcpServer>
#include <QWebSocket>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(CloudAnswer)

namespace {

const QString Code = QStringLiteral("ZRab12x");

QStringList debugLines;

void recordDebug(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type == QtDebugMsg)
        debugLines.append(text);
}

QJsonObject fiveKeys(const QString& code = Code)
{
    return { { "code", code }, { "pcb", "PCB-7" }, { "version", "FW 2.1" },
        { "device_id", "M-0042" }, { "online", true } };
}

} // namespace

class tst_CloudRegistration : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void modelNumber_data();
    void modelNumber();
    void recordDebugLinesAndBothRequestsAtOnce();
    void lookupNotFoundCreates_data();
    void lookupNotFoundCreates();
    void creationAnswers_data();
    void creationAnswers();
    void lookupFoundUpdates_data();
    void lookupFoundUpdates();
    void lookupFailuresDoNothing_data();
    void lookupFailuresDoNothing();
    void modelAnswers_data();
    void modelAnswers();
    void noResponseRetriesUntilAnswered();
    void retryReadsCodeAfterTheWait();
    void refusedConnectionRetries();
    void deviceDestroyedWithRepliesOnTheWay();
    void deviceDestroyedDuringRetryWait();
    void clientDestroyedDuringRetryWait();
    void withoutDeviceCloudNothingIsSent();
    void nullClientBuildsRecordOnly();
    void secondCallStartsAfresh();
    void standing_data();
    void standing();
    void hostStopsTheRetries();

private:
    // Waits until the client has seen count replies finish, and their handlers have run.
    void settle(int count)
    {
        QTRY_COMPARE(finished->size(), count);
        QTest::qWait(30);
    }

    std::unique_ptr<CloudService> service;
    std::unique_ptr<CorvaneCloud> client;
    std::unique_ptr<CloudDevice> device;
    std::unique_ptr<QSignalSpy> finished;
};

void tst_CloudRegistration::initTestCase()
{
    // The device's diagnostic lines are collected, not printed.
    qInstallMessageHandler(recordDebug);
    QCOMPARE(cloudLookupRetryDelay(), 10000);
    setCloudLookupRetryDelay(150);
}

void tst_CloudRegistration::init()
{
    QVERIFY2(startLocalCloud(service, client), qPrintable(service->errorString()));
    client->setRequestTimeout(300);
    finished = std::make_unique<QSignalSpy>(
        client->findChild<QNetworkAccessManager*>(), &QNetworkAccessManager::finished);
    device = std::make_unique<CloudDevice>();
    device->hangText("PCB_ID", "PCB-7");
    device->hangText("FIRMWARE", "FW 2.1");
    device->hangText("DEVICE_ID", "M-0042");
}

void tst_CloudRegistration::cleanup()
{
    finished.reset();
    device.reset();
    client.reset();
    service.reset();
    setCloudLookupRetryDelay(150);
}

void tst_CloudRegistration::modelNumber_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("model");

    QTest::newRow("worked example") << "ZRab12x" << 480854;
    QTest::newRow("upper case") << "ZRAB12" << 480854;
    QTest::newRow("only four count") << "ZRab12zzzz" << 480854;
    QTest::newRow("three characters") << "ZRa" << 10;
    QTest::newRow("five characters") << "ZRab1" << 10 * 36 * 36 + 11 * 36 + 1;
    QTest::newRow("largest") << "ZRzzzz" << 36 * 36 * 36 * 36 - 1;
    QTest::newRow("zeros") << "ZR0000" << 0;
    QTest::newRow("two characters") << "AB" << 0;
    QTest::newRow("one character") << "A" << 0;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("punctuation below a") << "ZR!!" << -15 * 36 - 15;
    QTest::newRow("punctuation above z") << "ZR{}" << 36 * 36 + 38;
    QTest::newRow("Latin-1 letter") << QString::fromUtf8("ZRÀb") << (0xe0 - 256 - 48) * 36 + 11;
    QTest::newRow("outside Latin-1") << QString::fromUtf8("ZR中1") << ('?' - 48) * 36 + 1;
}

void tst_CloudRegistration::modelNumber()
{
    QFETCH(QString, code);
    QFETCH(int, model);
    service->setAnswer("device", "GET", CloudAnswer::json(500));
    device->setCorvaneCloud(client.get(), code);
    QTRY_COMPARE(service->requests("device_model", "PATCH").size(), 1);
    const CloudRequest query = service->requests("device_model", "PATCH").first();
    QCOMPARE(query.json, QJsonObject({ { "code", model } }));
    QVERIFY(query.body.contains(QByteArray::number(model)));
    const CloudRequest lookup = service->requests("device", "GET").value(0);
    QCOMPARE(lookup.query, (QList<QPair<QString, QString>> { { "code", code } }));
}

void tst_CloudRegistration::recordDebugLinesAndBothRequestsAtOnce()
{
    service->setAnswer("device_model", "PATCH", CloudAnswer::hold());
    service->setAnswer("device", "GET", CloudAnswer::hold());
    debugLines.clear();
    device->setCorvaneCloud(client.get(), Code);

    QCOMPARE(device->corvane_cloud, client.get());
    QCOMPARE(device->cloud_device, fiveKeys());
    QCOMPARE(device->mirror(), device->cloud_device);
    QCOMPARE(debugLines,
        QStringList({ R"(ZRCommonInterface::setCorvaneCloud QJsonObject({"code":480854}))",
            R"(ZRCommonInterface::setCorvaneCloud QJsonObject({"code":"ZRab12x"}))",
            R"(ZRCommonInterface::cloud_device_get QJsonObject({"code":"ZRab12x"}))" }));
    // Neither request waits for the other.
    QTRY_COMPARE(service->heldConnections(), 2);
}

void tst_CloudRegistration::lookupNotFoundCreates_data()
{
    QTest::addColumn<CloudAnswer>("model");
    QTest::addColumn<bool>("retryFirst");
    QTest::addColumn<QJsonObject>("posted");

    QTest::newRow("model query failed") << CloudAnswer::json(500) << false << fiveKeys();
    QTest::newRow("model query unanswered") << CloudAnswer::hold() << false << fiveKeys();
    QJsonObject withModel = fiveKeys();
    withModel.insert("device_model", 77);
    // The retry lets the model answer arrive before the lookup's.
    QTest::newRow("model answered first")
        << CloudAnswer::json(200, { { "id", 77 } }) << true << withModel;
}

void tst_CloudRegistration::lookupNotFoundCreates()
{
    QFETCH(CloudAnswer, model);
    QFETCH(bool, retryFirst);
    service->setAnswer("device_model", "PATCH", model);
    if (retryFirst)
        service->queueAnswer("device", "GET", CloudAnswer::hold());
    device->setCorvaneCloud(client.get(), Code);

    QTRY_VERIFY_WITH_TIMEOUT(device->cloud_device.contains("id"), 5000);
    const QList<CloudRequest> posts = service->requests("device_model", "POST");
    QCOMPARE(posts.size(), 1);
    QTEST(posts.first().json, "posted");
    QCOMPARE(posts.first().header("content-type"), QByteArray("application/json"));
    QCOMPARE(device->cloud_device.value("id").toInt(), 1001);
    QCOMPARE(device->mirror(), device->cloud_device);
    QTest::qWait(50); // a PUT would have been sent from the creation handler
    QVERIFY(service->requests("device", "PUT").isEmpty());
    QVERIFY(service->requests("device", "POST").isEmpty());
    QCOMPARE(service->device(Code).value("device_id").toString(), QStringLiteral("M-0042"));
}

void tst_CloudRegistration::creationAnswers_data()
{
    QTest::addColumn<CloudAnswer>("answer");
    QTest::addColumn<QJsonValue>("id"); // undefined: the record gets no "id"

    QTest::newRow("200 with id 7") << CloudAnswer::json(200, { { "id", 7 } }) << QJsonValue(7);
    // A 200 that does not clearly give an id registers nothing.
    const QJsonValue none(QJsonValue::Undefined);
    QTest::newRow("200 not JSON") << CloudAnswer::raw(200, "not json") << none;
    QTest::newRow("200 id as text") << CloudAnswer::json(200, { { "id", "7" } }) << none;
    QTest::newRow("200 fractional id") << CloudAnswer::json(200, { { "id", 7.5 } }) << none;
    QTest::newRow("200 without id") << CloudAnswer::json(200) << none;
    QTest::newRow("200 id 0") << CloudAnswer::json(200, { { "id", 0 } }) << none;
    QTest::newRow("200 negative id") << CloudAnswer::json(200, { { "id", -7 } }) << none;
    QTest::newRow("200 garbage") << CloudAnswer::garbage() << none;
    QTest::newRow("200 truncated") << CloudAnswer::truncated() << none;
    QTest::newRow("200 endless") << CloudAnswer::endless() << none;
    QTest::newRow("201") << CloudAnswer::json(201, { { "id", 7 } })
                         << QJsonValue(QJsonValue::Undefined);
    QTest::newRow("409") << CloudAnswer::json(409, { { "id", 7 } })
                         << QJsonValue(QJsonValue::Undefined);
    QTest::newRow("500") << CloudAnswer::json(500) << QJsonValue(QJsonValue::Undefined);
    QTest::newRow("no answer") << CloudAnswer::hold() << QJsonValue(QJsonValue::Undefined);
}

void tst_CloudRegistration::creationAnswers()
{
    QFETCH(CloudAnswer, answer);
    QFETCH(QJsonValue, id);
    service->setAnswer("device_model", "PATCH", CloudAnswer::json(500));
    service->setAnswer("device_model", "POST", answer);
    device->setCorvaneCloud(client.get(), Code);
    QTRY_COMPARE(service->requests("device_model", "POST").size(), 1);
    if (id.isUndefined()) {
        settle(3);
        QCOMPARE(device->cloud_device, fiveKeys());
    } else {
        QTRY_VERIFY(device->cloud_device.contains("id"));
        QCOMPARE(device->cloud_device.value("id"), id);
        QTest::qWait(50);
    }
    QCOMPARE(device->mirror(), device->cloud_device);
    QVERIFY(service->requests("device", "PUT").isEmpty());
    QCOMPARE(service->requests("device", "GET").size(), 1);
}

void tst_CloudRegistration::lookupFoundUpdates_data()
{
    QTest::addColumn<CloudAnswer>("answer");
    QTest::addColumn<int>("id");

    QTest::newRow("registry") << CloudAnswer::registry() << 1001;
    QTest::newRow("200 with id 12") << CloudAnswer::json(200, { { "id", 12 } }) << 12;
}

void tst_CloudRegistration::lookupFoundUpdates()
{
    QFETCH(CloudAnswer, answer);
    QFETCH(int, id);
    service->addDevice({ { "code", Code } });
    service->setAnswer("device", "GET", answer);
    service->setAnswer("device_model", "PATCH", CloudAnswer::json(500));
    device->setCorvaneCloud(client.get(), Code);

    QTRY_COMPARE(service->requests("device", "PUT").size(), 1);
    QJsonObject expected = fiveKeys();
    expected.insert("id", id);
    QCOMPARE(service->requests("device", "PUT").first().json, expected);
    QCOMPARE(device->cloud_device, expected);
    QCOMPARE(device->mirror(), expected);
    QTest::qWait(50);
    QVERIFY(service->requests("device_model", "POST").isEmpty());
    if (answer.kind == CloudAnswer::Registry)
        QCOMPARE(service->device(Code), expected);
}

void tst_CloudRegistration::lookupFailuresDoNothing_data()
{
    QTest::addColumn<CloudAnswer>("answer");
    for (int status : { 201, 403, 500, 503 })
        QTest::newRow(qPrintable(QString::number(status)))
            << CloudAnswer::json(status, { { "id", 12 } });
    // A 200 that does not clearly give an id neither updates nor creates.
    QTest::newRow("200 not JSON") << CloudAnswer::raw(200, "{broken");
    QTest::newRow("200 id as text") << CloudAnswer::json(200, { { "id", "12" } });
    QTest::newRow("200 id 0") << CloudAnswer::json(200, { { "id", 0 } });
    QTest::newRow("200 garbage") << CloudAnswer::garbage();
    QTest::newRow("200 truncated") << CloudAnswer::truncated();
    QTest::newRow("200 huge") << CloudAnswer::huge();
    QTest::newRow("200 endless") << CloudAnswer::endless();
}

void tst_CloudRegistration::lookupFailuresDoNothing()
{
    QFETCH(CloudAnswer, answer);
    service->setAnswer("device", "GET", answer);
    service->setAnswer("device_model", "PATCH", CloudAnswer::json(500));
    device->setCorvaneCloud(client.get(), Code);
    QTRY_COMPARE(service->requests("device", "GET").size(), 1);
    settle(2);
    QTest::qWait(200); // longer than the wait before a retry
    QCOMPARE(service->requests().size(), 2);
    QCOMPARE(device->cloud_device, fiveKeys());
    QCOMPARE(device->mirror(), fiveKeys());
}

void tst_CloudRegistration::modelAnswers_data()
{
    QTest::addColumn<CloudAnswer>("answer");
    QTest::addColumn<QJsonValue>("model"); // undefined: the record gets no "device_model"

    QTest::newRow("registry") << CloudAnswer::registry() << QJsonValue(1);
    QTest::newRow("200 with id 77") << CloudAnswer::json(200, { { "id", 77 } }) << QJsonValue(77);
    const QJsonValue none(QJsonValue::Undefined);
    QTest::newRow("200 not JSON") << CloudAnswer::raw(200, "[77]") << none;
    QTest::newRow("200 id as text") << CloudAnswer::json(200, { { "id", "77" } }) << none;
    QTest::newRow("200 id 0") << CloudAnswer::json(200, { { "id", 0 } }) << none;
    QTest::newRow("200 garbage") << CloudAnswer::garbage() << none;
    QTest::newRow("200 truncated") << CloudAnswer::truncated() << none;
    QTest::newRow("200 huge") << CloudAnswer::huge() << none;
    QTest::newRow("404") << CloudAnswer::json(404, { { "id", 77 } })
                         << QJsonValue(QJsonValue::Undefined);
    QTest::newRow("500") << CloudAnswer::json(500) << QJsonValue(QJsonValue::Undefined);
    QTest::newRow("no answer") << CloudAnswer::hold() << QJsonValue(QJsonValue::Undefined);
}

void tst_CloudRegistration::modelAnswers()
{
    QFETCH(CloudAnswer, answer);
    QFETCH(QJsonValue, model);
    service->setAnswer("device_model", "PATCH", answer);
    service->setAnswer("device", "GET", CloudAnswer::json(500));
    device->setCorvaneCloud(client.get(), Code);
    QTRY_COMPARE(service->requests("device_model", "PATCH").size(), 1);
    if (model.isUndefined()) {
        settle(2);
        QVERIFY(!device->cloud_device.contains("device_model"));
    } else {
        QTRY_VERIFY(device->cloud_device.contains("device_model"));
        QCOMPARE(device->cloud_device.value("device_model"), model);
    }
    QCOMPARE(device->mirror(), device->cloud_device);
    QVERIFY(!device->cloud_device.contains("id"));
    QCOMPARE(service->requests("device_model", "PATCH").size(), 1); // never retried
}

void tst_CloudRegistration::noResponseRetriesUntilAnswered()
{
    service->setAnswer("device_model", "PATCH", CloudAnswer::json(500));
    service->queueAnswer("device", "GET", CloudAnswer::hold());
    service->queueAnswer("device", "GET", CloudAnswer::hold());
    QElapsedTimer clock;
    clock.start();
    device->setCorvaneCloud(client.get(), Code);

    QTRY_VERIFY_WITH_TIMEOUT(device->cloud_device.contains("id"), 8000);
    const QList<CloudRequest> lookups = service->requests("device", "GET");
    QCOMPARE(lookups.size(), 3); // two without a response, then the one answered 404
    for (const CloudRequest& lookup : lookups)
        QCOMPARE(lookup.queryValue("code"), Code);
    QCOMPARE(lookups.last().answerStatus, 404);
    // Twice the request timeout and the wait.
    QVERIFY(clock.elapsed() >= 2 * (300 + 150));
    QCOMPARE(service->requests("device_model", "POST").size(), 1);
    QCOMPARE(device->cloud_device.value("id").toInt(), 1001);
    QCOMPARE(device->mirror(), device->cloud_device);
}

void tst_CloudRegistration::retryReadsCodeAfterTheWait()
{
    setCloudLookupRetryDelay(600);
    service->setAnswer("device_model", "PATCH", CloudAnswer::json(500));
    service->queueAnswer("device", "GET", CloudAnswer::json(502));
    service->queueAnswer("device", "GET", CloudAnswer::hold());
    device->setCorvaneCloud(client.get(), Code);
    QTRY_COMPARE(service->requests("device", "GET").size(), 1); // 502: left alone
    QTest::qWait(200);
    QCOMPARE(service->requests("device", "GET").size(), 1);

    // A lookup of its own, held: its handler waits while the code changes.
    device->cloud_device_get({ { "code", Code } });
    QTRY_COMPARE(service->heldConnections(), 1);
    // The timeout runs out at 300 ms; the handler then waits, and the code changes meanwhile.
    QTimer::singleShot(450, this, [this] { device->cloud_device.insert("code", "ZRzz99"); });
    QTRY_COMPARE(service->requests("device", "GET").size(), 3);
    QCOMPARE(
        service->requests("device", "GET").last().queryValue("code"), QStringLiteral("ZRzz99"));
}

void tst_CloudRegistration::refusedConnectionRetries()
{
    QUrl nowhere = service->httpBase();
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        nowhere.setPort(probe.serverPort());
    }
    client->setBaseUrl(nowhere);
    service->setAnswer("device_model", "PATCH", CloudAnswer::json(500));
    device->setCorvaneCloud(client.get(), Code);
    QTest::qWait(700); // a few refused lookups, each followed by the wait
    QVERIFY(service->requests().isEmpty());
    QVERIFY(!device->cloud_device.contains("id"));

    client->setBaseUrl(service->httpBase()); // the service comes up
    QTRY_VERIFY_WITH_TIMEOUT(device->cloud_device.contains("id"), 3000);
    QCOMPARE(service->requests("device", "GET").size(), 1);
    QCOMPARE(device->mirror(), device->cloud_device);
}

void tst_CloudRegistration::deviceDestroyedWithRepliesOnTheWay()
{
    service->addDevice({ { "code", Code } });
    device->setCorvaneCloud(client.get(), Code);
    device.reset();
    settle(2);
    // A live device would have answered the found lookup with an update.
    QCOMPARE(service->requests().size(), 2);
    QVERIFY(service->requests("device", "PUT").isEmpty());
}

void tst_CloudRegistration::deviceDestroyedDuringRetryWait()
{
    setCloudLookupRetryDelay(600);
    service->setAnswer("device_model", "PATCH", CloudAnswer::json(500));
    service->setAnswer("device", "GET", CloudAnswer::hold());
    device->setCorvaneCloud(client.get(), Code);
    QTRY_COMPARE(service->heldConnections(), 1);

    int loopLevel = -1;
    QTimer::singleShot(500, this, [&] {
        loopLevel = QThread::currentThread()->loopLevel();
        device.reset();
    });
    QTRY_VERIFY(!device);
    QVERIFY2(loopLevel >= 1, "the device went while the lookup's handler was waiting");
    QTest::qWait(600);
    QCOMPARE(service->requests("device", "GET").size(), 1);
}

void tst_CloudRegistration::clientDestroyedDuringRetryWait()
{
    setCloudLookupRetryDelay(600);
    service->setAnswer("device_model", "PATCH", CloudAnswer::json(500));
    service->setAnswer("device", "GET", CloudAnswer::hold());
    device->setCorvaneCloud(client.get(), Code);
    QTRY_COMPARE(service->heldConnections(), 1);
    // The timeout runs out at 300 ms; the client goes while the handler waits.
    QTimer::singleShot(500, this, [this] { client.reset(); });
    QTRY_VERIFY(!client);
    QCOMPARE(device->corvane_cloud, nullptr);
    QTest::qWait(600);
    QCOMPARE(service->requests("device", "GET").size(), 1);
    // Later calls skip the missing client.
    device->cloud_device_update(device->cloud_device);
    device->connect_websocket();
    QVERIFY(device->web_socket);
    QCOMPARE(device->web_socket->state(), QAbstractSocket::UnconnectedState);
}

void tst_CloudRegistration::withoutDeviceCloudNothingIsSent()
{
    CloudDevice bare(false);
    bare.hangText("PCB_ID", "PCB-7");
    bare.setCorvaneCloud(client.get(), Code);
    QCOMPARE(bare.corvane_cloud, client.get());
    QCOMPARE(bare.cloud_device.value("pcb").toString(), QStringLiteral("PCB-7"));
    QCOMPARE(bare.cloud_device.value("version").toString(), QString());
    QTest::qWait(100);
    QVERIFY(service->requests().isEmpty());
}

void tst_CloudRegistration::nullClientBuildsRecordOnly()
{
    CloudDevice plain;
    debugLines.clear();
    plain.setCorvaneCloud(nullptr, "");
    const QJsonObject record { { "code", "" }, { "pcb", "" }, { "version", "" },
        { "device_id", "" }, { "online", true } };
    QCOMPARE(plain.cloud_device, record);
    QCOMPARE(plain.mirror(), record);
    QCOMPARE(plain.corvane_cloud, nullptr);
    plain.cloud_device_model_get({ { "code", 1 } });
    plain.cloud_device_new(record);
    plain.cloud_device_update(record);
    plain.cloud_device_get({ { "code", "x" } });
    // The lookup logs its body even without a client.
    QCOMPARE(debugLines,
        QStringList({ R"(ZRCommonInterface::setCorvaneCloud QJsonObject({"code":0}))",
            R"(ZRCommonInterface::setCorvaneCloud QJsonObject({"code":""}))",
            R"(ZRCommonInterface::cloud_device_get QJsonObject({"code":""}))",
            R"(ZRCommonInterface::cloud_device_get QJsonObject({"code":"x"}))" }));
    QTest::qWait(100);
    QVERIFY(service->requests().isEmpty());
    QCOMPARE(plain.cloud_device, record);
}

void tst_CloudRegistration::secondCallStartsAfresh()
{
    device->setCorvaneCloud(client.get(), Code);
    QTRY_VERIFY(
        device->cloud_device.contains("id") && device->cloud_device.contains("device_model"));

    CorvaneCloud other(service->httpBase(), service->wsBase());
    device->setCorvaneCloud(&other, "ZRcd34y");
    QCOMPARE(device->corvane_cloud, &other);
    QCOMPARE(device->cloud_device, fiveKeys("ZRcd34y"));
    QCOMPARE(device->mirror(), fiveKeys("ZRcd34y"));
    QTRY_VERIFY(
        device->cloud_device.contains("id") && device->cloud_device.contains("device_model"));
    QCOMPARE(device->cloud_device.value("id").toInt(), 1002);
    QCOMPARE(device->cloud_device.value("device_model").toInt(), 2);
    QCOMPARE(device->mirror(), device->cloud_device);

    // The first client is no longer watched: its end does not take the second one away.
    client.reset();
    QCOMPARE(device->corvane_cloud, &other);
}

using Standing = ZRDevice::Registration;

// What the registration tells the host as its steps end: registered with its id, model and how,
// or failed, with what failed and its status; steps that fail without failing it as problems.
void tst_CloudRegistration::standing_data()
{
    QTest::addColumn<CloudAnswer>("lookup");
    QTest::addColumn<CloudAnswer>("creation");
    QTest::addColumn<CloudAnswer>("model");
    QTest::addColumn<CloudAnswer>("update");
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("modelId");
    QTest::addColumn<int>("httpStatus");
    QTest::addColumn<QString>("told"); // in the reason, or else in a problem
    const CloudAnswer service = CloudAnswer::registry();
    const CloudAnswer found = CloudAnswer::json(200, { { "id", 12 } });
    const CloudAnswer modelled = CloudAnswer::json(200, { { "id", 77 } });
    const CloudAnswer taken = CloudAnswer::json(200, { { "id", 12 } });
    // clang-format off
    QTest::newRow("found")            << found << service << modelled << taken << int(Standing::Registered) << 12 << 77 << 0 << QString();
    QTest::newRow("created")          << service << service << modelled << service << int(Standing::Registered) << 1001 << 77 << 0 << QString();
    QTest::newRow("lookup 500")       << CloudAnswer::json(500) << service << modelled << service << int(Standing::Failed) << 0 << 77 << 500 << "the device lookup (GET device) got HTTP 500";
    QTest::newRow("lookup without id")<< CloudAnswer::json(200, { { "id", 0 } }) << service << modelled << service << int(Standing::Failed) << 0 << 77 << 200 << "the service's answers held no device id";
    QTest::newRow("lookup cut short") << CloudAnswer::truncated() << service << modelled << service << int(Standing::Failed) << 0 << 77 << 200 << "its body cut short";
    QTest::newRow("creation refused") << service << CloudAnswer::json(422, { { "error", "no room" } }) << modelled << service << int(Standing::Failed) << 0 << 77 << 422 << "did not create the device entry (POST device_model): HTTP 422";
    QTest::newRow("model refused")    << found << service << CloudAnswer::json(500) << taken << int(Standing::Registered) << 12 << -1 << 0 << "the model query (PATCH device_model) got HTTP 500";
    QTest::newRow("update refused")   << found << service << modelled << CloudAnswer::json(409) << int(Standing::Registered) << 12 << 77 << 0 << "did not take the update of the device (PUT device): HTTP 409";
    // clang-format on
}

void tst_CloudRegistration::standing()
{
    QFETCH(CloudAnswer, lookup);
    QFETCH(CloudAnswer, creation);
    QFETCH(CloudAnswer, model);
    QFETCH(CloudAnswer, update);
    QFETCH(QString, told);
    service->setAnswer("device", "GET", lookup);
    service->setAnswer("device_model", "POST", creation);
    service->setAnswer("device_model", "PATCH", model);
    service->setAnswer("device", "PUT", update);
    Standing* standing = ZRDevice::registrationOf(device.get());
    QCOMPARE(standing->state(), Standing::NotStarted);
    device->setCorvaneCloud(client.get(), Code);
    QCOMPARE(standing->state(), Standing::Registering);
    QTRY_VERIFY(standing->modelAnswered() && standing->state() != Standing::Registering);
    QTest::qWait(100);
    QTEST(int(standing->state()), "state");
    QTEST(standing->deviceId(), "id");
    QTEST(standing->modelId(), "modelId");
    QCOMPARE(standing->created(), QTest::currentDataTag() == QByteArray("created"));
    QVERIFY(!standing->retrying());
    if (standing->state() == Standing::Failed) {
        QTEST(standing->httpStatus(), "httpStatus");
        QVERIFY2(standing->reason().contains(told), qPrintable(standing->reason()));
    } else if (!told.isEmpty()) {
        QTRY_COMPARE(standing->problems().size(), 1);
        QVERIFY2(
            standing->problems().first().contains(told), qPrintable(standing->problems().first()));
    } else {
        QVERIFY(standing->problems().isEmpty());
    }
    // The record is what the device keeps, whatever it tells the host.
    QCOMPARE(device->cloud_device.value("id").toInt(), standing->deviceId());
}

// A lookup without a response is told as retrying; a host that stops the retries ends the wait
// at once and nothing more is asked.
void tst_CloudRegistration::hostStopsTheRetries()
{
    setCloudLookupRetryDelay(60000);
    service->setAnswer("device_model", "PATCH", CloudAnswer::json(500));
    service->setAnswer("device", "GET", CloudAnswer::hold());
    Standing* standing = ZRDevice::registrationOf(device.get());
    bool toldRetrying = false;
    connect(standing, &Standing::changed, this, [&] {
        if (standing->retrying()) {
            toldRetrying = true;
            standing->stopRetrying();
        }
    });
    QElapsedTimer clock;
    clock.start();
    device->setCorvaneCloud(client.get(), Code);
    QTRY_VERIFY(toldRetrying);
    QCOMPARE(standing->state(), Standing::Failed);
    QCOMPARE(standing->httpStatus(), 0);
    QVERIFY(standing->reason().startsWith("the device lookup (GET device) got no answer within"));
    QTest::qWait(300);
    QVERIFY(clock.elapsed() < 5000);
    QCOMPARE(service->requests("device", "GET").size(), 1);
    QVERIFY(!standing->retrying());
}

QTEST_MAIN(tst_CloudRegistration)
#include "tst_cloudregistration.moc"
