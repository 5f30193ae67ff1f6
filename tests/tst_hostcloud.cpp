// The host with a cloud service attached: a device from the plugin registers with the local
// cloud service through the real client, cuts a job on the simulated machine with a runtime
// report per progress report, and posts one work record when the host closes the task; a second
// run updates the entry it created; a service that fails in any way leaves the job running and
// tells the user; and zrhost itself, with --cloud-embedded, prints the work record.

#include "cloudattachment.h"
#include "cloudservice.h"
#include "cutfile.h"
#include "embeddedmachine.h"
#include "hostcloudclient.h"
#include "hostsession.h"
#include "jobrunner.h"
#include "machineinfo.h"
#include "parameterreader.h"
#include "zrdeviceproperty.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QtTest>

#include <memory>

namespace {

const QString Code = QStringLiteral("ZRab12x"); // model number: "ab12" in base 36, 480854

void dropDebug(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type != QtDebugMsg)
        qt_message_output(type, context, text);
}

CutFile gasket()
{
    QString error;
    return CutFile::read(QStringLiteral(ZR_SAMPLES_DIR "/gasket.plt"), &error);
}

quint16 closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

// A simulated machine, a session of the plugin connected to it with its information read, and
// the session's cloud attachment, with everything it told the user.
struct CloudRun {
    std::unique_ptr<EmbeddedMachine> machine;
    std::unique_ptr<HostSession> session;
    QStringList notices;
    QStringList problems;
    QStringList results;
    int progressReports = 0;

    bool start(const CloudOptions& cloud, const SimOptions& simulated = fastMachine())
    {
        machine.reset(new EmbeddedMachine(simulated));
        if (!machine->listenTcp())
            return false;
        SessionOptions options;
        options.pluginDir = QStringLiteral(ZR_PLUGIN_DIR);
        options.target = machine->target();
        options.connectTimeoutMs = 5000;
        options.cloud = cloud;
        session.reset(new HostSession);
        if (!session->open(options) || !session->connectMachine())
            return false;
        ParameterReader reader(device());
        if (!reader.read(MachineInfo::reads(), 3000) || !session->startCloud())
            return false;
        QObject::connect(cloud_(), &CloudAttachment::notice,
            [this](const QString& line) { notices.append(line); });
        QObject::connect(cloud_(), &CloudAttachment::problem,
            [this](const QString& line) { problems.append(line); });
        QObject::connect(cloud_(), &CloudAttachment::result,
            [this](const QString& text) { results.append(text); });
        QObject::connect(device(), &ZRDeviceInterface::message,
            [this](ZRDeviceInterface::ZRDeviceMessage kind, const QString&) {
                progressReports += kind == ZRDeviceInterface::DevTasK;
            });
        return true;
    }

    // Cuts the gasket and tells the attachment how it ended, as the job command does.
    JobRunner::Outcome cut(int copies)
    {
        JobRunner runner(device());
        if (!runner.start(gasket(), copies))
            return JobRunner::NotStarted;
        const JobRunner::Outcome outcome = runner.waitForEnd();
        cloud_()->reportJob(
            outcome != JobRunner::LinkLost, runner.record().value("Finished").toInt());
        return outcome;
    }

    static SimOptions fastMachine()
    {
        SimOptions options;
        options.speedMmPerSecond = 20000;
        options.reportIntervalMs = 20;
        return options;
    }

    ZRDeviceInterface* device() const { return session->device(); }
    CloudAttachment* cloud_() const { return session->cloud(); }
};

CloudOptions remote(const CloudService& service, const QString& code = Code)
{
    CloudOptions options;
    options.httpBase = service.httpBase();
    options.wsBase = service.wsBase();
    options.deviceCode = code;
    options.requestTimeoutMs = 2000;
    return options;
}

// The JSON object printed after the first line of a result or of a program's output.
QJsonObject printedRecord(const QString& text, const QString& after)
{
    const int start = text.indexOf(after);
    const int open = text.indexOf(QLatin1Char('{'), start);
    const int close = text.indexOf(QStringLiteral("\n}"), open);
    if (start < 0 || open < 0 || close < 0)
        return QJsonObject();
    return QJsonDocument::fromJson(text.mid(open, close + 2 - open).toUtf8()).object();
}

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs zrhost while this process's event loop goes on, so that a service here answers it.
Run zrhost(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral(ZRHOST_PATH), arguments);
    Run run;
    if (!process.waitForStarted(5000))
        return run;
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 20000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

} // namespace

