// The machine service's hold on its jobs: a machine that hangs with its link up, a job followed
// while the machine cannot be reached, a service that dies under its client, a machine that
// restarted and cuts another host's job under a name once ours, and jobs a client sends that the
// machine must never see.

#include "cloudservice.h"
#include "jobcheck.h"
#include "servicerig.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QWebSocket>
#include <QtTest>

#include <clocale>
#include <csignal>

using namespace servicerig;

namespace {

// The service in this process, serving a machine that can be taken away.
struct Served {
    explicit Served(const SimOptions& machineOptions,
        const std::function<void(ServiceOptions&)>& tune = nullptr)
        : machine(new hostrig::Machine(machineOptions))
    {
        ServiceOptions options;
        options.session = hostrig::sessionOptions(machine->target());
        options.port = 0;
        options.database = dir.filePath(QStringLiteral("service.sqlite"));
        if (tune)
            tune(options);
        int code = 0;
        QString error;
        started = machine->listening && service.start(options, &error, &code)
            && QTest::qWaitFor([this] { return service.session()->isUp(); }, 10000);
    }

    QJsonObject job(qint64 id) { return service.store()->job(id); }

    std::unique_ptr<hostrig::Machine> machine;
    QTemporaryDir dir;
    MachineService service;
    bool started = false;
};

// zrhost job of the gasket through the service, started.
void startJob(QProcess& job, quint16 port, int copies)
{
    job.start(QStringLiteral(ZRHOST_PATH),
        QStringList { "job", ZR_SAMPLES_DIR "/gasket.plt", "--copies", QString::number(copies),
            "--no-progress", "--server", url(port), "--plugin-dir", ZR_PLUGIN_DIR });
}

bool ended(QProcess& process, int timeoutMs = 20000)
{
    return QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, timeoutMs);
}

// Every job frame the machine received: the copies (NUM) and the cut data.
int jobFrames(const SimMachine& machine)
{
    return int(std::count_if(machine.received().cbegin(), machine.received().cend(),
        [](const SimFrame& frame) {
            return frame.head == "PLT" || frame.head == "PPLT" || frame.payload.startsWith("NUM:");
        }));
}

// A locale whose decimals are commas, made from the system's locale sources when none is
// installed; empty when there is none to be had.
QByteArray commaLocale(const QString& folder)
{
    for (const char* name : { "de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8" }) {
        if (std::setlocale(LC_NUMERIC, name)) {
            std::setlocale(LC_NUMERIC, "C");
            return name;
        }
    }
    if (QProcess::execute(QStringLiteral("localedef"),
            { "-i", "de_DE", "-f", "UTF-8", folder + QStringLiteral("/de_DE.UTF-8") })
        != 0)
        return QByteArray();
    qputenv("LOCPATH", folder.toLocal8Bit());
    return std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && std::setlocale(LC_NUMERIC, "C")
        ? QByteArray("de_DE.UTF-8")
        : QByteArray();
}

} // namespace

class tst_ServiceJobs : public QObject {
    Q_OBJECT
private slots:
    void hungMachine();
    void followedJobEnded_data();
    void followedJobEnded();
    void serviceDies();
    void machineReset_data();
    void machineReset();
    void refusedBeforeTheMachine_data();
    void refusedBeforeTheMachine();
    void extent_data();
    void extent();
};

// A machine that hangs mid-job with its link up: past the service's lost-after its job ends, its
// client exits 5, and the job queued behind it is cut once the machine is back.
void tst_ServiceJobs::hungMachine()
{
    Served served(fastMachine(300, 20), [](ServiceOptions& o) { o.session.lostAfterMs = 2000; });
    QVERIFY(served.started);
    const quint16 port = served.service.port();
    QProcess first;
    startJob(first, port, 3);
    QVERIFY(QTest::qWaitFor([&] { return served.job(1).value("percent").toDouble() > 3; }, 20000));
    auto b = client(port);
    QVERIFY(b && b->isUp());
    Reply* second = b->send(gasket(1));
    QVERIFY(QTest::qWaitFor([&] { return served.job(2).value("status") == "pending"; }, 10000));

    QElapsedTimer hung;
    hung.start();
    served.machine->sim.setSilent(true);
    QVERIFY2(ended(first), "the job's client waits on a machine that hangs");
    qInfo("hung machine to its job's client exiting, lost-after 2 s: %.1f s",
        hung.elapsed() / 1000.0);
    const QString out = QString::fromUtf8(first.readAllStandardError());
    QVERIFY2(first.exitCode() == 5, qPrintable(out));
    QCOMPARE(served.job(1).value("status").toString(), QStringLiteral("interrupted"));

    served.machine->sim.setSilent(false);
    QVERIFY(QTest::qWaitFor([&] { return second->isFinished(); }, 60000));
    QCOMPARE(second->result().outcome, Result::Done);
    QCOMPARE(frames(served.machine->sim, "PLT"), 2);
}

