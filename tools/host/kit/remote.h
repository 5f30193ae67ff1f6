#pragma once

#include "session.h"

#include <QHash>
#include <QUrl>
#include <QWebSocket>

// A session with the machine through the machine service (zrhost serve), with the surface of a
// session of its own, so that the commands and the panel do not care which they have. The plugin
// is loaded here too, for the parameters' names, editors and units; their values come with the
// service's answers. The link is the service's: it is up while the service has the machine, and
// "connecting" while the service reconnects (its notices tell why); it is lost when the
// connection to the service closes, which ends every request still open: a job's with its record
// as the service last told it, and words that say how far it got. A job's cut data goes as one
// binary message after its request.
class RemoteSession : public Session {
    Q_OBJECT
public:
    // The most a message from the service may hold.
    static constexpr qint64 maxMessageBytes = 64 * 1024 * 1024;

    RemoteSession(const QUrl& server, const QString& token, QObject* parent = nullptr);
    ~RemoteSession() override;

    void connectMachine() override;
    // The service holds the link to the machine: this attaches to the service.
    void connectTo(const MachineTarget& target) override;
    void closeLink(const QList<QByteArray>& keep = {}) override;
    Reply* send(const Request& request) override;
    QString machineName() const override { return m_machine; }
    // Connected to the service and greeted by it, whether or not it has the machine now.
    bool isAttached() const { return m_attached; }

private:
    void onText(const QString& text);
    void onEvent(const QJsonObject& event);
    void onReport(const TaskReport& report);
    void setServiceLink(const QString& state, const QString& reason);
    void endReplies(const QString& reason);

    QUrl m_server;
    QString m_token;
    QWebSocket m_socket;
    QHash<qint64, QPointer<Reply>> m_replies;
    QHash<qint64, qint64> m_jobs; // the service's job id of a job request
    qint64 m_lastId = 0;
    QString m_machine;
    QString m_serviceReason; // why the service has no link, while it has none
    bool m_attached = false;
};
