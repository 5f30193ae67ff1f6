#include "zrcommoninterface.h"

#include "hanging.h"
#include "usboperate.h"
#include "zrdeviceproperty.h"

#include <QDebug>
#include <QTcpSocket>

namespace {

// The heartbeat period comes from the host and from the machine's own answers. Zero would spin
// the timer and flood the machine; a period of hours would leave a dead link unnoticed and would
// overflow the timer's milliseconds. Both ends are bounded.
constexpr int minHeartbeatSeconds = 1;
constexpr int maxHeartbeatSeconds = 600;

int heartbeatPeriodMs(const QVariant& value)
{
    // Read through double so that every variant type converts without overflow; a value that
    // does not parse, and NaN, fall to the lower bound.
    const double seconds = value.toDouble();
    if (!(seconds >= minHeartbeatSeconds))
        return minHeartbeatSeconds * 1000;
    if (seconds >= maxHeartbeatSeconds)
        return maxHeartbeatSeconds * 1000;
    return int(seconds) * 1000;
}

// Hangs the transport address on the device, or updates the one already there, so that a host
// holding the parameter keeps a valid pointer.
void hangAddress(
    ZRDeviceInterface* device, const char* name, const QString& label, const QString& address)
{
    if (ZRDeviceProperty* parameter = parameterOf(device, name)) {
        parameter->setValue(address);
        return;
    }
    auto* parameter = new ZRDeviceProperty;
    parameter->init(address, label, QString(), 0, 0, 0, ZRDeviceInterface::UnCMD, {});
    adoptParameter(device, name, parameter);
}

} // namespace

void ZRCommonInterface::setUSBPath(QString path)
{
    hangAddress(this, "USB", tr("USB 地址"), path);
}

void ZRCommonInterface::setIPAddress(QString address)
{
    hangAddress(this, "TCP", tr("IP 地址"), address);
}

bool ZRCommonInterface::connectDevice()
{
    // A device without "STATUS" (the plugin's factory object) has no link to open.
    ZRDeviceProperty* status = property_ptr("STATUS");
    if (!status || status->value().toInt() != DisConnected)
        return false;
    if (ZRDeviceProperty* usb = property_ptr("USB")) {
        connect_usb(usb->value().toString());
        return true;
    }
    if (ZRDeviceProperty* tcp = property_ptr("TCP")) {
        connect_tcp(tcp->value().toString());
        return true;
    }
    return false;
}

void ZRCommonInterface::connect_usb(QString path)
{
    if (!usb_operate) {
        usb_operate = new UsbOperate(nullptr);
        connect(usb_operate, SIGNAL(writeData(QByteArray)), this, SLOT(slot_usb_write(QByteArray)));
        connect(usb_operate, SIGNAL(readData(QByteArray)), this, SLOT(slot_usb_read(QByteArray)));
        connect(usb_operate, SIGNAL(statusChanged(int)), this, SLOT(slot_usb_status(int)));
    }
    usb_operate->usbConnect(path, UsbOperate::Serial, false);
}

void ZRCommonInterface::connect_tcp(QString address)
{
    if (!tcp_socket) {
        tcp_socket = new QTcpSocket(this);
        tcp_socket->setReadBufferSize(10240);
        // Qt applies this only once the socket has a descriptor; it is set again on connection.
        tcp_socket->setSocketOption(QAbstractSocket::KeepAliveOption, true);
        connect(tcp_socket, SIGNAL(readyRead()), this, SLOT(slot_tcp_socket_read()));
        connect(tcp_socket, SIGNAL(stateChanged(QAbstractSocket::SocketState)), this,
            SLOT(slot_tcp_socket_state(QAbstractSocket::SocketState)));
    }
    ZRDeviceProperty* port = property_ptr("TCP_PORT");
    if (!port)
        return;
    // Qt ignores connectToHost() while an attempt is under way, which would keep a host that
    // corrected the address waiting for the old attempt to time out.
    if (tcp_socket->state() != QAbstractSocket::UnconnectedState)
        tcp_socket->abort();
    tcp_socket->connectToHost(address, quint16(port->value().toInt()), QIODevice::ReadWrite,
        QAbstractSocket::AnyIPProtocol);
}

void ZRCommonInterface::heartbeat_switch(bool on)
{
    ZRDeviceProperty* heartbeat = property_ptr("HEARTBEAT");
    if (!heartbeat)
        return;
    device_timer.stop();
    if (on)
        device_timer.start(heartbeatPeriodMs(heartbeat->value()));
}

void ZRCommonInterface::slot_usb_write(QByteArray) { }

void ZRCommonInterface::slot_usb_read(QByteArray data)
{
    recv_buffer += data;
    decode_buffer();
}

void ZRCommonInterface::slot_usb_status(int s)
{
    qDebug() << "ZRCommonInterface::slot_usb_status" << s;
    if (ZRDeviceProperty* mode = property_ptr("CONNECT_MODE"))
        mode->setValue(QStringLiteral("USB"));
    ZRDeviceProperty* status = property_ptr("STATUS");
    if (!status)
        return;

    // The host reads a settled state (status and timer) when the message reaches it.
    switch (s) {
    case 1:
        status->setValue(int(Working));
        heartbeat_switch(true);
        emit message(DevStatus, QStringLiteral("USB CONNECTED."));
        break;
    case 2:
        status->setValue(int(Warning));
        heartbeat_switch(false);
        emit message(DevStatus, QStringLiteral("USB ERROR."));
        break;
    case 0:
        status->setValue(int(DisConnected));
        heartbeat_switch(false);
        emit message(DevStatus, QStringLiteral("USB DISCONNECTED."));
        break;
    default:
        break;
    }
}

void ZRCommonInterface::slot_tcp_socket_read()
{
    if (!tcp_socket)
        return;
    recv_buffer += tcp_socket->readAll();
    decode_buffer();
}

void ZRCommonInterface::slot_tcp_socket_state(QAbstractSocket::SocketState s)
{
    if (ZRDeviceProperty* mode = property_ptr("CONNECT_MODE"))
        mode->setValue(QStringLiteral("TCP"));
    // Keep-alive set before the socket had a descriptor was dropped by Qt; without it a machine
    // that vanishes without closing the connection is never noticed.
    if (s == QAbstractSocket::ConnectedState && tcp_socket)
        tcp_socket->setSocketOption(QAbstractSocket::KeepAliveOption, true);
    ZRDeviceProperty* status = property_ptr("STATUS");
    if (!status)
        return;

    switch (s) {
    case QAbstractSocket::ConnectedState:
        status->setValue(int(Working));
        heartbeat_switch(true);
        emit message(DevStatus, QStringLiteral("TCP CONNECTED."));
        break;
    case QAbstractSocket::UnconnectedState:
        status->setValue(int(DisConnected));
        heartbeat_switch(false);
        emit message(DevStatus, QStringLiteral("TCP DISCONNECTED."));
        break;
    default:
        break;
    }
}

void ZRCommonInterface::slot_device_timer()
{
    ZRDeviceProperty* heartbeat = property_ptr("HEARTBEAT");
    if (!heartbeat)
        return;
    const QByteArray frame = heartbeat->get_cmd_bytes();
    if (!frame.isEmpty())
        send_cmd(frame);
}
