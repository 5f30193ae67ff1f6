// The machine service under clients that take too much: memory held by messages not finished,
// every place taken, cut data that never comes, one client filling the queue; a machine that
// drops every link at once; small things clients send.

#include "carriage.h"
#include "servicerig.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QWebSocket>
#include <QtTest>

using namespace servicerig;

namespace {

// A client speaking the service's messages itself, on its own WebSocket.
struct Peer {
    explicit Peer(quint16 port)
    {
        QObject::connect(&socket, &QWebSocket::textMessageReceived, [this](const QString& text) {
            heard.append(QJsonDocument::fromJson(text.toUtf8()).object());
        });
        QObject::connect(&socket, &QWebSocket::disconnected, [this] { closed = true; });
        socket.open(QUrl(url(port)));
        [[maybe_unused]] const bool settled
            = QTest::qWaitFor([this] { return !heard.isEmpty() || closed; }, 10000);
    }
    bool admitted() const { return !closed && !heard.isEmpty(); }
    void ask(qint64 id, const QJsonObject& request)
    {
        socket.sendTextMessage(Carriage::messageText({ { "id", double(id) }, { "request", request } }));
    }
    // The first answer to request id: its result, or the notice of its job.
    QJsonObject answer(qint64 id)
    {
        QJsonObject found;
        [[maybe_unused]] const bool settled = QTest::qWaitFor(
            [&] {
                for (const QJsonObject& message : heard) {
                    if (message.value("id").toDouble(-1) == id
                        && (message.contains("result") || message.contains("job")))
                        found = message;
                }
                return !found.isEmpty() || closed;
            },
            10000);
        return found;
    }

    QWebSocket socket;
    QList<QJsonObject> heard;
    bool closed = false;
};

QJsonObject jobRequest(const Request& job)
{
    return Carriage::fromRequest(job);
}

// A client at the socket level: sends a binary message in parts and never its last part.
struct Unfinished {
    bool open(quint16 port)
    {
        socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        if (!socket.waitForConnected(5000))
            return false;
        socket.write(QStringLiteral("GET / HTTP/1.1\r\nHost: 127.0.0.1:%1\r\nUpgrade: websocket\r\n"
                                    "Connection: Upgrade\r\nSec-WebSocket-Key: "
                                    "dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n")
                         .arg(port)
                         .toLatin1());
        return QTest::qWaitFor([this] { return socket.bytesAvailable() > 0; }, 5000)
            && socket.readAll().startsWith("HTTP/1.1 101");
    }
    // A frame with a mask of zeros, which leaves the payload as it is.
    void frame(int opcode, const QByteArray& payload, bool last)
    {
        QByteArray head;
        head.append(char((last ? 0x80 : 0) | opcode));
        if (payload.size() < 126) {
            head.append(char(0x80 | payload.size()));
        } else {
            head.append(char(0x80 | 127));
            for (int shift = 56; shift >= 0; shift -= 8)
                head.append(char((quint64(payload.size()) >> shift) & 0xff));
        }
        head.append(QByteArray(4, '\0'));
        socket.write(head + payload);
    }

    QTcpSocket socket;
    qint64 sent = 0;
};

} // namespace

class tst_ServiceLimits : public QObject {
    Q_OBJECT
private slots:
    void unfinishedMessagesUnderMemoryLimit();
    void admission_data();
    void admission();
    void takingIn_data();
    void takingIn();
    void queueQuota();
    void takingTurns();
    void flappingMachine();
    void smallFaults_data();
    void smallFaults();
    void tokenFileUnreadable();
};

