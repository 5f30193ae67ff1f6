// The machine service's work records and its database: each record reaches the cloud service
// once, whatever the cloud service or a kill does to a post; a cloud service away at the start;
// a record refused for good; one service per database; damaged, empty and foreign files.

#include "cloudservice.h"
#include "servicerig.h"

#include <QCryptographicHash>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

using namespace servicerig;

namespace {

const QString Records = QStringLiteral("device_work_records");

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

// Runs zrhost to its end; its exit code, and what it wrote to *output.
int zrhost(const QStringList& arguments, QString* output)
{
    QProcess process;
    process.start(QStringLiteral(ZRHOST_PATH), arguments);
    process.waitForFinished(20000);
    *output = QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// A job of copies through the service on port, to its end.
bool cut(quint16 port, int copies)
{
    auto a = client(port);
    if (!a || !a->isUp())
        return false;
    Reply* job = a->send(gasket(copies));
    return QTest::qWaitFor([&] { return job->isFinished(); }, 30000)
        && job->result().outcome == Result::Done;
}

} // namespace

class tst_ServiceOutbox : public QObject {
    Q_OBJECT
private slots:
    void onceAtTheCloud_data();
    void onceAtTheCloud();
    void cloudAwayAtStart();
    void refusedRecordParked();
    void oneServicePerDatabase();
    void refusedFiles_data();
    void refusedFiles();
};

// A cloud service that answers after the service has given up on the post, and a service killed
// while its post is on its way: the record is sent again under the same key, and the cloud
// service keeps it once.
void tst_ServiceOutbox::onceAtTheCloud_data()
{
    QTest::addColumn<bool>("kill");
    QTest::newRow("answer later than the time-out") << false;
    QTest::newRow("killed during the post") << true;
}

void tst_ServiceOutbox::onceAtTheCloud()
{
    QFETCH(bool, kill);
    hostrig::Machine machine(fastMachine(2000, 20));
    QVERIFY(machine.listening);
    CloudService cloud;
    QVERIFY(cloud.listen());
    cloud.setAnswer(Records, "POST", CloudAnswer::slow(kill ? 10000 : 1500));
    QTemporaryDir dir;
    const QString database = dir.filePath(QStringLiteral("service.sqlite"));
    const QStringList arguments = QStringList { "--database", database, "--cloud",
        cloud.httpBase().toString(), "--cloud-timeout", "0.5", "--plugin-dir", ZR_PLUGIN_DIR }
        + machine.at();
    QProcess first;
    const quint16 port = serve(first, arguments);
    QVERIFY(port);
    QVERIFY(QTest::qWaitFor([&] { return cloud.devices().size() == 1; }, 10000));
    QVERIFY(cut(port, 1));
    QVERIFY(QTest::qWaitFor([&] { return !cloud.workRecords().isEmpty(); }, 10000));
    QProcess second;
    if (kill) {
        first.kill();
        first.waitForFinished();
        QVERIFY(serve(second, arguments));
    } else {
        // Posted again after the time-out, while the cloud service still holds the first answer.
        QVERIFY(QTest::qWaitFor([&] { return cloud.requests(Records, "POST").size() >= 2; }, 10000));
    }
    cloud.resetAnswers();
    Store store;
    QString error;
    QVERIFY2(store.open(database, &error, Store::Access::Read), qPrintable(error));
    QVERIFY(QTest::qWaitFor([&] { return store.pendingRecords().isEmpty(); }, 20000));
    QCOMPARE(cloud.workRecords().size(), 1);
    QVERIFY(cloud.repeatedRecords() >= 1);
    QCOMPARE(cloud.workRecords().first().value("finish_copies").toInt(), 1);
    QVERIFY(!store.job(1).value("cloud_delivered_at").toString().isEmpty());
    for (QProcess* service : { &first, &second }) {
        service->kill();
        service->waitForFinished();
    }
}

// No cloud service when the service starts: a job cut then has its record kept, which arrives
// once, after the registration, as does the record of a job cut after it.
void tst_ServiceOutbox::cloudAwayAtStart()
{
    hostrig::Machine machine(fastMachine(2000, 20));
    QVERIFY(machine.listening);
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 cloudPort = probe.serverPort();
    probe.close();
    QTemporaryDir dir;
    const QString database = dir.filePath(QStringLiteral("service.sqlite"));
    QProcess service;
    const quint16 port = serve(service,
        QStringList { "--database", database, "--cloud",
            QStringLiteral("http://127.0.0.1:%1/api/").arg(cloudPort), "--plugin-dir",
            ZR_PLUGIN_DIR }
            + machine.at());
    QVERIFY(port);
    QString log;
    QVERIFY(QTest::qWaitFor(
        [&] {
            log += QString::fromUtf8(service.readAllStandardOutput());
            return log.contains(QLatin1String("trying again"));
        },
        15000));
    QVERIFY(cut(port, 1));
    CloudService cloud;
    QVERIFY(cloud.listen(cloudPort));
    QVERIFY(QTest::qWaitFor([&] { return cloud.devices().size() == 1; }, 20000));
    QVERIFY(cut(port, 2));
    QVERIFY(QTest::qWaitFor([&] { return cloud.workRecords().size() == 2; }, 10000));
    Store store;
    QString error;
    QVERIFY2(store.open(database, &error, Store::Access::Read), qPrintable(error));
    QVERIFY(QTest::qWaitFor([&] { return store.pendingRecords().isEmpty(); }, 10000));
    QCOMPARE(cloud.workRecords().size(), 2);
    const QJsonObject away = cloud.workRecords().first();
    QCOMPARE(away.value("finish_copies").toInt(), 1);
    QCOMPARE(away.value("task_copies").toInt(), 1);
    for (const char* same : { "device", "path_length", "page_size" })
        QCOMPARE(away.value(same), cloud.workRecords().last().value(same));
    QCOMPARE(cloud.workRecords().last().value("finish_copies").toInt(), 2);
    QVERIFY(!store.job(1).value("cloud_delivered_at").toString().isEmpty());
    service.kill();
    service.waitForFinished();
}

// A record the cloud service refuses for good is parked with the answer; the next one goes.
void tst_ServiceOutbox::refusedRecordParked()
{
    hostrig::Machine machine(fastMachine(2000, 20));
    QVERIFY(machine.listening);
    CloudService cloud;
    QVERIFY(cloud.listen());
    cloud.queueAnswer(
        Records, "POST", CloudAnswer::raw(422, R"({"error": "page_area out of range"})"));
    QTemporaryDir dir;
    const QString database = dir.filePath(QStringLiteral("service.sqlite"));
    QProcess service;
    const quint16 port = serve(service,
        QStringList { "--database", database, "--cloud", cloud.httpBase().toString(),
            "--plugin-dir", ZR_PLUGIN_DIR }
            + machine.at());
    QVERIFY(port);
    QVERIFY(QTest::qWaitFor([&] { return cloud.devices().size() == 1; }, 10000));
    QVERIFY(cut(port, 1));
    QVERIFY(QTest::qWaitFor([&] { return cloud.requests(Records, "POST").size() == 1; }, 10000));
    QVERIFY(cut(port, 2));
    QVERIFY(QTest::qWaitFor([&] { return cloud.workRecords().size() == 1; }, 10000));
    QCOMPARE(cloud.workRecords().first().value("finish_copies").toInt(), 2);
    Store store;
    QString error;
    QVERIFY2(store.open(database, &error, Store::Access::Read), qPrintable(error));
    const QJsonObject parked = store.job(1);
    QVERIFY(!parked.value("cloud_parked_at").toString().isEmpty());
    QVERIFY2(parked.value("cloud_answer").toString().contains(QLatin1String("page_area")),
        qPrintable(parked.value("cloud_answer").toString()));
    QVERIFY(parked.value("cloud_delivered_at").isNull());
    QVERIFY(QTest::qWaitFor([&] { return store.pendingRecords().isEmpty(); }, 10000));
    QVERIFY(!store.job(2).value("cloud_delivered_at").toString().isEmpty());
    QCOMPARE(cloud.requests(Records, "POST").size(), 2);
    service.kill();
    service.waitForFinished();
}

// A second service on a database in use says whose it is and ends with 1.
void tst_ServiceOutbox::oneServicePerDatabase()
{
    hostrig::Machine machine(fastMachine(2000, 20));
    QVERIFY(machine.listening);
    QTemporaryDir dir;
    const QStringList arguments = QStringList { "--database",
        dir.filePath(QStringLiteral("service.sqlite")), "--plugin-dir", ZR_PLUGIN_DIR };
    QProcess first;
    QVERIFY(serve(first, arguments + machine.at()));
    QString output;
    // Another machine, so that only the database is shared.
    QCOMPARE(zrhost(QStringList { "serve", "--listen", "127.0.0.1:0", "--ip", "127.0.0.1",
                        "--port", "1" } + arguments,
                 &output),
        1);
    QVERIFY2(output.contains(QStringLiteral("held by process %1").arg(first.processId())),
        qPrintable(output));
    // Once the first is gone, the database is free again.
    first.kill();
    first.waitForFinished();
    QProcess second;
    QVERIFY(serve(second, arguments + machine.at()));
    second.kill();
    second.waitForFinished();
}

// A damaged file, an empty one and another program's SQLite file: the service refuses them, and
// the history reports the fault, both leaving the file as it was.
void tst_ServiceOutbox::refusedFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("said");
    QTest::newRow("a page overwritten") << "damaged" << "is damaged";
    QTest::newRow("no bytes") << "empty" << "is empty";
    QTest::newRow("another program's") << "foreign" << "not a database of this service";
}

