#include "cloudservice.h"

#include "hostilechannel.h"
#include "httprequestparser.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

#include <memory>

namespace {

constexpr int KeptRequests = 10000;
constexpr int KeptReports = 10000;

QByteArray reasonPhrase(int status)
{
    // clang-format off
    switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 409: return "Conflict";
    case 413: return "Payload Too Large";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 505: return "HTTP Version Not Supported";
    default: return "Status";
    }
    // clang-format on
}

QByteArray errorBody(const QString& text)
{
    return QJsonDocument(QJsonObject { { "error", text } }).toJson(QJsonDocument::Compact);
}

CloudAnswer failure(int status, const QString& text)
{
    return CloudAnswer::raw(status, errorBody(text));
}

QString answerKey(const QString& resource, const QByteArray& method)
{
    return resource + QLatin1Char(' ') + QString::fromLatin1(method);
}

} // namespace

CloudService::CloudService(QObject* parent)
    : QObject(parent)
    , m_http(new QTcpServer(this))
    , m_channelPort(new QTcpServer(this))
    , m_webSocket(
          new QWebSocketServer(QStringLiteral("zrcloud"), QWebSocketServer::NonSecureMode, this))
{
    qRegisterMetaType<CloudRequest>();
    connect(m_http, &QTcpServer::newConnection, this, &CloudService::acceptHttp);
    connect(m_channelPort, &QTcpServer::newConnection, this, &CloudService::acceptChannel);
    connect(m_webSocket, &QWebSocketServer::newConnection, this, &CloudService::acceptWebSocket);
}

CloudService::~CloudService()
{
    // The sockets must not call back into a half-destroyed service.
    m_http->disconnect(this);
    m_channelPort->disconnect(this);
    m_webSocket->disconnect(this);
    for (auto it = m_parsers.cbegin(); it != m_parsers.cend(); ++it) {
        it.key()->disconnect(this);
        delete it.key();
        delete it.value();
    }
    for (QWebSocket* socket : qAsConst(m_channels)) {
        socket->disconnect(this);
        delete socket;
    }
}

QString CloudService::basePath() const
{
    return m_basePath;
}

void CloudService::setBasePath(const QString& path)
{
    m_basePath = path;
    if (!m_basePath.startsWith(QLatin1Char('/')))
        m_basePath.prepend(QLatin1Char('/'));
    if (!m_basePath.endsWith(QLatin1Char('/')))
        m_basePath.append(QLatin1Char('/'));
}

void CloudService::setRequiredToken(const QString& token)
{
    m_requiredToken = token;
}

bool CloudService::listen(quint16 httpPort, quint16 webSocketPort)
{
    if (!m_http->listen(QHostAddress::LocalHost, httpPort)) {
        m_error = QStringLiteral("HTTP port %1: %2").arg(httpPort).arg(m_http->errorString());
        return false;
    }
    if (!m_channelPort->listen(QHostAddress::LocalHost, webSocketPort)) {
        m_error = QStringLiteral("WebSocket port %1: %2")
                      .arg(webSocketPort)
                      .arg(m_channelPort->errorString());
        m_http->close();
        return false;
    }
    return true;
}

QString CloudService::errorString() const
{
    return m_error;
}

quint16 CloudService::httpPort() const
{
    return m_http->serverPort();
}

quint16 CloudService::webSocketPort() const
{
    return m_channelPort->serverPort();
}

QUrl CloudService::httpBase() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(httpPort()).arg(m_basePath));
}

QString CloudService::wsBase() const
{
    return QStringLiteral("ws://127.0.0.1:%1%2").arg(webSocketPort()).arg(m_basePath);
}

void CloudService::setAnswer(
    const QString& resource, const QByteArray& method, const CloudAnswer& answer)
{
    m_answers.insert(answerKey(resource, method), answer);
}

void CloudService::queueAnswer(
    const QString& resource, const QByteArray& method, const CloudAnswer& answer)
{
    m_queuedAnswers[answerKey(resource, method)].append(answer);
}

void CloudService::resetAnswers()
{
    m_answers.clear();
    m_queuedAnswers.clear();
}

QList<CloudRequest> CloudService::requests(const QString& resource, const QByteArray& method) const
{
    QList<CloudRequest> matching;
    for (const CloudRequest& request : m_requests) {
        if ((resource.isEmpty() || request.resource == resource)
            && (method.isEmpty() || request.method == method))
            matching.append(request);
    }
    return matching;
}

void CloudService::clearRequests()
{
    m_requests.clear();
}

int CloudService::heldConnections() const
{
    return m_held.size();
}

QJsonObject CloudService::device(const QString& code) const
{
    for (const QJsonObject& entry : m_devices) {
        if (entry.value(QLatin1String("code")).toString() == code)
            return entry;
    }
    return {};
}

