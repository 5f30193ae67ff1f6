#include "service.h"

#include "carriage.h"
#include "cloud.h"
#include "cutfile.h"
#include "zrdeviceinterface.h"
#include "zrdeviceproperty.h"

#include <QJsonDocument>
#include <QWebSocket>
#include <QWebSocketServer>

namespace {

constexpr int firstRetryMs = 250;
constexpr int lastRetryMs = 30000;

} // namespace

MachineService::MachineService(QObject* parent)
    : QObject(parent)
{
    m_reconnect.setSingleShot(true);
    connect(&m_reconnect, &QTimer::timeout, this, &MachineService::reconnect);
    m_stable.setSingleShot(true);
    connect(&m_stable, &QTimer::timeout, this, [this] { m_attempts = 0; });
    connect(&m_sweep, &QTimer::timeout, this, &MachineService::sweep);
}

MachineService::~MachineService()
{
    for (QWebSocket* client : m_clients.keys()) {
        disconnect(client, nullptr, this, nullptr);
        delete client;
    }
    m_server.reset();
    m_outbox.reset();
    m_session.reset();
    MachineClaim::release(m_claim);
}

quint16 MachineService::port() const
{
    return m_server ? m_server->serverPort() : 0;
}

bool MachineService::start(const ServiceOptions& options, QString* error, int* exitCode)
{
    m_options = options;
    *exitCode = 1;
    if (!options.address.isLoopback() && options.token.isEmpty()) {
        *exitCode = 2;
        *error = QStringLiteral("listening on %1 lets other machines in: give a token (--token or "
                                "--token-file) that every client must show")
                     .arg(options.address.toString());
        return false;
    }
    const QString path = options.database.isEmpty() ? Store::defaultPath() : options.database;
    if (!m_store.open(path, error))
        return false;
    m_session.reset(new Session);
    if (!m_session->open(options.session)) {
        *exitCode = 3;
        *error = QStringLiteral("cannot load the device plugin: %1").arg(m_session->errorString());
        return false;
    }
    m_server.reset(new QWebSocketServer(QStringLiteral("zrhost"), QWebSocketServer::NonSecureMode));
    m_server->setHandshakeTimeout(5000);
    if (!m_server->listen(options.address, options.port)) {
        *error = QStringLiteral("cannot listen on %1 port %2: %3")
                     .arg(options.address.toString(), QString::number(options.port),
                         m_server->errorString());
        return false;
    }
    connect(m_server.get(), &QWebSocketServer::newConnection, this, &MachineService::accept);
    m_sweep.start(qBound(10, options.dataWaitMs / 4, 1000));

    Session* session = m_session.get();
    connect(session, &Session::linkChanged, this, &MachineService::onLink);
    connect(session, &Session::answeringChanged, this, [this](bool answering) {
        broadcast({ { "event", "answering" }, { "answering", answering } });
        // A job lost to the machine's silence is followed again once it answers.
        if (answering && m_running.following && !m_running.reply)
            onLink(m_session->link());
    });
    connect(session, &Session::report, this, [this](const TaskReport& report) {
        // After the running job's client has had it as its job's progress, which the session
        // tells next: every client hears a report once.
        QMetaObject::invokeMethod(
            this,
            [this, report] {
                const QJsonObject event { { "event", "report" },
                    { "report", Carriage::fromReport(report) } };
                for (QWebSocket* client : m_clients.keys()) {
                    if (client != m_progressClient || report.text != m_progressText)
                        send(client, event);
                }
            },
            Qt::QueuedConnection);
        settleLate(report);
        if (report.isOver())
            startNextJob();
    });
    // Progress reports travel as reports, decoded once.
    connect(session, &Session::message, this, [this](int kind, const QString& text) {
        if (kind != ZRDeviceInterface::DevTasK)
            broadcast({ { "event", "message" }, { "kind", kind }, { "text", text } });
    });
    connect(session, &Session::notice, this, &MachineService::tell);
    if (!session->startCloud())
        tell(QStringLiteral("cloud: %1; going on without the cloud service")
                 .arg(session->errorString()));
    if (Cloud* cloud = session->cloud()) {
        connect(cloud, &Cloud::notice, this, &MachineService::tell);
        connect(cloud, &Cloud::problem, this,
            [this](const QString& line) { tell(QStringLiteral("cloud: ") + line); });
        cloud->keepRegistering();
        cloud->holdWorkRecords([this](const QJsonObject& body) {
            m_outbox->add(m_recordFor ? m_recordFor : m_running.job, body);
        });
    }
    m_outbox.reset(new Outbox(&m_store, session->cloud()));
    connect(m_outbox.get(), &Outbox::answered, this, [this](qint64 job, const QString& outcome) {
        tell(QStringLiteral("Work record of job %1: %2.").arg(QString::number(job), outcome));
        if (job > 0)
            jobChanged(job, {});
    });
    resume();
    const int waiting = m_store.pendingRecords().size();
    if (waiting > 0)
        emit log(QStringLiteral("%1 work record(s) wait in the outbox%2.")
                     .arg(QString::number(waiting),
                         session->cloud() ? QString()
                                          : QStringLiteral("; give --cloud to deliver them")));
    m_outbox->deliver(true);
    const QString address = options.address.protocol() == QAbstractSocket::IPv6Protocol
        ? QStringLiteral("[%1]").arg(options.address.toString())
        : options.address.toString();
    // Clients on this computer reach a service that listens on every address at the loopback one.
    const bool any = options.address == QHostAddress::Any
        || options.address == QHostAddress::AnyIPv4 || options.address == QHostAddress::AnyIPv6;
    m_claim = MachineClaim::write(options.session.target,
        QStringLiteral("ws://%1:%2")
            .arg(any ? QStringLiteral("127.0.0.1") : address, QString::number(port())));
    emit log(QStringLiteral("Serving ws://%1:%2/ (%3), database %4.")
                 .arg(address, QString::number(port()),
                     options.token.isEmpty() ? QStringLiteral("no token")
                                             : QStringLiteral("token required"),
                     m_store.path()));
    session->connectMachine();
    return true;
}

