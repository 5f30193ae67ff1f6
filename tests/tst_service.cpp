// The machine service: its store, the JSON carriage of requests, and the service itself with many
// clients on 127.0.0.1 against the simulated machine, the local cloud service, hostile clients,
// a dropped link, and a service killed mid-job and started again. With ZR_SERVICE_SOAK=N the
// figures of a soak with N clients (see soak()).

#include "carriage.h"
#include "cloudservice.h"
#include "hostrig.h"
#include "panel.h"
#include "panelwindow.h"
#include "remote.h"
#include "service.h"
#include "simlink.h"
#include "zrdeviceproperty.h"

#include <QFile>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

namespace {

Request gasket(int copies)
{
    Request request = Request::of(Request::Job);
    request.file = QStringLiteral(ZR_SAMPLES_DIR "/gasket.plt");
    QFile file(request.file);
    file.open(QIODevice::ReadOnly);
    request.plt = file.readAll();
    request.copies = copies;
    return request;
}

QString url(quint16 port)
{
    return QStringLiteral("ws://127.0.0.1:%1").arg(port);
}

// A client session, connected (or failed) before it is returned.
std::unique_ptr<RemoteSession> client(quint16 port, const QString& token = QString())
{
    std::unique_ptr<RemoteSession> session(new RemoteSession(QUrl(url(port)), token));
    if (!session->open(hostrig::sessionOptions(MachineTarget())))
        return nullptr;
    session->connectMachine();
    [[maybe_unused]] const bool settled
        = QTest::qWaitFor([&] { return session->link() != Session::Connecting; }, 10000);
    return session;
}

int frames(const SimMachine& machine, const QByteArray& head)
{
    return int(std::count_if(machine.received().cbegin(), machine.received().cend(),
        [&head](const SimFrame& frame) { return frame.head == head; }));
}

// The service in this process, on a free port, serving the simulated machine.
struct Rig {
    explicit Rig(const SimOptions& machineOptions = fastMachine(2000, 20),
        ServiceOptions options = ServiceOptions())
        : machine(machineOptions)
    {
        options.session = hostrig::sessionOptions(machine.target());
        options.port = 0;
        options.database = dir.filePath(QStringLiteral("service.sqlite"));
        int code = 0;
        QString error;
        started = service.start(options, &error, &code)
            && QTest::qWaitFor([this] { return service.session()->isUp(); }, 10000);
    }

    hostrig::Machine machine;
    QTemporaryDir dir;
    MachineService service;
    bool started = false;
};

// A masked WebSocket text frame (the mask all zero), as a client sends it.
QByteArray frame(const QByteArray& payload)
{
    QByteArray bytes(1, char(0x81));
    if (payload.size() < 126) {
        bytes.append(char(0x80 | payload.size()));
    } else {
        bytes.append(char(0x80 | 126));
        bytes.append(char(payload.size() >> 8));
        bytes.append(char(payload.size() & 0xff));
    }
    return bytes + QByteArray(4, '\0') + payload;
}

// zrhost serve as a process on a free port, with its port as it logs it; 0 when it did not start.
quint16 serve(QProcess& process, const QStringList& arguments)
{
    process.start(QStringLiteral(ZRHOST_PATH),
        QStringList { "serve", "--listen", "127.0.0.1:0" } + arguments);
    const QRegularExpression serving(QStringLiteral("Serving ws://127.0.0.1:(\\d+)/"));
    QString log;
    QRegularExpressionMatch match;
    [[maybe_unused]] const bool heard = QTest::qWaitFor(
        [&] {
            log += QString::fromUtf8(process.readAllStandardOutput());
            match = serving.match(log);
            return match.hasMatch() || process.state() == QProcess::NotRunning;
        },
        10000);
    return quint16(match.captured(1).toUInt());
}

} // namespace

class tst_Service : public QObject {
    Q_OBJECT
private slots:
    void carriage_data();
    void carriage();
    void store();
    void severalClients();
    void eachReportHeardOnce();
    void queue();
    void badClients();
    void linkDropUnderTwoClients();
    void killedAndStartedAgain();
    void endUnseen();
    void clientWords_data();
    void clientWords();
    void cutTheRest();
    void schemaOne_data();
    void schemaOne();
    void commandLineAndPanel();
    void refusals_data();
    void refusals();
    void soak();
};

void tst_Service::carriage_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("error"); // empty: a sound request

    QTest::newRow("read") << QByteArray(R"({"kind":"read","names":["sp1_speed","DEVICE_INFO"]})")
                          << "";
    QTest::newRow("no kind") << QByteArray(R"({"names":[]})") << "no request";
    QTest::newRow("unknown kind") << QByteArray(R"({"kind":"format-disk"})") << "no request";
    QTest::newRow("bad name") << QByteArray(R"({"kind":"read","names":["A;B"]})")
                              << "no parameter name";
    QTest::newRow("name not text")
        << QByteArray(R"({"kind":"read","names":[7]})") << "no parameter name";
    QTest::newRow("write without values")
        << QByteArray(R"({"kind":"write","names":["PU_SPEED"]})") << "one value";
    QTest::newRow("job without content")
        << QByteArray(R"({"kind":"job","file":"a.plt"})") << "content_bytes";
    QTest::newRow("job of too much")
        << QByteArray(R"({"kind":"job","content_bytes":1e12})") << "content_bytes";
    QTest::newRow("no copies") << QByteArray(R"({"kind":"job","content_bytes":4,"copies":0})")
                               << "copies";
    QTest::newRow("many copies") << QByteArray(R"({"kind":"job","content_bytes":4,"copies":1e9})")
                                 << "copies";
    QTest::newRow("jog too far") << QByteArray(R"({"kind":"jog","x":2})") << "-1, 0 or +1";
    QTest::newRow("job path") << QByteArray(
        R"({"kind":"job","content_bytes":4,"file":"/etc/passwd"})")
                              << "";
}

