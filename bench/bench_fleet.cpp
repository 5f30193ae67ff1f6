// A host driving 100 machines from one thread: each link sends a heartbeat every second, which
// the machine answers, and the machine reports the running task ten times a second. Measured: the
// share of a core the host thread spends, and the heap each link holds, against the same number of
// plain QTcpSockets that send the same heartbeat and count the frames they get.
//
// The machines run in a process of their own (this program with --fleet-peers), so that neither
// their CPU time nor their memory counts for the host; the host runs in another (--fleet-host),
// so that each run starts from a fresh heap whatever ran before it.

#include "benchsupport.h"

#include "zrcommoninterface.h"
#include "zrdeviceproperty.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

constexpr int links = 100;
// Long enough for every link's first heartbeats: a socket keeps the buffers of its first write,
// and a heap figure taken before some links have written would be a third too low.
constexpr int warmUpMs = 2500;
constexpr int windowMs = 4000;

const QByteArray& heartbeatRead()
{
    static const QByteArray bytes = frame("CCMD", "1010;");
    return bytes;
}

int countEtx(const QByteArray& bytes)
{
    int count = 0;
    for (const char *at = bytes.constData(), *end = at + bytes.size();
         (at = static_cast<const char*>(std::memchr(at, ETX, size_t(end - at)))); ++at)
        ++count;
    return count;
}

// The machines' process, seen from the host: once started it tells its port; stopped, it tells
// what it sent.
class FleetPeers {
public:
    FleetPeers()
    {
        m_process.start(
            QCoreApplication::applicationFilePath(), { QStringLiteral("--fleet-peers") });
        if (m_process.waitForReadyRead(10000) && m_process.canReadLine())
            m_port = quint16(m_process.readLine().trimmed().split(' ').last().toUInt());
    }

    ~FleetPeers()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }

    quint16 port() const { return m_port; }

    // Stops the machines' sending; they answer with the task reports and heartbeat answers sent.
    bool stop(qint64& reports, qint64& answers)
    {
        m_process.write("stop\n");
        if (!runUntil([this] { return m_process.canReadLine(); }, 10000))
            return false;
        const QList<QByteArray> sent = m_process.readLine().trimmed().split(' ');
        if (sent.size() != 3 || sent.at(0) != "sent")
            return false;
        reports = sent.at(1).toLongLong();
        answers = sent.at(2).toLongLong();
        return true;
    }

private:
    QProcess m_process;
    quint16 m_port = 0;
};

// One machine's end of the plain baseline: a socket with its own one-second heartbeat timer.
struct PlainLink {
    QTcpSocket socket;
    QTimer heartbeat;
    qint64 frames = 0;
};

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

int failed(const char* what)
{
    std::fprintf(stderr, "%s\n", what);
    return 1;
}

// The host's side, run in a process of its own so that every run starts from the same fresh
// heap. Sets up the links with connectLinks(port), lets them settle and measures the window; then
// stops the machines and waits until received(reports, answers) says everything they sent
// arrived. Prints the window's seconds, the host thread's share of a core and the heap per link.
int hostFleet(const std::function<bool(quint16 port)>& connectLinks,
    const std::function<bool(qint64 reports, qint64 answers)>& received)
{
    FleetPeers peers;
    if (peers.port() == 0)
        return failed("the machines' process did not start");
    const qint64 heapBefore = heapInUse();
    if (!connectLinks(peers.port()))
        return failed("not every link came up");
    runFor(warmUpMs);
    const double heapPerLink = double(heapInUse() - heapBefore) / links;

    QElapsedTimer wall;
    const double cpuBefore = threadCpuSeconds();
    wall.start();
    runFor(windowMs);
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    const double share = (threadCpuSeconds() - cpuBefore) / seconds;

    qint64 reports = 0;
    qint64 answers = 0;
    if (!peers.stop(reports, answers) || reports == 0 || answers == 0
        || !runUntil([&] { return received(reports, answers); }, 20000))
        return failed("the host did not get every frame the machines sent");
    std::printf("%.6f %.6f %.1f\n", seconds, share, heapPerLink);
    return 0;
}

int hostDevices()
{
    deviceFactory(); // the plugin is loaded once per host, not per link
    std::vector<std::unique_ptr<ZRCommonInterface>> devices;
    qint64 tasks = 0;
    const auto connectLinks = [&](quint16 port) {
        for (int i = 0; i < links; ++i) {
            devices.emplace_back(newDevice());
            ZRCommonInterface* device = devices.back().get();
            QObject::connect(device, &ZRDeviceInterface::message,
                [&tasks](ZRDeviceInterface::ZRDeviceMessage kind, const QString&) {
                    tasks += kind == ZRDeviceInterface::DevTasK;
                });
            device->property_ptr("HEARTBEAT")->setValue(1);
            device->property_ptr("TCP_PORT")->setValue(int(port));
            device->setIPAddress(QStringLiteral("127.0.0.1"));
            if (!device->connectDevice())
                return false;
        }
        return runUntil(
            [&] {
                for (const auto& device : devices) {
                    if (device->property_ptr("STATUS")->value().toInt()
                        != ZRDeviceInterface::Working)
                        return false;
                }
                return true;
            },
            10000);
    };
    return hostFleet(connectLinks, [&](qint64 reports, qint64) { return tasks == reports; });
}

