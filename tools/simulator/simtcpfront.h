#pragma once

#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

class SimLink;
class SimMachine;

// The machine's network port: listens for the host on TCP and serves the machine over the
// connection. Like the machine's own port it holds one connection at a time: a new connection
// takes over and the previous one is closed, so a host that reconnects after losing track of a
// half-dead link is served at once.
class SimTcpFront : public QObject {
    Q_OBJECT
public:
    explicit SimTcpFront(SimMachine* machine, QObject* parent = nullptr);
    ~SimTcpFront() override;

    // Port 0 picks a free one; port() tells which.
    bool listen(const QHostAddress& address = QHostAddress::LocalHost, quint16 port = 0);
    quint16 port() const { return m_server.serverPort(); }
    QHostAddress address() const { return m_server.serverAddress(); }
    QString errorString() const { return m_server.errorString(); }

    bool isConnected() const { return m_socket != nullptr; }
    int connectionCount() const { return m_connections; }
    // Closes the current connection, as a pulled cable would.
    void dropConnection();

private:
    void accept();
    void close(QTcpSocket* socket);

    SimMachine* m_machine;
    QTcpServer m_server;
    QPointer<QTcpSocket> m_socket;
    int m_connections = 0;
};