void tst_Service::carriage()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, error);
    Request request;
    QString why;
    const bool ok = Carriage::toRequest(QJsonDocument::fromJson(json).object(), &request, &why);
    QCOMPARE(ok, error.isEmpty());
    QVERIFY2(why.contains(error), qPrintable(why));
    if (!ok)
        return;
    // What is carried comes back the same; a path is only a name.
    Request back;
    request.plt
        = QByteArray(int(Carriage::announcedBytes(QJsonDocument::fromJson(json).object())), 'x');
    QVERIFY(Carriage::toRequest(Carriage::fromRequest(request), &back, &why));
    QCOMPARE(back.kind, request.kind);
    QCOMPARE(back.names, request.names);
    QCOMPARE(Carriage::announcedBytes(Carriage::fromRequest(request)),
        Carriage::announcedBytes(QJsonDocument::fromJson(json).object()));
    QVERIFY(!back.file.contains(QLatin1Char('/')));
    QVERIFY(request.names.isEmpty() || request.names.first() == QLatin1String("SP1_SPEED"));
}

void tst_Service::store()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("deep/er/service.sqlite"));
    QString error;
    qint64 job = 0;
    {
        Store store;
        QVERIFY2(store.open(path, &error), qPrintable(error));
        job = store.addJob({ { "file", "a.plt" }, { "copies", 2 }, { "status", "queued" },
            { "placement", QJsonObject { { "x", 5 } } } });
        QVERIFY(job > 0);
        QVERIFY(store.updateJob(job,
            { { "status", "cutting" }, { "machine_job", "job-0001.plt" }, { "not_a_column", 1 } }));
        const qint64 record = store.addRecord(job, { { "finish_copies", 2 } });
        QVERIFY(record > 0);
        QVERIFY(store.recordAnswered(record, false, "HTTP 500", QDateTime::currentDateTimeUtc()));
    }
    // Everything is there after the file is opened again.
    Store again;
    QVERIFY2(again.open(path, &error), qPrintable(error));
    QCOMPARE(again.jobsIn({ "cutting" }), QList<qint64> { job });
    const QJsonObject stored = again.job(job);
    QCOMPARE(stored.value("placement").toObject().value("x").toInt(), 5);
    QCOMPARE(stored.value("work_record").toObject().value("finish_copies").toInt(), 2);
    QCOMPARE(stored.value("cloud_answer").toString(), QStringLiteral("HTTP 500"));
    QCOMPARE(again.pendingRecords().size(), 1);
    QCOMPARE(again.pendingRecords().first().attempts, 1);
    QVERIFY(again.recordAnswered(again.pendingRecords().first().id, true, "HTTP 200", {}));
    QVERIFY(again.pendingRecords().isEmpty());

    // A file of a newer program, and one that is no database, are refused as they are.
    {
        QSqlDatabase db
            = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("newer"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery(db).exec(QStringLiteral("PRAGMA user_version = 99"));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("newer"));
    Store newer;
    QVERIFY(!newer.open(path, &error));
    QVERIFY2(error.contains(QLatin1String("newer zrhost")), qPrintable(error));
    QFile garbage(dir.filePath(QStringLiteral("garbage.sqlite")));
    QVERIFY(garbage.open(QIODevice::WriteOnly));
    garbage.write(QByteArray(4096, 'x'));
    garbage.close();
    Store none;
    QVERIFY(!none.open(garbage.fileName(), &error));
    QVERIFY2(error.contains(QLatin1String("not a database")), qPrintable(error));
}

// One client sends a job, another follows it, a third pauses, resumes and writes a value the
// second then reads.
void tst_Service::severalClients()
{
    Rig rig(fastMachine(1500, 20));
    QVERIFY(rig.started);
    auto a = client(rig.service.port());
    auto b = client(rig.service.port());
    auto c = client(rig.service.port());
    QVERIFY(a && b && c && a->isUp() && b->isUp() && c->isUp());
    QList<int> seenByB;
    connect(b.get(), &Session::report, this,
        [&](const TaskReport& report) { seenByB.append(report.status); });

    Reply* job = a->send(gasket(3));
    QVERIFY(QTest::qWaitFor([&] { return job->result().last.status != 0; }, 10000));
    const Result paused = hostrig::ask(*c, Request::of(Request::Pause));
    QCOMPARE(paused.outcome, Result::Done);
    QCOMPARE(paused.last.status, int(TaskReport::Paused));
    QTRY_COMPARE(a->machineState().status, int(TaskReport::Paused));
    QVERIFY(!job->isFinished());
    QCOMPARE(hostrig::ask(*c, Request::of(Request::Resume)).outcome, Result::Done);
    QVERIFY(QTest::qWaitFor([&] { return job->isFinished(); }, 20000));
    QCOMPARE(job->result().outcome, Result::Done);
    QCOMPARE(job->result().last.finished, 3);
    QTRY_VERIFY(seenByB.contains(TaskReport::Paused) && seenByB.contains(TaskReport::Finished));
    QCOMPARE(frames(rig.machine.sim, "PLT"), 1);

    Request write = Request::of(Request::Write, { "SP1_SPEED" });
    write.values = QStringList { "123" };
    QCOMPARE(hostrig::ask(*c, write).outcome, Result::Done);
    QCOMPARE(hostrig::ask(*b, Request::of(Request::Read, { "SP1_SPEED" })).outcome, Result::Done);
    QCOMPARE(b->device()->property_ptr("SP1_SPEED")->value().toInt(), 123);

    const Result history = hostrig::ask(*b, Request::of(Request::History));
    QCOMPARE(history.jobs.size(), 1);
    const QJsonObject done = history.jobs.first().toObject();
    QCOMPARE(done.value("status").toString(), QStringLiteral("completed"));
    QCOMPARE(done.value("copies_done").toInt(), 3);
    QCOMPARE(done.value("machine_job").toString(), QStringLiteral("job-0001.plt"));
    QVERIFY(done.value("submitted_by").toString().endsWith(QLatin1String("(127.0.0.1)")));
    QVERIFY(done.value("cut_mm").toDouble() > 1900);
}