// Clients holding big messages half sent: the service, in an address space of 700 MB, takes in
// only what its budget holds, drops the rest, and serves a new client.
void tst_ServiceLimits::unfinishedMessagesUnderMemoryLimit()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("AddressSanitizer reserves far more address space than the limit this test sets");
#endif
    hostrig::Machine machine;
    QVERIFY(machine.listening);
    QTemporaryDir dir;
    QProcess service;
    const quint16 port = serve(service,
        QStringList { "--database", dir.filePath("service.sqlite"), "--plugin-dir",
            ZR_PLUGIN_DIR }
            + machine.at(),
        700 * 1024);
    QVERIFY(port);
    const qint64 announced = 60 * 1024 * 1024;
    const qint64 held = 40 * 1024 * 1024;
    const QByteArray part(1024 * 1024, 'x');
    std::vector<std::unique_ptr<Unfinished>> senders;
    for (int i = 0; i < 24; ++i) {
        senders.emplace_back(new Unfinished);
        Unfinished& sender = *senders.back();
        QVERIFY(sender.open(port));
        QJsonObject job { { "kind", "job" }, { "file", "big.plt" },
            { "content_bytes", double(announced) } };
        sender.frame(0x1, Carriage::messageText({ { "id", 1 }, { "request", job } }).toUtf8(), true);
        sender.frame(0x2, part, false);
        sender.sent = part.size();
    }
    // Each goes on sending while the service reads it, and never sends the last part.
    [[maybe_unused]] const bool sent = QTest::qWaitFor(
        [&] {
            bool more = false;
            for (auto& sender : senders) {
                if (sender->socket.state() != QAbstractSocket::ConnectedState
                    || sender->sent >= held)
                    continue;
                more = true;
                if (sender->socket.bytesToWrite() < part.size()) {
                    sender->frame(0x0, part, false);
                    sender->sent += part.size();
                }
            }
            return !more || service.state() != QProcess::Running;
        },
        60000);
    QCOMPARE(service.state(), QProcess::Running);
    const int holding = int(std::count_if(senders.cbegin(), senders.cend(), [](const auto& sender) {
        return sender->socket.state() == QAbstractSocket::ConnectedState;
    }));
    QVERIFY2(holding > 0 && holding < 24, qPrintable(QString::number(holding)));
    auto fresh = client(port);
    QVERIFY(fresh && fresh->isUp());
    Reply* status = fresh->send(Request::of(Request::Status));
    QTRY_VERIFY_WITH_TIMEOUT(status->isFinished(), 10000);
    QCOMPARE(status->result().outcome, Result::Done);
    service.kill();
    service.waitForFinished();
}

// Every place taken: a new client is refused with the reason, unless one has been idle long
// enough to make room, and then that one hears why it goes.
void tst_ServiceLimits::admission_data()
{
    QTest::addColumn<int>("maxClients");
    QTest::addColumn<int>("perPeer");
    QTest::addColumn<int>("idleMs");
    QTest::addColumn<bool>("admitted");
    QTest::addColumn<QString>("reason"); // the new client's close reason, or the idlest's

    QTest::newRow("full") << 3 << 400 << 60000 << false << "too many clients (3)";
    QTest::newRow("full from one address")
        << 10 << 3 << 60000 << false << "too many clients from 127.0.0.1 (3)";
    QTest::newRow("the idle one makes room")
        << 3 << 400 << 300 << true << "making room for a new client";
}

void tst_ServiceLimits::admission()
{
    QFETCH(int, maxClients);
    QFETCH(int, perPeer);
    QFETCH(int, idleMs);
    QFETCH(bool, admitted);
    QFETCH(QString, reason);
    ServiceOptions options;
    options.maxClients = maxClients;
    options.maxClientsPerPeer = perPeer;
    options.idleMs = idleMs;
    Rig rig(fastMachine(), options);
    QVERIFY(rig.started);
    std::vector<std::unique_ptr<Peer>> held;
    for (int i = 0; i < 3; ++i) {
        held.emplace_back(new Peer(rig.service.port()));
        QVERIFY(held.back()->admitted());
    }
    // The second and third are busy talking; the first says nothing.
    QTest::qWait(idleMs == 300 ? 500 : 0);
    for (int i = 1; i < 3; ++i)
        held.at(i)->ask(1, { { "kind", "history" } });
    QVERIFY(!held.at(1)->answer(1).isEmpty());
    Peer fresh(rig.service.port());
    QCOMPARE(fresh.admitted(), admitted);
    if (admitted) {
        QTRY_VERIFY(held.front()->closed);
        QVERIFY2(held.front()->socket.closeReason().contains(reason),
            qPrintable(held.front()->socket.closeReason()));
        QVERIFY(!held.at(1)->closed && !held.at(2)->closed);
    } else {
        QVERIFY2(fresh.socket.closeReason() == reason, qPrintable(fresh.socket.closeReason()));
    }
}

