#include "zrcommoninterface.h"

#include "hanging.h"
#include "linkstatus.h"
#include "usboperate.h"
#include "zrdevicehost.h"
#include "zrdeviceproperty.h"

#include <QDebug>
#include <QTcpSocket>

#include <cmath>
#include <limits>
#include <utility>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace {

// The heartbeat period is the value read as unsigned seconds, a real number rounded to the
// nearest. Zero, a negative number and text that is no number would spin the timer and flood the
// machine, so they give one second; a period the timer's milliseconds cannot hold is capped.
int heartbeatPeriodMs(const QVariant& value)
{
    // Read through double so that every variant type converts without overflow; NaN falls to
    // the lower bound.
    const double seconds = std::round(value.toDouble());
    if (!(seconds >= 1))
        return 1000;
    const double maxMs = std::numeric_limits<int>::max();
    return int(qMin(seconds * 1000, maxMs));
}

// A machine that vanishes without closing the connection (power cut, cable pulled) is noticed
// by the kernel's keep-alive probes: after this many seconds of silence, then every few seconds,
// giving up after a few unanswered probes, about half a minute in all.
constexpr int keepAliveIdleSeconds = 15;
constexpr int keepAliveIntervalSeconds = 5;
constexpr int keepAliveProbes = 3;

void tuneKeepAlive(QTcpSocket* socket)
{
    // Qt applies the option only once the socket has a descriptor.
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, true);
    const qintptr fd = socket->socketDescriptor();
    if (fd < 0)
        return;
    for (const auto& [option, value] : { std::pair { TCP_KEEPIDLE, keepAliveIdleSeconds },
             std::pair { TCP_KEEPINTVL, keepAliveIntervalSeconds },
             std::pair { TCP_KEEPCNT, keepAliveProbes } })
        ::setsockopt(int(fd), IPPROTO_TCP, option, &value, sizeof value);
}

// Hangs the transport address on the device as the parameter's value, or updates the one
// already there, so that a host holding the parameter keeps a valid pointer.
void hangAddressAsValue(
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

int statusOf(const ZRDeviceProperty* status)
{
    QVariant value = status->value();
    if (!value.convert(qMetaTypeId<ZRDeviceInterface::ZRDeviceStatus>()))
        return ZRDeviceInterface::DisConnected;
    // Read as a number: a status outside the enumeration is no value of the enumeration type.
    return value.toInt();
}

void ZRCommonInterface::setUSBPath(QString path)
{
    hangAddressAsValue(this, "USB", tr("USB 地址"), path);
}

void ZRCommonInterface::setIPAddress(QString address)
{
    hangAddressAsValue(this, "TCP", tr("IP 地址"), address);
}

bool ZRCommonInterface::connectDevice()
{
    // A device without "STATUS" (the plugin's factory object) has no link to open.
    ZRDeviceProperty* status = property_ptr("STATUS");
    if (!status || statusOf(status) != DisConnected)
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
        // Qt applies this only once the socket has a descriptor; it is tuned on connection.
        tcp_socket->setSocketOption(QAbstractSocket::KeepAliveOption, true);
        connect(tcp_socket, SIGNAL(readyRead()), this, SLOT(slot_tcp_socket_read()));
        connect(tcp_socket, SIGNAL(stateChanged(QAbstractSocket::SocketState)), this,
            SLOT(slot_tcp_socket_state(QAbstractSocket::SocketState)));
        // A large frame goes out a slice at a time, as the socket drains.
        connect(tcp_socket, &QTcpSocket::bytesWritten, this, [this] { send_pending(); });
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
        emit message(DevStatus, QLatin1String(ZRDevice::usbConnected));
        break;
    case 2:
        status->setValue(int(Warning));
        heartbeat_switch(false);
        emit message(DevStatus, QLatin1String(ZRDevice::usbError));
        break;
    case 0:
        status->setValue(int(DisConnected));
        heartbeat_switch(false);
        emit message(DevStatus, QLatin1String(ZRDevice::usbDisconnected));
        break;
    default:
        break;
    }
}

void ZRCommonInterface::slot_tcp_socket_read()
{
    if (!tcp_socket)
        return;
    // A handler may run an event loop while a frame is dispatched; the socket does not signal
    // bytes that arrive meanwhile, so the slot reads until the socket has nothing left.
    for (;;) {
        const QByteArray bytes = tcp_socket->readAll();
        if (bytes.isEmpty())
            return;
        recv_buffer += bytes;
        decode_buffer();
    }
}

void ZRCommonInterface::slot_tcp_socket_state(QAbstractSocket::SocketState s)
{
    if (ZRDeviceProperty* mode = property_ptr("CONNECT_MODE"))
        mode->setValue(QStringLiteral("TCP"));
    if (s == QAbstractSocket::ConnectedState && tcp_socket)
        tuneKeepAlive(tcp_socket);
    if (s == QAbstractSocket::UnconnectedState)
        drop_pending();
    ZRDeviceProperty* status = property_ptr("STATUS");
    if (!status)
        return;

    switch (s) {
    case QAbstractSocket::ConnectedState:
        status->setValue(int(Working));
        heartbeat_switch(true);
        emit message(DevStatus, QLatin1String(ZRDevice::tcpConnected));
        break;
    case QAbstractSocket::UnconnectedState:
        status->setValue(int(DisConnected));
        heartbeat_switch(false);
        emit message(DevStatus, QLatin1String(ZRDevice::tcpDisconnected));
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
