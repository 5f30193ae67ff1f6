// The machine service (zrhost serve --simulator) under many clients that take and hold, outside
// the test run:
//
//   build/bin/bench_servicelimits [CLIENTS]   (500 by default)
//
//   - unfinished: CLIENTS clients each start a message and never finish it: a few announce a
//     60 MiB job and send 40 MiB of its cut data, the others send 100 KiB of a text message;
//     each then adds a byte every second.
//     The service's peak resident set (VmHWM) against its idle one (target under 512 MB), and the
//     time for a new client's status request to be answered then, against the same before.
//   - idle: CLIENTS clients connect and say nothing; how many were let in, and the time for a new
//     client's status request to be answered while they are held, against the same before.
//
// Each check that fails is printed and makes the program exit with 1.

#include "carriage.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QWebSocket>
#include <QtTest>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

int failures = 0;

void check(bool ok, const char* what)
{
    if (!ok) {
        std::printf("FAILED: %s\n", what);
        ++failures;
    }
}

qint64 statusKb(qint64 pid, const char* field)
{
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Milliseconds from a new client's connect to the answer of its status request; -1 without one.
qint64 served(quint16 port)
{
    QElapsedTimer clock;
    clock.start();
    QWebSocket socket;
    bool answered = false;
    QObject::connect(&socket, &QWebSocket::connected, [&] {
        socket.sendTextMessage(Carriage::messageText(
            { { "id", 1 }, { "request", QJsonObject { { "kind", "status" } } } }));
    });
    QObject::connect(&socket, &QWebSocket::textMessageReceived, [&](const QString& text) {
        answered = answered || QJsonDocument::fromJson(text.toUtf8()).object().contains("result");
    });
    socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port)));
    return QTest::qWaitFor([&] { return answered; }, 30000) ? clock.elapsed() : -1;
}