// Every client hears each of the machine's reports once: the client whose job it is as its job's
// progress, every other as an event; never also as a message.
void tst_Service::eachReportHeardOnce()
{
    Rig rig(fastMachine(1500, 20));
    QVERIFY(rig.started);
    QWebSocket sender;
    QWebSocket watcher;
    QStringList heardBySender;
    QStringList heardByWatcher;
    QJsonObject result;
    const auto listen = [this](QWebSocket& socket, QStringList& heard, QJsonObject* ended) {
        connect(
            &socket, &QWebSocket::textMessageReceived, this, [&heard, ended](const QString& text) {
                const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
                const QJsonValue report = message.value("event") == QLatin1String("report")
                    ? message.value("report")
                    : message.value("progress");
                if (!report.isUndefined())
                    heard.append(report.toObject().value("text").toString());
                if (message.value("event") == QLatin1String("message")
                    && message.value("kind") == 1)
                    heard.append(message.value("text").toString());
                if (ended && message.contains("result"))
                    *ended = message.value("result").toObject();
            });
    };
    listen(sender, heardBySender, &result);
    listen(watcher, heardByWatcher, nullptr);
    for (QWebSocket* socket : { &sender, &watcher }) {
        socket->open(QUrl(url(rig.service.port())));
        QTRY_VERIFY(socket->state() == QAbstractSocket::ConnectedState);
    }
    sender.sendTextMessage(
        Carriage::messageText({ { "id", 1 }, { "request", Carriage::fromRequest(gasket(2)) } }));
    sender.sendBinaryMessage(gasket(2).plt);
    QTRY_VERIFY_WITH_TIMEOUT(!result.isEmpty(), 20000);
    QCOMPARE(result.value("outcome").toString(), QStringLiteral("done"));
    QTest::qWait(100);
    for (const QStringList* heard : { &heardBySender, &heardByWatcher }) {
        QVERIFY(heard->size() > 3);
        QCOMPARE(QSet<QString>(heard->cbegin(), heard->cend()).size(), heard->size());
    }
    QCOMPARE(heardByWatcher, heardBySender);
}

// Jobs wait their turn in order; a client reorders and cancels them.
void tst_Service::queue()
{
    Rig rig(fastMachine(1500, 20));
    QVERIFY(rig.started);
    auto a = client(rig.service.port());
    auto c = client(rig.service.port());
    QVERIFY(a && c && a->isUp() && c->isUp());
    // HP-GL that cuts nothing, or holds a byte the frames cannot carry, never reaches the queue.
    for (const QByteArray& plt :
        { QByteArray("IN;PU10,10;"), QByteArray("IN;PD0,0,400,400;\x03") }) {
        Request bad = gasket(1);
        bad.plt = plt;
        QCOMPARE(hostrig::ask(*a, bad).outcome, Result::OutOfRange);
    }
    QList<Reply*> jobs { a->send(gasket(3)) };
    QVERIFY(QTest::qWaitFor([&] { return jobs.first()->result().last.status != 0; }, 10000));
    for (int i = 0; i < 4; ++i)
        jobs.append(a->send(gasket(1)));
    QVERIFY(QTest::qWaitFor(
        [&] { return hostrig::ask(*c, Request::of(Request::Status)).jobs.size() == 5; }, 10000));
    const QJsonArray before = hostrig::ask(*c, Request::of(Request::Status)).jobs;
    const auto id
        = [&before](int i) { return qint64(before.at(i).toObject().value("id").toDouble()); };

    Request move = Request::of(Request::MoveQueued);
    move.job = id(3);
    move.position = 1;
    const Result moved = hostrig::ask(*c, move);
    QCOMPARE(moved.outcome, Result::Done);
    QCOMPARE(qint64(moved.jobs.at(1).toObject().value("id").toDouble()), id(3));
    Request cancel = Request::of(Request::CancelQueued);
    cancel.job = id(2);
    QCOMPARE(hostrig::ask(*c, cancel).outcome, Result::Done);
    QCOMPARE(hostrig::ask(*c, cancel).outcome, Result::Unknown); // not queued any more
    jobs.at(4)->cancel(); // its own client takes it back

    QVERIFY(QTest::qWaitFor(
        [&] {
            return std::all_of(
                jobs.cbegin(), jobs.cend(), [](Reply* r) { return r->isFinished(); });
        },
        30000));
    QCOMPARE(jobs.at(2)->result().outcome, Result::Cancelled);
    QCOMPARE(jobs.at(4)->result().outcome, Result::Cancelled);
    QCOMPARE(jobs.at(0)->result().last.fileName, QStringLiteral("job-0001.plt"));
    QCOMPARE(jobs.at(3)->result().last.fileName, QStringLiteral("job-0002.plt"));
    QCOMPARE(jobs.at(1)->result().last.fileName, QStringLiteral("job-0003.plt"));
    QCOMPARE(frames(rig.machine.sim, "PLT"), 3);
    const QJsonArray history = hostrig::ask(*c, Request::of(Request::History)).jobs;
    QStringList states;
    for (const QJsonValue& job : history)
        states.prepend(job.toObject().value("status").toString());
    QCOMPARE(
        states, QStringList({ "completed", "completed", "cancelled", "completed", "cancelled" }));
}

