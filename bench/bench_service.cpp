// The machine service (zrhost serve) under a big job and under kills, outside the test run:
//
//   build/bin/bench_service figures [MEGABYTES]   (50 by default)
//   build/bin/bench_service soak [KILLS]          (20 by default)
//   build/bin/bench_service soak-slow [KILLS]     (20 by default)
//
// figures: an HP-GL nest of MEGABYTES (bench_cutfile's) cut by `zrhost job --fit` straight to the
// simulated machine and then through the service, both on the simulator in this process at
// 10 000 000 mm/s, so that sending and checking the file is timed, not the knife:
//   - the time through the service against the direct job's (target <= 1.3x);
//   - the service's peak resident set (VmHWM) against the file's size (target <= 3x), and that
//     peak less the idle service's resident set;
//   - the longest stall of the service's event loop while it takes the file: a WebSocket client
//     here pings it every 10 ms, and the service answers a ping on its event loop, so a late pong
//     is a stalled loop (target <= 50 ms; the idle service's longest round trip is the baseline);
//   - the delay of progress to 50 clients while the file is submitted: a 3-copy job runs at
//     100 mm/s with a report every 100 ms; a tap on the machine notes when it sent each report
//     (by its percent), and each client when the service's report event of that percent reached
//     it. The delays of the reports sent from the start of the big job's client until the
//     service has queued the job are its figure (target p99 <= 100 ms), against those of the
//     same run before the big job as the baseline.
// soak: a 3-copy job on the simulated machine through the service, whose cloud service answers
// work records with 500, a closed connection, no answer or a good answer in turn; the service is
// killed (SIGKILL) at KILLS random moments and started again each time. Before each kill a client
// polls the history; after the restart no job may show fewer copies or less length than it did
// before. At the end no job went to the machine twice, and the cloud service holds each
// confirmed copy in exactly one work record, and each record once (records per job: 1).
// soak-slow: the same with a cloud service that answers each work record 1.5 s late, after the
// service's 0.5 s time-out.
//
// Each check that fails is printed and makes the program exit with 1.

#include "cloudservice.h"
#include "simlink.h"
#include "simmachine.h"
#include "simtcpfront.h"
#include "store.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QWebSocket>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

int failures = 0;

bool check(bool ok, const QString& what)
{
    if (!ok) {
        ++failures;
        fprintf(stderr, "FAILED: %s\n", qPrintable(what));
    }
    return ok;
}

QStringList pluginDir()
{
    return { QStringLiteral("--plugin-dir"), QStringLiteral(ZR_PLUGIN_DIR) };
}

QStringList machineAt(const SimTcpFront& front)
{
    return { "--ip", "127.0.0.1", "--port", QString::number(front.port()) };
}

// zrhost serve on a free port; its port once it logs it, 0 when it did not start.
quint16 serve(QProcess& process, const QStringList& arguments)
{
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(ZRHOST_PATH),
        QStringList { "serve", "--listen", "127.0.0.1:0" } + arguments + pluginDir());
    const QRegularExpression serving(QStringLiteral("Serving ws://127.0.0.1:(\\d+)/"));
    QString log;
    QRegularExpressionMatch match;
    [[maybe_unused]] const bool heard = QTest::qWaitFor(
        [&] {
            log += QString::fromUtf8(process.readAll());
            match = serving.match(log);
            return match.hasMatch() || process.state() == QProcess::NotRunning;
        },
        20000);
    return quint16(match.captured(1).toUInt());
}

void stop(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.kill();
    process.waitForFinished();
}

qint64 statusKb(qint64 pid, const char* field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

QString url(quint16 port)
{
    return QStringLiteral("ws://127.0.0.1:%1").arg(port);
}

bool connected(QWebSocket& socket, quint16 port)
{
    socket.open(QUrl(url(port)));
    return QTest::qWaitFor(
        [&] { return socket.state() == QAbstractSocket::ConnectedState; }, 10000);
}

double percentile(std::vector<qint64> values, double share)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return double(values.at(std::min(values.size() - 1, size_t(share * double(values.size())))));
}