class tst_HostCloud : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void firstRunCreatesSecondRunUpdates();
    void embeddedServiceWithToken();
    void failingServiceLetsTheJobRun_data();
    void failingServiceLetsTheJobRun();
    void deviceCode_data();
    void deviceCode();
    void options_data();
    void options();
    void programPrintsTheWorkRecord();
    void programGoesOnWhenTheServiceFails();
    void otherCommands();
};

void tst_HostCloud::initTestCase()
{
    qInstallMessageHandler(dropDebug);
}

void tst_HostCloud::firstRunCreatesSecondRunUpdates()
{
    CloudService service;
    QVERIFY2(service.listen(), qPrintable(service.errorString()));

    CloudRun first;
    QVERIFY(first.start(remote(service)));
    first.device()->property_ptr("WORK_MODE")->setValue(2u);
    QVERIFY(first.cloud_()->attach(first.device()));
    QVERIFY2(first.problems.isEmpty(), qPrintable(first.problems.join('\n')));

    // The model query carries the model number of the code, the lookup the code itself; the
    // service did not know the device, so the device created its entry.
    QCOMPARE(service.requests("device_model", "PATCH").size(), 1);
    QCOMPARE(service.requests("device_model", "PATCH").first().json,
        QJsonObject({ { "code", 480854 } }));
    QCOMPARE(service.requests("device", "GET").size(), 1);
    QCOMPARE(service.requests("device", "GET").first().queryValue("code"), Code);
    QCOMPARE(service.requests("device", "GET").first().answerStatus, 404);
    QCOMPARE(service.requests("device_model", "POST").size(), 1);
    const QJsonObject created = service.requests("device_model", "POST").first().json;
    QCOMPARE(created.value("code").toString(), Code);
    QCOMPARE(created.value("device_id").toString(), QStringLiteral("TX4150V-000128"));
    QCOMPARE(created.value("pcb").toString(), QStringLiteral("ZB157-2308-0415"));
    QCOMPARE(created.value("version").toString(), QStringLiteral("1.5.7"));
    QCOMPARE(created.value("online").toBool(), true);
    QVERIFY(service.requests("device", "PUT").isEmpty());
    QCOMPARE(first.cloud_()->deviceId(), 1001);
    QCOMPARE(first.cloud_()->modelId(), service.modelId(480854));
    QVERIFY(first.cloud_()->createdEntry());
    QVERIFY(first.notices.contains(
        QStringLiteral("Cloud: registered as device id 1001 (model id %1), a new entry.")
            .arg(service.modelId(480854))));
    QVERIFY(first.notices.contains(QStringLiteral("Cloud channel: WEB SOCKET CONNECTED.")));
    QCOMPARE(service.connectedCodes(), QStringList { Code });

    // The job: a runtime report on the channel after each progress report, one work record.
    QCOMPARE(first.cut(2), JobRunner::Finished);
    QVERIFY(first.progressReports >= 2);
    QCOMPARE(first.cloud_()->runtimeReportsSent(), first.progressReports);
    QTRY_COMPARE(service.reports(Code).size(), first.progressReports);
    QCOMPARE(QJsonDocument::fromJson(service.reports(Code).first().toUtf8())
                 .object()
                 .value("actions")
                 .toArray(),
        QJsonArray { "Runtime" });

    QCOMPARE(service.requests("device_work_records", "POST").size(), 1);
    QCOMPARE(service.workRecords().size(), 1);
    QJsonObject record = service.requests("device_work_records", "POST").first().json;
    const QJsonObject file = gasket().fileInfo();
    QVERIFY2(QRegularExpression(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{4,6}$)")
                 .match(record.value("end_time").toString())
                 .hasMatch(),
        qPrintable(record.value("end_time").toString()));
    record.remove("end_time");
    QVERIFY(record.take("task_time").toInt(-1) >= 0);
    const int height = file.value("heigth").toInt();
    const int width = file.value("width").toInt();
    QVERIFY(height > 0 && width > 0);
    QCOMPARE(record,
        QJsonObject({ { "task_copies", 2 }, { "finish_copies", 2 }, { "device", 1001 },
            { "page_area", height * width },
            { "page_size", QStringLiteral("%1x%2").arg(height).arg(width) },
            { "path_length", file.value("path_length").toInt() }, { "softwareType", 3 },
            { "task_model", 0 }, { "work_model", 2 } }));

    // What the user is shown is what the service got.
    QCOMPARE(first.results.size(), 1);
    QVERIFY(
        first.results.first().startsWith("Work record posted to the cloud service (HTTP 200 OK):"));
    QCOMPARE(printedRecord(first.results.first(), "Work record"),
        service.requests("device_work_records", "POST").first().json);

    // The same machine again: the service knows it, so its entry is updated, not created.
    CloudRun second;
    QVERIFY(second.start(remote(service)));
    QVERIFY(second.cloud_()->attach(second.device()));
    QVERIFY2(second.problems.isEmpty(), qPrintable(second.problems.join('\n')));
    QCOMPARE(service.requests("device", "GET").size(), 2);
    QCOMPARE(service.requests("device", "GET").last().answerStatus, 200);
    QCOMPARE(service.requests("device_model", "POST").size(), 1);
    QCOMPARE(service.requests("device", "PUT").size(), 1);
    const QJsonObject updated = service.requests("device", "PUT").first().json;
    QCOMPARE(updated.value("id").toInt(), 1001);
    QCOMPARE(updated.value("online").toBool(), true);
    QCOMPARE(updated.value("code").toString(), Code);
    QCOMPARE(second.cloud_()->deviceId(), 1001);
    QVERIFY(!second.cloud_()->createdEntry());
    QVERIFY(second.notices.contains(QStringLiteral(
        "Cloud: registered as device id 1001 (model id %1), an entry the service knew.")
                                        .arg(service.modelId(480854))));
    QCOMPARE(service.devices().size(), 1);
}

