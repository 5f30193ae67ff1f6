#include "remote.h"

#include "carriage.h"
#include "jobstatus.h"
#include "values.h"

#include <QJsonDocument>
#include <QNetworkRequest>
#include <QSysInfo>

#include <utility>

RemoteSession::RemoteSession(const QUrl& server, const QString& token, QObject* parent)
    : Session(parent)
    , m_server(server)
    , m_token(token)
{
    m_machine = QStringLiteral("the machine service at %1").arg(server.toString());
    m_socket.setMaxAllowedIncomingMessageSize(maxMessageBytes);
    m_socket.setMaxAllowedIncomingFrameSize(maxMessageBytes);
    connect(&m_socket, &QWebSocket::textMessageReceived, this, &RemoteSession::onText);
    connect(&m_socket, &QWebSocket::disconnected, this, [this] {
        // Without the service nothing asked of it can end: it ends here, also while the link is
        // Connecting, as it is when the service reconnects to its machine. The service says why
        // it closes; an older one only refuses a token by its code.
        const bool wasAttached = std::exchange(m_attached, false);
        QString why = !m_socket.closeReason().isEmpty()
            ? QStringLiteral("the service %1 the connection: %2")
                  .arg(m_socket.closeCode() == QWebSocketProtocol::CloseCodePolicyViolated
                          ? QStringLiteral("refused")
                          : QStringLiteral("closed"),
                      ZRDevice::printable(m_socket.closeReason().left(128)))
            : m_socket.closeCode() == QWebSocketProtocol::CloseCodePolicyViolated
            ? QStringLiteral("the service refused the connection (check --token)")
            : m_socket.errorString();
        endReplies(m_socket.closeReason().isEmpty()
                ? QStringLiteral("the connection to the machine service closed")
                : why);
        if (m_link == Connecting && !wasAttached)
            return fail(QStringLiteral("%1: %2").arg(m_server.toString(), why));
        if (m_link != Closed)
            setLink(Lost);
    });
    // The session's own deadline speaks of a machine; here the service is what is waited for.
    disconnect(&m_connectDeadline, nullptr, this, nullptr);
    connect(&m_connectDeadline, &QTimer::timeout, this, [this] {
        fail(m_socket.state() != QAbstractSocket::ConnectedState
                ? QStringLiteral("the machine service at %1 did not answer within %2 s")
                      .arg(
                          m_server.toString(), QString::number(m_options.connectTimeoutMs / 1000.0))
                : QStringLiteral("the machine service at %1 has no link to the machine: %2")
                      .arg(m_server.toString(), m_serviceReason));
        m_socket.abort();
    });
}

RemoteSession::~RemoteSession()
{
    disconnect(&m_socket, nullptr, this, nullptr);
    m_socket.abort();
}

void RemoteSession::connectMachine()
{
    m_error.clear();
    m_opened = false;
    m_serviceReason = QStringLiteral("it has not said why");
    setLink(Connecting);
    m_connectDeadline.start(m_options.connectTimeoutMs);
    QNetworkRequest request(m_server);
    if (!m_token.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + m_token.toUtf8());
    m_socket.open(request);
}

void RemoteSession::connectTo(const MachineTarget&)
{
    connectMachine();
}

void RemoteSession::closeLink(const QList<QByteArray>& keep)
{
    endReplies(QStringLiteral("the link was closed"));
    Session::closeLink(keep);
    m_socket.abort();
}

Reply* RemoteSession::send(const Request& request)
{
    // The service records who asked: the user at this computer.
    Request asked = request;
    if (asked.by.isEmpty())
        asked.by = QStringLiteral("%1@%2").arg(
            qEnvironmentVariable("USER", QStringLiteral("someone")), QSysInfo::machineHostName());
    auto* reply = new Reply(asked, this);
    const qint64 id = ++m_lastId;
    if (request.kind == Request::Job) {
        connect(reply, &Reply::cancelRequested, this, [this, id] {
            m_socket.sendTextMessage(
                Carriage::messageText(QJsonObject { { "cancel", double(id) } }));
        });
    }
    // Begun from the event loop, so that the caller can connect to the reply first.
    QTimer::singleShot(0, reply, [this, reply, id] {
        if (m_socket.state() != QAbstractSocket::ConnectedState)
            return reply->finish(
                Result::LinkLost, QStringLiteral("not connected to the machine service"));
        m_replies.insert(id, reply);
        const QJsonObject message { { "id", double(id) },
            { "request", Carriage::fromRequest(reply->request()) } };
        m_socket.sendTextMessage(Carriage::messageText(message));
        if (reply->request().kind == Request::Job)
            m_socket.sendBinaryMessage(reply->request().plt);
    });
    return reply;
}

