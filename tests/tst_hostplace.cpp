// Where the machine is: the settings file and the options over it, the machine service as the way
// in, the claim a service keeps on its machine, what zrhost says when there is no way in or
// nothing answers there, and the panel's Connect.

#include "hostrig.h"
#include "panel.h"
#include "panelwindow.h"
#include "place.h"
#include "service.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

using hostrig::zrhost;

namespace {

const QString gasket = QStringLiteral(ZR_SAMPLES_DIR "/gasket.plt");
const QString token = QStringLiteral("s3cret");

// A machine service in this process on a free port, holding a simulated machine.
struct Served {
    explicit Served(const SimOptions& machineOptions, const QString& wanted = QString())
        : machine(machineOptions)
    {
        ServiceOptions options;
        options.session = hostrig::sessionOptions(machine.target());
        options.port = 0;
        options.token = wanted;
        options.database = dir.filePath(QStringLiteral("service.sqlite"));
        int code = 0;
        QString error;
        started = service.start(options, &error, &code)
            && QTest::qWaitFor([this] { return service.session()->isUp(); }, 10000);
    }
    QString url() const { return QStringLiteral("ws://127.0.0.1:%1").arg(service.port()); }

    hostrig::Machine machine;
    QTemporaryDir dir;
    MachineService service;
    bool started = false;
};

// The claim a service of the given pid keeps on the machine at 127.0.0.1:port.
QString claim(quint16 port, qint64 pid)
{
    const QString file = MachineClaim::write(
        MachineTarget::tcp(QStringLiteral("127.0.0.1"), port), QStringLiteral("ws://127.0.0.1:9"));
    QFile out(file);
    if (out.open(QIODevice::WriteOnly))
        out.write(
            QJsonDocument(QJsonObject { { "pid", double(pid) }, { "service", "ws://127.0.0.1:9" } })
                .toJson());
    return file;
}

// A process that has ended: its pid names no process.
qint64 endedPid()
{
    QProcess ended;
    ended.start(QStringLiteral("true"), QStringList());
    ended.waitForStarted();
    const qint64 pid = ended.processId();
    ended.waitForFinished();
    return pid;
}

} // namespace

class tst_HostPlace : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void config_data();
    void config();
    void wayIn_data();
    void wayIn();
    void jobGoesOnWhileOthersAsk();
    void claims_data();
    void claims();
    void unreachable_data();
    void unreachable();
    void panelConnect();

private:
    void writeSettings(QString text);
    QTemporaryDir m_home;
};

void tst_HostPlace::initTestCase()
{
    QVERIFY(QDir(m_home.path()).mkdir(QStringLiteral("run")));
    QFile::setPermissions(m_home.filePath(QStringLiteral("run")),
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // The settings and the claims of this test alone, here and in every zrhost it runs.
    qputenv("XDG_RUNTIME_DIR", m_home.filePath(QStringLiteral("run")).toLocal8Bit());
    qputenv("ZRHOST_CONFIG", m_home.filePath(QStringLiteral("zrhost.conf")).toLocal8Bit());
    for (const char* name : { "ZRHOST_SERVER", "ZRHOST_TOKEN", "RUNTIME_DIRECTORY" })
        qunsetenv(name);
}

void tst_HostPlace::init()
{
    QFile::remove(Settings::path());
}

void tst_HostPlace::writeSettings(QString text)
{
    QFile file(Settings::path());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text.replace(QLatin1Char('|'), QLatin1Char('\n')).toUtf8());
}

