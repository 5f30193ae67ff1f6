#include "hostsession.h"

#include "zrdeviceproperty.h"

HostSession::HostSession(QObject* parent)
    : QObject(parent)
{ }

HostSession::~HostSession()
{
    m_connector.reset();
    m_device.reset();
    m_cloud.reset();
    m_embedded.reset();
}

bool HostSession::open(const SessionOptions& options)
{
    m_options = options;
    if (!m_plugin.load(options.pluginDir)) {
        m_error = m_plugin.errorString();
        return false;
    }
    m_device = m_plugin.createDevice();
    if (!m_device) {
        m_error = QStringLiteral("the plugin %1 built no device").arg(m_plugin.fileName());
        return false;
    }
    if (options.heartbeatSeconds > 0) {
        if (ZRDeviceProperty* heartbeat = m_device->property_ptr("HEARTBEAT"))
            heartbeat->setValue(options.heartbeatSeconds);
    }
    m_connector.reset(new MachineConnector(m_device.get()));
    connect(m_connector.get(), &MachineConnector::linkLost, this, &HostSession::linkLost);
    return true;
}

bool HostSession::connectMachine()
{
    if (!m_device)
        return false;
    MachineTarget target = m_options.target;
    if (target.kind == MachineTarget::Embedded) {
        SimOptions simulator = m_options.simulator;
        if (m_options.heartbeatSeconds > 0)
            simulator.heartbeatSeconds = m_options.heartbeatSeconds;
        m_embedded.reset(new EmbeddedMachine(simulator));
        if (!m_embedded->listenTcp()) {
            m_error = m_embedded->errorString();
            return false;
        }
        target = m_embedded->target();
    }
    m_connector->start(target, m_options.connectTimeoutMs);
    if (!m_connector->waitForConnected()) {
        m_error = m_connector->errorString();
        return false;
    }
    // The machine's heartbeat answers carry its own period, which the device adopts; a period
    // chosen here is told to the machine so that the two agree.
    if (m_options.heartbeatSeconds > 0) {
        if (ZRDeviceProperty* heartbeat = m_device->property_ptr("HEARTBEAT"))
            m_device->sendCMD(heartbeat->set_cmd_bytes());
    }
    return true;
}

bool HostSession::startCloud()
{
    if (m_cloud)
        return true;
    std::unique_ptr<CloudAttachment> cloud(new CloudAttachment(m_options.cloud));
    if (!cloud->start()) {
        m_error = cloud->errorString();
        return false;
    }
    m_cloud = std::move(cloud);
    return true;
}

QString HostSession::machineName() const
{
    const MachineTarget target = m_connector ? m_connector->target() : m_options.target;
    if (m_options.target.kind == MachineTarget::Embedded && target.kind != MachineTarget::Embedded)
        return QStringLiteral("the embedded simulator (%1)").arg(target.describe());
    return target.describe();
}
