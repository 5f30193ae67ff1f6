#include "corvanecloud.h"

#include "zrdevicehost.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QThread>

namespace {

const char* const tooLargeProperty = "corvaneCloudReplyTooLarge";

// A method that cannot go on a request line: it would corrupt the request or smuggle headers.
bool isHttpToken(const QByteArray& method)
{
    static const QByteArray punctuation("!#$%&'*+-.^_`|~");
    if (method.isEmpty())
        return false;
    for (char c : method) {
        const bool alphanumeric
            = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (!alphanumeric && !punctuation.contains(c))
            return false;
    }
    return true;
}

QString queryText(const QJsonValue& value)
{
    if (value.isString())
        return value.toString();
    const QByteArray array = QJsonDocument(QJsonArray { value }).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

QString queryOf(const QJsonObject& body)
{
    QStringList items;
    for (auto it = body.begin(); it != body.end(); ++it) {
        items.append(QString::fromLatin1(QUrl::toPercentEncoding(it.key()) + '='
            + QUrl::toPercentEncoding(queryText(it.value()))));
    }
    return items.join(QLatin1Char('&'));
}

// The reply of a request that was never sent. It finishes with an error and no status, like a
// request the network refused.
class RefusedReply : public QNetworkReply {
public:
    RefusedReply(const QNetworkRequest& request, const QByteArray& method, QObject* parent)
        : QNetworkReply(parent)
    {
        setRequest(request);
        setUrl(request.url());
        setOperation(QNetworkAccessManager::CustomOperation);
        setAttribute(QNetworkRequest::CustomVerbAttribute, method);
        setError(ProtocolInvalidOperationError, QStringLiteral("Invalid HTTP method"));
        open(QIODevice::ReadOnly);
        setFinished(true);
        QMetaObject::invokeMethod(this, "finished", Qt::QueuedConnection);
    }
    void abort() override { }

protected:
    qint64 readData(char*, qint64) override { return -1; }
};

// A body past the limit is not read on: the reply is aborted, which finishes it. The read buffer
// keeps the network from reading far ahead of the check; it is larger than the limit, since the
// network stops filling it a little before it is full and would then wait for a reader.
void limitSize(QNetworkReply* reply)
{
    constexpr qint64 limit = CorvaneCloud::maxReplyBytes;
    reply->setReadBufferSize(2 * limit);
    const auto check = [reply] {
        if (reply->isFinished()
            || (reply->bytesAvailable() <= limit
                && reply->header(QNetworkRequest::ContentLengthHeader).toLongLong() <= limit))
            return;
        reply->setProperty(tooLargeProperty, true);
        reply->abort();
    };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, check);
    QObject::connect(reply, &QNetworkReply::readyRead, reply, check);
}

} // namespace

CorvaneCloud::CorvaneCloud(QObject* parent)
    : QObject(parent)
    , m_network(new QNetworkAccessManager(this))
{ }

CorvaneCloud::CorvaneCloud(const QUrl& httpBase, const QString& wsBase, QObject* parent)
    : CorvaneCloud(parent)
{
    m_httpBase = httpBase;
    m_wsBase = wsBase;
}

CorvaneCloud::~CorvaneCloud() = default;

void CorvaneCloud::customRequest(const QString& path, QByteArray method, QJsonObject body,
    std::function<void(QNetworkReply*, bool)> handler)
{
    customRequestWithHeaders(path, method, body, {}, handler);
}

void CorvaneCloud::customRequestWithHeaders(const QString& path, const QByteArray& method,
    const QJsonObject& body, const QList<QPair<QByteArray, QByteArray>>& headers,
    std::function<void(QNetworkReply*, bool)> handler)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [=] { customRequestWithHeaders(path, method, body, headers, handler); },
            Qt::QueuedConnection);
        return;
    }
    QNetworkReply* reply = send(path, method, body, headers);
    limitSize(reply);
    // Queued, so that the handler runs after the reply has left its finished() emission: the
    // handler may then spin an event loop, or the client may go, without pulling the reply out
    // from under the network code.
    QPointer<QNetworkReply> guard(reply);
    connect(
        reply, &QNetworkReply::finished, this,
        [guard, handler] {
            if (!guard)
                return;
            if (handler) {
                const int status
                    = guard->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
                const bool usable
                    = guard->error() == QNetworkReply::NoError && status >= 200 && status < 300;
                handler(guard, usable);
            }
            if (guard)
                guard->deleteLater();
        },
        Qt::QueuedConnection);
}