// Runs zrhost to its end; its wall time in ms, or -1 when it failed.
qint64 timedJob(const QStringList& arguments, QString* output)
{
    QProcess job;
    job.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer clock;
    clock.start();
    job.start(QStringLiteral(ZRHOST_PATH), arguments + pluginDir());
    [[maybe_unused]] const bool ended = QTest::qWaitFor([&] { return job.state() == QProcess::NotRunning; }, 600000);
    const qint64 ms = clock.elapsed();
    *output = QString::fromUtf8(job.readAll());
    return job.exitStatus() == QProcess::NormalExit && job.exitCode() == 0 ? ms : -1;
}

// The service's job ids and what it recorded of them, through one client.
class HistoryClient : public QObject {
public:
    explicit HistoryClient(quint16 port)
    {
        connect(&m_socket, &QWebSocket::textMessageReceived, this, [this](const QString& text) {
            const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
            if (!message.contains(QLatin1String("result")))
                return;
            m_asking = false;
            for (const QJsonValue& job :
                message.value("result").toObject().value("jobs").toArray())
                m_jobs.insert(job.toObject().value("id").toVariant().toLongLong(), job.toObject());
        });
        connected(m_socket, port);
    }
    // Asks for the history unless a question is open.
    void ask()
    {
        if (m_asking || m_socket.state() != QAbstractSocket::ConnectedState)
            return;
        m_asking = true;
        m_socket.sendTextMessage(QStringLiteral(R"({"id":%1,"request":{"kind":"history"}})")
                                     .arg(++m_id));
    }
    // The latest answer.
    const QHash<qint64, QJsonObject>& jobs() const { return m_jobs; }
    bool fresh(int timeoutMs = 5000)
    {
        ask();
        return QTest::qWaitFor([this] { return !m_asking; }, timeoutMs);
    }

private:
    QWebSocket m_socket;
    QHash<qint64, QJsonObject> m_jobs;
    qint64 m_id = 0;
    bool m_asking = false;
};

