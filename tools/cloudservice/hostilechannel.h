#pragma once

#include <QByteArray>
#include <QObject>

class QTcpSocket;

// The service's end of a remote channel that misbehaves on the wire, below what a WebSocket
// library lets one send: it completes the opening handshake itself, then either sends one text
// message that never ends (continuation frames without a final one, reading and dropping what
// the device sends), or floods the device with prompts and never reads what it sends back.
// What it writes is made as the socket takes it, so it costs the service no memory.
class HostileChannel : public QObject {
    Q_OBJECT
public:
    enum Kind { EndlessMessage, FloodWithoutReading };

    // Takes the socket over, as a child.
    HostileChannel(QTcpSocket* socket, Kind kind, QObject* parent = nullptr);

    // What it has sent while open; once closed, closed() has told.
    qint64 bytesSent() const { return m_sent; }
    int promptsSent() const { return m_prompts; }

signals:
    void closed(qint64 bytesSent, int promptsSent);

private:
    void readHandshake();
    void pump();
    static QByteArray serverFrame(bool final, int opcode, const QByteArray& payload);

    QTcpSocket* m_socket;
    Kind m_kind;
    QByteArray m_request;
    bool m_open = false;
    qint64 m_sent = 0;
    int m_prompts = 0;
};
