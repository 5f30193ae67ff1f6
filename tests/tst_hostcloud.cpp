// The host with a cloud service: the device registers with the local service through the real
// client, a job sends a runtime report per progress report and posts one work record, a second
// run updates the entry; a service that fails in any way leaves the job running and says what
// failed; and zrhost itself prints the work record.

#include "cloud.h"
#include "cloudservice.h"
#include "corvanecloud.h"
#include "hostrig.h"
#include "zrdeviceproperty.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTcpServer>
#include <QtTest>

#include <sys/resource.h>

using Mode = CloudService::ChannelMode;
Q_DECLARE_METATYPE(CloudService::ChannelMode)

namespace {

const QString Code = QStringLiteral("ZRab12x"); // model number: "ab12" in base 36, 480854

quint16 closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

// A session on a simulated machine with a cloud service attached, and all it told the user.
struct CloudRun {
    hostrig::Machine machine;
    std::unique_ptr<Session> session;
    QStringList notices;
    QStringList problems;
    QStringList results;

    bool attach(const CloudOptions& cloud)
    {
        SessionOptions options = hostrig::sessionOptions(machine.target());
        options.cloud = cloud;
        session = hostrig::session(options);
        if (!session->isUp() || !session->startCloud())
            return false;
        QObject::connect(this->cloud(), &Cloud::notice, [this](const QString& l) { notices << l; });
        QObject::connect(
            this->cloud(), &Cloud::problem, [this](const QString& l) { problems << l; });
        QObject::connect(this->cloud(), &Cloud::result, [this](const QString& l) { results << l; });
        hostrig::ask(*session, Request::of(Request::Read, { "DEVICE_INFO" }));
        this->cloud()->attach(session->device());
        return QTest::qWaitFor([this] { return this->cloud()->isSettled(); }, 10000);
    }
    Result::Outcome cut(int copies)
    {
        const Result result = hostrig::ask(*session, hostrig::gasket().request(copies));
        cloud()->reportJob(result.outcome == Result::Done, result.last.finished);
        [[maybe_unused]] const bool told
            = QTest::qWaitFor([this] { return cloud()->isJobReported(); }, 10000);
        return result.outcome;
    }
    Cloud* cloud() const { return session->cloud(); }
};

CloudOptions remote(const CloudService& service)
{
    CloudOptions options;
    options.httpBase = service.httpBase();
    options.wsBase = service.wsBase();
    options.deviceCode = Code;
    options.requestTimeoutMs = 2000;
    return options;
}

// The JSON object printed after the given words.
QJsonObject printedRecord(const QString& text, const QString& after)
{
    const int open = text.indexOf(QLatin1Char('{'), text.indexOf(after));
    const int close = text.indexOf(QStringLiteral("\n}"), open);
    return QJsonDocument::fromJson(text.mid(open, close + 2 - open).toUtf8()).object();
}

} // namespace

class tst_HostCloud : public QObject {
    Q_OBJECT
private slots:
    void firstRunCreatesSecondRunUpdates();
    void embeddedServiceWithToken();
    void failingServiceLetsTheJobRun_data();
    void failingServiceLetsTheJobRun();
    void givingUpAbortsWhatIsOutstanding();
    void deviceCode_data();
    void deviceCode();
    void theProgram();
    void theProgramWithAFailingService_data();
    void theProgramWithAFailingService();
};

