#include "zrcommoninterface.h"
#include "zrcommoninterface_p.h"
#include "zrdeviceproperty.h"

#include "asciitext.h"
#include "linkstatus.h"
#include "usbframetext.h"
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

// Frames up to this size are decoded into a text the device keeps; a longer one (a flood, a
// hostile peer) gets a text of its own, so that the kept text stays small.
constexpr int reusedTextChars = 1024;

// A frame larger than this is written to the transport in slices of this size.
constexpr int sliceBytes = 256 * 1024;

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

    const bool tcp = mode->value().toString() == QLatin1String("TCP");
    QMutexLocker lock(&send_mutex);
    if (!tcp) {
        // The USB transport takes the frame whole, in order, and may be called from any thread.
        if (usb_operate)
            usb_operate->send(usbFrameText(frame.constData(), frame.size()));
        return;
    }
    if (!tcp_socket)
        return;
    // The socket and what waits for it belong to the device's thread: a frame sent from another
    // thread is handed there, in the order it was sent.
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this, frame] { transmit(frame); }, Qt::QueuedConnection);
        return;
    }
    transmit(frame);
}

// A frame larger than a slice (a cut file) goes to the socket a slice at a time as it drains, so
// that the socket never holds a copy of the whole file; frames sent meanwhile (heartbeat, jog,
// pause) wait behind it, in order, and never land inside it.
void ZRCommonInterface::transmit(const QByteArray& frame)
{
    if (d->send_queue.isEmpty() && frame.size() <= sliceBytes) {
        tcp_socket->write(frame);
        return;
    }
    d->send_queue.enqueue(frame);
    send_pending();
}

void ZRCommonInterface::send_pending()
{
    // Writing may report bytes written from inside write(); the loop below goes on.
    if (d->send_pumping)
        return;
    d->send_pumping = true;
    QQueue<QByteArray>& queue = d->send_queue;
    while (!queue.isEmpty()) {
        const QByteArray& head = queue.head();
        const int size = qMin(sliceBytes, head.size() - d->send_written);
        if (!tcp_socket || tcp_socket->state() != QAbstractSocket::ConnectedState
            || tcp_socket->bytesToWrite() >= sliceBytes
            || tcp_socket->write(head.constData() + d->send_written, size) != size)
            break;
        d->send_written += size;
        if (d->send_written == head.size()) {
            queue.dequeue();
            d->send_written = 0;
        }
    }
    d->send_pumping = false;
}

// The TCP link went down: what waits for it is lost, like a frame sent without a link.
void ZRCommonInterface::drop_pending()
{
    d->send_queue.clear();
    d->send_written = 0;
}

void ZRCommonInterface::decode_buffer()
{
    // Each frame is taken out of the buffer before it is dispatched, and the buffer is read again
    // afterwards: a handler may run an event loop that delivers more bytes and re-enters here.
    // recv_buffer is open to subclasses, which may clear, shrink or refill it at any time, so no
    // offset is trusted beyond its end, and the bytes after the last frame are looked at again on
    // the next call.
    int& recv_consumed = d->recv_consumed;
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
            dispatch_frame(stx, int(etx - stx) + 1);
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

// Replies are short ASCII text. Decoded into a text the device keeps for the purpose, they cost
// no allocation; a handler that keeps the frame holds a copy of its own, and the device's text
// is reallocated next time.
void ZRCommonInterface::dispatch_frame(const char* bytes, int size)
{
    if (size <= reusedTextChars) {
        QString& text = d->recv_text;
        text.resize(size);
        if (widenAscii(bytes, size, text.data())) {
            decode_cmd(text);
            return;
        }
    }
    decode_cmd(QString::fromUtf8(bytes, size));
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