// Clients that send nonsense, too much, or never read disturb neither the service nor the others;
// a wrong token is refused without saying more.
void tst_Service::badClients()
{
    ServiceOptions options;
    options.token = QStringLiteral("s3cret");
    options.maxMessageBytes = 64 * 1024;
    options.maxBacklogBytes = 64 * 1024;
    Rig rig(fastMachine(), options);
    QVERIFY(rig.started);
    const quint16 port = rig.service.port();
    for (const QString& token : { QString(), QStringLiteral("s3cre"), QStringLiteral("s3cret!") }) {
        auto refused = client(port, token);
        QCOMPARE(refused->link(), Session::Failed);
        QVERIFY2(refused->errorString().contains(QLatin1String("refused")),
            qPrintable(refused->errorString()));
    }
    auto good = client(port, options.token);
    QVERIFY(good && good->isUp());

    QWebSocket raw;
    QStringList heard;
    connect(&raw, &QWebSocket::textMessageReceived, this,
        [&](const QString& text) { heard.append(text); });
    QNetworkRequest request(QUrl(url(port)));
    request.setRawHeader("Authorization", "Bearer s3cret");
    raw.open(request);
    QTRY_VERIFY(raw.state() == QAbstractSocket::ConnectedState);
    const QStringList nonsense { "{not json", "[1,2]", R"({"id":"x","request":{}})",
        R"({"id":1,"request":{"kind":"explode"}})",
        R"({"id":2,"request":{"kind":"read","names":["A B"]}})", R"({"cancel":12345})" };
    for (const QString& text : nonsense)
        raw.sendTextMessage(text);
    raw.sendBinaryMessage("\x01\x02");
    QTRY_COMPARE(heard.size(), 1 + 6); // the greeting, and an answer to each but the cancel
    QCOMPARE(heard.filter(QStringLiteral("\"error\"")).size(), 4);
    QCOMPARE(heard.filter(QStringLiteral("\"outcome\":\"unknown\"")).size(), 2);
    raw.sendTextMessage(QString(100 * 1024, QLatin1Char('x')));
    QTRY_VERIFY(raw.state() == QAbstractSocket::UnconnectedState);
    QCOMPARE(raw.closeCode(), QWebSocketProtocol::CloseCodeTooMuchData);

    // A client that asks and never reads is dropped once its answers pile up.
    for (int i = 0; i < 40; ++i)
        rig.service.store()->addJob(
            { { "file", QString(2000, QLatin1Char('f')) }, { "status", "completed" } });
    QTcpSocket deaf;
    deaf.setReadBufferSize(1024);
    deaf.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(deaf.waitForConnected(3000));
    deaf.write("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
               "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n"
               "Authorization: Bearer s3cret\r\n\r\n");
    QTRY_COMPARE(rig.service.clientCount(), 2);
    const QByteArray history = frame(R"({"id":1,"request":{"kind":"history"}})");
    QVERIFY(QTest::qWaitFor(
        [&] {
            if (deaf.state() == QAbstractSocket::ConnectedState)
                deaf.write(history.repeated(20));
            return rig.service.clientCount() == 1;
        },
        30000));
    QCOMPARE(
        hostrig::ask(*good, Request::of(Request::Read, { "SP1_SPEED" })).outcome, Result::Done);
    QCOMPARE(hostrig::ask(*good, Request::of(Request::History)).jobs.size(), 40);
}

// The machine hangs up mid-job: both clients hear the link go and come back, and the job goes on
// to its end without being sent again.
void tst_Service::linkDropUnderTwoClients()
{
    SimOptions machine = fastMachine(1500, 20);
    machine.dropAtPercent = 40;
    Rig rig(machine);
    QVERIFY(rig.started);
    auto a = client(rig.service.port());
    auto b = client(rig.service.port());
    QVERIFY(a && b && a->isUp() && b->isUp());
    QStringList told;
    QList<Session::Link> links;
    connect(b.get(), &Session::notice, this, [&](const QString& line) { told.append(line); });
    connect(b.get(), &Session::linkChanged, this, [&](Session::Link link) { links.append(link); });
    Reply* job = a->send(gasket(2));
    int progress = 0;
    connect(job, &Reply::progress, this, [&progress] { ++progress; });
    QVERIFY(QTest::qWaitFor([&] { return job->isFinished(); }, 20000));
    QCOMPARE(job->result().outcome, Result::Done);
    QCOMPARE(job->result().last.finished, 2);
    QCOMPARE(links, QList<Session::Link>({ Session::Connecting, Session::Up }));
    QVERIFY2(told.filter(QStringLiteral("lost")).size() > 0
            && told.filter(QStringLiteral("Reconnected")).size() == 1,
        qPrintable(told.join('\n')));
    QVERIFY(progress > 2);
    QCOMPARE(job->result().last.percent, 100.0);
    QCOMPARE(frames(rig.machine.sim, "PLT"), 1);
    QCOMPARE(rig.machine.tcp.connectionCount(), 2);
    QCOMPARE(hostrig::ask(*b, Request::of(Request::History))
                 .jobs.first()
                 .toObject()
                 .value("status")
                 .toString(),
        QStringLiteral("completed"));
}

