#pragma once

#include "carriage.h"
#include "outbox.h"
#include "place.h"
#include "session.h"
#include "store.h"

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QTimer>

#include <memory>

class QWebSocket;
class QWebSocketServer;

struct ServiceOptions {
    static constexpr quint16 defaultPort = Settings::defaultServicePort;

    SessionOptions session;
    QHostAddress address = QHostAddress::LocalHost;
    quint16 port = defaultPort; // 0 takes a free one
    QString token; // required of every client when set; needed to listen beyond this machine
    QString database; // empty: Store::defaultPath()
    qint64 maxMessageBytes = Carriage::maxContentBytes; // from a client: a job's HP-GL
    qint64 maxBacklogBytes = 4 * 1024 * 1024; // left unread by a client, which is then dropped
    int maxClients = 500;
    int maxClientsPerPeer = 400; // from one address
    // Every client's cut data on its way in, together: a job announced beyond it is refused.
    qint64 maxIntakeBytes = 256 * 1024 * 1024;
    // Messages that are not cut data (a job request with its picture is the largest), shared
    // by all clients: each may send its share, at least 64 KiB and at most 2 MiB.
    qint64 maxTextBytes = 64 * 1024 * 1024;
    int dataWaitMs = 60000; // for a job's announced cut data; its client is dropped after
    // A client that has sent nothing for this long makes room for a new one when all are taken.
    int idleMs = 60000;
    // The pause before reconnecting grows on every loss, and starts over only once the link has
    // stayed up this long.
    int stableLinkMs = 20000;
};

// The machine service: one process holds the session with the machine (its device and link, the
// cloud service) and serves any number of clients over a WebSocket with JSON messages. Clients
// ask what a session is asked (see Carriage for the requests and results); every client hears the
// link's state, the machine's reports, the device's messages and the jobs' changes. Jobs wait in a
// queue and run one at a time; each is kept in the store from its submission to its end. A lost
// link is opened again with a growing pause, and a job the machine is still cutting is followed
// again, never sent twice; a service started after a crash follows the job it left.
//
// A job's cut data comes as one binary message right after the job request that announces its
// size ("content_bytes"); a client's jobs are taken in one after the other, a few at most. The
// service checks the HP-GL on a thread of its own, never on the one that serves the machine and the
// clients, keeps it beside its database (plans/<sha256>.plt) for cutting the rest later, and then
// queues the job. A job whose end nobody saw (the link, the machine or the service went away) is
// interrupted, with what the machine confirmed; a report of it that comes later settles it.
//
// Messages (text, one JSON object each, but for a job's data). From a client:
//   {"id": n, "request": {...}}  then, for a job, its HP-GL as one binary message
//   {"cancel": n}  (a job of its own: stop it, or take it out of the queue)
// From the service:
//   {"id": n, "result": {...}}  {"id": n, "progress": report}
//   {"id": n, "notice": text, "job": id}  (a job's id once it is stored)
//   A job's result carries its record as the history keeps it, as "jobs": [record].
//   {"event": "hello", "machine", "link", "answering", "state": report}
//   {"event": "link", "link": up|connecting|lost|failed|closed, "text"}
//   {"event": "answering", "answering"}  {"event": "report", "report"}
//   {"event": "message", "kind", "text"}  {"event": "notice", "text"}  {"event": "job", "job"}
//   {"error": text}  (for a message that is no request)
class MachineService : public QObject {
    Q_OBJECT
public:
    static constexpr int maxOpenRequests = 64; // per client
    static constexpr int maxQueuedJobs = 100;
    static constexpr int maxQueuedPerClient = 20; // its jobs in the queue and on their way in
    static constexpr int maxIntake = 8; // jobs of one client on their way in at once
    static constexpr int maxMachineRequests = 4; // clients' requests at the machine at once
    static constexpr int refusalLogMs = 10000; // refused clients are logged once in this time

    explicit MachineService(QObject* parent = nullptr);
    ~MachineService() override;

