#pragma once

#include "cloudanswer.h"
#include "cloudrequest.h"

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QUrl>

class HttpRequestParser;
class QTcpServer;
class QTcpSocket;
class QWebSocket;
class QWebSocketServer;

// A cloud service for tests and bench work, on 127.0.0.1 only.
//
// HTTP: the resources "device_model", "device" and "device_work_records" under the base path.
// By default they behave like the real service, backed by a registry kept in memory:
//   PATCH device_model {"code": N}   model id for model number N, assigned on first sight
//   POST  device_model (or device)   creates a device entry from the body, which needs a "code";
//                                    409 when the code is taken
//   GET   device?code=C              the entry, or 404 until it has been created
//   PUT   device                     stores the body's keys in the entry named by "id" (or
//                                    "code"); 404 when there is none
//   POST  device_work_records        stores the record; GET lists them. A record whose
//                                    "Idempotency-Key" header was seen before is answered as the
//                                    first one was and not stored again
// A resource and method can be given a fixed answer instead (CloudAnswer), for good or for the
// next request only. Every request is recorded with the status it got.
//
// WebSocket: a device connects to "<base path><code>/Device/" on the WebSocket port. The service
// sends prompts to a code's sockets and collects the runtime reports they send.
class CloudService : public QObject {
    Q_OBJECT
public:
    explicit CloudService(QObject* parent = nullptr);
    ~CloudService() override;

    // Resources live under this path, "/api/" unless changed; set it before devices connect.
    QString basePath() const;
    void setBasePath(const QString& path);

    // When set, requests without "Authorization: Bearer <token>" are answered 401.
    void setRequiredToken(const QString& token);

    // Listens on 127.0.0.1; port 0 takes a free one. False, with errorString(), on failure.
    bool listen(quint16 httpPort = 0, quint16 webSocketPort = 0);
    QString errorString() const;
    quint16 httpPort() const;
    quint16 webSocketPort() const;
    QUrl httpBase() const; // "http://127.0.0.1:<port><base path>"
    QString wsBase() const; // "ws://127.0.0.1:<port><base path>"

    // A fixed answer for resource and method from now on, or for the next request only; queued
    // answers are used in order before the lasting one.
    void setAnswer(const QString& resource, const QByteArray& method, const CloudAnswer& answer);
    void queueAnswer(const QString& resource, const QByteArray& method, const CloudAnswer& answer);
    void resetAnswers();

    // Requests received, oldest first (the last 10000 are kept). resource or method empty
    // matches any.
    QList<CloudRequest> requests(const QString& resource = {}, const QByteArray& method = {}) const;
    void clearRequests();
    // Connections the service is holding without an answer.
    int heldConnections() const;
    // Bytes of padding the huge and endless answers have sent so far.
    qint64 streamedBytes() const;

    // Registry.
    QJsonObject device(const QString& code) const; // empty when there is none
    QList<QJsonObject> devices() const;
    int addDevice(QJsonObject entry); // stores entry under a new id and returns the id
    int modelId(qint64 modelNumber) const; // 0 when the model was never asked for
    QList<QJsonObject> workRecords() const;
    // Work records dropped as repeats of one already stored (the same Idempotency-Key).
    int repeatedRecords() const { return m_repeatedRecords; }

    // WebSocket channel.
    QStringList connectedCodes() const;
    // Sends text to every socket of code; returns how many there were.
    int sendPrompt(const QString& code, const QString& text);
    // Closes every socket of code, as a service going down for maintenance would.
    void dropChannel(const QString& code);
    QStringList reports(const QString& code) const;
    void clearReports();

    // How channels opened from now on behave.
    enum class ChannelMode {
        Normal,
        EndlessMessage, // one text message without end: continuation frames, never a final one
        PromptFlood, // distinct prompts as fast as the device reads them
        FloodWithoutReading, // the same, and nothing the device sends is ever read
    };
    void setChannelMode(ChannelMode mode);
    // What the hostile modes have sent: bytes of the endless messages, prompts of the floods.
    qint64 hostileBytesSent() const;
    int promptsSent() const;

signals:
    void requestReceived(const CloudRequest& request);
    void deviceConnected(const QString& code);
    void deviceDisconnected(const QString& code);
    void reportReceived(const QString& code, const QString& text);

private:
    void acceptHttp();
    void readHttp(QTcpSocket* socket);
    void dropHttp(QTcpSocket* socket);
    void answer(QTcpSocket* socket, CloudRequest& request);
    void respond(QTcpSocket* socket, int status, const QByteArray& body, bool keepAlive);
    static QByteArray responseHead(int status, const QByteArray& length, bool keepAlive);
    void stream(QTcpSocket* socket, const CloudAnswer& answer);
    static QByteArray chunk(const QByteArray& bytes);
    CloudAnswer takeAnswer(const QString& resource, const QByteArray& method);
    CloudAnswer fromRegistry(const CloudRequest& request);
    CloudAnswer createDevice(const CloudRequest& request);
    void acceptChannel();
    void acceptWebSocket();
    void flood(QWebSocket* socket);

    QTcpServer* m_http;
    QTcpServer* m_channelPort;
    QWebSocketServer* m_webSocket;
    QString m_basePath = QStringLiteral("/api/");
    QString m_requiredToken;
    QString m_error;

    QHash<QTcpSocket*, HttpRequestParser*> m_parsers;
    QSet<QTcpSocket*> m_held;
    QSet<QTcpSocket*> m_streaming;
    QHash<QString, CloudAnswer> m_answers;
    QHash<QString, QList<CloudAnswer>> m_queuedAnswers;
    QList<CloudRequest> m_requests;
    qint64 m_streamed = 0;

    QMap<int, QJsonObject> m_devices; // by id
    QMap<qint64, int> m_models; // model number -> id
    QList<QJsonObject> m_workRecords;
    QHash<QByteArray, int> m_recordKeys; // Idempotency-Key -> record id
    int m_repeatedRecords = 0;
    int m_nextDeviceId = 1001;
    int m_nextModelId = 1;

    QMultiHash<QString, QWebSocket*> m_channels;
    QHash<QString, QStringList> m_reports;
    ChannelMode m_channelMode = ChannelMode::Normal;
    qint64 m_hostileBytes = 0; // of hostile channels already closed
    int m_floodPrompts = 0; // of floods through the WebSocket server and closed hostile channels
};