void tst_HostCloud::embeddedServiceWithToken()
{
    CloudOptions options;
    options.embedded = true;
    options.token = QStringLiteral("s3cret");
    CloudRun run;
    QVERIFY(run.start(options));
    CloudService* service = run.cloud_()->embeddedService();
    QVERIFY(service);
    QCOMPARE(run.cloud_()->client()->baseUrl(), service->httpBase());
    QCOMPARE(run.cloud_()->client()->ws(), service->wsBase());

    // Without --device-code the machine number read from the machine is the code.
    QVERIFY(run.cloud_()->attach(run.device()));
    QCOMPARE(run.cloud_()->deviceCode(), QStringLiteral("TX4150V-000128"));
    // "4150" in base 36.
    QCOMPARE(service->requests("device_model", "PATCH").first().json,
        QJsonObject({ { "code", 188100 } }));
    for (const CloudRequest& request : service->requests())
        QCOMPARE(request.header("authorization"), QByteArray("Bearer s3cret"));

    QCOMPARE(run.cut(1), JobRunner::Finished);
    QCOMPARE(service->workRecords().size(), 1);
    QCOMPARE(run.results.size(), 2);
    QVERIFY(run.results.at(0).startsWith("Work record the cloud service received (HTTP 200 OK):"));
    QCOMPARE(printedRecord(run.results.at(0), "Work record").value("finish_copies").toInt(), 1);
    QCOMPARE(run.results.at(1),
        QStringLiteral("Runtime reports the cloud service collected on the channel: %1 (the "
                       "device sent %1).\n")
            .arg(run.progressReports));
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
    QTest::newRow("lookup silent")    << "device" << QByteArray("GET") << "hold" << "" << false << false << "the device lookup (GET device) got no answer within 0.3 s";
    QTest::newRow("lookup closed")    << "device" << QByteArray("GET") << "close" << "" << false << false << "the device lookup (GET device) got no response";
    QTest::newRow("service refused")  << "" << QByteArray() << "" << "refused" << false << false << "got no response (Connection refused)";
    QTest::newRow("wrong token")      << "" << QByteArray() << "" << "token" << false << false << "HTTP 401 Unauthorized (a valid bearer token is needed), check --cloud-token";
    QTest::newRow("creation 500")     << "device_model" << QByteArray("POST") << "500" << "" << false << false << "did not create the device entry (POST device_model): HTTP 500";
    QTest::newRow("creation refused") << "device" << QByteArray("GET") << "404" << "known" << false << false << "did not create the device entry (POST device_model): HTTP 409 Conflict (device ZRab12x exists)";
    QTest::newRow("model query 500")  << "device_model" << QByteArray("PATCH") << "500" << "" << true << true << "the model query (PATCH device_model) got HTTP 500";
    QTest::newRow("update 503")       << "device" << QByteArray("PUT") << "503" << "known" << true << true << "did not take the update of device 1001 (PUT device): HTTP 503";
    QTest::newRow("work record 500")  << "device_work_records" << QByteArray("POST") << "500" << "" << true << true << "did not take the work record (POST device_work_records): HTTP 500";
    QTest::newRow("work record silent") << "device_work_records" << QByteArray("POST") << "hold" << "" << true << true << "did not take the work record (POST device_work_records): no answer within 0.3 s";
    QTest::newRow("channel refused")  << "" << QByteArray() << "" << "channel refused" << true << true << "did not open";
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
    QVERIFY(run.start(options));
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(run.cloud_()->attach(run.device()), registered);
    // Bounded by the client's time-out, not by the device's own 10 s between lookups.
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(
        run.cloud_()->state(), registered ? CloudAttachment::Registered : CloudAttachment::Failed);

    QCOMPARE(run.cut(1), JobRunner::Finished);
    QCOMPARE(run.machine->machine()->counters().copiesCut, 1);
    const QString problems = run.problems.join(QLatin1Char('\n'));
    QVERIFY2(problems.contains(told), qPrintable(problems));
    if (!registered) {
        QVERIFY(problems.contains("is not registered"));
        QVERIFY(run.notices.contains(QStringLiteral(
            "No work record was posted: the device is not registered with the cloud service.")));
        QCOMPARE(run.cloud_()->channel(), CloudAttachment::NoChannel);
        QVERIFY(service.connectedCodes().isEmpty());
    }
    QCOMPARE(run.cloud_()->workRecordSent(), recorded);
    if (fault != "refused") {
        QCOMPARE(service.requests("device_work_records", "POST").size(), recorded ? 1 : 0);
    }
}

