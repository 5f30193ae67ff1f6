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

// Compares in a time that does not tell how much of a token was right.
bool sameSecret(const QByteArray& a, const QByteArray& b)
{
    if (a.size() != b.size())
        return false;
    char difference = 0;
    for (int i = 0; i < a.size(); ++i)
        difference |= char(a.at(i) ^ b.at(i));
    return difference == 0;
}

} // namespace

Outbox::Outbox(Store* store, Cloud* cloud, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_cloud(cloud)
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, [this] { deliver(); });
}

void Outbox::add(qint64 job, const QJsonObject& body)
{
    m_store->addRecord(job, body);
    deliver(true);
}

void Outbox::deliver(bool now)
{
    if (m_sending || !m_cloud)
        return;
    const QList<Store::Record> pending = m_store->pendingRecords(1);
    if (pending.isEmpty())
        return;
    const Store::Record record = pending.first();
    const QDateTime current = QDateTime::currentDateTimeUtc();
    if (!now && record.next > current)
        return m_retry.start(int(qMin(current.msecsTo(record.next), qint64(300000))));
    m_sending = true;
    QPointer<Outbox> self(this);
    m_cloud->postWorkRecord(record.body, [self, record](bool taken, const QString& answer) {
        if (!self)
            return;
        self->m_sending = false;
        const qint64 pauseMs = qMin(qint64(1000) << qMin(record.attempts, 9), qint64(300000));
        self->m_store->recordAnswered(
            record.id, taken, answer, QDateTime::currentDateTimeUtc().addMSecs(pauseMs));
        emit self->answered(record.jobId, taken, answer);
        self->deliver(taken);
    });
}