// Cut data on its way in: bounded for all clients together, in time, and small messages small.
void tst_ServiceLimits::takingIn_data()
{
    QTest::addColumn<qint64>("firstAnnounces"); // bytes another client announced and holds
    QTest::addColumn<qint64>("announces"); // 0: a text message of that size instead of a job
    QTest::addColumn<int>("textBytes");
    QTest::addColumn<QString>("told"); // in the answer, or the close reason
    QTest::addColumn<int>("closeCode");

    QTest::newRow("over the budget")
        << qint64(600 * 1024) << qint64(600 * 1024) << 0 << "taking in" << 0;
    QTest::newRow("within the budget, data late")
        << qint64(0) << qint64(600 * 1024) << 0 << "did not come within 0.3 s"
        << int(QWebSocketProtocol::CloseCodeBadOperation);
    QTest::newRow("a big text message") << qint64(0) << qint64(0) << 300 * 1024 << QString()
                                        << int(QWebSocketProtocol::CloseCodeTooMuchData);
}

void tst_ServiceLimits::takingIn()
{
    QFETCH(qint64, firstAnnounces);
    QFETCH(qint64, announces);
    QFETCH(int, textBytes);
    QFETCH(QString, told);
    QFETCH(int, closeCode);
    ServiceOptions options;
    options.maxIntakeBytes = 1024 * 1024;
    options.maxTextBytes = 512 * 1024; // 256 KiB for each of two clients
    options.dataWaitMs = firstAnnounces ? 60000 : 300;
    Rig rig(fastMachine(), options);
    QVERIFY(rig.started);
    Peer first(rig.service.port());
    Peer second(rig.service.port());
    QVERIFY(first.admitted() && second.admitted());
    Request job = gasket(1);
    if (firstAnnounces) {
        job.plt = QByteArray(int(firstAnnounces), ' ');
        first.ask(1, jobRequest(job));
        QTest::qWait(100);
    }
    if (announces) {
        job.plt = QByteArray(int(announces), ' ');
        second.ask(1, jobRequest(job));
    } else {
        second.socket.sendTextMessage(QString(textBytes, QLatin1Char(' ')));
    }
    if (closeCode == 0) {
        const QJsonObject result = second.answer(1).value("result").toObject();
        QCOMPARE(result.value("outcome").toString(), QStringLiteral("busy"));
        QVERIFY2(result.value("reason").toString().contains(told),
            qPrintable(result.value("reason").toString()));
        QVERIFY(!first.closed);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(second.closed, 10000);
        QCOMPARE(int(second.socket.closeCode()), closeCode);
        QVERIFY2(second.socket.closeReason().contains(told),
            qPrintable(second.socket.closeReason()));
        QVERIFY(!first.closed);
    }
}

// One client cannot fill the queue: it is told its share is taken, and another still queues.
void tst_ServiceLimits::queueQuota()
{
    Rig rig(fastMachine(50, 20));
    QVERIFY(rig.started);
    Peer greedy(rig.service.port());
    Peer other(rig.service.port());
    const Request job = gasket(1);
    QJsonObject refused;
    int accepted = 0;
    for (int id = 1; id <= MachineService::maxQueuedJobs && refused.isEmpty(); ++id) {
        greedy.ask(id, jobRequest(job));
        greedy.socket.sendBinaryMessage(job.plt);
        const QJsonObject answer = greedy.answer(id);
        QVERIFY(!answer.isEmpty());
        if (answer.contains("job"))
            ++accepted;
        else
            refused = answer.value("result").toObject();
    }
    QVERIFY2(accepted <= MachineService::maxQueuedPerClient + 1, qPrintable(QString::number(accepted)));
    QVERIFY2(refused.value("reason").toString().contains("as many as one client may"),
        qPrintable(refused.value("reason").toString()));
    other.ask(1, jobRequest(job));
    other.socket.sendBinaryMessage(job.plt);
    QVERIFY(other.answer(1).contains("job"));
}