// A client at the socket level, sending frames with a mask of zeros.
struct Raw {
    QTcpSocket socket;
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
        return QTest::qWaitFor([this] { return socket.bytesAvailable() > 0; }, 5000);
    }
    void frame(int opcode, const QByteArray& payload, bool last)
    {
        // Lengths in their shortest form, as the protocol wants.
        QByteArray head(1, char((last ? 0x80 : 0) | opcode));
        const int bytes = payload.size() < 126 ? 0 : payload.size() < 65536 ? 2 : 8;
        head.append(char(0x80 | (bytes == 0 ? payload.size() : bytes == 2 ? 126 : 127)));
        for (int shift = 8 * bytes - 8; shift >= 0; shift -= 8)
            head.append(char((quint64(payload.size()) >> shift) & 0xff));
        head.append(QByteArray(4, '\0'));
        socket.write(head + payload);
    }
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int clients = argc > 1 ? qMax(10, QByteArray(argv[1]).toInt()) : 500;
    QTemporaryDir dir;
    QProcess service;
    service.start(QStringLiteral(ZRHOST_PATH),
        { "serve", "--simulator", "--listen", "127.0.0.1:0", "--database",
            dir.filePath("service.sqlite"), "--plugin-dir", ZR_PLUGIN_DIR });
    const QRegularExpression serving(QStringLiteral("Serving ws://127.0.0.1:(\\d+)/"));
    QString log;
    QRegularExpressionMatch match;
    if (!QTest::qWaitFor(
            [&] {
                log += QString::fromUtf8(service.readAllStandardOutput());
                match = serving.match(log);
                return match.hasMatch();
            },
            10000)) {
        std::printf("FAILED: zrhost serve did not start\n");
        return 1;
    }
    const quint16 port = quint16(match.captured(1).toUInt());
    const qint64 pid = service.processId();
    QTest::qWait(500);
    const qint64 idleKb = statusKb(pid, "VmRSS:");
    const qint64 baseMs = served(port);
    // A client there before the others, asking while they hold messages.
    QWebSocket regular;
    int answers = 0;
    QObject::connect(&regular, &QWebSocket::textMessageReceived, [&](const QString& text) {
        answers += QJsonDocument::fromJson(text.toUtf8()).object().contains("result") ? 1 : 0;
    });
    regular.open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port)));
    [[maybe_unused]] const bool open = QTest::qWaitFor(
        [&] { return regular.state() == QAbstractSocket::ConnectedState; }, 5000);

    // Unfinished messages.
    const QByteArray part(1024 * 1024, 'x');
    std::vector<std::unique_ptr<Raw>> holders;
    // A message left alone for a few seconds is dropped by the WebSocket itself: each holder
    // adds a byte now and then, as a slow sender would.
    QElapsedTimer sinceTrickle;
    sinceTrickle.start();
    const auto trickle = [&] {
        for (auto& raw : holders) {
            if (raw->socket.state() == QAbstractSocket::ConnectedState)
                raw->frame(0x0, QByteArray(1, ' '), false);
        }
        sinceTrickle.restart();
    };
    for (int i = 0; i < clients; ++i) {
        if (sinceTrickle.elapsed() > 1000)
            trickle();
        holders.emplace_back(new Raw);
        Raw& raw = *holders.back();
        if (!raw.open(port))
            continue;
        if (i < 8) {
            const QJsonObject job { { "kind", "job" }, { "file", "big.plt" },
                { "content_bytes", 60.0 * 1024 * 1024 } };
            raw.frame(0x1, Carriage::messageText({ { "id", 1 }, { "request", job } }).toUtf8(), true);
            for (int mb = 0; mb < 40; ++mb) {
                raw.frame(mb == 0 ? 0x2 : 0x0, part, false);
                [[maybe_unused]] const bool out = QTest::qWaitFor(
                    [&] { return raw.socket.bytesToWrite() < part.size(); }, 5000);
            }
        } else {
            raw.frame(0x1, QByteArray(100 * 1024, ' '), false);
        }
    }
    for (int i = 0; i < 4; ++i) {
        trickle();
        QTest::qWait(500);
    }
    const int holding = int(std::count_if(holders.cbegin(), holders.cend(),
        [](const auto& raw) { return raw->socket.state() == QAbstractSocket::ConnectedState; }));
    const qint64 peakKb = statusKb(pid, "VmHWM:");
    QElapsedTimer asked;
    asked.start();
    regular.sendTextMessage(Carriage::messageText(
        { { "id", 1 }, { "request", QJsonObject { { "kind", "status" } } } }));
    const qint64 regularMs
        = QTest::qWaitFor([&] { return answers > 0; }, 30000) ? asked.elapsed() : -1;
    const qint64 unfinishedMs = served(port);
    std::printf("unfinished: %d clients, %d still holding; peak RSS %lld MB (idle %lld MB, %.1fx); "
                "a client already in answered in %lld ms; a new client %s in %lld ms (before: "
                "%lld ms)\n",
        clients, holding, peakKb / 1024, idleKb / 1024, double(peakKb) / qMax(qint64(1), idleKb),
        regularMs, unfinishedMs >= 0 ? "served" : "refused (every place held, none idle)",
        unfinishedMs, baseMs);
    check(peakKb > 0 && peakKb < 512 * 1024, "peak RSS under 512 MB");
    check(regularMs >= 0, "a client already in served while messages are held");
    holders.clear();
    QTest::qWait(1000);

    // Idle clients.
    std::vector<std::unique_ptr<QWebSocket>> idle;
    for (int i = 0; i < clients; ++i) {
        idle.emplace_back(new QWebSocket);
        idle.back()->open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port)));
    }
    QTest::qWait(3000);
    const int admitted = int(std::count_if(idle.cbegin(), idle.cend(),
        [](const auto& socket) { return socket->state() == QAbstractSocket::ConnectedState; }));
    // Room for one more, as an idle one would make after the idle time.
    idle.front()->close();
    QTest::qWait(500);
    const qint64 idleMs = served(port);
    std::printf("idle: %d of %d clients let in; a new client served in %lld ms (before: %lld "
                "ms, %.1fx)\n",
        admitted, clients, idleMs, baseMs, double(idleMs) / qMax(qint64(1), baseMs));
    check(idleMs >= 0, "a new client served while idle clients are held");
    service.kill();
    service.waitForFinished();
    return failures ? 1 : 0;
}