void tst_HostCloud::deviceCode_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("machineNumber");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("why");

    // clang-format off
    QTest::newRow("given")                  << "ZR4150-7" << "TX4150V-000128" << "ZR4150-7" << "";
    QTest::newRow("machine number")         << "" << "TX4150V-000128" << "TX4150V-000128" << "";
    QTest::newRow("no machine number")      << "" << "" << "" << "the machine reported no machine number; give --device-code";
    QTest::newRow("unusable machine number") << "" << "TX 4150/1" << "" << "\"TX 4150/1\" cannot serve as the device code";
    // clang-format on
}

void tst_HostCloud::deviceCode()
{
    QFETCH(QString, given);
    QFETCH(QString, machineNumber);
    QFETCH(QString, code);
    QFETCH(QString, why);

    SessionOptions options;
    options.pluginDir = QStringLiteral(ZR_PLUGIN_DIR);
    HostSession session;
    QVERIFY(session.open(options));
    session.device()->property_ptr("DEVICE_ID")->setValue(machineNumber);
    CloudOptions cloud;
    cloud.deviceCode = given;
    CloudAttachment attachment(cloud);
    QString reason;
    QCOMPARE(attachment.deviceCodeFor(session.device(), &reason), code);
    QVERIFY2(reason.contains(why), qPrintable(reason));
}

void tst_HostCloud::options_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error");

    // clang-format off
    QTest::newRow("service and channel")    << QStringList { "--cloud", "http://127.0.0.1:8700/api/", "--cloud-ws", "ws://127.0.0.1:8701/api" } << "";
    QTest::newRow("embedded")               << QStringList { "--cloud-embedded", "--device-code", "ZR4150-7", "--cloud-timeout", "2.5" } << "";
    QTest::newRow("both services")          << QStringList { "--cloud-embedded", "--cloud", "http://127.0.0.1:8700/" } << "give it or --cloud, not both";
    QTest::newRow("channel without service") << QStringList { "--cloud-ws", "ws://127.0.0.1:8701/" } << "--cloud-ws needs --cloud or --cloud-embedded";
    QTest::newRow("code without service")   << QStringList { "--device-code", "ZR1" } << "--device-code needs";
    QTest::newRow("not http")               << QStringList { "--cloud", "ftp://127.0.0.1/" } << "--cloud wants an http:// or https:// address";
    QTest::newRow("no host")                << QStringList { "--cloud", "http:///api/" } << "--cloud wants";
    QTest::newRow("channel not ws")         << QStringList { "--cloud", "http://a/", "--cloud-ws", "http://a/" } << "--cloud-ws wants a ws://";
    QTest::newRow("code with a slash")      << QStringList { "--cloud-embedded", "--device-code", "ZR/1" } << "--device-code wants";
    QTest::newRow("token with a line")      << QStringList { "--cloud-embedded", "--cloud-token", "a\r\nX-Evil: 1" } << "--cloud-token may not hold";
    QTest::newRow("timeout zero")           << QStringList { "--cloud-embedded", "--cloud-timeout", "0" } << "--cloud-timeout wants";
    // clang-format on
}