void tst_HostCloud::firstRunCreatesSecondRunUpdates()
{
    CloudService service;
    QVERIFY(service.listen());
    CloudRun first;
    QVERIFY(first.attach(remote(service)));
    QVERIFY2(first.problems.isEmpty() && first.cloud()->isRegistered(),
        qPrintable(first.problems.join('\n')));
    QCOMPARE(service.requests("device_model", "PATCH").first().json,
        QJsonObject({ { "code", 480854 } }));
    QCOMPARE(service.requests("device", "GET").first().answerStatus, 404);
    const QJsonObject created = service.requests("device_model", "POST").first().json;
    QCOMPARE(created.value("device_id").toString(), QStringLiteral("TX4150V-000128"));
    QCOMPARE(created.value("version").toString(), QStringLiteral("1.5.7"));
    QVERIFY(first.notices.contains(
        QStringLiteral("Cloud: registered as device id 1001 (model id %1), a new entry.")
            .arg(service.modelId(480854))));
    QVERIFY(first.notices.contains(QStringLiteral("Cloud channel: WEB SOCKET CONNECTED.")));

    QCOMPARE(first.cut(2), Result::Done);
    QTRY_VERIFY(service.reports(Code).size() >= 2);
    QCOMPARE(QJsonDocument::fromJson(service.reports(Code).first().toUtf8())
                 .object()
                 .value("actions")
                 .toArray(),
        QJsonArray { "Runtime" });
    QCOMPARE(service.workRecords().size(), 1);
    const QJsonObject record = service.requests("device_work_records", "POST").first().json;
    QCOMPARE(record.value("finish_copies").toInt(), 2);
    QCOMPARE(record.value("device").toInt(), 1001);
    QVERIFY(
        first.results.first().startsWith("Work record posted to the cloud service (HTTP 200 OK):"));
    QCOMPARE(printedRecord(first.results.first(), "Work record"), record);

    // The same machine again: its entry is updated, not created.
    CloudRun second;
    QVERIFY(second.attach(remote(service)));
    QVERIFY(second.problems.isEmpty());
    QCOMPARE(service.requests("device_model", "POST").size(), 1);
    QCOMPARE(service.requests("device", "PUT").first().json.value("id").toInt(), 1001);
    QVERIFY(second.notices.join(QLatin1Char(10)).contains("an entry the service knew"));
    QCOMPARE(service.devices().size(), 1);
}

void tst_HostCloud::embeddedServiceWithToken()
{
    CloudOptions options;
    options.embedded = true;
    options.token = QStringLiteral("s3cret");
    CloudRun run;
    QVERIFY(run.attach(options));
    CloudService* service = run.cloud()->embeddedService();
    QCOMPARE(run.cloud()->baseUrl(), service->httpBase());
    // Without a device code the machine number is the code: "4150" in base 36.
    QCOMPARE(service->requests("device_model", "PATCH").first().json,
        QJsonObject({ { "code", 188100 } }));
    for (const CloudRequest& request : service->requests())
        QCOMPARE(request.header("authorization"), QByteArray("Bearer s3cret"));
    QCOMPARE(run.cut(1), Result::Done);
    QCOMPARE(run.results.size(), 2);
    QVERIFY(run.results.at(0).startsWith("Work record the cloud service received (HTTP 200 OK):"));
    QVERIFY(run.results.at(1).contains(
        QRegularExpression("collected on the channel: (\\d+) \\(the device sent \\1\\)")));
}