int figures(int megabytes)
{
    QTemporaryDir dir;
    const QString nest = dir.filePath(QStringLiteral("nest.plt"));
    if (QProcess::execute(QStringLiteral(BENCH_CUTFILE_PATH),
            { "write-hpgl", QString::number(megabytes), nest })
        != 0)
        return check(false, "bench_cutfile write-hpgl"), 1;
    const qint64 bytes = QFileInfo(nest).size();
    printf("%s: %.1f MB of HP-GL\n", qPrintable(nest), bytes / 1e6);

    SimOptions fast;
    fast.speedMmPerSecond = 1e7;
    fast.reportIntervalMs = 100;
    SimMachine sim(fast);
    SimTcpFront front(&sim);
    if (!check(front.listen(), "the simulator listens"))
        return 1;
    const QStringList job { "job", nest, "--fit", "--no-progress" };

    // 1. Direct.
    QString out;
    const qint64 directMs = timedJob(job + machineAt(front), &out);
    check(directMs > 0, "the direct job: " + out);

    // 2. Through the service, its event loop pinged meanwhile.
    QProcess service;
    const quint16 port = serve(service,
        QStringList { "--database", dir.filePath("s.sqlite"), "--reply-timeout", "2000" }
            + machineAt(front));
    if (!check(port != 0, "zrhost serve starts"))
        return 1;
    QWebSocket pinger;
    check(connected(pinger, port), "the pinging client connects");
    qint64 pongMax = 0;
    bool taking = false;
    qint64 idleMax = 0;
    QObject::connect(&pinger, &QWebSocket::pong, [&](quint64 ms, const QByteArray&) {
        (taking ? pongMax : idleMax) = std::max(taking ? pongMax : idleMax, qint64(ms));
    });
    QTimer ping;
    QObject::connect(&ping, &QTimer::timeout, [&] { pinger.ping(); });
    ping.start(10);
    QTest::qWait(2000);
    const qint64 idleRssKb = statusKb(service.processId(), "VmRSS:");
    taking = true;
    // The file is taken once the machine has it.
    QMetaObject::Connection started = QObject::connect(
        &sim, &SimMachine::jobStarted, [&] { taking = false; });
    const qint64 serviceMs
        = timedJob(job + QStringList { "--server", url(port) }, &out);
    QObject::disconnect(started);
    check(serviceMs > 0, "the job through the service: " + out);
    const qint64 peakKb = statusKb(service.processId(), "VmHWM:");
    ping.stop();
    stop(service);

    // 3. Progress to 50 clients while the file comes in, behind a slow job.
    SimOptions paced = fast;
    paced.speedMmPerSecond = 100;
    SimMachine slow(paced);
    SimTcpFront slowFront(&slow);
    check(slowFront.listen(), "the second simulator listens");
    QElapsedTimer clock;
    clock.start();
    QHash<int, qint64> sentAt; // a report's percent (tenths) and when the machine sent it
    SimLink tap(&slow, QStringLiteral("tap"));
    QObject::connect(&tap, &SimLink::bytesOut, [&](const QByteArray& frame) {
        const int at = frame.indexOf("66,");
        const QList<QByteArray> fields = frame.mid(at).split(',');
        if (at >= 0 && fields.size() > 5)
            sentAt.insert(qRound(fields.at(5).toDouble() * 10), clock.elapsed());
    });
    QProcess second;
    const quint16 port2 = serve(second,
        QStringList { "--database", dir.filePath("t.sqlite") } + machineAt(slowFront));
    if (!check(port2 != 0, "zrhost serve starts again"))
        return 1;
    struct Heard {
        qint64 sentAt;
        qint64 delay;
    };
    std::vector<Heard> heard;
    qint64 queuedAt = -1;
    std::vector<std::unique_ptr<QWebSocket>> clients;
    for (int i = 0; i < 50; ++i) {
        clients.emplace_back(new QWebSocket);
        QObject::connect(clients.back().get(), &QWebSocket::textMessageReceived,
            [&](const QString& text) {
                const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
                const QString event = message.value("event").toString();
                if (event == QLatin1String("job") && queuedAt < 0
                    && message.value("job").toObject().value("file") == QLatin1String("nest.plt"))
                    queuedAt = clock.elapsed();
                if (event != QLatin1String("report"))
                    return;
                const int percent
                    = qRound(message.value("report").toObject().value("percent").toDouble() * 10);
                if (sentAt.contains(percent))
                    heard.push_back({ sentAt.value(percent), clock.elapsed() - sentAt.value(percent) });
            });
        check(connected(*clients.back(), port2), "a client connects");
    }
    QProcess small;
    small.start(QStringLiteral(ZRHOST_PATH),
        QStringList { "job", QStringLiteral(ZR_SAMPLES_DIR "/gasket.plt"), "--copies", "3",
            "--no-progress", "--server", url(port2) }
            + pluginDir());
    check(QTest::qWaitFor([&] { return heard.size() > 50 * 30; }, 30000), "reports reach the clients");
    const qint64 bigFrom = clock.elapsed();
    QProcess big;
    big.start(QStringLiteral(ZRHOST_PATH),
        job + QStringList { "--server", url(port2) } + pluginDir());
    check(QTest::qWaitFor([&] { return queuedAt >= 0; }, 120000), "the big job is queued");
    QTest::qWait(500);
    std::vector<qint64> before, during;
    for (const Heard& h : heard) {
        if (h.sentAt < bigFrom)
            before.push_back(h.delay);
        else if (h.sentAt <= queuedAt)
            during.push_back(h.delay);
    }
    stop(big);
    stop(small);
    stop(second);

    const double ratio = double(serviceMs) / double(std::max<qint64>(directMs, 1));
    const double peakRatio = double(peakKb) * 1024 / double(bytes);
    const double addedRatio = double(peakKb - idleRssKb) * 1024 / double(bytes);
    const double p99 = percentile(during, 0.99);
    printf("job of %.1f MB, direct: %.2f s; through the service: %.2f s; ratio %.2fx (target "
           "<= 1.3x)\n",
        bytes / 1e6, directMs / 1000.0, serviceMs / 1000.0, ratio);
    printf("service peak resident set %.0f MB = %.2fx the file (target <= 3x); idle %.0f MB, "
           "added %.2fx\n",
        peakKb / 1024.0, peakRatio, idleRssKb / 1024.0, addedRatio);
    printf("longest ping round trip while the service takes the file: %lld ms (target <= 50 "
           "ms); idle: %lld ms, ratio %.1fx\n",
        pongMax, idleMax, double(pongMax) / double(std::max<qint64>(idleMax, 1)));
    printf("report delay machine -> 50 clients while the file is submitted (%.1f s, %zu "
           "deliveries): median %.0f ms, p99 %.0f ms, max %.0f ms (target p99 <= 100 ms); "
           "before it (%zu): median %.0f, p99 %.0f ms\n",
        (queuedAt - bigFrom) / 1000.0, during.size(), percentile(during, 0.5), p99,
        percentile(during, 1.0), before.size(), percentile(before, 0.5),
        percentile(before, 0.99));
    check(!during.empty(), "reports were heard while the file was submitted");
    return failures ? 1 : 0;
}

