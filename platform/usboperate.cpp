#include "usboperate.h"

#include "usbframetext.h"

#include <QFile>
#include <QSocketNotifier>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// A port whose device went away (unplugged, or the far end of a pty closed) fails with one of
// these; it has hung up rather than failed.
bool isHangUp(int error)
{
    return error == EIO || error == ENXIO || error == ENODEV;
}

// One wake-up reads at most this much, so that a machine streaming bytes cannot starve the
// event loop; the notifier fires again for the rest.
constexpr int maxReadPerWakeUp = 64 * 1024;

} // namespace

UsbOperate::UsbOperate(QObject* parent)
    : QObject(parent)
{ }

UsbOperate::~UsbOperate()
{
    closePort();
}

void UsbOperate::usbConnect(QString path, ConnectionMode, bool)
{
    if (m_fd >= 0) {
        closePort();
        report(0);
    }

    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        report(2);
        return;
    }
    // Frames carry STX and ETX, which a tty's line discipline would take for control characters;
    // the modem lines mean nothing to the machine.
    if (::isatty(fd)) {
        termios mode;
        bool raw = ::tcgetattr(fd, &mode) == 0;
        if (raw) {
            ::cfmakeraw(&mode);
            mode.c_cflag |= CLOCAL | CREAD;
            raw = ::tcsetattr(fd, TCSANOW, &mode) == 0;
        }
        if (!raw) {
            ::close(fd);
            report(2);
            return;
        }
    }

    m_fd = fd;
    m_readNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_readNotifier, SIGNAL(activated(QSocketDescriptor, QSocketNotifier::Type)), this,
        SLOT(readPort()));
    m_writeNotifier = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, SIGNAL(activated(QSocketDescriptor, QSocketNotifier::Type)), this,
        SLOT(writePort()));
    report(1);
}

void UsbOperate::send(QString frame)
{
    const QByteArray bytes = usbFrameBytes(frame);
    if (bytes.isEmpty())
        return;
    // The port and its notifiers belong to this object's thread.
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this, bytes] { enqueue(bytes); }, Qt::QueuedConnection);
        return;
    }
    enqueue(bytes);
}

void UsbOperate::enqueue(const QByteArray& frame)
{
    if (m_fd < 0)
        return;
    m_outgoing.enqueue(frame);
    // While the notifier waits for room, the queue is drained from there, in order.
    if (!m_writeNotifier->isEnabled())
        writePort();
}

void UsbOperate::readPort()
{
    if (m_fd < 0)
        return;
    QByteArray data;
    int ended = -1;
    char chunk[16 * 1024];
    while (data.size() < maxReadPerWakeUp) {
        const ssize_t n = ::read(m_fd, chunk, sizeof chunk);
        if (n > 0) {
            data.append(chunk, int(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        } else {
            ended = (n == 0 || isHangUp(errno)) ? 0 : 2;
            break;
        }
    }
    // The port is settled before anything is emitted: a receiver may reconnect from its slot.
    if (ended >= 0)
        closePort();
    if (!data.isEmpty())
        emit readData(data);
    if (ended >= 0)
        report(ended);
}

void UsbOperate::writePort()
{
    if (m_fd < 0)
        return;
    QList<QByteArray> written;
    int ended = -1;
    while (!m_outgoing.isEmpty()) {
        const QByteArray& head = m_outgoing.head();
        const ssize_t n
            = ::write(m_fd, head.constData() + m_headWritten, size_t(head.size() - m_headWritten));
        if (n > 0) {
            m_headWritten += int(n);
            if (m_headWritten == head.size()) {
                written.append(m_outgoing.dequeue());
                m_headWritten = 0;
            }
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
            break;
        } else {
            ended = isHangUp(errno) ? 0 : 2;
            break;
        }
    }
    if (ended >= 0)
        closePort();
    else
        m_writeNotifier->setEnabled(!m_outgoing.isEmpty());
    for (const QByteArray& frame : qAsConst(written))
        emit writeData(frame);
    if (ended >= 0)
        report(ended);
}

void UsbOperate::closePort()
{
    if (m_fd < 0)
        return;
    // The notifiers may be the ones whose signal is being handled right now.
    for (QSocketNotifier* notifier : { m_readNotifier, m_writeNotifier }) {
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
    m_readNotifier = m_writeNotifier = nullptr;
    ::close(m_fd);
    m_fd = -1;
    m_outgoing.clear();
    m_headWritten = 0;
}

void UsbOperate::report(int status)
{
    QMetaObject::invokeMethod(
        this, [this, status] { emit statusChanged(status); }, Qt::QueuedConnection);
}