void tst_HostCloud::options()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    QCommandLineParser parser;
    parser.addOptions(CloudOptions::options());
    QVERIFY(parser.parse(QStringList { "zrhost" } + arguments));
    CloudOptions options;
    QString reason;
    QCOMPARE(CloudOptions::read(parser, &options, &reason), error.isEmpty());
    QVERIFY2(reason.contains(error), qPrintable(reason));
    if (!error.isEmpty())
        return;
    QVERIFY(options.isSet());
    if (!options.embedded) {
        // The device appends its code to the base as it is, so the base ends in '/'.
        QCOMPARE(options.wsBase, QStringLiteral("ws://127.0.0.1:8701/api/"));
    } else {
        QCOMPARE(options.deviceCode, QStringLiteral("ZR4150-7"));
        QCOMPARE(options.requestTimeoutMs, 2500);
    }
}

void tst_HostCloud::programPrintsTheWorkRecord()
{
    const Run run = zrhost({ "job", ZR_SAMPLES_DIR "/gasket.plt", "--copies", "2", "--speed",
        "5000", "--cloud-embedded", "--no-progress" });
    QVERIFY2(run.exitCode == 0, qPrintable(run.err + run.out));
    QVERIFY2(run.err.isEmpty(), qPrintable(run.err));
    for (const char* line : { "Cloud service: http://127.0.0.1:",
             "Registering device code TX4150V-000128 (the machine number) with the cloud service.",
             "Cloud: registered as device id 1001 (model id 1), a new entry.",
             "Cloud channel: WEB SOCKET CONNECTED.", "Job finished: 2 of 2 copies" })
        QVERIFY2(run.out.contains(line), line);
    QVERIFY(run.out.indexOf("Cloud channel: WEB SOCKET CONNECTED.") < run.out.indexOf("Cutting"));

    const QJsonObject record
        = printedRecord(run.out, "Work record the cloud service received (HTTP 200 OK):");
    QCOMPARE(record.value("task_copies").toInt(), 2);
    QCOMPARE(record.value("finish_copies").toInt(), 2);
    QCOMPARE(record.value("device").toInt(), 1001);
    QCOMPARE(record.value("softwareType").toInt(), 3);
    QCOMPARE(record.value("page_size").toString(), QStringLiteral("80x120"));
    const QRegularExpressionMatch reports
        = QRegularExpression("collected on the channel: (\\d+) \\(the device sent (\\d+)\\)")
              .match(run.out);
    QVERIFY2(reports.hasMatch(), qPrintable(run.out));
    QVERIFY(reports.captured(1).toInt() >= 2);
    QCOMPARE(reports.captured(1), reports.captured(2));
}

void tst_HostCloud::programGoesOnWhenTheServiceFails()
{
    CloudService service;
    QVERIFY(service.listen());
    service.setAnswer("device", "GET", CloudAnswer::json(500));
    const Run run = zrhost({ "job", ZR_SAMPLES_DIR "/gasket.plt", "--speed", "5000", "--cloud",
        service.httpBase().toString(), "--cloud-ws", service.wsBase(), "--device-code", Code,
        "--no-progress" });
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.out.contains("Job finished: 1 of 1 copies"));
    QVERIFY2(run.err.contains("zrhost: cloud: device code ZRab12x is not registered: the device "
                              "lookup (GET device) got HTTP 500"),
        qPrintable(run.err));
    QVERIFY(run.out.contains(
        "No work record was posted: the device is not registered with the cloud service."));
    QCOMPARE(service.requests("device", "GET").size(), 1);
    QVERIFY(service.requests("device_work_records").isEmpty());
}

void tst_HostCloud::otherCommands()
{
    // Every command that connects registers the machine; one that does not says so.
    const Run info = zrhost({ "info", "--cloud-embedded" });
    QCOMPARE(info.exitCode, 0);
    QVERIFY(info.out.contains("Cloud: registered as device id 1001 (model id 1), a new entry."));
    QVERIFY(info.out.contains("TX4150V-000128"));
    QVERIFY2(info.err.isEmpty(), qPrintable(info.err));

    const Run list = zrhost({ "list", "--cloud-embedded" });
    QCOMPARE(list.exitCode, 0);
    QVERIFY(!list.out.contains("Cloud"));
    QVERIFY(list.err.contains("list does not connect to a machine, so no cloud service was used"));
}

QTEST_MAIN(tst_HostCloud)
#include "tst_hostcloud.moc"
