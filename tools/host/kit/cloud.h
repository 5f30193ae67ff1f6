#pragma once

#include "cloudservice.h"
#include "corvanecloud.h"
#include "zrdevicehost.h"
#include "zrdeviceinterface.h"

#include <QJsonObject>
#include <QPointer>
#include <QRegularExpression>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>

// Where the host's cloud service is and who the machine is to it: a service given by address,
// or the project's local service started inside the host. Nothing is attached when neither is.
struct CloudOptions {
    QUrl httpBase; // resources live under it
    QString wsBase; // ending in '/': devices append their code and "/Device/"
    QString token; // sent as a bearer token; the embedded service requires it
    QString deviceCode; // empty: the machine number read from the machine
    bool embedded = false;
    int requestTimeoutMs = 5000;

    bool isSet() const { return embedded || !httpBase.isEmpty(); }

    // A device code goes into the service's addresses as it is: letters, digits, '-', '_' and
    // '.', at most 64 of them.
    static bool isValidDeviceCode(const QString& code)
    {
        static const QRegularExpression allowed(QStringLiteral("^[A-Za-z0-9._-]{1,64}$"));
        return allowed.match(code).hasMatch();
    }
};

// The SDK's client as the host hands it to a device (with, when asked, the project's local
// service inside the program): the device's own registration does the work, and tells how it
// stands (ZRDevice::Registration); the host tells the person what happened (notice) and what
// failed (problem), gives up on a service that does not answer, and keeps the work record for an
// outbox when asked. A failing service never stops the host's work. Nothing here waits:
// isSettled() and isJobReported() say when a step is over.
class Cloud : public CorvaneCloud {
    Q_OBJECT
public:
    explicit Cloud(const CloudOptions& options, QObject* parent = nullptr);

    // Starts the embedded service when asked and addresses the client. False with errorString().
    bool start();
    QString errorString() const { return m_error; }

    // Hands the client to a device whose machine information has been read: the device
    // registers, and once registered its remote channel is opened.
    void attach(ZRDeviceInterface* device);
    // Registration and channel have come to an end, one way or the other.
    bool isSettled() const { return m_state != Attaching && m_state != Opening; }
    bool isRegistered() const { return m_state >= Registered; }
    // The service's id of the device once registered, for a record made without it; 0 before.
    int deviceId() const
    {
        return isRegistered() && m_registration ? m_registration->deviceId() : 0;
    }

    // After a job: tells what became of the work record the device posted when the task was
    // closed (or why there is none), and with the embedded service what it collected.
    void reportJob(bool taskClosed, qint64 copiesFinished);
    bool isJobReported() const { return m_job == JobReported; }

    // Work records the device posts go to sink rather than to the service: a machine service
    // keeps them in its outbox and delivers them with postWorkRecord until the service takes them.
    void holdWorkRecords(const std::function<void(const QJsonObject&)>& sink) { m_hold = sink; }
    // Posts a record under key (sent as "Idempotency-Key", which lets the service drop a record
    // it has already taken). done hears the HTTP status (0: no answer, so whether the service
    // took it is unknown), whether it was taken, and the answer in words.
    void postWorkRecord(const QJsonObject& body, const QString& key,
        const std::function<void(int status, bool taken, const QString& answer)>& done);
    // A registration that fails is tried again, after a pause that grows from a second to five
    // minutes, for as long as the client lives; without this it is given up.
    void keepRegistering() { m_keepRegistering = true; }

    CloudService* embeddedService() const { return m_service.get(); }

    // The device's work record as holdWorkRecords() and reportJob() tell; every other request
    // goes on as it is.
    void customRequest(const QString& path, QByteArray method, QJsonObject body,
        std::function<void(QNetworkReply*, bool)> handler) override;

signals:
    void notice(const QString& line);
    void problem(const QString& line);
    // The work record and the reports, as a command's result.
    void result(const QString& text);
    // The device is registered (again): records that waited for its id can go.
    void registered();

private:
    void registerDevice();
    void onRegistration();
    void openChannel();
    void onDeviceMessage(ZRDeviceInterface::ZRDeviceMessage kind, const QString& text);
    void onTimeout();
    void checkJob();
    void settle(const QString& failure);

    CloudOptions m_options;
    std::unique_ptr<CloudService> m_service;
    QPointer<ZRDeviceInterface> m_device;
    QString m_code;
    QString m_error;
    QTimer m_deadline;

    // The registration, then the remote channel (Registered: none to open).
    enum State { Attaching, Failed, Registered, Opening, Open, Closed } m_state = Attaching;
    QPointer<ZRDevice::Registration> m_registration;
    int m_problemsTold = 0;
    bool m_keepRegistering = false;
    int m_registrations = 0; // failed in a row
    QTimer m_again;
    int m_reportsSent = 0;

    enum { NoJob, JobPending, JobReported } m_job = NoJob;
    QJsonObject m_workRecord; // as the device posted it; empty until then
    QString m_workRecordOutcome; // empty until answered
    bool m_workRecordTaken = false;
    std::function<void(const QJsonObject&)> m_hold;
};