void tst_HostPlace::config_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("told");
    QTest::addColumn<QString>("file"); // what the file holds after, in its order
    // clang-format off
    QTest::newRow("shown, no file")   << QStringList {} << 0 << "(there is none yet)" << "";
    QTest::newRow("a machine")        << QStringList { "machine=192.168.1.20" } << 0 << "machine  192.168.1.20:9100" << "machine=192.168.1.20:9100|";
    QTest::newRow("every key")        << QStringList { "machine=usb:/dev/ttyACM0", "service=ws://10.0.0.2:9300", "token=abc", "units=inch" } << 0 << "token    (set, 3 characters)" << "machine=usb:/dev/ttyACM0|service=ws://10.0.0.2:9300|token=abc|units=inch|";
    QTest::newRow("default service")  << QStringList { "machine=[::1]:9200" } << 0 << "service  ws://127.0.0.1:9190 (the default beside a machine)" << "machine=[::1]:9200|";
    QTest::newRow("no port 0")        << QStringList { "machine=10.0.0.1:0" } << 2 << "machine wants ADDRESS[:PORT]" << "-";
    QTest::newRow("machine path")     << QStringList { "machine=10.0.0.1/x" } << 2 << "machine wants ADDRESS[:PORT]" << "-";
    QTest::newRow("service not ws")   << QStringList { "service=http://127.0.0.1:9190" } << 2 << "service wants a ws:// address" << "-";
    QTest::newRow("units")            << QStringList { "units=feet" } << 2 << "units wants mm or inch, not \"feet\"" << "-";
    QTest::newRow("token with space") << QStringList { "token=a b" } << 2 << "token wants at most 4096 characters without spaces" << "-";
    QTest::newRow("unknown key")      << QStringList { "port=9100" } << 2 << "\"port=9100\" is not KEY=VALUE with a key of machine, service, token, units" << "-";
    QTest::newRow("one bad, none set") << QStringList { "units=inch", "units=yard" } << 2 << "units wants mm or inch" << "-";
    // clang-format on
}

void tst_HostPlace::config()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, told);
    QFETCH(QString, file);
    const hostrig::Run run = zrhost(QStringList { "config" } + arguments);
    QTEST(run.exitCode, "exitCode");
    QVERIFY2((run.out + run.err).contains(told), qPrintable(run.out + run.err));
    QFile written(Settings::path());
    QCOMPARE(written.exists(), file != QLatin1String("-") && !file.isEmpty());
    if (!written.exists())
        return;
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(written.readAll()),
        QStringLiteral("[General]|").append(file).replace(QLatin1Char('|'), QLatin1Char('\n')));
    // It may hold a token: its owner's alone.
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup
        | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    QVERIFY((written.permissions() & others) == 0 && written.permissions() & QFile::ReadOwner);
    // What was set reads back as it is shown.
    QCOMPARE(zrhost({ "config" }).exitCode, 0);
}