void tst_ServiceOutbox::refusedFiles()
{
    QFETCH(QString, kind);
    QFETCH(QString, said);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("service.sqlite"));
    if (kind == QLatin1String("damaged")) {
        {
            Store store;
            QString error;
            QVERIFY2(store.open(path, &error), qPrintable(error));
            for (int i = 0; i < 300; ++i)
                QVERIFY(store.addJob({ { "file", QString(200, QLatin1Char('a' + i % 26)) } }));
        }
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        const qint64 pages = file.size() / 4096;
        QVERIFY(pages > 10);
        file.seek(pages / 2 * 4096);
        file.write(QByteArray(4096, '\x5a'));
    } else if (kind == QLatin1String("empty")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kind);
            db.setDatabaseName(path);
            QVERIFY(db.open());
            QSqlQuery query(db);
            QVERIFY(query.exec(QStringLiteral("CREATE TABLE notes (text TEXT)")));
            QVERIFY(query.exec(QStringLiteral("INSERT INTO notes VALUES ('mine')")));
        }
        QSqlDatabase::removeDatabase(kind);
    }
    const QByteArray before = contentOf(path);
    QString output;
    QCOMPARE(zrhost({ "history", "--database", path }, &output), 1);
    QVERIFY2(output.contains(said), qPrintable(output));
    QCOMPARE(zrhost({ "serve", "--listen", "127.0.0.1:0", "--database", path, "--plugin-dir",
                         ZR_PLUGIN_DIR, "--ip", "127.0.0.1", "--port", "1" },
                 &output),
        1);
    QVERIFY2(output.contains(said), qPrintable(output));
    QCOMPARE(QCryptographicHash::hash(contentOf(path), QCryptographicHash::Sha256),
        QCryptographicHash::hash(before, QCryptographicHash::Sha256));
    QVERIFY(!QFile::exists(path + QStringLiteral("-wal")));
}

QTEST_MAIN(tst_ServiceOutbox)
#include "tst_serviceoutbox.moc"
