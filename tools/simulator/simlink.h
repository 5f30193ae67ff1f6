#pragma once

#include "simframecutter.h"
#include "simoptions.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <deque>

class SimMachine;

// One connection to the simulated machine, independent of its transport: bytes in, bytes out.
// It cuts what the peer sends into frames for the machine, and shapes what the machine says
// on its way out with the faults the options ask for (delay, pieces, junk, malformed frames,
// hang-ups). The front that owns the connection writes bytesOut() to the wire in order and
// closes it on hangUpRequested().
class SimLink : public QObject {
    Q_OBJECT
public:
    SimLink(SimMachine* machine, const QString& name, QObject* parent = nullptr);
    ~SimLink() override;

    QString name() const { return m_name; }
    int framesIn() const { return m_framesIn; }
    bool isHangingUp() const { return m_hangingUp; }

    // Bytes from the peer, split or joined anywhere.
    void receive(const QByteArray& bytes);
    // A frame from the machine.
    void sendFrame(const QByteArray& frame);
    // Hangs up once what is already on its way has left; nothing more comes in or goes out.
    void hangUp();

    // The connection is gone: the link leaves the machine at once and stays silent.
    void shutDown();
    // The machine is going away.
    void detachMachine() { m_machine = nullptr; }

signals:
    void bytesOut(const QByteArray& bytes);
    void hangUpRequested();

private:
    struct Outgoing {
        QByteArray bytes;
        qint64 dueMs;
        bool hangUp;
        int frames; // good and malformed frames among the bytes
    };

    void enqueue(const QByteArray& bytes, bool hangUp, int frames = 0);
    void pump();
    quint32 random();
    QByteArray junk();
    QByteArray malformed();
    void log(const QString& line);
    void wake();
    void startNoise();
    void makeNoise();

    // A silent machine leaves what comes in unread, up to this much.
    static constexpr int maxUnreadBytes = 16 * 1024 * 1024;
    static constexpr int noiseTickMs = 10;

    SimMachine* m_machine;
    QString m_name;
    SimOptions m_faults;
    SimFrameCutter m_cutter;
    QByteArray m_unread;
    quint32 m_random;
    std::deque<Outgoing> m_queue;
    int m_sentOfFront = 0;
    QTimer m_pumpTimer;
    QTimer m_noiseTimer;
    QElapsedTimer m_clock;
    int m_framesIn = 0;
    int m_goodOut = 0;
    int m_malformedKind = 0;
    bool m_hangingUp = false;
    bool m_noisy = false;
    qint64 m_noiseSent = 0;
};