MachineService::MachineService(QObject* parent)
    : QObject(parent)
{
    m_reconnect.setSingleShot(true);
    connect(&m_reconnect, &QTimer::timeout, this, &MachineService::reconnect);
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
    m_server->setHandshakeTimeout(10000);
    if (!m_server->listen(options.address, options.port)) {
        *error = QStringLiteral("cannot listen on %1 port %2: %3")
                     .arg(options.address.toString(), QString::number(options.port),
                         m_server->errorString());
        return false;
    }
    connect(m_server.get(), &QWebSocketServer::newConnection, this, &MachineService::accept);

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
        cloud->holdWorkRecords([this](const QJsonObject& body) {
            m_outbox->add(m_recordFor ? m_recordFor : m_running.job, body);
        });
    }
    m_outbox.reset(new Outbox(&m_store, session->cloud()));
    connect(m_outbox.get(), &Outbox::answered, this,
        [this](qint64 job, bool taken, const QString& answer) {
            tell(QStringLiteral("Work record of job %1: %2 (%3).")
                     .arg(QString::number(job),
                         taken ? QStringLiteral("taken by the cloud service")
                               : QStringLiteral("not taken, kept in the outbox to be sent again"),
                         answer));
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

void MachineService::accept()
{
    while (QWebSocket* client = m_server->nextPendingConnection()) {
        client->setParent(this);
        client->setMaxAllowedIncomingMessageSize(quint64(m_options.maxMessageBytes));
        client->setMaxAllowedIncomingFrameSize(quint64(m_options.maxMessageBytes));
        const QString peer = client->peerAddress().toString();
        const bool admitted = m_options.token.isEmpty()
            || sameSecret(
                client->request().rawHeader("Authorization"), "Bearer " + m_options.token.toUtf8());
        if (!admitted || m_clients.size() >= maxClients) {
            emit log(QStringLiteral("Refused a client at %1: %2.")
                         .arg(peer,
                             admitted ? QStringLiteral("too many clients")
                                      : QStringLiteral("no or wrong token")));
            client->close(admitted ? QWebSocketProtocol::CloseCodeBadOperation
                                   : QWebSocketProtocol::CloseCodePolicyViolated);
            connect(client, &QWebSocket::disconnected, client, &QObject::deleteLater);
            QTimer::singleShot(5000, client, &QObject::deleteLater);
            continue;
        }
        m_clients.insert(client, 0);
        connect(client, &QWebSocket::textMessageReceived, this,
            [this, client](const QString& text) { onText(client, text); });
        connect(client, &QWebSocket::binaryMessageReceived, this,
            [this, client](const QByteArray& data) { onBinary(client, data); });
        connect(client, &QWebSocket::disconnected, this, [this, client] {
            m_clients.remove(client);
            m_intake.remove(client);
            client->deleteLater();
        });
        const TaskReport& state = m_session->machineState();
        send(client,
            { { "event", "hello" }, { "machine", m_session->machineName() },
                { "link", Session::linkName(m_session->link()) },
                { "text", m_session->errorString() }, { "answering", m_session->isAnswering() },
                { "state", Carriage::fromReport(state) } });
    }
}

void MachineService::onText(QWebSocket* client, const QString& text)
{
    if (!m_clients.contains(client)) // dropped, with messages still on their way in
        return;
    QJsonParseError parsed {};
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &parsed);
    const QJsonObject message = document.object();
    if (!document.isObject())
        return send(client,
            { { "error", QStringLiteral("not a JSON object (%1)").arg(parsed.errorString()) } });
    if (message.contains(QLatin1String("cancel")))
        return cancel(client, qint64(message.value(QLatin1String("cancel")).toDouble()));
    const double id = message.value(QLatin1String("id")).toDouble(-1);
    if (!(id >= 0 && id < 1e15) || !message.value(QLatin1String("request")).isObject())
        return send(client, { { "error", "a request is {\"id\": number, \"request\": {...}}" } });
    Request request;
    QString why;
    Result refused;
    refused.outcome = Result::Unknown;
    if (!Carriage::toRequest(message.value(QLatin1String("request")).toObject(), &request, &why)) {
        refused.reason = why;
        return answer(client, qint64(id), refused);
    }
    if (m_clients.value(client) >= maxOpenRequests) {
        refused.outcome = Result::Refused;
        refused.reason = QStringLiteral("more than %1 requests at once").arg(maxOpenRequests);
        return answer(client, qint64(id), refused);
    }
    const QString peer = client->peerAddress().toString();
    request.by = request.by.isEmpty() ? peer : QStringLiteral("%1 (%2)").arg(request.by, peer);
    if (request.kind == Request::Job || request.kind == Request::Rest) {
        QList<Intake>& intakes = m_intake[client];
        if (intakes.size() >= maxIntake)
            return refuse(client, qint64(id), Result::Busy,
                QStringLiteral("more than %1 jobs of this client on their way in").arg(maxIntake));
        if (request.kind == Request::Job)
            intakes.append({ qint64(id), request,
                Carriage::announcedBytes(message.value(QLatin1String("request")).toObject()) });
    }
    handle(client, qint64(id), request);
}

void MachineService::handle(QWebSocket* client, qint64 id, const Request& request)
{
    Result result;
    switch (request.kind) {
    case Request::Job:
        return; // taken in with its data
    case Request::Rest:
        return cutRest(client, id, request);
    case Request::History:
        result.jobs = m_store.jobs();
        return answer(client, id, result);
    case Request::Status:
        result.last = m_session->machineState();
        result.jobs = queueJobs();
        if (!m_session->isUp()) {
            result.outcome = Result::LinkLost;
            result.reason = QStringLiteral("the service has no link to the machine now; it is "
                                           "reconnecting");
        }
        return answer(client, id, result);
    case Request::MoveQueued:
    case Request::CancelQueued: {
        int index = m_queue.size() - 1;
        while (index >= 0 && m_queue.at(index).job != request.job)
            --index;
        if (index < 0) {
            result.outcome = Result::Unknown;
            result.reason = QStringLiteral("job %1 is not in the queue").arg(request.job);
        } else if (request.kind == Request::MoveQueued) {
            m_queue.move(index, qMin(request.position, m_queue.size()) - 1);
            tell(QStringLiteral("Job %1 moved to place %2 of the queue by %3.")
                     .arg(QString::number(request.job),
                         QString::number(qMin(request.position, m_queue.size())), request.by));
        } else {
            unqueue(index, QStringLiteral("taken out of the queue by %1").arg(request.by));
        }
        result.jobs = queueJobs();
        return answer(client, id, result);
    }
    case Request::Stop:
        dropFollowed(QStringLiteral("stopped by %1").arg(request.by));
        break;
    default:
        break;
    }
    ++*m_clients.find(client);
    Reply* reply = m_session->send(request);
    const QPointer<QWebSocket> to(client);
    connect(reply, &Reply::finished, this, [this, reply, to, id] {
        reply->deleteLater();
        Result done = reply->result();
        const Request& asked = reply->request();
        if (asked.kind == Request::Read || asked.kind == Request::Write)
            done.values = Carriage::valuesOf(m_session->device(), asked.names);
        if (!to)
            return;
        release(to);
        answer(to, id, done);
    });
}

void MachineService::answer(QWebSocket* client, qint64 id, const Result& result)
{
    send(client, { { "id", double(id) }, { "result", Carriage::fromResult(result) } });
}

void MachineService::release(QWebSocket* client)
{
    const auto open = m_clients.find(client);
    if (open != m_clients.end())
        --*open;
}

// A client that leaves this much unread is dropped rather than held in memory.
void MachineService::send(QWebSocket* client, const QJsonObject& message)
{
    if (!m_clients.contains(client))
        return;
    if (client->bytesToWrite() > m_options.maxBacklogBytes) {
        emit log(
            QStringLiteral("Dropped the client at %1: it left %2 bytes unread.")
                .arg(client->peerAddress().toString(), QString::number(client->bytesToWrite())));
        m_clients.remove(client);
        client->abort();
        client->deleteLater();
        return;
    }
    client->sendTextMessage(Carriage::messageText(message));
}

void MachineService::broadcast(const QJsonObject& message)
{
    for (QWebSocket* client : m_clients.keys())
        send(client, message);
}

void MachineService::tell(const QString& line)
{
    emit log(line);
    broadcast({ { "event", "notice" }, { "text", line } });
}

void MachineService::jobChanged(qint64 job, const QJsonObject& changes)
{
    if (!changes.isEmpty())
        m_store.updateJob(job, changes);
    broadcast({ { "event", "job" }, { "job", m_store.job(job) } });
}

void MachineService::onLink(Session::Link link)
{
    const QString reason
        = link == Session::Failed ? m_session->errorString() : QStringLiteral("the link went down");
    broadcast({ { "event", "link" }, { "link", Session::linkName(link) },
        { "text", link == Session::Up ? QString() : reason } });
    if (link == Session::Lost || link == Session::Failed) {
        const int pauseMs = qMin(firstRetryMs << qMin(m_attempts++, 8), lastRetryMs);
        tell(QStringLiteral("Link to %1 lost (%2); reconnecting in %3 s.")
                 .arg(m_session->target().describe(), reason, QString::number(pauseMs / 1000.0)));
        return m_reconnect.start(pauseMs);
    }
    if (link != Session::Up)
        return;
    m_attempts = 0;
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
