#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QUrl>

#include <functional>

class QNetworkAccessManager;
class QNetworkReply;

// The client of the cloud service. The host creates it and hands it to devices; a device only
// keeps the pointer. Both members are virtual so that a host or a test can put its own client in.
//
// The service is addressed by two bases that the host gives: the HTTP base under which the
// resources live (for instance "http://127.0.0.1:8700/api/") and the WebSocket base that devices
// extend with their code (for instance "ws://127.0.0.1:8701/api/"). A default-constructed client
// has neither; its requests fail at once with status 0 and its ws() is empty.
//
// The client lives in one thread, like every QObject: it sends from there and calls every
// handler there. Requests made from another thread are passed on to it.
class CorvaneCloud : public QObject {
    Q_OBJECT
public:
    explicit CorvaneCloud(QObject* parent = nullptr);
    CorvaneCloud(const QUrl& httpBase, const QString& wsBase, QObject* parent = nullptr);
    ~CorvaneCloud() override;

    // Sends one request for the resource path ("device", "device_model", "device_work_records")
    // with method "GET", "POST", "PUT" or "PATCH" and returns at once. handler, when given, is
    // called once with the finished reply and whether the reply is usable.
    //
    // The address is the HTTP base with path appended after a single '/'. POST, PUT and PATCH
    // carry body as compact JSON with Content-Type application/json. GET carries no body: each
    // top-level key of body becomes one query parameter, a string as it is and any other value as
    // its compact JSON text (so {"code": "AB12", "n": 3} asks for "?code=AB12&n=3"), UTF-8 and
    // percent-encoded. Any other method that is a valid HTTP token is sent like PATCH; one that
    // is not (empty, or with spaces or line breaks) is refused and its reply fails with status 0.
    //
    // The handler runs in the client's thread after the reply has finished, never from inside
    // customRequest. It may send further requests and may run a nested event loop. In the reply:
    // QNetworkRequest::HttpStatusCodeAttribute holds the HTTP status, or nothing (0 as int) when
    // no response arrived: connection refused, the request timeout ran out, or the connection
    // closed first; readAll() gives the response body. The flag is true when a complete response
    // with a 2xx status arrived: a body cut short by the connection closing, or one larger than
    // maxReplyBytes, makes it false. A body that grows past maxReplyBytes is not read further:
    // the request is aborted (OperationCanceledError, replyTooLarge() true) and the handler
    // called at once. The client deletes the reply (deleteLater) once the handler returns, so
    // the handler must not keep it. Requests still running when the client is destroyed, or
    // when abortRequests() is called, are aborted and their handlers are not called.
    virtual void customRequest(const QString& path, QByteArray method, QJsonObject body,
        std::function<void(QNetworkReply*, bool)> handler);
    // As customRequest, with these headers (name, value) added to the request: for instance an
    // "Idempotency-Key" that lets the service recognise a request sent again.
    void customRequestWithHeaders(const QString& path, const QByteArray& method,
        const QJsonObject& body, const QList<QPair<QByteArray, QByteArray>>& headers,
        std::function<void(QNetworkReply*, bool)> handler);

    // Aborts every request still waiting for its reply, for a caller that gives up on the
    // service; their handlers are not called. Later requests are sent as usual.
    void abortRequests();

    // The largest response body the client takes: 1 MiB, far above any answer of the service.
    static constexpr qint64 maxReplyBytes = 1024 * 1024;
    // Whether reply was aborted because its body grew past maxReplyBytes.
    static bool replyTooLarge(const QNetworkReply* reply);
    // What a finished reply got, for a person, its texts shown as plain text: "HTTP 500 Internal
    // Server Error", "HTTP 409 Conflict (device ZR1 exists)" with the service's own "error" words,
    // "HTTP 200 OK, its body cut short", "no answer within 5 s", "no response (Connection
    // refused)".
    QString describeReply(QNetworkReply* reply, bool usable) const;

    // Base of the service's WebSocket address; devices append their code and "/Device/".
    virtual QString ws();

    QUrl baseUrl() const;
    void setBaseUrl(const QUrl& httpBase);
    void setWs(const QString& wsBase);

    // Sent as "Authorization: Bearer <token>" with every request; none when empty (the default).
    QString bearerToken() const;
    void setBearerToken(const QString& token);

    // A request that transfers nothing for this long is aborted and reported with status 0, so a
    // service that never answers does not hold a handler forever. 30000 ms unless set; 0 waits
    // without limit.
    int requestTimeout() const;
    void setRequestTimeout(int milliseconds);

private:
    QNetworkReply* send(const QString& path, const QByteArray& method, const QJsonObject& body,
        const QList<QPair<QByteArray, QByteArray>>& headers);
    // The form of release 2.0.0, which its library exports: without headers of the caller's.
    QNetworkReply* send(const QString& path, const QByteArray& method, const QJsonObject& body);

    QNetworkAccessManager* m_network; // child of the client
    QUrl m_httpBase;
    QString m_wsBase;
    QString m_bearerToken;
    int m_requestTimeout = 30000;
};