// Which way a command goes, by the settings (| between lines), ZRHOST_SERVER and the options:
// HELD is the port of the machine the service holds, FREE that of another machine, SERVICE the
// service's address; the service wants a token when asked to.
void tst_HostPlace::wayIn_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("serverVariable");
    QTest::addColumn<bool>("withToken");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("told");
    const QString none;
    // clang-format off
    QTest::newRow("nothing given")        << none << none << false << QStringList { "info" } << 2 << "info needs a machine, and none is given: name one with --ip ADDRESS or --usb PATH, work through a machine service with --server";
    QTest::newRow("preview, nothing")     << none << none << false << QStringList { "preview", gasket, "-o", "OUT" } << 2 << "preview needs a machine, and none is given";
    QTest::newRow("serve, nothing")       << none << none << false << QStringList { "serve", "--listen", "127.0.0.1:0" } << 2 << "serve needs a machine";
    QTest::newRow("the simulator")        << none << none << false << QStringList { "status", "--simulator" } << 0 << "Machine: the embedded simulator (127.0.0.1:";
    QTest::newRow("speed, no simulator")  << none << none << false << QStringList { "job", gasket, "--speed", "500" } << 2 << "--speed is for the simulated machine (--simulator)";
    QTest::newRow("settings' service")    << "machine=127.0.0.1:HELD|service=SERVICE" << none << false << QStringList { "status" } << 0 << "Machine: 127.0.0.1:HELD through the machine service at SERVICE, answering.";
    QTest::newRow("settings' token")      << "service=SERVICE|token=s3cret" << none << true << QStringList { "status" } << 0 << "through the machine service at SERVICE, answering.";
    QTest::newRow("token not in settings") << "service=SERVICE" << none << true << QStringList { "status" } << 4 << "refused the connection (check --token)";
    QTest::newRow("default service")      << "machine=127.0.0.1:FREE" << none << false << QStringList { "status", "--timeout", "2" } << 4 << "cannot reach the machine through the machine service: ws://127.0.0.1:9190: Connection refused; is the machine service running? Start it with zrhost serve";
    QTest::newRow("settings, --direct")   << "machine=127.0.0.1:FREE" << none << false << QStringList { "status", "--direct" } << 0 << "Machine: 127.0.0.1:FREE, answering.";
    QTest::newRow("--ip over settings")   << "machine=127.0.0.1:HELD|service=SERVICE" << none << false << QStringList { "status", "--ip", "127.0.0.1", "--port", "FREE" } << 0 << "Machine: 127.0.0.1:FREE, answering.";
    QTest::newRow("--server over settings") << "service=ws://127.0.0.1:1" << none << false << QStringList { "status", "--server", "SERVICE" } << 0 << "through the machine service at SERVICE";
    QTest::newRow("variable over settings") << "service=ws://127.0.0.1:1" << "SERVICE" << false << QStringList { "status" } << 0 << "through the machine service at SERVICE";
    QTest::newRow("serve, settings")      << "machine=127.0.0.1:HELD" << none << false << QStringList { "serve", "--listen", "127.0.0.1:0" } << 4 << "The machine service at SERVICE (pid PID) holds this machine";
    QTest::newRow("--direct, no machine") << "service=SERVICE" << none << false << QStringList { "status", "--direct" } << 2 << "--direct connects to the machine the settings name";
    QTest::newRow("two ways")             << none << none << false << QStringList { "status", "--simulator", "--server", "SERVICE" } << 2 << "give one";
    QTest::newRow("cloud, through")       << "service=SERVICE" << none << false << QStringList { "status", "--cloud-embedded" } << 2 << "--cloud-embedded is for the machine service";
    QTest::newRow("bad settings file")    << "machine=a:b" << none << false << QStringList { "status" } << 2 << "machine wants ADDRESS[:PORT]";
    QTest::newRow("unknown key in file")  << "machien=10.0.0.1" << none << false << QStringList { "status", "--simulator" } << 2 << "there is no key \"machien\"";
    // clang-format on
}

void tst_HostPlace::wayIn()
{
    QFETCH(QString, settings);
    QFETCH(QString, serverVariable);
    QFETCH(bool, withToken);
    QFETCH(QStringList, arguments);
    QFETCH(QString, told);
    Served served(fastMachine(), withToken ? token : QString());
    QVERIFY(served.started);
    hostrig::Machine free;
    QVERIFY(free.listening);
    QTemporaryDir dir;
    const auto place = [&](QString text) {
        return text.replace(QLatin1String("HELD"), QString::number(served.machine.tcp.port()))
            .replace(QLatin1String("FREE"), QString::number(free.tcp.port()))
            .replace(QLatin1String("SERVICE"), served.url())
            .replace(QLatin1String("PID"), QString::number(QCoreApplication::applicationPid()))
            .replace(QLatin1String("OUT"), dir.filePath(QStringLiteral("p.png")));
    };
    if (!settings.isEmpty())
        writeSettings(place(settings));
    if (!serverVariable.isEmpty())
        qputenv("ZRHOST_SERVER", place(serverVariable).toUtf8());
    for (QString& argument : arguments)
        argument = place(argument);
    const hostrig::Run run = zrhost(arguments + QStringList { "--plugin-dir", ZR_PLUGIN_DIR });
    qunsetenv("ZRHOST_SERVER");
    QTEST(run.exitCode, "exitCode");
    QVERIFY2((run.out + run.err).contains(place(told)), qPrintable(run.out + run.err));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("p.png"))));
}

