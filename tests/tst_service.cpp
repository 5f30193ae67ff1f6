// The machine service: its store, the JSON carriage of requests, and the service itself with many
// clients on 127.0.0.1 against the simulated machine, hostile clients and a dropped link; the
// command line and the panel through it. With ZR_SERVICE_SOAK=N the figures of a soak with N
// clients (see soak()). Its faults are in tst_servicefaults.

#include "carriage.h"
#include "panel.h"
#include "panelwindow.h"
#include "servicerig.h"
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

using namespace servicerig;

namespace {
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
    QTest::newRow("sender's figures out of bounds")
        << QByteArray(R"({"kind":"job","content_bytes":4,"file_info":{"path_length":1e12,)"
                      R"("width":-5,"heigth":"x","bytes":99,"name":"/etc/passwd"}})")
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
    QCOMPARE(back.fileInfo, request.fileInfo);
    // The sender's figures: whole numbers from 0 to 10^9, its name and size the job's own.
    for (const char* key : { "width", "heigth", "path_length", "travel_length" })
        QVERIFY(request.fileInfo.isEmpty()
            || (request.fileInfo.value(key).toDouble() >= 0
                && request.fileInfo.value(key).toDouble() <= 1e9));
    QVERIFY(request.fileInfo.isEmpty()
        || (request.fileInfo.value("name") == request.file
            && request.fileInfo.value("bytes").toInt() == request.plt.size()));
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
    QVERIFY(!newer.open(path, &error, Store::Access::Read));
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
    // The user's file, as the service tells it, beside the machine's name of the job.
    QVERIFY2(paused.out.contains(QLatin1String("paused: gasket.plt (machine: job-0001.plt)")),
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
        << QStringList { "serve", "--simulator", "--listen", "0.0.0.0:0" } << 2 << "token";
    QTest::newRow("listen without port")
        << QStringList { "serve", "--simulator", "--listen", "127.0.0.1" } << 2 << "--listen wants";
    QTest::newRow("empty token file")
        << QStringList { "serve", "--simulator", "--token-file", "/dev/null" } << 2 << "no token";
    QTest::newRow("token with a space")
        << QStringList { "serve", "--simulator", "--token", "a b" } << 2 << "spaces";
    QTest::newRow("no database") << QStringList { "serve", "--simulator", "--database", "FILE" }
                                 << 1 << "not a database";
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