// A service killed mid-job follows the job when started again, keeps the work record the cloud
// service did not take across another kill, and delivers it once the cloud service takes it.
void tst_Service::killedAndStartedAgain()
{
    hostrig::Machine machine(fastMachine(600, 20));
    QVERIFY(machine.listening);
    CloudService cloud;
    QVERIFY(cloud.listen());
    cloud.setAnswer(QStringLiteral("device_work_records"), "POST", CloudAnswer::json(500));
    QTemporaryDir dir;
    const QString database = dir.filePath(QStringLiteral("service.sqlite"));
    const QStringList arguments = QStringList { "--database", database, "--cloud",
        cloud.httpBase().toString(), "--plugin-dir", ZR_PLUGIN_DIR }
        + machine.at();

    QProcess first;
    const quint16 port = serve(first, arguments);
    QVERIFY(port);
    auto a = client(port);
    QVERIFY(a && a->isUp());
    Reply* job = a->send(gasket(2));
    QVERIFY(QTest::qWaitFor(
        [&] { return job->result().last.percent > 10 || job->isFinished(); }, 10000));
    first.kill();
    first.waitForFinished();
    QTRY_VERIFY(job->isFinished());
    QCOMPARE(job->result().outcome, Result::LinkLost);

    QProcess second;
    QVERIFY(serve(second, arguments));
    QVERIFY(QTest::qWaitFor(
        [&] { return cloud.requests(QStringLiteral("device_work_records")).size() > 0; }, 20000));
    second.kill();
    second.waitForFinished();
    {
        Store store;
        QString error;
        QVERIFY(store.open(database, &error));
        const QJsonObject followed = store.job(1);
        QCOMPARE(followed.value("status").toString(), QStringLiteral("completed"));
        QCOMPARE(followed.value("copies_done").toInt(), 2);
        QCOMPARE(store.pendingRecords().size(), 1);
        QCOMPARE(store.pendingRecords().first().body.value("finish_copies").toInt(), 2);
    }
    QCOMPARE(machine.sim.counters().jobsFinished, 1);

    cloud.resetAnswers();
    QProcess third;
    QVERIFY(serve(third, arguments));
    Store store;
    QString error;
    QVERIFY(store.open(database, &error));
    QVERIFY(QTest::qWaitFor([&] { return store.pendingRecords().isEmpty(); }, 20000));
    third.kill();
    third.waitForFinished();
    QCOMPARE(cloud.workRecords().size(), 1);
    QCOMPARE(cloud.workRecords().first().value("finish_copies").toInt(), 2);
    QVERIFY(!store.job(1).value("cloud_delivered_at").toString().isEmpty());
    QCOMPARE(frames(machine.sim, "PLT"), 1);
}

// A service killed while the machine cuts copy 2 of 3 finds, started again, a machine that says
// nothing more of the job: the history keeps what was confirmed, says the outcome is unknown, and
// a work record counts the confirmed copies once.
void tst_Service::endUnseen()
{
    hostrig::Machine machine(fastMachine(1500, 20));
    QVERIFY(machine.listening);
    CloudService cloud;
    QVERIFY(cloud.listen());
    QTemporaryDir dir;
    const QString database = dir.filePath(QStringLiteral("service.sqlite"));
    const QStringList arguments = QStringList { "--database", database, "--cloud",
        cloud.httpBase().toString(), "--plugin-dir", ZR_PLUGIN_DIR, "--reply-timeout", "300" }
        + machine.at();
    QProcess first;
    const quint16 port = serve(first, arguments);
    QVERIFY(port);
    auto a = client(port);
    QVERIFY(a && a->isUp());
    Reply* job = a->send(gasket(3));
    QVERIFY(QTest::qWaitFor([&] { return job->result().last.finished >= 1; }, 20000));
    QTest::qWait(100); // the confirmed copy reaches the store
    first.kill();
    first.waitForFinished();
    QVERIFY(QTest::qWaitFor([&] { return machine.sim.counters().jobsFinished == 1; }, 30000));

    QProcess second;
    QVERIFY(serve(second, arguments));
    Store store;
    QString error;
    QVERIFY(store.open(database, &error));
    QVERIFY(QTest::qWaitFor(
        [&] { return store.job(1).value("status") != QLatin1String("processing"); }, 20000));
    QVERIFY(QTest::qWaitFor([&] { return cloud.workRecords().size() == 1; }, 10000));
    second.kill();
    second.waitForFinished();
    const QJsonObject ended = store.job(1);
    QCOMPARE(ended.value("status").toString(), QStringLiteral("interrupted"));
    QVERIFY2(ended.value("reason").toString().startsWith(QLatin1String("outcome unknown")),
        qPrintable(ended.value("reason").toString()));
    const int confirmed = ended.value("copies_done").toInt();
    QVERIFY(confirmed >= 1 && confirmed < 3);
    QVERIFY(ended.value("cut_mm").toDouble() > 0);
    QCOMPARE(cloud.workRecords().first().value("finish_copies").toInt(), confirmed);
    QCOMPARE(frames(machine.sim, "PLT"), 1);
}

void tst_Service::clientWords_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("told");
    QTest::addColumn<QString>("untrue");

    QTest::newRow("service killed, job queued") << "kill-queued"
                                                << "it was never sent"
                                                << "may still be cutting";
    QTest::newRow("queued job cancelled") << "cancel-queued"
                                          << "cancelled before it started"
                                          << "not confirmed";
    QTest::newRow("service killed mid-job") << "kill-cutting"
                                            << "as the machine confirmed"
                                            << " s cutting)";
}