void tst_ServiceJobs::followedJobEnded_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("Ctrl-C") << "SIGINT" << int(ExitInterrupted);
    QTest::newRow("SIGTERM") << "SIGTERM" << int(ExitInterrupted);
    QTest::newRow("zrhost stop") << "stop" << int(ExitInterrupted);
}

// A job followed while the machine cannot be reached ends when its client cancels it or someone
// stops the machine: nothing stops it on the machine, so its outcome stays unknown.
void tst_ServiceJobs::followedJobEnded()
{
    QFETCH(QString, how);
    QFETCH(int, exitCode);
    Served served(fastMachine(300, 20));
    QVERIFY(served.started);
    const quint16 port = served.service.port();
    QProcess job;
    startJob(job, port, 3);
    QVERIFY(QTest::qWaitFor([&] { return served.job(1).value("percent").toDouble() > 3; }, 20000));
    served.machine.reset();
    QVERIFY(QTest::qWaitFor([&] { return !served.service.session()->isUp(); }, 10000));
    QTest::qWait(300);
    QCOMPARE(job.state(), QProcess::Running);
    if (how == QLatin1String("stop")) {
        const hostrig::Run stop = hostrig::zrhost(
            { "stop", "--server", url(port), "--plugin-dir", ZR_PLUGIN_DIR }, 20000);
        QVERIFY2(stop.exitCode == int(ExitLinkLost), qPrintable(stop.out + stop.err));
    } else {
        ::kill(pid_t(job.processId()), how == QLatin1String("SIGINT") ? SIGINT : SIGTERM);
    }
    QVERIFY2(ended(job), "a followed job does not end");
    QCOMPARE(job.exitCode(), exitCode);
    const QJsonObject record = served.job(1);
    QCOMPARE(record.value("status").toString(), QStringLiteral("interrupted"));
    QVERIFY2(record.value("reason").toString().contains(QLatin1String("could not be reached")),
        qPrintable(record.value("reason").toString()));
}

// The service loses the machine, then dies, while zrhost job waits on it: the client exits 5 at
// once.
void tst_ServiceJobs::serviceDies()
{
    auto machine = std::make_unique<hostrig::Machine>(fastMachine(300, 20));
    QVERIFY(machine->listening);
    QTemporaryDir dir;
    QProcess service;
    const quint16 port = serve(service,
        QStringList { "--database", dir.filePath("s.sqlite"), "--plugin-dir", ZR_PLUGIN_DIR }
            + machine->at());
    QVERIFY(port);
    auto watcher = client(port);
    QVERIFY(watcher && watcher->isUp());
    QProcess job;
    startJob(job, port, 3);
    QVERIFY(QTest::qWaitFor(
        [&] {
            const QJsonArray jobs = hostrig::ask(*watcher, Request::of(Request::History)).jobs;
            return !jobs.isEmpty() && jobs.first().toObject().value("percent").toDouble() > 3;
        },
        20000));
    machine.reset();
    QVERIFY(QTest::qWaitFor([&] { return watcher->link() != Session::Up; }, 10000));
    service.kill();
    service.waitForFinished();
    QVERIFY2(ended(job, 5000), "the client waits on a service that is gone");
    QCOMPARE(job.exitStatus(), QProcess::NormalExit);
    QCOMPARE(job.exitCode(), int(ExitLinkLost));
}

void tst_ServiceJobs::machineReset_data()
{
    QTest::addColumn<bool>("whileFollowed");

    QTest::newRow("while the service follows our job") << true;
    QTest::newRow("after our job ended unseen") << false;
}