// A client that asks much of a slow machine holds one place in the line: another's request is
// answered after at most one of its; and what it still waited for when it left is not asked.
void tst_ServiceLimits::takingTurns()
{
    SimOptions slow = fastMachine();
    slow.replyDelayMs = 100;
    Rig rig(slow);
    QVERIFY(rig.started);
    Peer greedy(rig.service.port());
    Peer other(rig.service.port());
    const QJsonObject read { { "kind", "read" }, { "names", QJsonArray { "DEVICE_UNIQUE_ID" } } };
    for (int id = 1; id <= 20; ++id)
        greedy.ask(id, read);
    QTest::qWait(50);
    other.ask(1, read);
    QCOMPARE(other.answer(1).value("result").toObject().value("outcome").toString(),
        QStringLiteral("done"));
    const auto answered = [&] {
        return std::count_if(greedy.heard.cbegin(), greedy.heard.cend(),
            [](const QJsonObject& message) { return message.contains("result"); });
    };
    QVERIFY2(answered() <= 2, qPrintable(QString::number(answered())));
    greedy.socket.abort();
    const QByteArray head = rig.machine.sim.received().last().head;
    const int before = frames(rig.machine.sim, head);
    QTest::qWait(1000);
    QVERIFY2(frames(rig.machine.sim, head) <= before + 1,
        qPrintable(QString::number(frames(rig.machine.sim, head) - before)));
}

// A machine that drops the link as soon as it is up is tried again ever more slowly.
void tst_ServiceLimits::flappingMachine()
{
    Rig rig(fastMachine());
    QVERIFY(rig.started);
    int ups = 0;
    connect(rig.service.session(), &Session::linkChanged, this, [&](Session::Link link) {
        if (link != Session::Up)
            return;
        ++ups;
        QTimer::singleShot(0, this, [&] { rig.machine.tcp.dropConnection(); });
    });
    rig.machine.tcp.dropConnection();
    QTest::qWait(4000);
    // 250 ms, doubling: at most six links in four seconds; a pause that started over each time
    // would have tried about sixteen times.
    QVERIFY2(ups >= 2 && ups <= 6, qPrintable(QString::number(ups)));
}

// What a client sends is taken as meant or refused, never bent; names are shown as plain text.
void tst_ServiceLimits::smallFaults_data()
{
    QTest::addColumn<QJsonValue>("copies");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QString>("stored"); // the history's file and "by" start with it

    QTest::newRow("copies as a text")
        << QJsonValue("3") << QStringLiteral("a.plt") << QStringLiteral("unknown") << QString();
    QTest::newRow("direction marks")
        << QJsonValue(1) << QStringLiteral("gasket\u202Etlp.exe") << QString()
        << QStringLiteral("gasket\\u202etlp.exe");
}

void tst_ServiceLimits::smallFaults()
{
    QFETCH(QJsonValue, copies);
    QFETCH(QString, file);
    QFETCH(QString, outcome);
    QFETCH(QString, stored);
    Rig rig(fastMachine());
    QVERIFY(rig.started);
    Peer peer(rig.service.port());
    const Request job = gasket(1);
    QJsonObject request = jobRequest(job);
    request.insert("copies", copies);
    request.insert("file", file);
    request.insert("by", QStringLiteral("\u2066someone"));
    peer.ask(1, request);
    if (!outcome.isEmpty()) {
        QCOMPARE(peer.answer(1).value("result").toObject().value("outcome").toString(), outcome);
        return;
    }
    peer.socket.sendBinaryMessage(job.plt);
    const qint64 id = qint64(peer.answer(1).value("job").toDouble());
    QVERIFY(id > 0);
    const QJsonObject record = rig.service.store()->job(id);
    QCOMPARE(record.value("file").toString(), stored);
    QVERIFY2(record.value("submitted_by").toString().startsWith("\\u2066someone"),
        qPrintable(record.value("submitted_by").toString()));
}

// A token file that cannot be read is told as such, not as one that holds no token.
void tst_ServiceLimits::tokenFileUnreadable()
{
    QTemporaryDir dir;
    const hostrig::Run run = hostrig::zrhost({ "serve", "--simulator", "--token-file",
        dir.filePath("missing.tok"), "--plugin-dir", ZR_PLUGIN_DIR });
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains("missing.tok cannot be read"), qPrintable(run.err));
}

QTEST_MAIN(tst_ServiceLimits)
#include "tst_servicelimits.moc"
