#include "zrcommoninterface.h"
#include "zrdeviceproperty.h"

#include "linkstatus.h"
#include "usboperate.h"

#include <QMutexLocker>
#include <QTcpSocket>
#include <QThread>

#include <cstring>

namespace {

constexpr char STX = 0x02;
constexpr char ETX = 0x03;

// Replies are a few hundred bytes at most. A machine that streams bytes without ever closing a
// frame must not grow the receive buffer without end, so unterminated bytes past this bound are
// dropped, keeping a frame that has just begun.
constexpr int maxPendingBytes = 64 * 1024;

} // namespace

void ZRCommonInterface::sendCMD(QByteArray frame)
{
    if (!frame.isEmpty())
        send_cmd(frame);
}

void ZRCommonInterface::send_cmd(QByteArray frame)
{
    ZRDeviceProperty* mode = property_ptr("CONNECT_MODE");
    ZRDeviceProperty* status = property_ptr("STATUS");
    if (!mode || !status)
        return;
    switch (statusOf(status)) {
    case DisConnected:
    case Warning:
    case Error:
        return;
    default:
        break;
    }

    QMutexLocker lock(&send_mutex);
    if (mode->value().toString() == QLatin1String("TCP")) {
        if (!tcp_socket)
            return;
        // A socket may only be used from its own thread: a frame sent from another thread is
        // written there, in the order it was sent.
        if (QThread::currentThread() == tcp_socket->thread()) {
            tcp_socket->write(frame);
        } else {
            QTcpSocket* socket = tcp_socket;
            QMetaObject::invokeMethod(
                socket, [socket, frame] { socket->write(frame); }, Qt::QueuedConnection);
        }
    } else if (usb_operate) {
        usb_operate->send(QString::fromUtf8(frame));
    }
}

void ZRCommonInterface::decode_buffer()
{
    // Each frame is taken out of the buffer before it is dispatched, and the buffer is read again
    // afterwards: a handler may run an event loop that delivers more bytes and re-enters here.
    // recv_buffer is open to subclasses, which may clear, shrink or refill it at any time, so no
    // offset is trusted beyond its end, and the bytes after the last frame are looked at again on
    // the next call.
    for (;;) {
        if (recv_consumed > recv_buffer.size())
            recv_consumed = 0;
        const char* begin = recv_buffer.constData();
        const auto* etx = static_cast<const char*>(
            std::memchr(begin + recv_consumed, ETX, size_t(recv_buffer.size() - recv_consumed)));
        if (!etx)
            break;
        const int end = int(etx - begin) + 1;
        const auto* stx = static_cast<const char*>(
            memrchr(begin + recv_consumed, STX, size_t(end - recv_consumed)));
        recv_consumed = end;
        if (stx)
            decode_cmd(QString::fromUtf8(stx, int(etx - stx) + 1));
    }

    if (recv_consumed > 0) {
        recv_buffer.remove(0, recv_consumed);
        recv_consumed = 0;
    }
    if (recv_buffer.size() > maxPendingBytes) {
        const int keepFrom = recv_buffer.lastIndexOf(STX);
        if (keepFrom < 0 || recv_buffer.size() - keepFrom > maxPendingBytes)
            recv_buffer.clear();
        else
            recv_buffer.remove(0, keepFrom);
    }
}

void ZRCommonInterface::decode_cmd(QString item, QString& name, int& number, QString& value)
{
    const QByteArray bytes = item.toLatin1();
    const int colon = bytes.lastIndexOf(':');
    value = QString::fromUtf8(colon < 0 ? bytes : bytes.mid(colon + 1));

    int nameEnd = 0;
    while (nameEnd < bytes.size() && bytes.at(nameEnd) >= 'A' && bytes.at(nameEnd) <= 'Z')
        ++nameEnd;
    name = QString::fromLatin1(bytes.left(nameEnd));

    const int numberEnd = colon < 0 ? bytes.size() : colon;
    bool ok = false;
    number = bytes.mid(nameEnd, numberEnd - nameEnd).toInt(&ok);
    if (!ok)
        number = 0;
}