void tst_HostCloud::failingServiceLetsTheJobRun_data()
{
    QTest::addColumn<QString>("resource");
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("fault"); // "", "refused", "channel refused", "token", "known"
    QTest::addColumn<bool>("registered");
    QTest::addColumn<bool>("recorded");
    QTest::addColumn<QString>("told");

    // clang-format off
    QTest::newRow("lookup 500")       << "device" << QByteArray("GET") << "500" << "" << false << false << "the device lookup (GET device) got HTTP 500 Internal Server Error";
    QTest::newRow("lookup 500, escapes") << "device" << QByteArray("GET") << "500:{\"error\":\"a\\u001b[2Jb\"}" << "" << false << false << "the device lookup (GET device) got HTTP 500 Internal Server Error (a\\x1b[2Jb)";
    QTest::newRow("lookup silent")    << "device" << QByteArray("GET") << "hold" << "" << false << false << "the device lookup (GET device) got no answer within 0.3 s";
    QTest::newRow("lookup closed")    << "device" << QByteArray("GET") << "close" << "" << false << false << "the device lookup (GET device) got no response";
    QTest::newRow("service refused")  << "" << QByteArray() << "" << "refused" << false << false << "got no response (Connection refused)";
    QTest::newRow("wrong token")      << "" << QByteArray() << "" << "token" << false << false << "HTTP 401 Unauthorized (a valid bearer token is needed), check --cloud-token";
    QTest::newRow("creation 500")     << "device_model" << QByteArray("POST") << "500" << "" << false << false << "did not create the device entry (POST device_model): HTTP 500";
    QTest::newRow("creation refused") << "device" << QByteArray("GET") << "404" << "known" << false << false << "did not create the device entry (POST device_model): HTTP 409 Conflict (device ZRab12x exists)";
    QTest::newRow("model query 500")  << "device_model" << QByteArray("PATCH") << "500" << "" << true << true << "the model query (PATCH device_model) got HTTP 500";
    QTest::newRow("update 503")       << "device" << QByteArray("PUT") << "503" << "known" << true << true << "did not take the update of the device (PUT device): HTTP 503";
    QTest::newRow("work record 500")  << "device_work_records" << QByteArray("POST") << "500" << "" << true << true << "did not take the work record (POST device_work_records): HTTP 500";
    QTest::newRow("work record silent") << "device_work_records" << QByteArray("POST") << "hold" << "" << true << true << "did not take the work record (POST device_work_records): no answer within 0.3 s";
    QTest::newRow("channel refused")  << "" << QByteArray() << "" << "channel refused" << true << true << "did not open";
    // A hostile service: answers that say 200 but give no id, or no whole body, register nothing.
    QTest::newRow("lookup garbage")   << "device" << QByteArray("GET") << "garbage" << "" << false << false << "the service's answers held no device id";
    QTest::newRow("lookup id 0")      << "device" << QByteArray("GET") << "200:{\"id\":0}" << "" << false << false << "the service's answers held no device id";
    QTest::newRow("lookup truncated") << "device" << QByteArray("GET") << "truncated" << "" << false << false << "the device lookup (GET device) got HTTP 200 OK, its body cut short";
    QTest::newRow("lookup endless")   << "device" << QByteArray("GET") << "endless" << "" << false << false << "the device lookup (GET device) got HTTP 200 OK, its body over 1024 KiB and not read";
    QTest::newRow("creation garbage") << "device_model" << QByteArray("POST") << "garbage" << "" << false << false << "the service's answers held no device id";
    QTest::newRow("creation huge")    << "device_model" << QByteArray("POST") << "huge" << "" << false << false << "did not create the device entry (POST device_model): HTTP 200 OK, its body over 1024 KiB";
    QTest::newRow("work record endless") << "device_work_records" << QByteArray("POST") << "endless" << "" << true << true << "did not take the work record (POST device_work_records): HTTP 200 OK, its body over 1024 KiB and not read";
    // clang-format on
}

void tst_HostCloud::failingServiceLetsTheJobRun()
{
    QFETCH(QString, resource);
    QFETCH(QByteArray, method);
    QFETCH(QString, answer);
    QFETCH(QString, fault);
    QFETCH(bool, registered);
    QFETCH(bool, recorded);
    QFETCH(QString, told);
    CloudService service;
    QVERIFY(service.listen());
    if (!resource.isEmpty()) {
        CloudAnswer fixed;
        QVERIFY(CloudAnswer::parse(answer, &fixed));
        service.setAnswer(resource, method, fixed);
    }
    CloudOptions options = remote(service);
    options.requestTimeoutMs = 300;
    if (fault == "refused")
        options.httpBase = QUrl(QStringLiteral("http://127.0.0.1:%1/api/").arg(closedPort()));
    else if (fault == "channel refused")
        options.wsBase = QStringLiteral("ws://127.0.0.1:%1/api/").arg(closedPort());
    else if (fault == "token")
        service.setRequiredToken(QStringLiteral("s3cret"));
    else if (fault == "known")
        service.addDevice({ { "code", Code } });
    CloudRun run;
    QVERIFY(run.attach(options));
    QCOMPARE(run.cloud()->isRegistered(), registered);
    QCOMPARE(run.cut(1), Result::Done);
    QCOMPARE(run.machine.sim.counters().copiesCut, 1);
    const QString problems = run.problems.join(QLatin1Char('\n'));
    QVERIFY2(problems.contains(told), qPrintable(problems));
    if (!registered) {
        QVERIFY(problems.contains("is not registered"));
        QVERIFY(run.notices.contains(QStringLiteral(
            "No work record was posted: the device is not registered with the cloud service.")));
        QVERIFY(service.connectedCodes().isEmpty());
    }
    if (fault != "refused")
        QCOMPARE(service.requests("device_work_records", "POST").size(), recorded ? 1 : 0);
}

