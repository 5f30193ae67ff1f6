// The machine service after faults: a service killed mid-job or while jobs wait, a job whose end
// nobody saw, a machine restarted under it, what its clients are told then, cutting the rest of a
// job, a database of the first schema, the history while a job cuts and a disk that fills up.

#include "cloudservice.h"
#include "cutfile.h"
#include "panel.h"
#include "panelwindow.h"
#include "servicerig.h"
#include "simtcpfront.h"

#include <QJsonDocument>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

using namespace servicerig;

class tst_ServiceFaults : public QObject {
    Q_OBJECT
private slots:
    void killedAndStartedAgain();
    void endUnseen();
    void clientWords_data();
    void clientWords();
    void machineRestarted();
    void cutTheRest();
    void cutTheRestFromPanel();
    void schemaOne_data();
    void schemaOne();
    void historyFollowsCutting_data();
    void historyFollowsCutting();
    void diskFull();
};

// A service killed mid-job follows the job when started again, keeps the work record the cloud
// service did not take across another kill, and delivers it once the cloud service takes it.
void tst_ServiceFaults::killedAndStartedAgain()
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
    QVERIFY(store.open(database, &error, Store::Access::Read));
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
void tst_ServiceFaults::endUnseen()
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
    QVERIFY(store.open(database, &error, Store::Access::Read));
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

void tst_ServiceFaults::clientWords_data()
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
void tst_ServiceFaults::clientWords()
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

// The machine restarted mid-job under the service: it knows nothing of the job any more. The
// client's length cut is the history's, the one the service recorded, not the new machine's 0 %.
void tst_ServiceFaults::machineRestarted()
{
    auto machine = std::make_unique<hostrig::Machine>(fastMachine(800, 20));
    QVERIFY(machine->listening);
    const quint16 machinePort = machine->tcp.port();
    QTemporaryDir dir;
    QProcess service;
    const quint16 port = serve(service,
        QStringList { "--database", dir.filePath("s.sqlite"), "--plugin-dir", ZR_PLUGIN_DIR,
            "--reply-timeout", "300" }
            + machine->at());
    QVERIFY(port);
    auto a = client(port);
    QVERIFY(a && a->isUp());
    QProcess job;
    job.start(QStringLiteral(ZRHOST_PATH),
        QStringList { "job", ZR_SAMPLES_DIR "/gasket.plt", "--copies", "3", "--no-progress",
            "--server", url(port), "--plugin-dir", ZR_PLUGIN_DIR });
    const auto history = [&] {
        const QJsonArray jobs = hostrig::ask(*a, Request::of(Request::History)).jobs;
        return jobs.isEmpty() ? QJsonObject() : jobs.first().toObject();
    };
    QVERIFY(QTest::qWaitFor([&] { return history().value("percent").toDouble() > 20; }, 20000));
    machine.reset();
    SimMachine restarted(fastMachine(800, 20));
    SimTcpFront front(&restarted);
    QVERIFY(front.listen(QHostAddress::LocalHost, machinePort));
    QVERIFY(QTest::qWaitFor([&] { return job.state() == QProcess::NotRunning; }, 30000));
    const QString out = QString::fromUtf8(job.readAllStandardOutput() + job.readAllStandardError());
    const QJsonObject recorded = history();
    service.kill();
    service.waitForFinished();
    QCOMPARE(recorded.value("status").toString(), QStringLiteral("interrupted"));
    QVERIFY(recorded.value("cut_mm").toDouble() > 0);
    const QRegularExpression cut(QStringLiteral("([0-9.]+) mm cut"));
    QVERIFY2(cut.match(out).hasMatch(), qPrintable(out));
    QCOMPARE(
        cut.match(out).captured(1), QString::number(recorded.value("cut_mm").toDouble(), 'f', 1));
    QCOMPARE(frames(restarted, "PLT"), 0);
}

