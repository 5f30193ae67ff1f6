#pragma once

#include "cloud.h"
#include "request.h"
#include "simoptions.h"

#include <QElapsedTimer>
#include <QHash>
#include <QJsonArray>
#include <QList>
#include <QObject>
#include <QPluginLoader>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <QVariant>
#include <QVector>

#include <memory>

class SimMachine;
class SimTcpFront;
class ZRDeviceProperty;

// Where the machine is: the simulator the host runs itself, a machine on the network, or one on
// a USB port (its character device).
struct MachineTarget {
    enum Kind { Embedded, Tcp, Usb };

    Kind kind = Embedded;
    QString address; // Tcp: IP address or host name
    quint16 port = 9100; // Tcp
    QString usbPath; // Usb

    static MachineTarget tcp(const QString& address, quint16 port)
    {
        return { Tcp, address, port, {} };
    }
    static MachineTarget usb(const QString& path) { return { Usb, QString(), 9100, path }; }
    // "192.168.1.20:9100", "USB /dev/ttyACM0" or "the embedded simulator".
    QString describe() const
    {
        return kind == Tcp ? QStringLiteral("%1:%2").arg(address, QString::number(port))
            : kind == Usb  ? QStringLiteral("USB %1").arg(usbPath)
                           : QStringLiteral("the embedded simulator");
    }
};

struct SessionOptions {
    QString pluginDir; // empty: the default plugin folders
    MachineTarget target; // the embedded simulator unless an address or a USB path is given
    SimOptions simulator;
    int heartbeatSeconds = 0; // > 0: set on the device and told to the machine
    int connectTimeoutMs = 10000;
    int replyTimeoutMs = 1000;
    // A read not answered after this long is sent once more (its frame or its answer may have
    // been lost on the way); -1: half the reply time-out; 0: never.
    int resendReadAfterMs = -1;
    int lostAfterMs = 10000; // silence after which the machine counts as lost
    CloudOptions cloud;
};

// A host's session with one machine: the plugin, one device built by it, the link (to the
// embedded simulator unless the options name a machine), an optional cloud service, and the one
// request path through which everything is asked of the machine.
//
// Each request waits for the parameters it asked for to say that an answer was applied to them
// (answered, or retStatus for a command that answers with a status). Short requests run one
// after the other, each within the reply time-out (reads are sent again once, see
// resendReadAfterMs); a job runs beside them, so that it can be paused and stopped. The device
// keeps its heartbeat: every answer is a sign of life, a machine that answers nothing for several
// heartbeat periods is shown as not answering, and one silent past lostAfterMs ends every request
// as lost.
class Session : public QObject {
    Q_OBJECT
public:
    enum Link { Closed, Connecting, Up, Failed, Lost };
    Q_ENUM(Link)
    // Each link state's name in JSON ("up"), and its words for a person in the user's language,
    // with the machine's name where it is up ("Connected to %1").
    static QLatin1String linkName(Link link);
    static QString linkText(Link link, const QString& machine);

    explicit Session(QObject* parent = nullptr);
    ~Session() override;

    // Loads the plugin and builds the device. False with errorString() when it cannot.
    bool open(const SessionOptions& options);
    // Starts the embedded machine when no machine is named and connects; linkChanged() or failed()
    // follows. The link counts as up once the machine has answered.
    virtual void connectMachine();
    virtual void connectTo(const MachineTarget& target);
    // Closes the link: the contract has no call for it, so the device goes and a fresh one takes
    // its place, holding the values of the old one under the given names.
    virtual void closeLink(const QList<QByteArray>& keep = {});
    // Starts the cloud service the options name (if any) and registers the device with it.
    bool startCloud();

    virtual Reply* send(const Request& request);
    // Whether a read or write can be asked at all, connected or not: Done, or the outcome the
    // request would end with (Unknown, Refused, ReadOnly, OutOfRange) and the reason. With values,
    // the values a write stores.
    Result::Outcome check(
        const Request& request, QString* reason, QVector<QVariant>* values = nullptr) const;