// A failed lookup ends the registration, and the model query still held by the service is
// aborted then rather than at its own time-out a minute later.
void tst_HostCloud::givingUpAbortsWhatIsOutstanding()
{
    CloudService service;
    QVERIFY(service.listen());
    service.setAnswer("device_model", "PATCH", CloudAnswer::hold());
    service.setAnswer("device", "GET", CloudAnswer::json(500));
    CloudOptions options = remote(service);
    options.requestTimeoutMs = 60000;
    CloudRun run;
    QVERIFY(run.attach(options));
    QVERIFY(!run.cloud()->isRegistered());
    QTRY_COMPARE(service.requests("device_model", "PATCH").size(), 1);
    QTRY_COMPARE(service.heldConnections(), 0);
}

void tst_HostCloud::deviceCode_data()
{
    QTest::addColumn<QString>("machineNumber");
    QTest::addColumn<QString>("why");
    QTest::newRow("no machine number")
        << ""
        << "the machine reported no machine number; give --device-code";
    QTest::newRow("unusable") << "TX 4150/1"
                              << "\"TX 4150/1\" cannot serve as the device code";
    QTest::newRow("control characters") << "TX\x1b[2J"
                                        << "\"TX\\x1b[2J\" cannot serve as the device code";
}

void tst_HostCloud::deviceCode()
{
    QFETCH(QString, machineNumber);
    QFETCH(QString, why);
    const auto session = hostrig::session(hostrig::sessionOptions({}), false);
    session->device()->property_ptr("DEVICE_ID")->setValue(machineNumber);
    CloudOptions options;
    options.embedded = true;
    Cloud cloud(options);
    QVERIFY(cloud.start());
    QSignalSpy problem(&cloud, &Cloud::problem);
    cloud.attach(session->device());
    QVERIFY(cloud.isSettled() && !cloud.isRegistered());
    QVERIFY2(problem.first().first().toString().contains(why),
        qPrintable(problem.first().first().toString()));
}

void tst_HostCloud::theProgram()
{
    const hostrig::Run run = hostrig::zrhost({ "job", ZR_SAMPLES_DIR "/gasket.plt", "--copies", "2",
        "--simulator", "--speed", "5000", "--cloud-embedded", "--no-progress" });
    QVERIFY2(run.exitCode == 0 && run.err.isEmpty(), qPrintable(run.err + run.out));
    for (const char* line :
        { "Registering device code TX4150V-000128 (the machine number) with the cloud service.",
            "Cloud: registered as device id 1001 (model id 1), a new entry.",
            "Job finished: 2 of 2 copies" })
        QVERIFY2(run.out.contains(line), line);
    QVERIFY(run.out.indexOf("Cloud channel: WEB SOCKET CONNECTED.") < run.out.indexOf("Cutting"));
    QCOMPARE(printedRecord(run.out, "Work record the cloud service received (HTTP 200 OK):")
                 .value("finish_copies")
                 .toInt(),
        2);
}