// A job through the service from one terminal; from others a direct status is refused with the
// service's words, and a pause and a resume go through the service. The job's link never drops.
void tst_HostPlace::jobGoesOnWhileOthersAsk()
{
    Served served(fastMachine(400, 20));
    QVERIFY(served.started);
    writeSettings(QStringLiteral("machine=127.0.0.1:%1|service=%2")
                      .arg(served.machine.tcp.port())
                      .arg(served.url()));
    const QStringList plugin { "--plugin-dir", ZR_PLUGIN_DIR };
    QProcess job;
    job.start(QStringLiteral(ZRHOST_PATH),
        QStringList { "job", gasket, "--copies", "3", "--no-progress" } + plugin);
    QVERIFY(QTest::qWaitFor(
        [&] { return served.machine.sim.jobStatus() == SimMachine::Cutting; }, 20000));
    const QString held
        = QStringLiteral("The machine service at %1 (pid %2) holds this machine; "
                         "work through it (--server %1) or stop it first")
              .arg(served.url(), QString::number(QCoreApplication::applicationPid()));
    for (const QStringList& direct : { QStringList { "status", "--direct" },
             QStringList { "info", "--ip", "127.0.0.1", "--port",
                 QString::number(served.machine.tcp.port()) } }) {
        const hostrig::Run refused = zrhost(direct + plugin);
        QCOMPARE(refused.exitCode, 4);
        QVERIFY2(refused.err.contains(held), qPrintable(refused.err));
    }
    const hostrig::Run paused = zrhost(QStringList { "pause", "-q" } + plugin);
    QVERIFY2(paused.exitCode == 0
            && paused.out.startsWith("paused: gasket.plt (machine: job-0001.plt), "),
        qPrintable(paused.out + paused.err));
    QCOMPARE(served.machine.sim.jobStatus(), SimMachine::Paused);
    QCOMPARE(zrhost(QStringList { "resume", "-q" } + plugin).exitCode, 0);
    QVERIFY(QTest::qWaitFor([&] { return job.state() == QProcess::NotRunning; }, 30000));
    const QString out = QString::fromUtf8(job.readAllStandardOutput() + job.readAllStandardError());
    QCOMPARE(job.exitCode(), 0);
    QVERIFY2(out.contains("Job finished: 3 of 3 copies of gasket.plt") && !out.contains("lost"),
        qPrintable(out));
    QCOMPARE(served.machine.sim.counters().jobsFinished, 1);
}

// A claim on the machine at 127.0.0.1 stops a direct command unless it takes over; one whose
// process has ended, or one on another machine, does not.
void tst_HostPlace::claims_data()
{
    QTest::addColumn<QString>("claimed"); // live, ended, other, none
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    // clang-format off
    QTest::newRow("no claim")          << "none"  << QStringList { "info" } << 0;
    QTest::newRow("a live claim")      << "live"  << QStringList { "info" } << 4;
    QTest::newRow("taken over")        << "live"  << QStringList { "info", "--take-over" } << 0;
    QTest::newRow("serve, live claim") << "live"  << QStringList { "serve", "--listen", "127.0.0.1:0" } << 4;
    QTest::newRow("a stale claim")     << "ended" << QStringList { "info" } << 0;
    QTest::newRow("another machine's") << "other" << QStringList { "info" } << 0;
    QTest::newRow("take-over, service") << "none" << QStringList { "status", "--take-over", "--server", "ws://127.0.0.1:1" } << 2;
    // clang-format on
}

void tst_HostPlace::claims()
{
    QFETCH(QString, claimed);
    QFETCH(QStringList, arguments);
    hostrig::Machine machine;
    QVERIFY(machine.listening);
    const quint16 port = machine.tcp.port();
    QString file;
    if (claimed != QLatin1String("none"))
        file = claim(claimed == QLatin1String("other") ? quint16(port + 1) : port,
            claimed == QLatin1String("ended") ? endedPid() : QCoreApplication::applicationPid());
    if (!arguments.contains(QLatin1String("--server")))
        arguments << "--ip"
                  << "127.0.0.1"
                  << "--port" << QString::number(port);
    const hostrig::Run run = zrhost(arguments + QStringList { "--plugin-dir", ZR_PLUGIN_DIR });
    if (!file.isEmpty())
        QFile::remove(file);
    QTEST(run.exitCode, "exitCode");
    QCOMPARE(
        run.err.contains(QStringLiteral("The machine service at ws://127.0.0.1:9 (pid %1) holds "
                                        "this machine")
                             .arg(QCoreApplication::applicationPid())),
        run.exitCode == 4);
}

