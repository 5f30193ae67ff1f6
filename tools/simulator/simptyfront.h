#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class QSocketNotifier;
class SimLink;
class SimMachine;

// The machine's USB port, played by a pseudo-terminal: the host opens the slave side as it
// would open the machine's tty (raw mode is already set), and the machine is served on the
// master side.
//
// A pseudo-terminal cannot tell when a peer opens it, so the link comes up with the first byte
// the peer writes and goes down when the last peer closes the slave. Nothing is written while
// no link is up. Hanging up (a fault the options ask for) closes the pair and opens a new one
// a moment later, under a new slave path; a link path, when set, is a symbolic link kept
// pointing at the current slave so that the host can reconnect by the same name.
class SimPtyFront : public QObject {
    Q_OBJECT
public:
    explicit SimPtyFront(SimMachine* machine, QObject* parent = nullptr);
    ~SimPtyFront() override;

    bool open();
    void close();
    bool isOpen() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }
    QString errorString() const { return m_error; }

    // The symbolic link is replaced only if it is one (or absent), never a regular file.
    void setLinkPath(const QString& path);
    QString linkPath() const { return m_linkPath; }

    bool isConnected() const { return m_link != nullptr; }
    // Closes the pair and opens a new one, as a pulled cable and a re-plugged one would. What
    // the machine has written is left a moment (up to drainLimitMs) to be read first, since
    // closing the master discards what the peer has not read yet.
    void dropConnection();

    static constexpr int drainLimitMs = 1000;
    static constexpr int reopenDelayMs = 200;

signals:
    void slavePathChanged(const QString& path);

private:
    void readMaster();
    void writeMaster();
    void checkPeer();
    void peerGone();
    bool peerHasUnread() const;
    void drain();
    void updateLinkPath();

    SimMachine* m_machine;
    int m_master = -1;
    QString m_slavePath;
    QString m_linkPath;
    QString m_error;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    QTimer m_peerPoll;
    QTimer m_drainPoll;
    QElapsedTimer m_draining;
    SimLink* m_link = nullptr;
    QByteArray m_unwritten;
    int m_links = 0;
    bool m_reopening = false;
};