// What a client's zrhost job says when its job meets a fault through the service: what the
// service recorded, nothing it did not see.
void tst_Service::clientWords()
{
    QFETCH(QString, fault);
    QFETCH(QString, told);
    QFETCH(QString, untrue);
    hostrig::Machine machine(fastMachine(800, 20));
    QVERIFY(machine.listening);
    QTemporaryDir dir;
    QProcess service;
    const quint16 port = serve(service,
        QStringList { "--database", dir.filePath("s.sqlite"), "--plugin-dir", ZR_PLUGIN_DIR }
            + machine.at());
    QVERIFY(port);
    auto a = client(port);
    QVERIFY(a && a->isUp());
    Reply* first = a->send(gasket(3));
    if (fault != QLatin1String("kill-cutting"))
        QVERIFY(QTest::qWaitFor([&] { return first->result().last.status != 0; }, 10000));
    QProcess job;
    job.start(QStringLiteral(ZRHOST_PATH),
        QStringList { "job", ZR_SAMPLES_DIR "/gasket.plt", "--copies", "2", "--no-progress",
            "--server", url(port), "--plugin-dir", ZR_PLUGIN_DIR });
    const auto heard = [&](const char* what) {
        return QTest::qWaitFor(
            [&] {
                const QJsonArray jobs = hostrig::ask(*a, Request::of(Request::History)).jobs;
                return jobs.size() == 2
                    && jobs.first().toObject().value("status") == QLatin1String(what);
            },
            20000);
    };
    if (fault == QLatin1String("kill-cutting")) {
        first->cancel();
        QVERIFY(QTest::qWaitFor([&] { return first->isFinished(); }, 20000));
        QVERIFY(QTest::qWaitFor(
            [&] {
                const QJsonArray jobs = hostrig::ask(*a, Request::of(Request::History)).jobs;
                return jobs.size() == 2 && jobs.first().toObject().value("percent").toDouble() > 20;
            },
            20000));
    } else {
        QVERIFY(heard("pending"));
    }
    if (fault == QLatin1String("cancel-queued")) {
        QCOMPARE(hostrig::zrhost({ "queue", "cancel", "2", "--server", url(port), "--plugin-dir",
                                     ZR_PLUGIN_DIR })
                     .exitCode,
            0);
    } else {
        service.kill();
        service.waitForFinished();
    }
    QVERIFY(QTest::qWaitFor([&] { return job.state() == QProcess::NotRunning; }, 30000));
    const QString out = QString::fromUtf8(job.readAllStandardOutput() + job.readAllStandardError());
    QVERIFY2(out.contains(told) && !out.contains(untrue), qPrintable(out));
    if (service.state() != QProcess::NotRunning) {
        service.kill();
        service.waitForFinished();
    }
}

// A job stopped after its first copy: zrhost job --resume cuts the two the machine did not
// confirm, from the data the service kept, as the rest of that job.
void tst_Service::cutTheRest()
{
    Rig rig(fastMachine(1500, 20));
    QVERIFY(rig.started);
    auto a = client(rig.service.port());
    QVERIFY(a && a->isUp());
    Reply* job = a->send(gasket(3));
    QVERIFY(QTest::qWaitFor([&] { return job->result().last.finished >= 1; }, 20000));
    job->cancel();
    QVERIFY(QTest::qWaitFor([&] { return job->isFinished(); }, 20000));
    QCOMPARE(job->result().outcome, Result::Stopped);
    const int done = job->result().last.finished;
    QCOMPARE(job->result().jobs.first().toObject().value("copies_done").toInt(), done);

    const QStringList server { "--server", url(rig.service.port()), "--plugin-dir", ZR_PLUGIN_DIR,
        "--no-progress" };
    const hostrig::Run rest = hostrig::zrhost(QStringList { "job", "--resume", "1" } + server);
    QVERIFY2(rest.exitCode == 0 && rest.out.contains(QLatin1String("rest of #1")),
        qPrintable(rest.out + rest.err));
    const QJsonObject second = rig.service.store()->job(2);
    QCOMPARE(second.value("rest_of").toInt(), 1);
    QCOMPARE(second.value("copies").toInt(), 3 - done);
    QCOMPARE(second.value("status").toString(), QStringLiteral("completed"));
    QCOMPARE(frames(rig.machine.sim, "PLT"), 2);
    QCOMPARE(rig.machine.sim.counters().copiesCut, 3);
    // Nothing is left of it to cut, and of a job that does not exist nothing at all.
    for (const char* id : { "2", "9" })
        QVERIFY(hostrig::zrhost(QStringList { "job", "--resume", id } + server).exitCode != 0);
}

void tst_Service::schemaOne_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::addColumn<QString>("reason"); // how the reason starts

    QTest::newRow("queued") << "queued"
                            << "pending"
                            << "waiting";
    QTest::newRow("sending") << "sending"
                             << "processing"
                             << "sent";
    QTest::newRow("cutting") << "cutting"
                             << "processing"
                             << "sent";
    QTest::newRow("paused") << "paused"
                            << "processing"
                            << "sent";
    QTest::newRow("finished") << "finished"
                              << "completed"
                              << "every copy";
    QTest::newRow("failed") << "failed"
                            << "aborted"
                            << "not cut";
    QTest::newRow("lost") << "lost"
                          << "interrupted"
                          << "outcome unknown";
    QTest::newRow("stopped") << "stopped"
                             << "stopped"
                             << "stopped";
    QTest::newRow("cancelled") << "cancelled"
                               << "cancelled"
                               << "cancelled";
}