QList<QJsonObject> CloudService::devices() const
{
    return m_devices.values();
}

int CloudService::addDevice(QJsonObject entry)
{
    const int id = m_nextDeviceId++;
    entry.insert(QStringLiteral("id"), id);
    m_devices.insert(id, entry);
    return id;
}

int CloudService::modelId(qint64 modelNumber) const
{
    return m_models.value(modelNumber);
}

QList<QJsonObject> CloudService::workRecords() const
{
    return m_workRecords;
}

QStringList CloudService::connectedCodes() const
{
    QStringList codes = m_channels.uniqueKeys();
    codes.sort();
    return codes;
}

int CloudService::sendPrompt(const QString& code, const QString& text)
{
    const QList<QWebSocket*> sockets = m_channels.values(code);
    for (QWebSocket* socket : sockets)
        socket->sendTextMessage(text);
    return sockets.size();
}

void CloudService::dropChannel(const QString& code)
{
    const QList<QWebSocket*> sockets = m_channels.values(code);
    for (QWebSocket* socket : sockets)
        socket->close(QWebSocketProtocol::CloseCodeGoingAway);
}

QStringList CloudService::reports(const QString& code) const
{
    return m_reports.value(code);
}

void CloudService::clearReports()
{
    m_reports.clear();
}

void CloudService::acceptHttp()
{
    while (QTcpSocket* socket = m_http->nextPendingConnection()) {
        m_parsers.insert(socket, new HttpRequestParser);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readHttp(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { dropHttp(socket); });
        if (socket->bytesAvailable() > 0)
            readHttp(socket);
    }
}

void CloudService::readHttp(QTcpSocket* socket)
{
    const QByteArray bytes = socket->readAll();
    if (m_held.contains(socket) || m_streaming.contains(socket)
        || socket->state() != QAbstractSocket::ConnectedState)
        return;
    if (HttpRequestParser* parser = m_parsers.value(socket))
        parser->append(bytes);
    // Answering may close the connection, which drops its parser: look it up afresh each time.
    while (HttpRequestParser* parser = m_parsers.value(socket)) {
        if (m_held.contains(socket) || m_streaming.contains(socket)
            || socket->state() != QAbstractSocket::ConnectedState)
            return;
        CloudRequest request;
        int errorStatus = 0;
        switch (parser->next(&request, &errorStatus)) {
        case HttpRequestParser::Result::NeedMore:
            return;
        case HttpRequestParser::Result::Bad:
            respond(socket, errorStatus, errorBody(QString::fromLatin1(reasonPhrase(errorStatus))),
                false);
            return;
        case HttpRequestParser::Result::Complete:
            answer(socket, request);
            break;
        }
    }
}

void CloudService::dropHttp(QTcpSocket* socket)
{
    delete m_parsers.take(socket);
    m_held.remove(socket);
    m_streaming.remove(socket);
    socket->deleteLater();
}

void CloudService::answer(QTcpSocket* socket, CloudRequest& request)
{
    if (request.path.startsWith(m_basePath)) {
        request.resource = request.path.mid(m_basePath.size());
        while (request.resource.endsWith(QLatin1Char('/')))
            request.resource.chop(1);
    }

    CloudAnswer reply;
    if (!m_requiredToken.isEmpty()
        && request.header("authorization") != "Bearer " + m_requiredToken.toUtf8())
        reply = failure(401, QStringLiteral("a valid bearer token is needed"));
    else
        reply = takeAnswer(request.resource, request.method);
    if (reply.kind == CloudAnswer::Registry || reply.kind == CloudAnswer::Slow) {
        const qint64 delayMs = reply.kind == CloudAnswer::Slow ? reply.size : -1;
        reply = fromRegistry(request);
        if (delayMs >= 0) {
            reply.size = delayMs;
            reply.kind = CloudAnswer::Slow;
        }
    }

    switch (reply.kind) {
    case CloudAnswer::Hold:
        m_held.insert(socket);
        break;
    case CloudAnswer::Close:
        socket->disconnectFromHost();
        break;
    case CloudAnswer::Registry:
    case CloudAnswer::Respond:
        request.answerStatus = reply.status;
        respond(socket, reply.status, reply.body, request.keepAlive);
        break;
    case CloudAnswer::Slow: {
        request.answerStatus = reply.status;
        m_held.insert(socket);
        const QPointer<QTcpSocket> late(socket);
        QTimer::singleShot(int(reply.size), this, [this, late, reply, keepAlive = request.keepAlive] {
            if (!late || !m_held.remove(late))
                return;
            respond(late, reply.status, reply.body, keepAlive);
        });
        break;
    }
    case CloudAnswer::Truncated:
        request.answerStatus = reply.status;
        socket->write(
            responseHead(reply.status,
                "Content-Length: " + QByteArray::number(reply.body.size() + reply.size), false)
            + reply.body);
        socket->disconnectFromHost();
        break;
    case CloudAnswer::Stream:
        request.answerStatus = reply.status;
        stream(socket, reply);
        break;
    }

    m_requests.append(request);
    if (m_requests.size() > KeptRequests)
        m_requests.removeFirst();
    emit requestReceived(request);
}

