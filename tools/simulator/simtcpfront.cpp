#include "simtcpfront.h"

#include "simlink.h"
#include "simmachine.h"

#include <QTcpSocket>

SimTcpFront::SimTcpFront(SimMachine* machine, QObject* parent)
    : QObject(parent)
    , m_machine(machine)
{
    connect(&m_server, &QTcpServer::newConnection, this, &SimTcpFront::accept);
}

SimTcpFront::~SimTcpFront()
{
    if (m_socket)
        m_socket->abort();
}

bool SimTcpFront::listen(const QHostAddress& address, quint16 port)
{
    return m_server.listen(address, port);
}

void SimTcpFront::accept()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        if (m_socket) {
            m_machine->log(
                QStringLiteral("tcp: a new connection takes over from the previous one"));
            close(m_socket);
        }
        m_socket = socket;
        ++m_connections;
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);

        // The link lives as long as its socket.
        auto* link = new SimLink(m_machine,
            QStringLiteral("tcp %1 (%2:%3)")
                .arg(m_connections)
                .arg(socket->peerAddress().toString())
                .arg(socket->peerPort()),
            socket);
        connect(socket, &QTcpSocket::readyRead, link,
            [socket, link] { link->receive(socket->readAll()); });
        connect(link, &SimLink::bytesOut, socket, [socket](const QByteArray& bytes) {
            socket->write(bytes);
            socket->flush();
        });
        connect(link, &SimLink::hangUpRequested, this, [this, socket] { close(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            if (m_socket == socket)
                m_socket = nullptr;
            socket->deleteLater();
        });
    }
}

void SimTcpFront::close(QTcpSocket* socket)
{
    if (m_socket == socket)
        m_socket = nullptr;
    if (auto* link = socket->findChild<SimLink*>())
        link->shutDown();
    // Whatever the link wrote goes out before the connection closes.
    socket->disconnectFromHost();
    if (socket->state() == QAbstractSocket::UnconnectedState)
        socket->deleteLater();
}

void SimTcpFront::dropConnection()
{
    if (m_socket)
        close(m_socket);
}