// A port that takes the connection and closes it, or keeps it and says nothing: the machine or
// the machine service cannot be reached (4), and a service's words say how to start one.
void tst_HostPlace::unreachable_data()
{
    QTest::addColumn<bool>("closes");
    QTest::addColumn<QString>("way");
    QTest::addColumn<QString>("told");
    const QString start = "; is the machine service running? Start it with zrhost serve";
    QTest::newRow("machine closes") << true << "--ip"
                                    << "the link to 127.0.0.1:PORT went down";
    QTest::newRow("machine silent") << false << "--ip"
                                    << "no machine answered at 127.0.0.1:PORT within 1 s";
    QTest::newRow("service closes")
        << true << "--server"
        << "ws://127.0.0.1:PORT: The remote host closed the connection" + start;
    QTest::newRow("service silent")
        << false << "--server"
        << "the machine service at ws://127.0.0.1:PORT did not answer within 1 s" + start;
}

void tst_HostPlace::unreachable()
{
    QFETCH(bool, closes);
    QFETCH(QString, way);
    QFETCH(QString, told);
    QTcpServer port;
    QVERIFY(port.listen(QHostAddress::LocalHost, 0));
    connect(&port, &QTcpServer::newConnection, &port, [&] {
        while (QTcpSocket* socket = port.nextPendingConnection()) {
            if (closes)
                socket->close();
        }
    });
    const QString number = QString::number(port.serverPort());
    const QStringList at = way == QLatin1String("--ip")
        ? QStringList { "--ip", "127.0.0.1", "--port", number }
        : QStringList { "--server", "ws://127.0.0.1:" + number };
    const hostrig::Run run
        = zrhost(QStringList { "info", "--timeout", "1", "--plugin-dir", ZR_PLUGIN_DIR } + at);
    QCOMPARE(run.exitCode, 4);
    QVERIFY2(run.err.contains(told.replace(QLatin1String("PORT"), number)), qPrintable(run.err));
}

// Connect: a typed machine a service holds is not taken; with --simulator and no address the
// simulated machine comes back.
void tst_HostPlace::panelConnect()
{
    hostrig::Machine machine;
    QVERIFY(machine.listening);
    const auto session = hostrig::session(hostrig::sessionOptions(MachineTarget()), false);
    PanelWindow window;
    Panel panel(session.get(), &window);
    window.tcp->setChecked(true);
    window.address->setText(QStringLiteral("127.0.0.1"));
    window.port->setValue(machine.tcp.port());
    const QString file = claim(machine.tcp.port(), QCoreApplication::applicationPid());
    window.connectButton->click();
    QVERIFY2(window.log->toPlainText().contains("(pid "
                 + QString::number(QCoreApplication::applicationPid()) + ") holds this machine"),
        qPrintable(window.log->toPlainText()));
    QCOMPARE(session->link(), Session::Closed);
    QFile::remove(file);
    window.connectButton->click();
    QTRY_VERIFY_WITH_TIMEOUT(session->isUp(), 10000);

    // The simulated machine, started once, is connected again with no address typed.
    const auto simulated = hostrig::session(hostrig::sessionOptions(MachineTarget()));
    QVERIFY(simulated && simulated->isUp());
    PanelWindow other;
    Panel again(simulated.get(), &other);
    other.disconnectButton->click();
    QCOMPARE(simulated->link(), Session::Closed);
    other.connectButton->click();
    QTRY_VERIFY_WITH_TIMEOUT(simulated->isUp(), 10000);
}

QTEST_MAIN(tst_HostPlace)
#include "tst_hostplace.moc"
