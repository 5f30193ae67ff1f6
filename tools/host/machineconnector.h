#pragma once

#include "machinetarget.h"
#include "zrdeviceinterface.h"

#include <QObject>
#include <QString>
#include <QTimer>

// Connects a device to its machine and watches the link, from the device's own status lines.
//
// A refused or dropped TCP attempt is tried again every retryMs until the time-out, since a
// machine that is switched on late refuses connections while it boots. A USB path that does not
// exist, or a USB error, fails at once: the port will not appear by waiting.
class MachineConnector : public QObject {
    Q_OBJECT
public:
    enum State { Idle, Connecting, Connected, Failed, Lost };
    Q_ENUM(State)

    static constexpr int retryMs = 500;

    // The device is the caller's and must outlive the connector.
    explicit MachineConnector(ZRDeviceInterface* device, QObject* parent = nullptr);

    // Tells the device where the machine is ("USB", "TCP" and "TCP_PORT") and starts connecting.
    void start(const MachineTarget& target, int timeoutMs);
    // Runs the event loop until the link is up or the attempt has failed.
    bool waitForConnected();
    // Gives up an attempt under way.
    void cancel();

    State state() const { return m_state; }
    bool isConnected() const { return m_state == Connected; }
    MachineTarget target() const { return m_target; }
    // Why the attempt failed, or the status line that reported the link lost.
    QString errorString() const { return m_error; }

signals:
    void connected();
    void failed(const QString& reason);
    // The link went down after it had come up; statusLine is the device's own report, such as
    // "TCP DISCONNECTED.".
    void linkLost(const QString& statusLine);

private:
    void onMessage(ZRDeviceInterface::ZRDeviceMessage kind, const QString& text);
    void attempt();
    void fail(const QString& reason);

    ZRDeviceInterface* m_device;
    MachineTarget m_target;
    State m_state = Idle;
    QString m_error;
    QTimer m_deadline;
    QTimer m_retry;
    int m_timeoutMs = 0;
};
