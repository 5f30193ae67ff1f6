#include "machineconnector.h"

#include "linkstatus.h"
#include "zrdeviceproperty.h"

#include <QEventLoop>
#include <QFileInfo>

MachineConnector::MachineConnector(ZRDeviceInterface* device, QObject* parent)
    : QObject(parent)
    , m_device(device)
{
    m_deadline.setSingleShot(true);
    m_retry.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        fail(QStringLiteral("no machine answered at %1 within %2 s")
                 .arg(m_target.describe())
                 .arg(m_timeoutMs / 1000.0));
    });
    connect(&m_retry, &QTimer::timeout, this, &MachineConnector::attempt);
    connect(m_device, &ZRDeviceInterface::message, this, &MachineConnector::onMessage);
}

void MachineConnector::start(const MachineTarget& target, int timeoutMs)
{
    m_target = target;
    m_timeoutMs = timeoutMs;
    m_error.clear();
    m_state = Connecting;

    if (target.kind == MachineTarget::Usb) {
        if (!QFileInfo::exists(target.usbPath)) {
            fail(QStringLiteral("there is no USB device %1").arg(target.usbPath));
            return;
        }
        m_device->setUSBPath(target.usbPath);
    } else {
        if (ZRDeviceProperty* port = m_device->property_ptr("TCP_PORT"))
            port->setValue(int(target.port));
        m_device->setIPAddress(target.address);
    }
    m_deadline.start(timeoutMs);
    attempt();
}

void MachineConnector::attempt()
{
    if (m_state != Connecting)
        return;
    // connectDevice() refuses while the device thinks a link is up or in error; the status line
    // that follows decides what happens next.
    m_device->connectDevice();
}

bool MachineConnector::waitForConnected()
{
    if (m_state == Connecting) {
        QEventLoop loop;
        connect(this, &MachineConnector::connected, &loop, &QEventLoop::quit);
        connect(this, &MachineConnector::failed, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return m_state == Connected;
}

void MachineConnector::cancel()
{
    fail(QStringLiteral("interrupted"));
}

void MachineConnector::onMessage(ZRDeviceInterface::ZRDeviceMessage kind, const QString& text)
{
    if (kind != ZRDeviceInterface::DevStatus)
        return;
    const bool up = LinkStatus::isUp(text);
    const bool down = LinkStatus::isDown(text);

    if (m_state == Connecting) {
        if (up) {
            m_deadline.stop();
            m_retry.stop();
            m_state = Connected;
            emit connected();
        } else if (text == QLatin1String("TCP DISCONNECTED.")) {
            m_retry.start(retryMs);
        } else if (down) {
            fail(QStringLiteral("%1 could not be opened (%2)").arg(m_target.describe(), text));
        }
        return;
    }
    if (m_state == Connected && down) {
        m_state = Lost;
        m_error = text;
        emit linkLost(text);
    }
}

void MachineConnector::fail(const QString& reason)
{
    if (m_state != Connecting)
        return;
    m_deadline.stop();
    m_retry.stop();
    m_state = Failed;
    m_error = reason;
    emit failed(reason);
}
