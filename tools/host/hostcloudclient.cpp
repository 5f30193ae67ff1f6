#include "hostcloudclient.h"

#include <QPointer>
#include <QThread>

void HostCloudClient::customRequest(const QString& path, QByteArray method, QJsonObject body,
    std::function<void(QNetworkReply*, bool)> handler)
{
    // The base class passes a request from another thread on to this one, through this member
    // again; it is told about then.
    if (QThread::currentThread() != thread()) {
        CorvaneCloud::customRequest(path, method, body, handler);
        return;
    }
    CloudExchange exchange;
    exchange.path = path;
    exchange.method = method;
    exchange.body = body;
    emit requestSent(exchange);

    QPointer<HostCloudClient> self(this);
    CorvaneCloud::customRequest(
        path, method, body, [self, exchange, handler](QNetworkReply* reply, bool usable) mutable {
            exchange.answered = true;
            exchange.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            exchange.reason
                = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
            exchange.usable = usable;
            exchange.error = reply->error();
            exchange.errorText = reply->errorString();
            // Peeked, not read: the device's handler reads the body itself.
            if (reply->isOpen())
                exchange.response = reply->peek(reply->bytesAvailable());
            const bool heldBack
                = exchange.status == 0 && !self->m_lookupRetries && exchange.is("GET", "device");
            if (handler && !heldBack)
                handler(reply, usable);
            // A handler may spin an event loop in which the client goes.
            if (self)
                emit self->replyReceived(exchange);
        });
}
