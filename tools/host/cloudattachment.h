#pragma once

#include "cloudexchange.h"
#include "cloudoptions.h"
#include "zrdeviceinterface.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <memory>

class CloudService;
class HostCloudClient;
class QEventLoop;

// A device's cloud service, as a host attaches it: the client (and, when asked, the project's
// local service inside the program), the device's registration, its remote channel, and after a
// job what became of the work record. It tells the person at the machine what happened through
// notice() and what failed through problem(); a failing service never stops the host's work.
//
// The attachment owns the client and the embedded service and must outlive the device it is
// attached to, which keeps only a pointer to the client. One device per attachment.
class CloudAttachment : public QObject {
    Q_OBJECT
public:
    enum State { Idle, Registering, Registered, Failed, Cancelled };
    Q_ENUM(State)
    enum Channel { NoChannel, Opening, Open, Closed };
    Q_ENUM(Channel)

    explicit CloudAttachment(const CloudOptions& options, QObject* parent = nullptr);
    ~CloudAttachment() override;

    // Starts the embedded service when asked and builds the client. False, with errorString(),
    // when the embedded service cannot listen.
    bool start();
    QString errorString() const { return m_error; }
    // "http://127.0.0.1:8700/api/ (WebSocket ws://127.0.0.1:8701/api/)", and whether the
    // service runs in this program.
    QString serviceText() const;

    // The device code: the one given, or else the machine number the device has read from the
    // machine. Empty, with the reason in *why, when neither will do.
    QString deviceCodeFor(ZRDeviceInterface* device, QString* why) const;

    // Hands the client and the device code to a device whose machine information has been
    // read, waits until the service has registered it (or failed to), then opens its remote
    // channel and waits for it to open. True when the device is registered.
    bool attach(ZRDeviceInterface* device);
    // Gives up the wait under way (Ctrl-C).
    void cancel();

    // After a job has ended: waits for the service's answer to the work record the device
    // posted when the task was closed, and tells what the service got, or why there is none.
    // With the embedded service, also how many runtime reports it collected.
    void reportJob(bool taskClosed, int copiesFinished);

    State state() const { return m_state; }
    Channel channel() const { return m_channel; }
    QString deviceCode() const { return m_code; }
    // From the device's cloud record; -1 while it has none.
    int deviceId() const;
    int modelId() const;
    bool createdEntry() const { return m_created; }
    bool workRecordSent() const { return m_workRecordSent; }
    // Runtime reports the device sent while its channel was open: one per progress report.
    int runtimeReportsSent() const { return m_reportsSent; }

    HostCloudClient* client() const { return m_client.get(); }
    CloudService* embeddedService() const { return m_service.get(); }
    const CloudOptions& options() const { return m_options; }

signals:
    void notice(const QString& line);
    void problem(const QString& line);
    // What a command shows as its result: the work record.
    void result(const QString& text);

private:
    void onRequestSent(const CloudExchange& exchange);
    void onReply(const CloudExchange& exchange);
    void onDeviceMessage(ZRDeviceInterface::ZRDeviceMessage kind, const QString& text);
    void settleRegistration();
    void fail(const QString& reason);
    void registered();
    void openChannel();
    QJsonObject record() const;
    QString outcome(const CloudExchange& exchange) const;
    // Runs the event loop until done() holds, the time passes or cancel() is called.
    template <typename Done> bool waitFor(Done done, int timeoutMs);

    CloudOptions m_options;
    // The service goes after the client, so that the client's last requests are aborted
    // rather than answered.
    std::unique_ptr<CloudService> m_service;
    std::unique_ptr<HostCloudClient> m_client;
    QPointer<ZRDeviceInterface> m_device;
    QString m_code;
    QString m_error;

    State m_state = Idle;
    QString m_failure;
    bool m_modelPending = false;
    bool m_lookupPending = false;
    bool m_creationPending = false;
    bool m_updatePending = false;
    bool m_created = false;
    CloudExchange m_model;
    CloudExchange m_update;

    Channel m_channel = NoChannel;
    int m_reportsSent = 0;

    bool m_workRecordSent = false;
    CloudExchange m_workRecord;

    QEventLoop* m_loop = nullptr;
    bool m_cancelled = false;
};