// A database of the first schema is brought to the states of the second; after it the confirmed
// figures only grow and an ended job stays ended.
void tst_Service::schemaOne()
{
    QFETCH(QString, before);
    QFETCH(QString, after);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("old.sqlite"));
    {
        QSqlDatabase db
            = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("v1"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.exec(QStringLiteral(
            "CREATE TABLE jobs (id INTEGER PRIMARY KEY AUTOINCREMENT, file TEXT NOT NULL, "
            "bytes INTEGER, copies INTEGER, placement TEXT, submitted_by TEXT, submitted_at TEXT, "
            "started_at TEXT, ended_at TEXT, status TEXT NOT NULL, machine_job TEXT, cut_mm REAL, "
            "copies_done INTEGER, percent REAL, reason TEXT, file_info TEXT)")));
        QVERIFY(query.exec(QStringLiteral(
            "CREATE TABLE outbox (id INTEGER PRIMARY KEY "
            "AUTOINCREMENT, job_id INTEGER, body TEXT NOT NULL, created_at TEXT, attempts INTEGER "
            "NOT NULL DEFAULT 0, last_answer TEXT, next_attempt_at TEXT, delivered_at TEXT)")));
        QVERIFY(query.exec(QStringLiteral("INSERT INTO jobs (file, copies, status, copies_done, "
                                          "cut_mm) VALUES ('a.plt', 3, '%1', 1, 637)")
                               .arg(before)));
        QVERIFY(query.exec(QStringLiteral("PRAGMA user_version = 1")));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("v1"));
    Store store;
    QString error;
    QVERIFY2(store.open(path, &error), qPrintable(error));
    QCOMPARE(store.job(1).value("status").toString(), after);
    QVERIFY2(store.job(1).value("reason").toString().startsWith(reason),
        qPrintable(store.job(1).value("reason").toString()));
    // A later report that knows less takes nothing back; a final state is kept.
    QVERIFY(store.updateJob(1,
        { { "copies_done", 0 }, { "cut_mm", 0.0 }, { "status", "processing" },
            { "reason", "again" } }));
    const QJsonObject now = store.job(1);
    QCOMPARE(now.value("copies_done").toInt(), 1);
    QCOMPARE(now.value("cut_mm").toDouble(), 637.0);
    QCOMPARE(now.value("status").toString(),
        JobStatus::isFinal(after) ? after : QStringLiteral("processing"));
    QVERIFY(store.updateJob(1, { { "copies_done", 2 } }));
    QCOMPARE(store.job(1).value("copies_done").toInt(), 2);
}

// The command line and the panel through the service: a job from one command, pause and resume
// from others, the panel showing it, and the history.
void tst_Service::commandLineAndPanel()
{
    Rig rig(fastMachine(350, 20));
    QVERIFY(rig.started);
    const QStringList server { "--server", url(rig.service.port()), "--plugin-dir", ZR_PLUGIN_DIR };
    PanelWindow window;
    std::unique_ptr<RemoteSession> session(
        new RemoteSession(QUrl(url(rig.service.port())), QString()));
    QVERIFY(session->open(hostrig::sessionOptions(MachineTarget())));
    Panel panel(session.get(), &window);
    session->connectMachine();
    QTRY_VERIFY(session->isUp());

    QProcess job;
    job.start(QStringLiteral(ZRHOST_PATH),
        QStringList { "job", ZR_SAMPLES_DIR "/gasket.plt", "--copies", "3", "--no-progress" }
            + server);
    QVERIFY(QTest::qWaitFor(
        [&] { return window.task->text().contains(QLatin1String("job-0001.plt")); }, 20000));
    const hostrig::Run paused = hostrig::zrhost(QStringList { "pause" } + server);
    QCOMPARE(paused.exitCode, 0);
    QVERIFY2(paused.out.contains(QLatin1String("paused: job-0001.plt")),
        qPrintable(paused.out + paused.err));
    QTRY_VERIFY(window.task->text().contains(QLatin1String("paused")));
    QCOMPARE(hostrig::zrhost(QStringList { "resume" } + server).exitCode, 0);
    QVERIFY(QTest::qWaitFor([&] { return job.state() == QProcess::NotRunning; }, 30000));
    const QString out = QString::fromUtf8(job.readAllStandardOutput());
    QCOMPARE(job.exitCode(), 0);
    QVERIFY2(
        out.contains(QLatin1String("Job finished: 3 of 3 copies of gasket.plt")), qPrintable(out));

    const hostrig::Run history = hostrig::zrhost(QStringList { "history", "--json" } + server);
    QCOMPARE(history.exitCode, 0);
    const QJsonObject listed
        = QJsonDocument::fromJson(history.out.toUtf8()).array().first().toObject();
    QCOMPARE(listed.value("status").toString(), QStringLiteral("completed"));
    QCOMPARE(listed.value("file").toString(), QStringLiteral("gasket.plt"));
    QTRY_COMPARE(window.history->rowCount(), 1);
    QTRY_COMPARE(window.history->item(0, 4)->text(), QStringLiteral("completed"));
}

void tst_Service::refusals_data()
{
    QTest::addColumn<QStringList>("arguments"); // FILE: a file of 4 KiB that is no database
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("told");

    QTest::newRow("open address, no token")
        << QStringList { "serve", "--listen", "0.0.0.0:0" } << 2 << "token";
    QTest::newRow("listen without port")
        << QStringList { "serve", "--listen", "127.0.0.1" } << 2 << "--listen wants";
    QTest::newRow("empty token file")
        << QStringList { "serve", "--token-file", "/dev/null" } << 2 << "no token";
    QTest::newRow("token with a space")
        << QStringList { "serve", "--token", "a b" } << 2 << "spaces";
    QTest::newRow("no database") << QStringList { "serve", "--database", "FILE" } << 1
                                 << "not a database";
    QTest::newRow("history of no database")
        << QStringList { "history", "--database", "FILE.none", "--json" } << 0 << "No jobs";
    QTest::newRow("history, no service")
        << QStringList { "history", "--server", "ws://127.0.0.1:1" } << 4 << "cannot reach";
    QTest::newRow("job, no service")
        << QStringList { "job", ZR_SAMPLES_DIR "/gasket.plt", "--server", "ws://127.0.0.1:1" } << 4
        << "cannot reach the machine through the machine service";
    QTest::newRow("server not ws")
        << QStringList { "status", "--server", "http://127.0.0.1:1" } << 2 << "ws://";
}