// A job stopped after its first copy: zrhost job --resume cuts the two the machine did not
// confirm, from the data the service kept, as the rest of that job.
void tst_ServiceFaults::cutTheRest()
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
    // Its rest is cut already, nothing is left of the rest, and of a job that does not exist
    // nothing at all.
    for (const char* id : { "1", "2", "9" })
        QVERIFY(hostrig::zrhost(QStringList { "job", "--resume", id } + server).exitCode != 0);
    QCOMPARE(rig.machine.sim.counters().copiesCut, 3);
}

// The panel's history: "Cut the rest" is offered for a stopped job short of its copies, not for
// a completed one, and cuts the rest of the selected job through the service.
void tst_ServiceFaults::cutTheRestFromPanel()
{
    Rig rig(fastMachine(1500, 20));
    QVERIFY(rig.started);
    PanelWindow window;
    RemoteSession session(QUrl(url(rig.service.port())), QString());
    QVERIFY(session.open(hostrig::sessionOptions(MachineTarget())));
    Panel panel(&session, &window);
    session.connectMachine();
    QTRY_VERIFY(session.isUp());
    Reply* job = session.send(gasket(3));
    QVERIFY(QTest::qWaitFor([&] { return job->result().last.finished >= 1; }, 20000));
    job->cancel();
    QVERIFY(QTest::qWaitFor([&] { return job->isFinished(); }, 20000));
    const int done = job->result().jobs.first().toObject().value("copies_done").toInt();
    QTRY_COMPARE(window.history->rowCount(), 1);
    QTRY_COMPARE(window.history->item(0, 4)->text(), QStringLiteral("stopped"));
    QVERIFY(!window.cutRest->isEnabled());
    window.history->selectRow(0);
    QVERIFY(window.cutRest->isEnabled());
    QTest::mouseClick(window.cutRest, Qt::LeftButton);
    QTRY_COMPARE(window.history->rowCount(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(
        rig.service.store()->job(2).value("status").toString(), QStringLiteral("completed"), 20000);
    QCOMPARE(rig.service.store()->job(2).value("rest_of").toInt(), 1);
    QCOMPARE(rig.service.store()->job(2).value("copies").toInt(), 3 - done);
    QCOMPARE(rig.machine.sim.counters().copiesCut, 3);
    // The rest has nothing left of its own to cut.
    QTRY_COMPARE(window.history->item(0, 4)->text(), QStringLiteral("completed"));
    window.history->selectRow(0);
    QVERIFY(!window.cutRest->isEnabled());
}

void tst_ServiceFaults::schemaOne_data()
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
void tst_ServiceFaults::schemaOne()
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

// While a job cuts, the history through the service shows the length the machine confirmed: its
// share of the planned length.
void tst_ServiceFaults::historyFollowsCutting_data()
{
    QTest::addColumn<QString>("figures");
    QTest::newRow("measured by the service") << "none";
    QTest::newRow("figured by the sender") << "sender";
    QTest::newRow("a sender that says 0 mm") << "zero";
}

void tst_ServiceFaults::historyFollowsCutting()
{
    QFETCH(QString, figures);
    Rig rig(fastMachine(400, 20));
    QVERIFY(rig.started);
    auto a = client(rig.service.port());
    QVERIFY(a && a->isUp());
    Request request = gasket(2);
    CutFile file;
    QString error;
    QVERIFY2(file.readWritten(request.file, request.plt, &error), qPrintable(error));
    if (figures == QLatin1String("sender"))
        request = file.request(2);
    QJsonObject zero = file.fileInfo();
    zero.insert("path_length", 0);
    if (figures == QLatin1String("zero"))
        request.fileInfo = zero;
    Reply* job = a->send(request);
    QList<QJsonObject> midway; // the job as the history showed it between 20 and 80 %
    QVERIFY(QTest::qWaitFor(
        [&] {
            const QJsonArray jobs = hostrig::ask(*a, Request::of(Request::History)).jobs;
            const QJsonObject shown = jobs.isEmpty() ? QJsonObject() : jobs.first().toObject();
            const double percent = shown.value("percent").toDouble();
            if (shown.value("status").toString() == QLatin1String("processing") && percent >= 20
                && percent <= 80)
                midway.append(shown);
            return job->isFinished();
        },
        30000));
    QCOMPARE(job->result().outcome, Result::Done);
    QVERIFY(midway.size() >= 2);
    for (const QJsonObject& shown : qAsConst(midway)) {
        const double planned
            = shown.value("file_info").toObject().value("path_length").toDouble() * 2;
        const double mm = shown.value("cut_mm").toDouble();
        QVERIFY2(
            mm > 0 && qAbs(mm - planned * shown.value("percent").toDouble() / 100) <= planned / 100,
            QJsonDocument(shown).toJson().constData());
    }
}

// The disk fills up while a job cuts: its client and the log hear that the history cannot store
// the job, the job's end reaches its client with the word that the history does not have it, and
// the history does not claim an end it could not store.
void tst_ServiceFaults::diskFull()
{
    Rig rig(fastMachine(600, 20));
    QVERIFY(rig.started);
    QStringList log;
    connect(&rig.service, &MachineService::log, [&log](const QString& line) { log.append(line); });
    auto a = client(rig.service.port());
    QVERIFY(a && a->isUp());
    QStringList notices;
    connect(a.get(), &Session::notice, [&notices](const QString& line) { notices.append(line); });
    Reply* job = a->send(gasket(2));
    QVERIFY(QTest::qWaitFor(
        [&] { return job->result().last.percent > 5 || job->isFinished(); }, 10000));
    QVERIFY(!job->isFinished());
    // The service's own connection: no page beyond those it has, and the room left beside the
    // job's row taken by rows of nobody that sort after it, so that it cannot grow.
    QSqlDatabase db;
    for (const QString& name : QSqlDatabase::connectionNames()) {
        if (QSqlDatabase::database(name, false).databaseName() == rig.service.store()->path())
            db = QSqlDatabase::database(name, false);
    }
    QVERIFY(db.isOpen());
    QSqlQuery query(db);
    QVERIFY(query.exec(QStringLiteral("PRAGMA page_count")) && query.next());
    const int pages = query.value(0).toInt();
    QVERIFY(query.exec(QStringLiteral("PRAGMA max_page_count = %1").arg(pages)));
    int filler = 0;
    while (filler < 100000
        && query.exec(QStringLiteral("INSERT INTO jobs (file, status) VALUES ('', 'stopped')")))
        ++filler;
    QVERIFY(filler < 100000);
    QVERIFY2(query.lastError().text().contains(QLatin1String("full")),
        qPrintable(query.lastError().text()));
    QVERIFY(QTest::qWaitFor([&] { return job->isFinished(); }, 30000));
    QCOMPARE(job->result().outcome, Result::Done);
    const QString reason = job->result().reason;
    QVERIFY2(
        reason.contains(QLatin1String("the history could not store this end")), qPrintable(reason));
    QCOMPARE(job->result().jobs.first().toObject().value("status").toString(),
        QStringLiteral("processing"));
    const auto told = [](const QStringList& lines) {
        return lines.filter(QLatin1String("Job 1: the history cannot store its changes")).size();
    };
    QTRY_COMPARE(told(notices), 1);
    QCOMPARE(told(log), 1);
    QVERIFY(!log.filter(QLatin1String("the history could not store this end")).isEmpty());
    Store store;
    QString error;
    QVERIFY2(
        store.open(rig.service.store()->path(), &error, Store::Access::Read), qPrintable(error));
    QCOMPARE(store.job(1).value("status").toString(), QStringLiteral("processing"));
}

QTEST_MAIN(tst_ServiceFaults)
#include "tst_servicefaults.moc"
