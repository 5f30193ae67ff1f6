#include "zrcommoninterface.h"

#include "corvanecloud.h"
#include "remotereports.h"
#include "zrdevicehost.h"
#include "zrdeviceproperty.h"

#include <QUrl>
#include <QWebSocket>

namespace {

constexpr quint64 maxRemoteMessageBytes = 1024 * 1024;

} // namespace

void ZRCommonInterface::connect_websocket()
{
    if (!web_socket) {
        web_socket = new QWebSocket(QString(), QWebSocketProtocol::Version13);
        // A prompt is a few bytes; a message past this bound closes the channel instead of
        // filling the memory.
        web_socket->setMaxAllowedIncomingFrameSize(maxRemoteMessageBytes);
        web_socket->setMaxAllowedIncomingMessageSize(maxRemoteMessageBytes);
        // The socket reads at most this much before the event loop runs again: a peer that
        // sends without pause would otherwise keep the thread reading, and the machine's link
        // beside it unread. It holds a whole message of the largest size.
        web_socket->setReadBufferSize(2 * maxRemoteMessageBytes);
    }
    ZRDeviceProperty* record = property_ptr("DEVICE_CLOUD");
    // Without a client there is no address to open; the socket waits like one without a record.
    if (!record || !corvane_cloud)
        return;

    const QString code = record->value().toJsonObject().value(QLatin1String("code")).toString();
    web_socket->open(
        QUrl(QStringLiteral("%1%2/Device/").arg(corvane_cloud->ws(), code), QUrl::TolerantMode));

    // Unique, so that a host that reopens the channel after each disconnection does not get
    // every report once more per reopening.
    connect(web_socket, SIGNAL(connected()), this, SLOT(slot_websocket_connected()),
        Qt::UniqueConnection);
    connect(web_socket, SIGNAL(disconnected()), this, SLOT(slot_websocket_disconnected()),
        Qt::UniqueConnection);
    connect(web_socket, SIGNAL(error(QAbstractSocket::SocketError)), this,
        SLOT(slot_websocket_error(QAbstractSocket::SocketError)), Qt::UniqueConnection);
    connect(web_socket, SIGNAL(textMessageReceived(QString)), this,
        SLOT(slot_websocket_text_received(QString)), Qt::UniqueConnection);
}

void ZRCommonInterface::slot_websocket_connected()
{
    emit message(DevStatus, QLatin1String(ZRDevice::channelConnected));
}

void ZRCommonInterface::slot_websocket_disconnected()
{
    emit message(DevStatus, QLatin1String(ZRDevice::channelDisconnected));
}

void ZRCommonInterface::slot_websocket_error(QAbstractSocket::SocketError)
{
    emit message(DevStatus, QLatin1String(ZRDevice::channelError));
}

// Every text that differs from the one before asks for a fresh runtime report, whatever it says.
void ZRCommonInterface::slot_websocket_text_received(const QString& message)
{
    if (message == last_remote_text)
        return;
    last_remote_text = message;
    if (web_socket && !RemoteReports::of(this, web_socket)->admitPrompt())
        return;
    device_task_to_cloud();
}