// The machine restarts during our job and numbers its jobs from 1 again: another host's job,
// named as ours was, is not ours. Our job keeps what was confirmed of it, and no work record
// counts the other's copies.
void tst_ServiceJobs::machineReset()
{
    QFETCH(bool, whileFollowed);
    CloudService cloud;
    QVERIFY(cloud.listen());
    Served served(fastMachine(300, 20), [&cloud](ServiceOptions& o) {
        o.session.cloud.httpBase = cloud.httpBase();
        o.session.replyTimeoutMs = 300;
    });
    QVERIFY(served.started);
    auto a = client(served.service.port());
    QVERIFY(a && a->isUp());
    Reply* ours = a->send(gasket(3));
    QVERIFY(QTest::qWaitFor([&] { return ours->result().last.percent > 3; }, 20000));
    QCOMPARE(ours->result().last.fileName, QStringLiteral("job-0001.plt"));
    served.machine->sim.restart();
    if (!whileFollowed)
        QVERIFY(QTest::qWaitFor([&] { return ours->isFinished(); }, 20000));
    QVERIFY(hostrig::otherHostsJob(*served.machine, 1));
    QCOMPARE(served.machine->sim.jobName(), QByteArray("job-0001.plt"));
    QVERIFY(QTest::qWaitFor([&] { return ours->isFinished(); }, 20000));
    QVERIFY(QTest::qWaitFor(
        [&] { return served.machine->sim.counters().jobsFinished == 1; }, 20000));
    // The service hears the other host's job to its end.
    QVERIFY(QTest::qWaitFor(
        [&] {
            return served.service.session()->isUp()
                && served.service.session()->machineState().status == TaskReport::Finished;
        },
        20000));
    QTest::qWait(300);
    const QJsonObject record = served.job(1);
    QCOMPARE(record.value("status").toString(), QStringLiteral("interrupted"));
    QCOMPARE(record.value("copies_done").toInt(), 0);
    QVERIFY(ours->result().outcome != Result::Done);
    QCOMPARE(served.service.store()->pendingRecords().size(), 0);
    QCOMPARE(cloud.workRecords().size(), 0);
}

void tst_ServiceJobs::refusedBeforeTheMachine_data()
{
    QTest::addColumn<QByteArray>("hpgl");
    QTest::addColumn<QJsonValue>("copies");
    QTest::addColumn<QString>("told"); // empty: the job is cut

    const QByteArray small = "IN;SP1;PU400,400;PD800,400,800,800,400,800,400,400;PU;";
    // The table is 1500 x 1200 mm: 60000 x 48000 plotter units.
    QTest::newRow("a design 1 km wide")
        << QByteArray("IN;SP1;PU400,400;PD39000400,400,39000400,800;PU;") << QJsonValue(1)
        << "off the";
    QTest::newRow("past the far edge") << QByteArray("IN;PU59000,400;PD60001,400;") << QJsonValue(1)
                                       << "off the";
    QTest::newRow("below the origin") << QByteArray("IN;PA400,400;PD400,-1;") << QJsonValue(1)
                                      << "off the";
    QTest::newRow("relative moves off the table")
        << QByteArray("IN;PU47000,400;PR;PD10000,0,3001,0;") << QJsonValue(1) << "off the";
    QTest::newRow("a circle off the table")
        << QByteArray("IN;SP1;PU2000,2000;CI4000;") << QJsonValue(1) << "off the";
    QTest::newRow("frame bytes") << QByteArray("IN;PU400,400;PD800,400\x03;") << QJsonValue(1)
                                 << "0x03";
    QTest::newRow("copies 0") << small << QJsonValue(0) << "copies";
    QTest::newRow("copies as text") << small << QJsonValue("3") << "copies";
    QTest::newRow("copies 2.5") << small << QJsonValue(2.5) << "copies";
    QTest::newRow("copies 10000") << small << QJsonValue(10000) << "copies";
    QTest::newRow("nothing to cut") << QByteArray("IN;SP1;") << QJsonValue(1) << "nothing";
    QTest::newRow("on the table, to the far corner")
        << QByteArray("IN;PU59000,47000;PD60000,47000,60000,48000;") << QJsonValue(2) << "";
}