void CloudService::respond(QTcpSocket* socket, int status, const QByteArray& body, bool keepAlive)
{
    socket->write(
        responseHead(status, "Content-Length: " + QByteArray::number(body.size()), keepAlive)
        + body);
    if (!keepAlive)
        socket->disconnectFromHost();
}

QByteArray CloudService::responseHead(int status, const QByteArray& length, bool keepAlive)
{
    QByteArray head
        = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    head += "Content-Type: application/json\r\n";
    head += length + "\r\n";
    head += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    return head + "\r\n";
}

// The padding is made as the peer takes it, so that an endless or huge body costs the service
// no memory.
void CloudService::stream(QTcpSocket* socket, const CloudAnswer& answer)
{
    const bool chunked = answer.size < 0;
    const QByteArray length = chunked
        ? QByteArray("Transfer-Encoding: chunked")
        : "Content-Length: " + QByteArray::number(answer.body.size() + answer.size);
    socket->write(responseHead(answer.status, length, false));
    socket->write(chunked ? chunk(answer.body) : answer.body);
    m_streaming.insert(socket); // whatever else the peer sends is not read as a request
    auto left = std::make_shared<qint64>(answer.size);
    const auto pump = [this, socket, chunked, left] {
        constexpr qint64 piece = 64 * 1024;
        while (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() < piece
            && *left != 0) {
            const qint64 size = chunked ? piece : qMin(piece, *left);
            const QByteArray blanks(int(size), ' ');
            socket->write(chunked ? chunk(blanks) : blanks);
            m_streamed += size;
            if (!chunked)
                *left -= size;
        }
        if (*left == 0)
            socket->disconnectFromHost();
    };
    connect(socket, &QTcpSocket::bytesWritten, this, pump);
    pump();
}

QByteArray CloudService::chunk(const QByteArray& bytes)
{
    return QByteArray::number(bytes.size(), 16) + "\r\n" + bytes + "\r\n";
}

qint64 CloudService::streamedBytes() const
{
    return m_streamed;
}

CloudAnswer CloudService::takeAnswer(const QString& resource, const QByteArray& method)
{
    const QString key = answerKey(resource, method);
    auto queued = m_queuedAnswers.find(key);
    if (queued != m_queuedAnswers.end() && !queued->isEmpty())
        return queued->takeFirst();
    return m_answers.value(key);
}

CloudAnswer CloudService::fromRegistry(const CloudRequest& request)
{
    const QByteArray& method = request.method;
    const QJsonObject& body = request.json;
    auto notAllowed = [&] {
        return failure(405,
            QStringLiteral("%1 is not allowed on %2")
                .arg(QString::fromLatin1(method), request.resource));
    };

    if (request.resource == QLatin1String("device_model")) {
        if (method == "PATCH") {
            const QJsonValue code = body.value(QLatin1String("code"));
            if (!code.isDouble())
                return failure(400, QStringLiteral("a numeric \"code\" is needed"));
            const qint64 number = qint64(code.toDouble());
            int& id = m_models[number];
            if (id == 0)
                id = m_nextModelId++;
            return CloudAnswer::json(200, { { "id", id }, { "code", number } });
        }
        if (method == "POST")
            return createDevice(request);
        return notAllowed();
    }

    if (request.resource == QLatin1String("device")) {
        if (method == "GET") {
            QString code = request.queryValue(QStringLiteral("code"));
            if (code.isEmpty())
                code = body.value(QLatin1String("code")).toString();
            if (code.isEmpty())
                return failure(400, QStringLiteral("a \"code\" is needed"));
            const QJsonObject entry = device(code);
            if (entry.isEmpty())
                return failure(404, QStringLiteral("no device %1").arg(code));
            return CloudAnswer::json(200, entry);
        }
        if (method == "POST")
            return createDevice(request);
        if (method == "PUT") {
            if (!request.bodyIsJson)
                return failure(400, QStringLiteral("a JSON object is needed"));
            int id = body.value(QLatin1String("id")).toInt();
            if (!m_devices.contains(id))
                id = device(body.value(QLatin1String("code")).toString()).value("id").toInt();
            if (!m_devices.contains(id))
                return failure(404, QStringLiteral("no such device"));
            QJsonObject& entry = m_devices[id];
            for (auto it = body.begin(); it != body.end(); ++it)
                entry.insert(it.key(), it.value());
            entry.insert(QStringLiteral("id"), id);
            return CloudAnswer::json(200, entry);
        }
        return notAllowed();
    }

    if (request.resource == QLatin1String("device_work_records")) {
        if (method == "POST") {
            if (!request.bodyIsJson)
                return failure(400, QStringLiteral("a JSON object is needed"));
            const QByteArray key = request.header("idempotency-key").left(200);
            if (!key.isEmpty() && m_recordKeys.contains(key)) {
                ++m_repeatedRecords;
                return CloudAnswer::json(200, { { "id", m_recordKeys.value(key) } });
            }
            const int id = m_workRecords.size() + 1;
            QJsonObject record = body;
            record.insert(QStringLiteral("id"), id);
            m_workRecords.append(record);
            if (!key.isEmpty())
                m_recordKeys.insert(key, id);
            return CloudAnswer::json(200, { { "id", id } });
        }
        if (method == "GET") {
            QJsonArray records;
            for (const QJsonObject& record : qAsConst(m_workRecords))
                records.append(record);
            return CloudAnswer::json(200, { { "records", records } });
        }
        return notAllowed();
    }

    return failure(404, QStringLiteral("no resource %1").arg(request.path));
}