    // Opens the store, loads the plugin, listens and connects to the machine. False with the
    // reason in *error, and *exitCode as the command line reports it.
    bool start(const ServiceOptions& options, QString* error, int* exitCode);
    quint16 port() const;
    Session* session() const { return m_session.get(); }
    Store* store() { return &m_store; }
    int clientCount() const { return m_clients.size(); }

signals:
    // A line for the service's own log.
    void log(const QString& line);

private:
    struct Queued {
        qint64 job = 0;
        Request request;
        QPointer<QWebSocket> client;
        qint64 id = 0; // the client's request id
        double perCopyMm = 0;
    };
    // A job on its way in from a client: announced, then its data, then checked.
    struct Intake {
        qint64 id = 0;
        Request request;
        qint64 bytes = 0; // announced
        bool checking = false;
        qint64 restOf = 0;
        QElapsedTimer since; // announced
    };
    // A client's request for the machine, waiting for its turn.
    struct Asked {
        qint64 id = 0;
        Request request;
    };
    struct Client {
        int open = 0; // requests not answered yet
        QString peer;
        QElapsedTimer heard; // its last message
        QList<Asked> waiting; // for the machine, oldest first
        QList<QPointer<Reply>> atMachine;
    };
    // What the check of a job's HP-GL found, on its own thread.
    struct Checked {
        QString error;
        QJsonObject fileInfo;
        QJsonObject plan;
        double perCopyMm = 0;
    };
    struct Running : Queued {
        QPointer<Reply> reply;
        QString machineJob; // the machine's name of it, once it has reported it
        QDateTime started; // when it was sent
        TaskReport last;
        bool following = false; // the link went down while the machine cut it
    };

    void accept();
    bool admit(QWebSocket* client, QString* why);
    void drop(QWebSocket* client, const QString& reason);
    void leave(QWebSocket* client);
    void sweep();
    qint64 intakeBytes() const;
    void fitMessageSize(QWebSocket* client);
    void fitMessageSizes();
    qint64 textShare() const;
    void ask(QWebSocket* client, qint64 id, const Request& request);
    void dispatch();
    void onText(QWebSocket* client, const QString& text);
    void onBinary(QWebSocket* client, const QByteArray& data);
    void handle(QWebSocket* client, qint64 id, const Request& request);
    void check(QWebSocket* client);
    void measure(QWebSocket* client);
    void submit(QWebSocket* client, const Intake& intake, const Checked& checked);
    void cutRest(QWebSocket* client, qint64 id, const Request& request);
    void cutUnfinished(
        QWebSocket* client, qint64 id, const Request& request, const QJsonObject& job);
    void unqueueAfter(qint64 job);
    void cancel(QWebSocket* client, qint64 id);
    void unqueue(int index, const QString& reason);
    QJsonArray queueJobs() const;
    void answer(QWebSocket* client, qint64 id, const Result& result);
    void release(QWebSocket* client);
    void send(QWebSocket* client, const QJsonObject& message);
    void broadcast(const QJsonObject& message);
    void tell(const QString& line);
    // Stores a job's changes and tells every client the job as stored; false when they could
    // not be stored, which the clients and the log hear once until they can be again.
    bool jobChanged(qint64 job, const QJsonObject& changes);

    void onLink(Session::Link link);
    void reconnect();
    void startCloud();
    void resume();
    void startNextJob();
    void runJob(Running job, const Request& request);
    void onJobProgress(const TaskReport& report);
    void onJobEnded(const Result& result);
    // A job followed while the machine cannot be reached ends as interrupted, for this reason.
    void dropFollowed(const QString& reason);
    // The machine hangs with its link up: the link is closed and opened again.
    void relink();
    void settleLate(const TaskReport& report);
    void postConfirmed(qint64 job, int copies);
    void refuse(QWebSocket* client, qint64 id, Result::Outcome outcome, const QString& reason);

    ServiceOptions m_options;
    Store m_store;
    std::unique_ptr<Session> m_session;
    std::unique_ptr<Outbox> m_outbox;
    std::unique_ptr<QWebSocketServer> m_server;
    QHash<QWebSocket*, Client> m_clients;
    QList<QWebSocket*> m_turns; // clients with requests waiting for the machine, next first
    int m_atMachine = 0;
    QTimer m_sweep;
    QElapsedTimer m_refusalLogged;
    int m_refusedUnlogged = 0;
    // The last report sent to a job's client as its job's progress, which it does not hear again.
    QPointer<QWebSocket> m_progressClient;
    QString m_progressText;
    QHash<QWebSocket*, QList<Intake>> m_intake; // oldest first
    QList<Queued> m_queue;
    QSet<qint64> m_unstored; // jobs whose last changes the store could not take
    QHash<QString, qint64> m_unsettled; // interrupted jobs by the machine's name of them
    Running m_running;
    QTimer m_reconnect;
    QTimer m_stable; // the link has stayed up: the reconnect pause starts over
    int m_attempts = 0;
    bool m_cloudStarted = false;
    bool m_wasUp = false;
    QString m_claim; // the claim file on the machine held
    qint64 m_recordFor = 0; // the job a work record the device posts now belongs to
};