void tst_HostCloud::theProgramWithAFailingService_data()
{
    QTest::addColumn<QString>("resource");
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<Mode>("channel");
    QTest::addColumn<int>("workRecords"); // -1: however many a flooding service took
    QTest::addColumn<QString>("told");
    const Mode normal = Mode::Normal;
    // clang-format off
    QTest::newRow("lookup 500")       << "device" << QByteArray("GET") << "500" << normal << 0 << "cloud: device code ZRab12x is not registered: the device lookup (GET device) got HTTP 500";
    QTest::newRow("lookup garbage")   << "device" << QByteArray("GET") << "garbage" << normal << 0 << "cloud: device code ZRab12x is not registered: the service's answers held no device id";
    QTest::newRow("creation endless") << "device_model" << QByteArray("POST") << "endless" << normal << 0 << "cloud: device code ZRab12x is not registered: the service did not create the device entry (POST device_model): HTTP 200 OK, its body over 1024 KiB and not read";
    QTest::newRow("work record huge") << "device_work_records" << QByteArray("POST") << "huge" << normal << 1 << "cloud: the cloud service did not take the work record (POST device_work_records): HTTP 200 OK, its body over 1024 KiB and not read";
    QTest::newRow("channel: endless message") << "device" << QByteArray("GET") << "registry" << Mode::EndlessMessage << 1 << "cloud: the remote channel closed";
    QTest::newRow("channel: prompt flood")    << "device" << QByteArray("GET") << "registry" << Mode::PromptFlood << -1 << "";
    QTest::newRow("channel: flood, never read") << "device" << QByteArray("GET") << "registry" << Mode::FloodWithoutReading << -1 << "";
    // clang-format on
}

// zrhost as a user meets a failing service: the job is cut, the failure is told on the error
// output and never as a success, no work record goes out under a device the service did not
// name, and an answer without end leaves the program small.
void tst_HostCloud::theProgramWithAFailingService()
{
    QFETCH(QString, resource);
    QFETCH(QByteArray, method);
    QFETCH(QString, answer);
    QFETCH(Mode, channel);
    QFETCH(int, workRecords);
    QFETCH(QString, told);
    CloudService service;
    QVERIFY(service.listen());
    CloudAnswer fixed;
    QVERIFY(CloudAnswer::parse(answer, &fixed));
    service.setAnswer(resource, method, fixed);
    service.setChannelMode(channel);
    // Three copies of 637.6 mm at 2000 mm/s: a job of about a second.
    const hostrig::Run run = hostrig::zrhost({ "job", ZR_SAMPLES_DIR "/gasket.plt", "--copies", "3",
        "--simulator", "--speed", "2000", "--cloud", service.httpBase().toString(), "--cloud-ws",
        service.wsBase(), "--device-code", Code, "--no-progress" });
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.out.contains("Job finished: 3 of 3 copies of"), qPrintable(run.out));
    QVERIFY2(run.err.contains(told), qPrintable(run.err));
    QVERIFY(!run.out.contains("registered as device id 0"));
    // However the service behaves, the machine's link beside it is still read.
    QVERIFY2(!run.err.contains("machine not answering"), qPrintable(run.err));
    const QList<CloudRequest> posted = service.requests("device_work_records", "POST");
    if (workRecords >= 0)
        QCOMPARE(posted.size(), workRecords);
    // Told as posted only when the service took it.
    if (run.out.contains("Work record posted"))
        QVERIFY(!posted.isEmpty() && resource != QLatin1String("device_work_records"));
    for (const CloudRequest& record : posted)
        QCOMPARE(record.json.value("device").toInt(), 1001);
    // The largest of this test's programs, the hostile ones among them, as the kernel counts it.
    rusage children {};
    QCOMPARE(::getrusage(RUSAGE_CHILDREN, &children), 0);
    qInfo("%s: peak resident memory of zrhost %ld MiB", QTest::currentDataTag(),
        children.ru_maxrss / 1024);
    QVERIFY2(children.ru_maxrss < 512 * 1024, QByteArray::number(qint64(children.ru_maxrss)));
}

QTEST_MAIN(tst_HostCloud)
#include "tst_hostcloud.moc"