void RemoteSession::onText(const QString& text)
{
    const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
    if (!message.contains(QLatin1String("id")))
        return onEvent(message);
    const qint64 id = qint64(message.value(QLatin1String("id")).toDouble());
    Reply* reply = m_replies.value(id);
    if (!reply)
        return;
    if (message.contains(QLatin1String("progress"))) {
        reply->m_result.last
            = Carriage::toReport(message.value(QLatin1String("progress")).toObject());
        onReport(reply->m_result.last);
        emit reply->progress(reply->m_result.last);
    }
    if (message.value(QLatin1String("job")).isDouble())
        m_jobs.insert(id, qint64(message.value(QLatin1String("job")).toDouble()));
    if (message.contains(QLatin1String("notice")))
        emit notice(
            ZRDevice::printable(message.value(QLatin1String("notice")).toString().left(1000)));
    if (message.contains(QLatin1String("result"))) {
        m_replies.remove(id);
        m_jobs.remove(id);
        const Result result = Carriage::toResult(message.value(QLatin1String("result")).toObject());
        Carriage::applyValues(m_device.get(), result.values);
        reply->m_result = result;
        reply->finish(result.outcome, result.reason);
    }
}

void RemoteSession::onEvent(const QJsonObject& event)
{
    const QString name = event.value(QLatin1String("event")).toString();
    const QString text
        = ZRDevice::printable(event.value(QLatin1String("text")).toString().left(1000));
    if (name == QLatin1String("hello")) {
        m_attached = true;
        m_machine = QStringLiteral("%1 through the machine service at %2")
                        .arg(ZRDevice::printable(
                                 event.value(QLatin1String("machine")).toString().left(200)),
                            m_server.toString());
        m_state = Carriage::toReport(event.value(QLatin1String("state")).toObject());
    }
    if (name == QLatin1String("hello") || name == QLatin1String("link"))
        setServiceLink(event.value(QLatin1String("link")).toString(), text);
    if (name == QLatin1String("hello") || name == QLatin1String("answering"))
        setAnswering(event.value(QLatin1String("answering")).toBool(true));
    if (name == QLatin1String("report"))
        onReport(Carriage::toReport(event.value(QLatin1String("report")).toObject()));
    if (name == QLatin1String("message"))
        emit message(event.value(QLatin1String("kind")).toInt(), text);
    if (name == QLatin1String("notice"))
        emit notice(text);
    if (name == QLatin1String("job")) {
        const QJsonObject job = event.value(QLatin1String("job")).toObject();
        const qint64 request = m_jobs.key(qint64(job.value(QLatin1String("id")).toDouble()));
        if (Reply* reply = m_replies.value(request))
            reply->m_result.jobs = { job };
        emit jobChanged(job);
    }
}

// The machine's report, heard once: as the service's event, or as the progress of a job sent
// from here.
void RemoteSession::onReport(const TaskReport& report)
{
    if (report.text.isEmpty()) // not a report the machine sent
        return;
    m_state = report;
    emit message(ZRDeviceInterface::DevTasK, report.text);
    emit this->report(report);
}

void RemoteSession::setServiceLink(const QString& state, const QString& reason)
{
    if (state == linkName(Up)) {
        m_opened = true;
        m_connectDeadline.stop();
        return setLink(Up);
    }
    // The service reconnects by itself; meanwhile the link is on its way back.
    m_serviceReason = reason.isEmpty() ? QStringLiteral("it has not said why") : reason;
    if (m_link == Up)
        setLink(Connecting);
}

void RemoteSession::endReplies(const QString& reason)
{
    const QHash<qint64, QPointer<Reply>> open = m_replies;
    m_replies.clear();
    for (auto it = open.begin(); it != open.end(); ++it) {
        Reply* reply = it.value();
        if (!reply)
            continue;
        if (reply->request().kind != Request::Job) {
            reply->finish(Result::LinkLost, reason);
            continue;
        }
        // How far the job got, as the service last told it.
        const QJsonObject job = reply->m_result.jobs.isEmpty()
            ? QJsonObject()
            : reply->m_result.jobs.first().toObject();
        JobStatus::State state = JobStatus::Pending;
        JobStatus::named(job.value(QLatin1String("status")).toString(), &state);
        const QString id = QString::number(m_jobs.value(it.key()));
        const QString told = !m_jobs.contains(it.key())
            ? QStringLiteral("%1 before the service took the job in: it was never sent to the "
                             "machine")
                  .arg(reason)
            : state == JobStatus::Pending
            ? QStringLiteral("%1 while job %2 waited in the service's queue: it was never sent to "
                             "the machine")
                  .arg(reason, id)
            : QStringLiteral("%1 during job %2; the machine confirmed %3 of %4 copies, %5 mm cut; "
                             "it may go on cutting, and the service follows the job when it "
                             "is back")
                  .arg(reason, id, QString::number(job.value(QLatin1String("copies_done")).toInt()),
                      QString::number(job.value(QLatin1String("copies")).toInt()),
                      QString::number(job.value(QLatin1String("cut_mm")).toDouble(), 'f', 0));
        reply->finish(Result::LinkLost, told);
    }
    m_jobs.clear();
}
