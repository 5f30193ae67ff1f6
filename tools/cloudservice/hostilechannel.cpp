#include "hostilechannel.h"

#include <QCryptographicHash>
#include <QTcpSocket>

namespace {

constexpr int maxHandshakeBytes = 16 * 1024;
constexpr qint64 queuedBytes = 256 * 1024;
constexpr int pieceBytes = 32 * 1024; // fits the 16-bit length form

} // namespace

HostileChannel::HostileChannel(QTcpSocket* socket, Kind kind, QObject* parent)
    : QObject(parent)
    , m_socket(socket)
    , m_kind(kind)
{
    socket->setParent(this);
    connect(socket, &QTcpSocket::readyRead, this, &HostileChannel::readHandshake);
    connect(socket, &QTcpSocket::bytesWritten, this, &HostileChannel::pump);
    connect(socket, &QTcpSocket::disconnected, this, [this] {
        emit closed(m_sent, m_prompts);
        m_sent = 0;
        m_prompts = 0;
        deleteLater();
    });
    readHandshake();
}

void HostileChannel::readHandshake()
{
    if (m_open) {
        // Only an endless message reads on, to throw away what comes: the flood reads nothing.
        if (m_kind == EndlessMessage)
            m_socket->readAll();
        return;
    }
    m_request += m_socket->readAll();
    const int end = m_request.indexOf("\r\n\r\n");
    if (end < 0) {
        if (m_request.size() > maxHandshakeBytes)
            m_socket->abort();
        return;
    }
    QByteArray key;
    for (const QByteArray& line : m_request.left(end).split('\n')) {
        const int colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == "sec-websocket-key")
            key = line.mid(colon + 1).trimmed();
    }
    const QByteArray accept = QCryptographicHash::hash(
        key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11", QCryptographicHash::Sha1)
                                  .toBase64();
    m_socket->write("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                    "Connection: Upgrade\r\nSec-WebSocket-Accept: "
        + accept + "\r\n\r\n");
    m_open = true;
    m_request.clear();
    if (m_kind == FloodWithoutReading) {
        // Qt stops reading a socket whose read buffer is full; a small kernel buffer behind it
        // makes the device's writes back up sooner.
        m_socket->setReadBufferSize(1);
        m_socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
    }
    pump();
}

void HostileChannel::pump()
{
    while (m_open && m_socket->state() == QAbstractSocket::ConnectedState
        && m_socket->bytesToWrite() < queuedBytes) {
        QByteArray frame;
        if (m_kind == EndlessMessage) {
            // A text frame that is not final, then continuation frames that are not either.
            frame = serverFrame(false, m_sent == 0 ? 0x1 : 0x0, QByteArray(pieceBytes, 'x'));
        } else {
            frame = serverFrame(true, 0x1, "prompt " + QByteArray::number(++m_prompts));
        }
        m_sent += frame.size();
        m_socket->write(frame);
    }
}

// A frame as a server sends it: not masked, with the shortest length form.
QByteArray HostileChannel::serverFrame(bool final, int opcode, const QByteArray& payload)
{
    QByteArray frame;
    frame += char((final ? 0x80 : 0x00) | opcode);
    const int size = payload.size();
    if (size < 126) {
        frame += char(size);
    } else {
        frame += char(126);
        frame += char((size >> 8) & 0xff);
        frame += char(size & 0xff);
    }
    return frame + payload;
}