int soak(int kills, bool slow)
{
    QTemporaryDir dir;
    SimOptions options;
    options.speedMmPerSecond = 400; // a copy in about a second
    options.reportIntervalMs = 20;
    SimMachine sim(options);
    SimTcpFront front(&sim);
    CloudService cloud;
    if (!check(front.listen() && cloud.listen(), "the simulator and the cloud service listen"))
        return 1;
    const QString database = dir.filePath(QStringLiteral("s.sqlite"));
    const QStringList arguments = QStringList { "--database", database, "--cloud",
        cloud.httpBase().toString(), "--reply-timeout", "300", "--cloud-timeout", "0.5" }
        + machineAt(front);
    const QList<CloudAnswer> failing { CloudAnswer::json(500), CloudAnswer::close(),
        CloudAnswer::hold() };
    QRandomGenerator random(20261208);
    QHash<qint64, QJsonObject> seen; // the most each job showed before a kill
    int submitted = 0;
    int shrunk = 0;
    std::unique_ptr<QProcess> client;
    for (int kill = 0; kill < kills; ++kill) {
        const int answer = kill % 4;
        if (slow)
            cloud.setAnswer(QStringLiteral("device_work_records"), "POST", CloudAnswer::slow(1500));
        else if (answer < 3)
            cloud.setAnswer(QStringLiteral("device_work_records"), "POST", failing.at(answer));
        else
            cloud.resetAnswers();
        QProcess service;
        const quint16 port = serve(service, arguments);
        if (!check(port != 0, "zrhost serve starts"))
            return 1;
        HistoryClient history(port);
        // What history shows now is at least what it showed before the kill.
        QTest::qWait(200);
        history.fresh();
        for (auto it = seen.cbegin(); it != seen.cend(); ++it) {
            const QJsonObject now = history.jobs().value(it.key());
            for (const char* key : { "copies_done", "cut_mm" }) {
                if (now.value(key).toDouble() + 1e-6 < it.value().value(key).toDouble()) {
                    ++shrunk;
                    check(false,
                        QStringLiteral("job %1: %2 %3 after the restart, %4 before")
                            .arg(it.key())
                            .arg(key)
                            .arg(now.value(key).toDouble())
                            .arg(it.value().value(key).toDouble()));
                }
            }
        }
        const bool busy = std::any_of(history.jobs().cbegin(), history.jobs().cend(),
            [](const QJsonObject& job) {
                return job.value("status") == QLatin1String("processing")
                    || job.value("status") == QLatin1String("pending");
            });
        if (!busy) {
            client.reset(new QProcess);
            client->start(QStringLiteral(ZRHOST_PATH),
                QStringList { "job", QStringLiteral(ZR_SAMPLES_DIR "/gasket.plt"), "--copies",
                    "3", "--no-progress", "--server", url(port) }
                    + pluginDir());
            ++submitted;
        }
        QElapsedTimer clock;
        clock.start();
        const int at = random.bounded(200, 5000);
        while (clock.elapsed() < at) {
            history.ask();
            QTest::qWait(20);
        }
        history.fresh(1000);
        for (auto it = history.jobs().cbegin(); it != history.jobs().cend(); ++it)
            seen.insert(it.key(), it.value());
        stop(service);
        printf("kill %d at %d ms: %d jobs, machine %d started %d copies cut\n", kill + 1, at,
            int(history.jobs().size()), sim.counters().jobsStarted, sim.counters().copiesCut);
        fflush(stdout);
    }
    // The last service runs until every job has ended and every record is taken.
    cloud.resetAnswers();
    QProcess service;
    const quint16 port = serve(service, arguments);
    check(port != 0, "zrhost serve starts at the end");
    HistoryClient history(port);
    check(QTest::qWaitFor(
              [&] {
                  history.ask();
                  return !history.jobs().isEmpty()
                      && std::none_of(history.jobs().cbegin(), history.jobs().cend(),
                          [](const QJsonObject& job) {
                              return job.value("status") == QLatin1String("processing")
                                  || job.value("status") == QLatin1String("pending");
                          });
              },
              60000),
        "every job ends");
    Store store;
    QString error;
    check(store.open(database, &error, Store::Access::Read), error);
    check(QTest::qWaitFor([&] { return store.pendingRecords().isEmpty(); }, 60000),
        "the outbox empties");
    stop(service);
    if (client)
        stop(*client);

    int copiesDone = 0, copiesRecorded = 0, sentJobs = 0;
    QHash<QString, int> statuses;
    for (auto it = history.jobs().cbegin(); it != history.jobs().cend(); ++it) {
        copiesDone += it.value().value("copies_done").toInt();
        copiesRecorded += store.copiesRecorded(it.key());
        statuses[it.value().value("status").toString()]++;
        sentJobs += it.value().value("machine_job").toString().isEmpty() ? 0 : 1;
    }
    int cloudCopies = 0;
    for (const QJsonObject& record : cloud.workRecords())
        cloudCopies += record.value("finish_copies").toInt();
    const int plt = int(std::count_if(sim.received().cbegin(), sim.received().cend(),
        [](const SimFrame& frame) { return frame.head == "PLT"; }));
    QStringList counts;
    for (auto it = statuses.cbegin(); it != statuses.cend(); ++it)
        counts.append(QStringLiteral("%1 %2").arg(it.value()).arg(it.key()));
    printf("%d kills, %d jobs submitted, %d in the history (%s); the machine got %d job files, "
           "started %d jobs, cut %d copies; history: %d copies confirmed; outbox: %d copies in "
           "records; cloud service: %d records of %d copies; figures shrunk after a restart: %d\n",
        kills, submitted, int(history.jobs().size()), qPrintable(counts.join(", ")), plt,
        sim.counters().jobsStarted, sim.counters().copiesCut, copiesDone, copiesRecorded,
        int(cloud.workRecords().size()), cloudCopies, shrunk);
    check(plt <= int(history.jobs().size()) && plt >= sentJobs,
        QStringLiteral("each job went to the machine at most once (%1 files, %2 jobs, %3 named)")
            .arg(plt)
            .arg(history.jobs().size())
            .arg(sentJobs));
    check(sim.counters().copiesCut >= copiesDone, "no copy confirmed that the machine did not cut");
    check(cloudCopies == copiesDone && copiesRecorded == copiesDone,
        "each confirmed copy in exactly one work record");
    // Each record the outbox kept reached the cloud service once: a post that was not answered
    // in time, or that a kill cut off, was sent again under its key and dropped there.
    const int kept = int(std::count_if(history.jobs().cbegin(), history.jobs().cend(),
        [](const QJsonObject& job) { return !job.value("work_record").toObject().isEmpty(); }));
    printf("records at the cloud service per job with a record: %.2f (%d records, %d jobs; %d "
           "repeats dropped by their key)\n",
        kept ? double(cloud.workRecords().size()) / kept : 0.0, int(cloud.workRecords().size()),
        kept, cloud.repeatedRecords());
    check(int(cloud.workRecords().size()) == kept, "each record once at the cloud service");
    return failures ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    // bench_cutfile and zrhost draw, with nowhere to show it.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication app(argc, argv);
    const QByteArray mode = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    const int count = argc > 2 ? atoi(argv[2]) : 0;
    if (mode == "figures")
        return figures(count > 0 ? count : 50);
    if (mode == "soak" || mode == "soak-slow")
        return soak(count > 0 ? count : 20, mode == "soak-slow");
    fprintf(stderr,
        "usage: bench_service figures [MEGABYTES] | soak [KILLS] | soak-slow [KILLS]\n");
    return 2;
}
