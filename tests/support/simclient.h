#pragma once

// A plain client playing the device's end against the simulated machine: it writes byte-exact
// frames and cuts what comes back into frames (a frame ends at the first ETX and starts at the
// last STX before it), independently of the simulator's own code.

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QTcpSocket>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <termios.h>
#include <unistd.h>

namespace simtest {

inline int digits(int n)
{
    return QByteArray::number(n).size();
}

// The frame the device would send: its length counts every byte, its own digits included.
inline QByteArray frame(const QByteArray& head, const QByteArray& payload)
{
    const int n = head.size() + 1 + payload.size() + 3;
    const int length = n + digits(n + digits(n));
    return '\x02' + QByteArray::number(length) + ';' + head + ';' + payload + '\x03';
}

inline QList<QByteArray> cutFrames(const QByteArray& bytes)
{
    QList<QByteArray> frames;
    int from = 0;
    for (int etx = bytes.indexOf('\x03'); etx >= 0; etx = bytes.indexOf('\x03', from)) {
        const int stx = bytes.lastIndexOf('\x02', etx);
        if (stx >= from)
            frames.append(bytes.mid(stx, etx - stx + 1));
        from = etx + 1;
    }
    return frames;
}

inline QByteArray headOf(const QByteArray& frame)
{
    const QList<QByteArray> fields = frame.split(';');
    return fields.value(1);
}

// What follows the second ';', without the ETX.
inline QByteArray payloadOf(const QByteArray& frame)
{
    const int first = frame.indexOf(';');
    const int second = frame.indexOf(';', first + 1);
    return second < 0 ? QByteArray() : frame.mid(second + 1, frame.size() - second - 2);
}

// A reply's fields: the payload without the ';' that ends it.
inline QByteArray bodyOf(const QByteArray& frame)
{
    const QByteArray payload = payloadOf(frame);
    return payload.endsWith(';') ? payload.chopped(1) : payload;
}

inline bool isReport(const QByteArray& frame)
{
    return headOf(frame) == "CCMD" && payloadOf(frame).startsWith("66,");
}

class Client {
public:
    Client() = default;
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool connectTo(quint16 port)
    {
        m_socket.reset(new QTcpSocket);
        m_bytes.clear();
        m_reads = 0;
        m_closed = false;
        QObject::connect(m_socket.get(), &QTcpSocket::readyRead, [this] {
            m_bytes += m_socket->readAll();
            ++m_reads;
        });
        QObject::connect(m_socket.get(), &QTcpSocket::disconnected, [this] { m_closed = true; });
        m_socket->connectToHost(QHostAddress::LocalHost, port);
        return m_socket->waitForConnected(3000);
    }

    void send(const QByteArray& bytes)
    {
        m_socket->write(bytes);
        m_socket->flush();
    }
    void send(const QByteArray& head, const QByteArray& payload) { send(frame(head, payload)); }

    QByteArray bytes() const { return m_bytes; }
    QList<QByteArray> frames() const { return cutFrames(m_bytes); }
    int reads() const { return m_reads; }
    bool isClosed() const { return m_closed; }
    void clear() { m_bytes.clear(); }
    QTcpSocket* socket() const { return m_socket.get(); }

    bool waitForFrames(int count, int timeoutMs = 3000)
    {
        return QTest::qWaitFor([this, count] { return frames().size() >= count; }, timeoutMs);
    }
    bool waitForClose(int timeoutMs = 3000)
    {
        return QTest::qWaitFor([this] { return m_closed; }, timeoutMs);
    }
    // Waits for a frame whose payload starts with prefix, and returns it (empty on time-out).
    QByteArray waitForPayload(const QByteArray& prefix, int timeoutMs = 3000)
    {
        QByteArray found;
        [[maybe_unused]] const bool seen = QTest::qWaitFor(
            [&] {
                for (const QByteArray& f : frames()) {
                    if (payloadOf(f).startsWith(prefix)) {
                        found = f;
                        return true;
                    }
                }
                return false;
            },
            timeoutMs);
        return found;
    }

private:
    std::unique_ptr<QTcpSocket> m_socket;
    QByteArray m_bytes;
    int m_reads = 0;
    bool m_closed = false;
};

// Progress reports (CCMD 66) among frames, as their comma fields.
inline QList<QList<QByteArray>> reports(const QList<QByteArray>& frames)
{
    QList<QList<QByteArray>> result;
    for (const QByteArray& f : frames) {
        if (isReport(f))
            result.append(bodyOf(f).split(','));
    }
    return result;
}

// Opens a tty the way the USB transport opens the machine's: raw, no controlling terminal.
inline int openRawTty(const QString& path)
{
    const int fd
        = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios mode;
    if (fd >= 0 && tcgetattr(fd, &mode) == 0) {
        cfmakeraw(&mode);
        tcsetattr(fd, TCSANOW, &mode);
    }
    return fd;
}

// Reads a tty until `frames` frames have come, or the far end hangs up (then *hungUp is set).
inline QByteArray readTty(int fd, int frames, bool* hungUp = nullptr, int timeoutMs = 3000)
{
    QByteArray bytes;
    bool gone = false;
    [[maybe_unused]] const bool done = QTest::qWaitFor(
        [&] {
            char buffer[4096];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0)
                bytes += QByteArray(buffer, int(n));
            else if (n == 0 || errno != EAGAIN)
                gone = true;
            return gone || (!hungUp && cutFrames(bytes).size() >= frames);
        },
        timeoutMs);
    if (hungUp)
        *hungUp = gone;
    return bytes;
}

inline bool writeTty(int fd, const QByteArray& bytes)
{
    return ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
}

// A closed square outline of side mm, in plotter units (40 to the millimetre).
inline QByteArray square(int mm)
{
    const QByteArray s = QByteArray::number(mm * 40);
    return "IN;PU0,0;PD" + s + ",0," + s + ',' + s + ",0," + s + ",0,0;PU0,0;";
}

} // namespace simtest
