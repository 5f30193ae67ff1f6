// A hostile cloud service over HTTP: bodies without end or far too large, bodies cut short and
// bodies that are no JSON. The client stays small and says the request failed; a device
// registers nothing from such answers and posts no work record under a device it does not know.

#include "clouddevice.h"
#include "cloudservice.h"
#include "corvanecloud.h"
#include "residentmemory.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(CloudAnswer)

namespace {

const QString Code = QStringLiteral("ZRab12x");
constexpr qint64 MemoryBound = 64 * 1024 * 1024;

void dropDebug(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type != QtDebugMsg)
        qt_message_output(type, context, text);
}

} // namespace

class tst_HostileHttp : public QObject {
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

private:
    std::unique_ptr<CloudService> service;
    std::unique_ptr<CorvaneCloud> client;
};

void tst_HostileHttp::initTestCase()
{
    qInstallMessageHandler(dropDebug);
    qRegisterMetaType<QNetworkReply*>();
}

void tst_HostileHttp::init()
{
    service = std::make_unique<CloudService>();
    QVERIFY2(service->listen(), qPrintable(service->errorString()));
    client = std::make_unique<CorvaneCloud>(service->httpBase(), service->wsBase());
}

void tst_HostileHttp::cleanup()
{
    client.reset();
    service.reset();
}

void tst_HostileHttp::hostileReplies_data()
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
void tst_HostileHttp::hostileReplies()
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
void tst_HostileHttp::abortRequestsOnGivingUp()
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

void tst_HostileHttp::noWorkRecordUnderAnUnknownDevice_data()
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
void tst_HostileHttp::noWorkRecordUnderAnUnknownDevice()
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

QTEST_GUILESS_MAIN(tst_HostileHttp)
#include "tst_hostilehttp.moc"