// A raw client's job the command line would refuse is refused by the service too, before the
// machine hears a word of it.
void tst_ServiceJobs::refusedBeforeTheMachine()
{
    QFETCH(QByteArray, hpgl);
    QFETCH(QJsonValue, copies);
    QFETCH(QString, told);
    Served served(fastMachine(20000, 20));
    QVERIFY(served.started);
    QWebSocket raw;
    QJsonObject result;
    connect(&raw, &QWebSocket::textMessageReceived, this, [&result](const QString& text) {
        const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
        if (message.contains("result"))
            result = message.value("result").toObject();
    });
    raw.open(QUrl(url(served.service.port())));
    QTRY_VERIFY(raw.state() == QAbstractSocket::ConnectedState);
    Request job = Request::of(Request::Job);
    job.file = QStringLiteral("raw.plt");
    job.plt = hpgl;
    job.copies = 1;
    // Figures of its own, small ones: the service takes them and reads nothing of the file.
    job.fileInfo = QJsonObject { { "name", job.file }, { "bytes", hpgl.size() }, { "width", 10 },
        { "heigth", 10 }, { "path_length", 40 }, { "travel_length", 10 } };
    QJsonObject request = Carriage::fromRequest(job);
    request.insert("copies", copies);
    raw.sendTextMessage(Carriage::messageText({ { "id", 1 }, { "request", request } }));
    raw.sendBinaryMessage(hpgl);
    QTRY_VERIFY_WITH_TIMEOUT(!result.isEmpty(), 20000);
    const QString reason = result.value("reason").toString();
    if (told.isEmpty()) {
        QVERIFY2(result.value("outcome") == QLatin1String("done"), qPrintable(reason));
        QCOMPARE(served.machine->sim.counters().copiesCut, 2);
        return;
    }
    QVERIFY2(reason.contains(told), qPrintable(reason));
    QVERIFY(result.value("outcome") != QLatin1String("done"));
    QCOMPARE(jobFrames(served.machine->sim), 0);
    QCOMPARE(served.machine->sim.counters().jobsStarted, 0);
}

void tst_ServiceJobs::extent_data()
{
    QTest::addColumn<QByteArray>("hpgl");
    QTest::addColumn<QRectF>("extent"); // plotter units, worked out by hand
    QTest::addColumn<bool>("commaLocale");

    QTest::newRow("absolute") << QByteArray("IN;SP1;PU400,800;PD4400,800,4400,2800,400,800;PU;")
                              << QRectF(400, 800, 4000, 2000) << false;
    QTest::newRow("relative, then absolute")
        << QByteArray("IN;PU100,100;PR;PD300,0,0,500,-300,0;PA;PD100,100;")
        << QRectF(100, 100, 300, 500) << false;
    QTest::newRow("IN starts again, absolute")
        << QByteArray("PR;PD100,100;IN;PD200,300;") << QRectF(0, 0, 200, 300) << false;
    QTest::newRow("spaces, signs and lower case")
        << QByteArray("in; pu 40 40 ; pd +80 , 40 80 120 40,40;") << QRectF(40, 40, 40, 80) << false;
    QTest::newRow("decimals") << QByteArray("IN;PU12.5,7.5;PD52.5,7.5,52.5,47.25;")
                              << QRectF(12.5, 7.5, 40, 39.75) << false;
    QTest::newRow("decimals, comma locale")
        << QByteArray("IN;PU12.5,7.5;PD52.5,7.5,52.5,47.25;") << QRectF(12.5, 7.5, 40, 39.75)
        << true;
}

// The bounds pass finds the extent worked out by hand, and the full read the same; with decimals
// whatever the C library's locale says of them.
void tst_ServiceJobs::extent()
{
    QFETCH(QByteArray, hpgl);
    QFETCH(QRectF, extent);
    QFETCH(bool, commaLocale);
    QTemporaryDir locales;
    if (commaLocale) {
        const QByteArray name = ::commaLocale(locales.path());
        if (name.isEmpty())
            QSKIP("no locale with decimal commas can be had here");
        QVERIFY(std::setlocale(LC_NUMERIC, name.constData()));
        QCOMPARE(std::localeconv()->decimal_point, ",");
    }
    QRectF fast;
    bool any = false;
    const bool plain = JobCheck::plainExtent(hpgl, &fast, &any);
    std::setlocale(LC_NUMERIC, "C");
    QVERIFY(plain && any);
    QCOMPARE(fast, extent);
    ZRCut::Drawing drawing;
    QString error;
    QVERIFY2(ZRCut::readHpgl(hpgl, &drawing, &error), qPrintable(error));
    const double per = ZRCut::hpglUnitsPerMm;
    const QRectF read = drawing.bounds();
    QCOMPARE(QRectF(read.topLeft() * per, read.size() * per), extent);
}

QTEST_MAIN(tst_ServiceJobs)
#include "tst_servicejobs.moc"
