#include "machinepeer.h"

#include <QTcpSocket>
#include <QTest>

MachinePeer::MachinePeer()
{
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            delete m_client;
            m_client = socket;
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                m_received += socket->readAll();
                answerFrames();
            });
        }
    });
}

quint16 MachinePeer::port() const
{
    return m_server.serverPort();
}

bool MachinePeer::waitForClient(int timeoutMs)
{
    return QTest::qWaitFor([this] { return m_client != nullptr; }, timeoutMs);
}

QList<QByteArray> MachinePeer::frames() const
{
    QList<QByteArray> frames;
    int start = 0;
    for (int etx = m_received.indexOf('\x03'); etx >= 0; etx = m_received.indexOf('\x03', start)) {
        frames.append(m_received.mid(start, etx - start + 1));
        start = etx + 1;
    }
    return frames;
}

bool MachinePeer::waitForFrames(int count, int timeoutMs)
{
    return QTest::qWaitFor([this, count] { return frames().size() >= count; }, timeoutMs);
}

void MachinePeer::send(const QByteArray& bytes, int chunkSize)
{
    if (!m_client)
        return;
    const int step = chunkSize > 0 ? chunkSize : qMax(1, bytes.size());
    for (int at = 0; at < bytes.size(); at += step) {
        m_client->write(bytes.mid(at, step));
        m_client->flush();
        if (chunkSize > 0)
            QTest::qWait(1);
    }
}

void MachinePeer::answerFrames()
{
    for (int etx = m_received.indexOf('\x03', m_answered); etx >= 0;
         etx = m_received.indexOf('\x03', m_answered)) {
        const QByteArray frame = m_received.mid(m_answered, etx - m_answered + 1);
        m_answered = etx + 1;
        const QByteArray reply = answer ? answer(frame) : QByteArray();
        if (!reply.isEmpty() && m_client)
            m_client->write(reply);
    }
    if (!keepReceived) {
        m_received.remove(0, m_answered);
        m_answered = 0;
    }
}

void MachinePeer::dropClient()
{
    if (m_client)
        m_client->disconnectFromHost();
}