    ZRDeviceInterface* device() const { return m_device.get(); }
    // The simulated machine the session runs itself, if it does.
    SimMachine* embedded() const { return m_simulator.get(); }
    Cloud* cloud() const { return m_cloud.get(); }
    Link link() const { return m_link; }
    bool isUp() const { return m_link == Up; }
    bool isAnswering() const { return m_answering; }
    // The machine's last progress report since the link came up, and whether it shows a job on.
    const TaskReport& machineState() const { return m_state; }
    bool isJobOn() const { return m_state.isRunning(); }
    // The user's file of a job the machine reports under its own name ("job-0016.plt"), as this
    // session sent it or its machine service told; empty while unknown.
    QString fileOf(const QString& machineJob) const { return m_files.value(machineJob); }
    // That job as a person reads it (Protocol::jobText).
    QString jobText(const QString& machineJob) const
    {
        return Protocol::jobText(fileOf(machineJob), machineJob);
    }
    // How long until the machine's state can be trusted: a machine on a job reports it within the
    // reply time-out of the link coming up; the embedded simulator starts idle.
    int stateWaitMs() const;
    // "the embedded simulator (127.0.0.1:40123)", "192.168.1.20:9100", "USB /dev/ttyACM0".
    virtual QString machineName() const;
    // Where the last connection went (the embedded simulator's port when it is the machine).
    const MachineTarget& target() const { return m_target; }
    QString errorString() const { return m_error; }
    // The last attempt opened the link (whether or not the machine then answered).
    bool linkOpened() const { return m_opened; }

signals:
    void failed(const QString& reason);
    void linkChanged(Session::Link link);
    // The machine stopped answering (false) or answers again (true).
    void answeringChanged(bool answering);
    void report(const TaskReport& report);
    // One line for the user about what the session does (a stop sent, a job busy).
    void notice(const QString& line);
    // Every message of the device (kind as ZRDeviceInterface::ZRDeviceMessage), as it came.
    void message(int kind, const QString& text);
    // Through a machine service: one of its jobs as it is now (queued, started, ended).
    void jobChanged(const QJsonObject& job);

protected:
    friend class Reply;
    // Jobs of a machine service (its "file" and "machine_job") tell the user's files.
    void learnFiles(const QJsonArray& jobs);
    void fail(const QString& reason);
    void setLink(Link link);
    void setAnswering(bool answering);

    SessionOptions m_options;
    std::unique_ptr<ZRDeviceInterface> m_device;
    MachineTarget m_target;
    Link m_link = Closed;
    bool m_opened = false;
    QString m_error;
    QTimer m_connectDeadline;
    TaskReport m_state;
    bool m_answering = true;

private:
    // Why a request ends when there is no link.
    static const QString notConnected;

    struct Watch {
        ZRDeviceProperty* parameter;
        QString name; // the name asked for; a group's members are answered with their group
        QVariant old; // a write's value before it, restored when it is not confirmed
        bool write = false;
        bool byStatus = false; // a command that answers with a status, not the value
        bool answered = false;
        int status = -1; // that status; -1 none yet

        bool isAnswered() const { return byStatus ? status >= 0 : answered; }
        // A write without an answer, or one the machine refused, goes back to what it was.
        void restore() const;
    };
    struct Exchange {
        QPointer<Reply> reply;
        QVector<Watch> watches;
        QList<QByteArray> frames;

        QStringList unanswered() const;
    };
    struct Job {
        QPointer<Reply> reply;
        QString own; // the machine's name of this job
        bool sent = false;
        bool stopping = false;
        QElapsedTimer clock;
        QTimer deadline;
    };

    void attachDevice();
    void onMessage(ZRDeviceInterface::ZRDeviceMessage kind, const QString& text);
    void onLinkUp();
    void onLinkDown(const QString& line);

    Reply* enqueue(const Request& request, bool internal = false);
    void startNext();
    bool prepare(Exchange& exchange);
    void planRead(Exchange& exchange, const QByteArray& name);
    void planWrite(Exchange& exchange, const QByteArray& name, const QVariant& value);
    void onAnswer(ZRDeviceProperty* parameter, int status);
    void settle();
    void endAll(Result::Outcome outcome, const QString& reason);
    void lifeSign();

    void control(Reply* reply);
    void sendControl(Reply* reply);
    void startJob(Reply* reply);
    void sendJob();
    void onJobReport(const TaskReport& report);
    void endJob(Result::Outcome outcome, const QString& reason = QString());

    QPluginLoader m_loader;
    ZRDeviceInterface* m_factory = nullptr;
    std::unique_ptr<SimMachine> m_simulator;
    std::unique_ptr<SimTcpFront> m_simulatorPort;
    std::unique_ptr<Cloud> m_cloud;

    QList<QPointer<Reply>> m_queue;
    std::unique_ptr<Exchange> m_current;
    QTimer m_replyDeadline;
    QTimer m_resend;
    Job m_job;
    QList<QPointer<Reply>> m_controls; // pause, resume, stop waiting for a report

    QSet<QString> m_jobsSeen; // since the link came up, by the name the machine reports
    QHash<QString, QString> m_files; // the user's files by the machine's names of their jobs
    QElapsedTimer m_sinceUp;
    QElapsedTimer m_sinceLife;
    QTimer m_watchdog;
};