bool CorvaneCloud::replyTooLarge(const QNetworkReply* reply)
{
    return reply && reply->property(tooLargeProperty).toBool();
}

QString CorvaneCloud::describeReply(QNetworkReply* reply, bool usable) const
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status == 0 && reply->error() == QNetworkReply::OperationCanceledError
        && !replyTooLarge(reply))
        return QStringLiteral("no answer within %1 s").arg(m_requestTimeout / 1000.0);
    if (status == 0)
        return reply->errorString().isEmpty()
            ? QStringLiteral("no response")
            : QStringLiteral("no response (%1)").arg(ZRDevice::printable(reply->errorString()));
    QString text = QStringLiteral("HTTP %1 %2")
                       .arg(QString::number(status),
                           reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString())
                       .trimmed();
    const QByteArray body = reply->isOpen() ? reply->peek(64 * 1024) : QByteArray();
    const QString said = QJsonDocument::fromJson(body)[QLatin1String("error")].toString();
    if (status >= 400 && !said.isEmpty())
        text += QStringLiteral(" (%1)").arg(said.left(200));
    if (replyTooLarge(reply))
        text += QStringLiteral(", its body over %1 KiB and not read")
                    .arg(QString::number(maxReplyBytes / 1024));
    else if (!usable && status >= 200 && status < 300)
        text += QStringLiteral(", its body cut short");
    return ZRDevice::printable(text);
}

void CorvaneCloud::abortRequests()
{
    const QList<QNetworkReply*> replies = m_network->findChildren<QNetworkReply*>();
    for (QNetworkReply* reply : replies) {
        if (reply->isFinished())
            continue; // its handler is due, or running
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

QNetworkReply* CorvaneCloud::send(
    const QString& path, const QByteArray& method, const QJsonObject& body)
{
    return send(path, method, body, {});
}

QNetworkReply* CorvaneCloud::send(const QString& path, const QByteArray& method,
    const QJsonObject& body, const QList<QPair<QByteArray, QByteArray>>& headers)
{
    QUrl url = m_httpBase;
    QString resourcePath = url.path();
    if (!resourcePath.endsWith(QLatin1Char('/')))
        resourcePath += QLatin1Char('/');
    url.setPath(resourcePath + path);
    if (method == "GET" && !body.isEmpty()) {
        const QString query = url.query(QUrl::FullyEncoded);
        url.setQuery(query.isEmpty() ? queryOf(body) : query + QLatin1Char('&') + queryOf(body),
            QUrl::StrictMode);
    }

    QNetworkRequest request(url);
    request.setRawHeader("Accept", "application/json");
    if (!m_bearerToken.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + m_bearerToken.toUtf8());
    request.setTransferTimeout(m_requestTimeout);
    for (const auto& header : headers)
        request.setRawHeader(header.first, header.second);

    if (!isHttpToken(method))
        return new RefusedReply(request, method, m_network);
    if (method == "GET")
        return m_network->get(request);

    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    const QByteArray json = QJsonDocument(body).toJson(QJsonDocument::Compact);
    if (method == "POST")
        return m_network->post(request, json);
    if (method == "PUT")
        return m_network->put(request, json);
    return m_network->sendCustomRequest(request, method, json);
}

QString CorvaneCloud::ws()
{
    return m_wsBase;
}

QUrl CorvaneCloud::baseUrl() const
{
    return m_httpBase;
}

void CorvaneCloud::setBaseUrl(const QUrl& httpBase)
{
    m_httpBase = httpBase;
}

void CorvaneCloud::setWs(const QString& wsBase)
{
    m_wsBase = wsBase;
}

QString CorvaneCloud::bearerToken() const
{
    return m_bearerToken;
}

void CorvaneCloud::setBearerToken(const QString& token)
{
    m_bearerToken = token;
}

int CorvaneCloud::requestTimeout() const
{
    return m_requestTimeout;
}

void CorvaneCloud::setRequestTimeout(int milliseconds)
{
    m_requestTimeout = qMax(0, milliseconds);
}
