#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QWebSocket;
class ZRCommonInterface;

// Paces the runtime reports a device sends on its remote channel, so that a service that
// prompts without end, or stops reading, can neither make the device send more than a trickle
// nor make it hold more than a bounded backlog. It lives as a child of the channel's socket.
//
// - Prompts: up to promptBurst are answered at once, then promptsPerSecond. Prompts beyond are
//   dropped and counted, and one report follows as soon as the rate allows again.
// - Sending: a report goes out while the socket holds less than maxQueuedBytes unsent. Past
//   that one report waits, and goes when the socket has drained; it is made then, so it carries
//   the newest state.
class RemoteReports : public QObject {
    Q_OBJECT
public:
    static constexpr int promptBurst = 10;
    static constexpr int promptsPerSecond = 5;
    static constexpr qint64 maxQueuedBytes = 64 * 1024;

    // The pacer of device's socket, made on first use.
    static RemoteReports* of(ZRCommonInterface* device, QWebSocket* socket);

    // Whether a prompt is answered now; otherwise it is dropped.
    bool admitPrompt();
    // Whether a report may go out now; otherwise one goes later.
    bool maySend();

    int droppedPrompts() const { return m_dropped; }

private:
    RemoteReports(ZRCommonInterface* device, QWebSocket* socket);
    void refill();
    void reportLater();
    void drained();

    ZRCommonInterface* m_device;
    QWebSocket* m_socket;
    double m_tokens = promptBurst;
    QElapsedTimer m_clock;
    QTimer m_trailing; // the report owed to dropped prompts
    bool m_waiting = false; // a report waits for the socket to drain
    int m_dropped = 0;
    int m_droppedLogged = 0;
};