// What zrhost serve and its clients refuse, before anything starts.
void tst_Service::refusals()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, told);
    QTemporaryDir dir;
    QFile garbage(dir.filePath(QStringLiteral("garbage")));
    QVERIFY(garbage.open(QIODevice::WriteOnly) && garbage.write(QByteArray(4096, 'x')) == 4096);
    garbage.close();
    arguments.replaceInStrings(QStringLiteral("FILE"), garbage.fileName());
    const hostrig::Run run
        = hostrig::zrhost(arguments + QStringList { "--plugin-dir", ZR_PLUGIN_DIR });
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2((run.err + run.out).contains(told), qPrintable(run.err));
    QVERIFY2(!run.err.contains(QLatin1String("QSql")), qPrintable(run.err));
}

// The service's CPU time so far, from /proc, in milliseconds.
static qint64 cpuMs(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toLongLong() + fields.value(12).toLongLong()) * 1000
        / sysconf(_SC_CLK_TCK);
}

// Many clients follow one job through zrhost serve in its own process; a cable pulled on the way.
// Prints each report's delay from the machine to every client, the service's CPU per wall second,
// and the time from the link's return to progress showing again. ZR_SERVICE_SOAK=N: N clients.
void tst_Service::soak()
{
    if (!qEnvironmentVariableIsSet("ZR_SERVICE_SOAK"))
        QSKIP("the soak runs with ZR_SERVICE_SOAK=N (clients, at least 50)");
    const int count = qMax(50, qEnvironmentVariableIntValue("ZR_SERVICE_SOAK"));
    hostrig::Machine machine(fastMachine(100, 100));
    QVERIFY(machine.listening);
    QElapsedTimer clock;
    clock.start();
    // When the machine sent each report, told by its percent; reports from one link reach all.
    SimLink tap(&machine.sim, QStringLiteral("tap"));
    QHash<int, qint64> sentAt;
    connect(&tap, &SimLink::bytesOut, this, [&](const QByteArray& bytes) {
        const QList<QByteArray> fields = bytes.mid(bytes.indexOf("66,")).split(',');
        if (bytes.contains("66,") && fields.size() > 5)
            sentAt.insert(qRound(fields.at(5).toDouble() * 10), clock.elapsed());
    });
    QTemporaryDir dir;
    QProcess service;
    const quint16 port = serve(service,
        QStringList { "--database", dir.filePath("s.sqlite"), "--plugin-dir", ZR_PLUGIN_DIR }
            + machine.at());
    QVERIFY(port);

    std::vector<std::unique_ptr<QWebSocket>> clients;
    QVector<int> heard(count);
    QVector<qint64> delays;
    qint64 droppedAt = -1, returnedAt = -1, progressAgainAt = -1;
    for (int i = 0; i < count; ++i) {
        clients.emplace_back(new QWebSocket);
        connect(clients.back().get(), &QWebSocket::textMessageReceived, this,
            [&, i](const QString& text) {
                const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
                if (message.value("event").toString() != QLatin1String("report"))
                    return;
                const int percent
                    = qRound(message.value("report").toObject().value("percent").toDouble() * 10);
                if (!sentAt.contains(percent))
                    return;
                ++heard[i];
                delays.append(clock.elapsed() - sentAt.value(percent));
                if (returnedAt >= 0 && progressAgainAt < 0)
                    progressAgainAt = clock.elapsed();
            });
        clients.back()->open(QUrl(url(port)));
    }
    QTRY_VERIFY(
        std::all_of(clients.cbegin(), clients.cend(), [](const std::unique_ptr<QWebSocket>& c) {
            return c->state() == QAbstractSocket::ConnectedState;
        }));
    connect(&machine.sim, &SimMachine::frameReceived, this, [&] {
        if (droppedAt >= 0 && returnedAt < 0)
            returnedAt = clock.elapsed();
    });

    auto submitter = client(port);
    QVERIFY(submitter && submitter->isUp());
    Reply* job = submitter->send(gasket(2));
    QVERIFY(QTest::qWaitFor([&] { return job->result().last.percent > 20; }, 60000));
    const qint64 cpuBefore = cpuMs(service.processId());
    const qint64 wallBefore = clock.elapsed();
    QVERIFY(QTest::qWaitFor([&] { return job->result().last.percent > 50; }, 60000));
    const double cpuShare
        = double(cpuMs(service.processId()) - cpuBefore) / double(clock.elapsed() - wallBefore);
    droppedAt = clock.elapsed();
    machine.tcp.dropConnection();
    QVERIFY(QTest::qWaitFor([&] { return job->isFinished(); }, 120000));
    QCOMPARE(job->result().outcome, Result::Done);
    QCOMPARE(frames(machine.sim, "PLT"), 1);
    QVERIFY(returnedAt > 0 && progressAgainAt > 0);
    QTRY_VERIFY(
        std::all_of(heard.cbegin(), heard.cend(), [&](int n) { return n == heard.first(); }));
    service.kill();
    service.waitForFinished();

    std::sort(delays.begin(), delays.end());
    const auto within
        = std::count_if(delays.cbegin(), delays.cend(), [](qint64 ms) { return ms <= 100; });
    qInfo("%d clients, %d reports each: delay machine to client median %lld ms, 99th %lld ms, max "
          "%lld ms; "
          "%lld of %d within 100 ms",
        count, heard.first(), delays.at(delays.size() / 2), delays.at(delays.size() * 99 / 100),
        delays.last(), qint64(within), delays.size());
    qInfo("service CPU while %d clients follow the job: %.1f ms per wall second", count,
        cpuShare * 1000);
    qInfo("link dropped; back after %lld ms; progress shown again %lld ms after its return",
        returnedAt - droppedAt, progressAgainAt - returnedAt);
}

QTEST_MAIN(tst_Service)
#include "tst_service.moc"
