// The machine service's clients: who is let in, what each may send and hold, and their requests
// taken to the machine in turn.

#include "service.h"

#include "carriage.h"

#include <QJsonDocument>
#include <QWebSocket>
#include <QWebSocketServer>

#include <algorithm>

namespace {

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

QString wrongToken()
{
    return QStringLiteral("no or wrong token");
}

// Closes with the reason the client hears, and lets the socket go once the close is out.
void closeWith(QWebSocket* client, QWebSocketProtocol::CloseCode code, const QString& reason)
{
    client->close(code, reason);
    QObject::connect(client, &QWebSocket::disconnected, client, &QObject::deleteLater);
    QTimer::singleShot(5000, client, &QObject::deleteLater);
}

} // namespace

void MachineService::accept()
{
    while (QWebSocket* client = m_server->nextPendingConnection()) {
        client->setParent(this);
        const QString peer = client->peerAddress().toString();
        QString why;
        if (!admit(client, &why)) {
            ++m_refusedUnlogged;
            if (!m_refusalLogged.isValid() || m_refusalLogged.elapsed() >= refusalLogMs) {
                emit log(QStringLiteral("Refused a client at %1: %2%3.")
                             .arg(peer, why,
                                 m_refusedUnlogged > 1
                                     ? QStringLiteral(" (%1 clients refused since the last line)")
                                           .arg(m_refusedUnlogged)
                                     : QString()));
                m_refusedUnlogged = 0;
                m_refusalLogged.start();
            }
            // A wrong token is refused without saying more.
            closeWith(client, QWebSocketProtocol::CloseCodePolicyViolated,
                why == wrongToken() ? QString() : why);
            continue;
        }
        const qint64 share = textShare();
        Client& admitted = m_clients[client];
        admitted.peer = peer;
        admitted.heard.start();
        fitMessageSize(client);
        if (textShare() != share)
            fitMessageSizes();
        connect(client, &QWebSocket::textMessageReceived, this,
            [this, client](const QString& text) { onText(client, text); });
        connect(client, &QWebSocket::binaryMessageReceived, this,
            [this, client](const QByteArray& data) { onBinary(client, data); });
        connect(client, &QWebSocket::disconnected, this, [this, client] {
            leave(client);
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

// The token, and room: when every place (or every place of its address) is taken, the client
// that has been idle the longest, past the idle time, makes room.
bool MachineService::admit(QWebSocket* client, QString* why)
{
    if (!m_options.token.isEmpty()
        && !sameSecret(
            client->request().rawHeader("Authorization"), "Bearer " + m_options.token.toUtf8())) {
        *why = wrongToken();
        return false;
    }
    const QString peer = client->peerAddress().toString();
    int fromPeer = 0;
    for (const Client& other : qAsConst(m_clients))
        fromPeer += other.peer == peer ? 1 : 0;
    const bool peerFull = fromPeer >= m_options.maxClientsPerPeer;
    if (!peerFull && m_clients.size() < m_options.maxClients)
        return true;
    QWebSocket* idlest = nullptr;
    qint64 idleMs = m_options.idleMs;
    for (auto other = m_clients.cbegin(); other != m_clients.cend(); ++other) {
        if ((peerFull && other->peer != peer) || other->open > 0
            || !m_intake.value(other.key()).isEmpty() || other->heard.elapsed() < idleMs)
            continue;
        idlest = other.key();
        idleMs = other->heard.elapsed();
    }
    if (idlest) {
        drop(idlest,
            QStringLiteral("making room for a new client: this one sent nothing for %1 s")
                .arg(idleMs / 1000));
        return true;
    }
    *why = peerFull ? QStringLiteral("too many clients from %1 (%2)")
                          .arg(peer, QString::number(m_options.maxClientsPerPeer))
                    : QStringLiteral("too many clients (%1)").arg(m_options.maxClients);
    return false;
}

// Out at once, with the reason the client hears.
void MachineService::drop(QWebSocket* client, const QString& reason)
{
    emit log(QStringLiteral("Dropped the client at %1: %2.")
                 .arg(client->peerAddress().toString(), reason));
    leave(client);
    disconnect(client, nullptr, this, nullptr);
    closeWith(client, QWebSocketProtocol::CloseCodeBadOperation, reason);
}

// A client that left: what it asked of the machine and did not get yet is not asked for nobody.
// Its queued jobs stay: they were taken.
void MachineService::leave(QWebSocket* client)
{
    const qint64 share = textShare();
    const Client gone = m_clients.take(client);
    if (textShare() != share)
        fitMessageSizes();
    m_intake.remove(client);
    m_turns.removeAll(client);
    for (const QPointer<Reply>& reply : gone.atMachine) {
        if (reply)
            reply->cancel();
    }
}

// A job whose cut data has not come in time drops its client, and the bytes it held.
void MachineService::sweep()
{
    QList<QWebSocket*> late;
    for (auto intakes = m_intake.cbegin(); intakes != m_intake.cend(); ++intakes) {
        for (const Intake& intake : intakes.value()) {
            if (intake.request.plt.isEmpty() && intake.since.isValid()
                && intake.since.elapsed() > m_options.dataWaitMs)
                late.append(intakes.key());
        }
    }
    for (QWebSocket* client : late) {
        if (m_clients.contains(client))
            drop(client,
                QStringLiteral("the cut data of a job did not come within %1 s")
                    .arg(m_options.dataWaitMs / 1000.0));
    }
}

qint64 MachineService::intakeBytes() const
{
    qint64 bytes = 0;
    for (const QList<Intake>& intakes : m_intake)
        for (const Intake& intake : intakes)
            bytes += intake.bytes;
    return bytes;
}

// A client may send a message as large as the cut data of its job waiting for it; anything
// else is small. Together that bounds what the service holds of messages not finished yet.
void MachineService::fitMessageSize(QWebSocket* client)
{
    qint64 bytes = textShare();
    for (const Intake& intake : m_intake.value(client)) {
        if (intake.request.plt.isEmpty() && intake.restOf == 0) {
            bytes = qMax(bytes, qMin(intake.bytes, m_options.maxMessageBytes));
            break;
        }
    }
    client->setMaxAllowedIncomingMessageSize(quint64(bytes));
    client->setMaxAllowedIncomingFrameSize(quint64(bytes));
}

// Every client's, as its share changes with their number.
void MachineService::fitMessageSizes()
{
    for (QWebSocket* client : m_clients.keys())
        fitMessageSize(client);
}

qint64 MachineService::textShare() const
{
    return qMin(qBound(qint64(64 * 1024), m_options.maxTextBytes / qMax(1, m_clients.size()),
                    qint64(2 * 1024 * 1024)),
        m_options.maxMessageBytes);
}

void MachineService::onText(QWebSocket* client, const QString& text)
{
    const auto from = m_clients.find(client);
    if (from == m_clients.end()) // dropped, with messages still on their way in
        return;
    from->heard.start();
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
    if (from->open >= maxOpenRequests)
        return refuse(client, qint64(id), Result::Refused,
            QStringLiteral("more than %1 requests at once").arg(maxOpenRequests));
    request.by
        = request.by.isEmpty() ? from->peer : QStringLiteral("%1 (%2)").arg(request.by, from->peer);
    if (request.kind == Request::Job || request.kind == Request::Rest) {
        QList<Intake>& intakes = m_intake[client];
        const int queued = int(std::count_if(m_queue.cbegin(), m_queue.cend(),
            [client](const Queued& job) { return job.client == client; }));
        const qint64 bytes
            = Carriage::announcedBytes(message.value(QLatin1String("request")).toObject());
        if (intakes.size() >= maxIntake)
            return refuse(client, qint64(id), Result::Busy,
                QStringLiteral("more than %1 jobs of this client on their way in").arg(maxIntake));
        if (queued + intakes.size() >= maxQueuedPerClient)
            return refuse(client, qint64(id), Result::Busy,
                QStringLiteral("this client has %1 jobs in the queue already, as many as one "
                               "client may")
                    .arg(maxQueuedPerClient));
        if (request.kind == Request::Job && intakeBytes() + bytes > m_options.maxIntakeBytes)
            return refuse(client, qint64(id), Result::Busy,
                QStringLiteral("the service is taking in %1 MB of cut data now, as much as it "
                               "holds at once; send the job again in a while")
                    .arg(intakeBytes() >> 20));
        if (request.kind == Request::Job) {
            Intake intake;
            intake.id = qint64(id);
            intake.request = request;
            intake.bytes = bytes;
            intake.since.start();
            intakes.append(intake);
            fitMessageSize(client);
        }
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
        return ask(client, id, request);
    default:
        return ask(client, id, request);
    }
}

// A request for the machine waits its client's turn.
void MachineService::ask(QWebSocket* client, qint64 id, const Request& request)
{
    Client& asking = m_clients[client];
    ++asking.open;
    asking.waiting.append({ id, request });
    if (!m_turns.contains(client))
        m_turns.append(client);
    dispatch();
}

// Clients take turns at the machine, one request each, a few clients at once: one that asks
// much, or slowly answered, holds a single place.
void MachineService::dispatch()
{
    for (int turn = 0; turn < m_turns.size() && m_atMachine < maxMachineRequests;) {
        QWebSocket* client = m_turns.at(turn);
        Client& asking = m_clients[client];
        if (!asking.atMachine.isEmpty()) {
            ++turn;
            continue;
        }
        const Asked asked = asking.waiting.takeFirst();
        m_turns.removeAt(turn);
        if (!asking.waiting.isEmpty())
            m_turns.append(client);
        ++m_atMachine;
        Reply* reply = m_session->send(asked.request);
        asking.atMachine.append(reply);
        const QPointer<QWebSocket> to(client);
        const qint64 id = asked.id;
        connect(reply, &Reply::finished, this, [this, reply, to, id] {
            reply->deleteLater();
            --m_atMachine;
            Result done = reply->result();
            const Request& request = reply->request();
            if (request.kind == Request::Read || request.kind == Request::Write)
                done.values = Carriage::valuesOf(m_session->device(), request.names);
            const auto asking = to ? m_clients.find(to) : m_clients.end();
            if (asking != m_clients.end()) {
                asking->atMachine.removeAll(reply);
                release(to);
                answer(to, id, done);
            }
            dispatch();
        });
    }
}

void MachineService::answer(QWebSocket* client, qint64 id, const Result& result)
{
    send(client, { { "id", double(id) }, { "result", Carriage::fromResult(result) } });
}

void MachineService::release(QWebSocket* client)
{
    const auto open = m_clients.find(client);
    if (open != m_clients.end())
        --open->open;
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
        leave(client);
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