void MachineService::tell(const QString& line)
{
    emit log(line);
    broadcast({ { "event", "notice" }, { "text", line } });
}

bool MachineService::jobChanged(qint64 job, const QJsonObject& changes)
{
    const bool stored = changes.isEmpty() || m_store.updateJob(job, changes);
    if (!stored && !m_unstored.contains(job)) {
        m_unstored.insert(job);
        tell(QStringLiteral("Job %1: the history cannot store its changes (%2); it shows the job "
                            "as it was last stored.")
                 .arg(QString::number(job), m_store.lastError()));
    } else if (stored && !changes.isEmpty() && m_unstored.remove(job)) {
        tell(QStringLiteral("Job %1: the history stores its changes again.").arg(job));
    }
    broadcast({ { "event", "job" }, { "job", m_store.job(job) } });
    return stored;
}

void MachineService::onLink(Session::Link link)
{
    const QString reason
        = link == Session::Failed ? m_session->errorString() : QStringLiteral("the link went down");
    broadcast({ { "event", "link" }, { "link", Session::linkName(link) },
        { "text", link == Session::Up ? QString() : reason } });
    if (link == Session::Lost || link == Session::Failed) {
        m_stable.stop();
        const int pauseMs = qMin(firstRetryMs << qMin(m_attempts++, 8), lastRetryMs);
        tell(QStringLiteral("Link to %1 lost (%2); reconnecting in %3 s.")
                 .arg(m_session->target().describe(), reason, QString::number(pauseMs / 1000.0)));
        return m_reconnect.start(pauseMs);
    }
    if (link != Session::Up)
        return;
    m_stable.start(m_options.stableLinkMs);
    tell(QStringLiteral("%1 %2.").arg(
        m_wasUp ? QStringLiteral("Reconnected to") : QStringLiteral("Connected to"),
        m_session->machineName()));
    m_wasUp = true;
    startCloud();
    if (m_running.following && !m_running.reply) {
        Request follow = m_running.request;
        follow.follow = m_running.machineJob;
        follow.confirmed = m_running.last;
        tell(
            QStringLiteral("Following job %1 (%2), which the machine calls %3.")
                .arg(QString::number(m_running.job), m_running.request.file, m_running.machineJob));
        return runJob(m_running, follow);
    }
    startNextJob();
}

void MachineService::reconnect()
{
    if (m_session->link() == Session::Lost || m_session->link() == Session::Failed)
        m_session->connectTo(m_session->target());
}

// The device registers with what it knows of its machine, once its information has been read.
void MachineService::startCloud()
{
    if (m_cloudStarted || !m_session->cloud())
        return;
    m_cloudStarted = true;
    Reply* info = m_session->send(Request::of(
        Request::Read, { QStringLiteral("DEVICE_INFO"), QStringLiteral("DEVICE_UNIQUE_ID") }));
    connect(info, &Reply::finished, this, [this, info] {
        info->deleteLater();
        if (info->result().outcome != Result::Done) {
            m_cloudStarted = false;
            return tell(QStringLiteral("cloud: the machine information could not be read (%1); "
                                       "the device registers once it is")
                            .arg(info->result().reason));
        }
        m_session->cloud()->attach(m_session->device());
    });
}