int hostPlainSockets()
{
    std::vector<std::unique_ptr<PlainLink>> plain;
    const auto connectLinks = [&](quint16 port) {
        for (int i = 0; i < links; ++i) {
            plain.emplace_back(new PlainLink);
            PlainLink* link = plain.back().get();
            QObject::connect(&link->socket, &QTcpSocket::readyRead,
                [link] { link->frames += countEtx(link->socket.readAll()); });
            QObject::connect(&link->heartbeat, &QTimer::timeout,
                [link] { link->socket.write(heartbeatRead()); });
            link->socket.connectToHost(QStringLiteral("127.0.0.1"), port);
            link->heartbeat.start(1000);
        }
        return runUntil(
            [&] {
                for (const auto& link : plain) {
                    if (link->socket.state() != QAbstractSocket::ConnectedState)
                        return false;
                }
                return true;
            },
            10000);
    };
    return hostFleet(connectLinks, [&](qint64 reports, qint64 answers) {
        qint64 frames = 0;
        for (const auto& link : plain)
            frames += link->frames;
        return frames == reports + answers;
    });
}

// The machines: answer every heartbeat read, and report the task of every link ten times a
// second, each report new, until the host says "stop".
int machines()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 1;
    struct Link {
        QTcpSocket* socket;
        QByteArray pending;
        qint64 sequence = 0;
    };
    std::vector<std::unique_ptr<Link>> accepted;
    qint64 reports = 0;
    qint64 answers = 0;
    bool stopped = false;
    const QByteArray answer = frame("CCMD", "1010,1;");

    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* socket = server.nextPendingConnection()) {
            accepted.emplace_back(new Link { socket, {}, 0 });
            Link* link = accepted.back().get();
            QObject::connect(socket, &QTcpSocket::readyRead, [&, link] {
                link->pending += link->socket->readAll();
                for (int etx; (etx = link->pending.indexOf(ETX)) >= 0;) {
                    const bool heartbeat = link->pending.left(etx + 1) == heartbeatRead();
                    link->pending.remove(0, etx + 1);
                    if (heartbeat && !stopped) {
                        link->socket->write(answer);
                        ++answers;
                    }
                }
            });
        }
    });
    QTimer reportTimer;
    QObject::connect(&reportTimer, &QTimer::timeout, [&] {
        for (const auto& link : accepted) {
            const QByteArray n = QByteArray::number(++link->sequence);
            link->socket->write(frame("CCMD",
                "66,1,fleet.plt,100000," + n + ',' + QByteArray::number(link->sequence % 100)
                    + ",0,0,0;"));
            ++reports;
        }
    });
    reportTimer.start(100);

    // The host writes "stop" to end the sending, and closes the pipe to end the process.
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[64];
        const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
            input.setEnabled(false);
            QCoreApplication::quit();
            return;
        }
        if (!stopped && QByteArray(buffer, int(got)).contains("stop")) {
            stopped = true;
            reportTimer.stop();
            std::printf("sent %lld %lld\n", reports, answers);
            std::fflush(stdout);
        }
    });
    std::printf("port %u\n", unsigned(server.serverPort()));
    std::fflush(stdout);
    return QCoreApplication::exec();
}

// Each repetition runs the host's side in a fresh process (--fleet-host) and takes its figures.
void BM_Fleet(benchmark::State& state, const char* host)
{
    double share = 0;
    double heapPerLink = 0;
    for (auto _ : state) {
        QProcess process;
        process.start(QCoreApplication::applicationFilePath(),
            { QStringLiteral("--fleet-host"), QString::fromLatin1(host) });
        const bool finished = process.waitForFinished(120000);
        const QList<QByteArray> figures = process.readAllStandardOutput().trimmed().split(' ');
        const QByteArray problem = process.readAllStandardError().trimmed();
        if (!verify(state, finished && process.exitCode() == 0 && figures.size() == 3,
                problem.isEmpty() ? "the host's process failed" : problem.constData()))
            break;
        state.SetIterationTime(figures.at(0).toDouble());
        share += figures.at(1).toDouble();
        heapPerLink += figures.at(2).toDouble();
    }
    using benchmark::Counter;
    state.counters["core_share"] = Counter(share, Counter::kAvgIterations);
    state.counters["heap_per_link"] = Counter(heapPerLink, Counter::kAvgIterations);
}

} // namespace

BENCHMARK_CAPTURE(BM_Fleet, devices, "devices")->Apply(timedOncePerRepetition)->Repetitions(3);
BENCHMARK_CAPTURE(BM_Fleet, plain_sockets, "sockets")
    ->Apply(timedOncePerRepetition)
    ->Repetitions(3);

int runFleetProcess(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--fleet-peers") == 0)
        return machines();
    if (argc == 3 && std::strcmp(argv[1], "--fleet-host") == 0)
        return std::strcmp(argv[2], "devices") == 0 ? hostDevices() : hostPlainSockets();
    return -1;
}