CloudAnswer CloudService::createDevice(const CloudRequest& request)
{
    const QString code = request.json.value(QLatin1String("code")).toString();
    if (!request.bodyIsJson || code.isEmpty())
        return failure(400, QStringLiteral("a device needs a \"code\""));
    const QJsonObject existing = device(code);
    if (!existing.isEmpty())
        return CloudAnswer::json(409,
            { { "error", QStringLiteral("device %1 exists").arg(code) },
                { "id", existing.value("id") } });
    const int id = addDevice(request.json);
    return CloudAnswer::json(200, m_devices.value(id));
}

void CloudService::setChannelMode(ChannelMode mode)
{
    m_channelMode = mode;
}

qint64 CloudService::hostileBytesSent() const
{
    qint64 bytes = m_hostileBytes;
    for (const HostileChannel* channel : findChildren<HostileChannel*>())
        bytes += channel->bytesSent();
    return bytes;
}

int CloudService::promptsSent() const
{
    int prompts = m_floodPrompts;
    for (const HostileChannel* channel : findChildren<HostileChannel*>())
        prompts += channel->promptsSent();
    return prompts;
}

// The channel port takes the connections itself, so that a hostile mode can play the wire
// below the WebSocket library; the others are handed to the WebSocket server.
void CloudService::acceptChannel()
{
    while (QTcpSocket* socket = m_channelPort->nextPendingConnection()) {
        if (m_channelMode == ChannelMode::Normal || m_channelMode == ChannelMode::PromptFlood) {
            m_webSocket->handleConnection(socket);
            continue;
        }
        auto* channel = new HostileChannel(socket,
            m_channelMode == ChannelMode::EndlessMessage ? HostileChannel::EndlessMessage
                                                         : HostileChannel::FloodWithoutReading,
            this);
        connect(channel, &HostileChannel::closed, this, [this](qint64 bytes, int prompts) {
            m_hostileBytes += bytes;
            m_floodPrompts += prompts;
        });
    }
}

// Distinct prompts as fast as the device takes them.
void CloudService::flood(QWebSocket* socket)
{
    const auto pump = [this, socket] {
        while (socket->state() == QAbstractSocket::ConnectedState
            && socket->bytesToWrite() < 64 * 1024)
            socket->sendTextMessage(QStringLiteral("prompt %1").arg(++m_floodPrompts));
    };
    connect(socket, &QWebSocket::bytesWritten, this, pump);
    pump();
}

void CloudService::acceptWebSocket()
{
    static const QString suffix = QStringLiteral("/Device/");
    while (QWebSocket* socket = m_webSocket->nextPendingConnection()) {
        socket->setParent(this);
        const QString path = socket->requestUrl().path(QUrl::FullyDecoded);
        if (!path.startsWith(m_basePath) || !path.endsWith(suffix)
            || path.size() < m_basePath.size() + suffix.size()) {
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated,
                QStringLiteral("no channel at %1").arg(path));
            socket->deleteLater();
            continue;
        }
        const QString code
            = path.mid(m_basePath.size(), path.size() - m_basePath.size() - suffix.size());
        m_channels.insert(code, socket);
        connect(socket, &QWebSocket::textMessageReceived, this, [this, code](const QString& text) {
            QStringList& received = m_reports[code];
            received.append(text);
            if (received.size() > KeptReports)
                received.removeFirst();
            emit reportReceived(code, text);
        });
        connect(socket, &QWebSocket::disconnected, this, [this, code, socket] {
            m_channels.remove(code, socket);
            socket->deleteLater();
            emit deviceDisconnected(code);
        });
        emit deviceConnected(code);
        if (m_channelMode == ChannelMode::PromptFlood)
            flood(socket);
    }
}
