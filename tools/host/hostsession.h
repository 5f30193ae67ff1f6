#pragma once

#include "cloudattachment.h"
#include "cloudoptions.h"
#include "deviceplugin.h"
#include "embeddedmachine.h"
#include "machineconnector.h"
#include "machinetarget.h"
#include "simoptions.h"
#include "zrdeviceinterface.h"

#include <QObject>
#include <QString>

#include <memory>

// How a host session reaches its machine.
struct SessionOptions {
    QString pluginDir; // empty: the default plugin folders
    MachineTarget target; // Embedded unless an address or a USB path is given
    SimOptions simulator; // the embedded machine's behaviour
    int heartbeatSeconds
        = 0; // > 0: the heartbeat period, set on the device and told to the machine
    int connectTimeoutMs = 10000;
    CloudOptions cloud; // none unless set
};

// What every host command needs: the plugin, one device built by it, and the link to the
// machine, which is the embedded simulator unless the options name a machine.
//
// The session owns the device, the embedded machine, the connector and the cloud attachment;
// the device goes first, so that its link closes while the machine is still there and it never
// holds a cloud client that is gone.
class HostSession : public QObject {
    Q_OBJECT
public:
    explicit HostSession(QObject* parent = nullptr);
    ~HostSession() override;

    // Loads the plugin and builds the device; nothing is connected yet.
    bool open(const SessionOptions& options);
    // Starts the embedded machine when no machine is named, connects the device and waits for
    // the link.
    bool connectMachine();
    // Builds the cloud client the options ask for, and starts the embedded cloud service when
    // they ask for that. False, with errorString(), when that service cannot listen.
    bool startCloud();

    ZRDeviceInterface* device() const { return m_device.get(); }
    const DevicePlugin& plugin() const { return m_plugin; }
    EmbeddedMachine* embedded() const { return m_embedded.get(); }
    MachineConnector* connector() const { return m_connector.get(); }
    // Null until startCloud() succeeds.
    CloudAttachment* cloud() const { return m_cloud.get(); }
    const SessionOptions& options() const { return m_options; }
    // "the embedded simulator (127.0.0.1:40123)", "192.168.1.20:9100", "USB /dev/ttyACM0".
    QString machineName() const;
    QString errorString() const { return m_error; }

signals:
    // The link went down after it had come up (the device's status line).
    void linkLost(const QString& statusLine);

private:
    SessionOptions m_options;
    DevicePlugin m_plugin;
    std::unique_ptr<EmbeddedMachine> m_embedded;
    std::unique_ptr<CloudAttachment> m_cloud;
    std::unique_ptr<ZRDeviceInterface> m_device;
    std::unique_ptr<MachineConnector> m_connector;
    QString m_error;
};
