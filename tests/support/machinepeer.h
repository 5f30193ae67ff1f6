#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpServer>

#include <functional>

class QTcpSocket;

// Plays the machine's end of a TCP link on 127.0.0.1 at an ephemeral port: accepts a connection,
// records every byte the device sends, and sends back whatever the test gives it.
class MachinePeer : public QObject {
    Q_OBJECT
public:
    MachinePeer();

    quint16 port() const;
    QTcpSocket* client() const { return m_client; }
    bool waitForClient(int timeoutMs = 5000);

    QByteArray received() const { return m_received; }
    // Received bytes cut at ETX, each frame from its STX (or the start) through its ETX.
    QList<QByteArray> frames() const;
    bool waitForFrames(int count, int timeoutMs = 5000);
    void clearReceived()
    {
        m_received.clear();
        m_answered = 0;
    }

    // Sends bytes to the device, flushing after each chunk so that the device really receives
    // them as separate reads; chunkSize 0 sends them in one piece.
    void send(const QByteArray& bytes, int chunkSize = 0);
    void dropClient();

    // When set, each complete frame the device sends is handed to it as it arrives, and what it
    // returns is sent back at once.
    std::function<QByteArray(const QByteArray& frame)> answer;
    // Off: answered frames are not kept, for runs too long to keep every byte.
    bool keepReceived = true;

private:
    void answerFrames();

    QTcpServer m_server;
    QTcpSocket* m_client = nullptr;
    QByteArray m_received;
    int m_answered = 0; // bytes of m_received already offered to answer
};
