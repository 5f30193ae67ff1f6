#include "simptyfront.h"

#include "simlink.h"
#include "simmachine.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// A peer that stops reading must not make the machine hoard its output.
constexpr int maxUnwrittenBytes = 1024 * 1024;
constexpr int peerPollMs = 50;

} // namespace

SimPtyFront::SimPtyFront(SimMachine* machine, QObject* parent)
    : QObject(parent)
    , m_machine(machine)
{
    m_peerPoll.setInterval(peerPollMs);
    connect(&m_peerPoll, &QTimer::timeout, this, &SimPtyFront::checkPeer);
    m_drainPoll.setInterval(10);
    connect(&m_drainPoll, &QTimer::timeout, this, &SimPtyFront::drain);
}

SimPtyFront::~SimPtyFront()
{
    close();
}

bool SimPtyFront::open()
{
    close();
    m_reopening = false;
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        if (master >= 0)
            ::close(master);
        return false;
    }
    char name[256];
    if (ptsname_r(master, name, sizeof name) != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        ::close(master);
        return false;
    }
    // Termios set through the master belong to the slave: raw bytes, no echo, no line editing.
    termios mode;
    if (tcgetattr(master, &mode) == 0) {
        cfmakeraw(&mode);
        tcsetattr(master, TCSANOW, &mode);
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC);

    m_master = master;
    m_slavePath = QString::fromLocal8Bit(name);
    m_readNotifier = new QSocketNotifier(master, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &SimPtyFront::readMaster);
    m_writeNotifier = new QSocketNotifier(master, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &SimPtyFront::writeMaster);
    m_machine->log(QStringLiteral("pty: slave %1").arg(m_slavePath));
    updateLinkPath();
    emit slavePathChanged(m_slavePath);
    return true;
}

void SimPtyFront::close()
{
    m_reopening = false;
    m_peerPoll.stop();
    m_drainPoll.stop();
    delete m_link;
    m_link = nullptr;
    delete m_readNotifier;
    m_readNotifier = nullptr;
    delete m_writeNotifier;
    m_writeNotifier = nullptr;
    m_unwritten.clear();
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
}

void SimPtyFront::setLinkPath(const QString& path)
{
    m_linkPath = path;
    updateLinkPath();
}

void SimPtyFront::updateLinkPath()
{
    if (m_linkPath.isEmpty() || m_slavePath.isEmpty())
        return;
    const QFileInfo current(m_linkPath);
    if (current.exists() && !current.isSymLink()) {
        m_machine->log(QStringLiteral("pty: %1 exists and is not a symbolic link; left alone")
                           .arg(m_linkPath));
        return;
    }
    QFile::remove(m_linkPath);
    if (!QFile::link(m_slavePath, m_linkPath))
        m_machine->log(QStringLiteral("pty: cannot link %1").arg(m_linkPath));
}

void SimPtyFront::readMaster()
{
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n > 0) {
            if (!m_link) {
                m_link = new SimLink(m_machine, QStringLiteral("pty %1").arg(++m_links), this);
                connect(m_link, &SimLink::bytesOut, this, [this](const QByteArray& bytes) {
                    m_unwritten += bytes;
                    if (m_unwritten.size() > maxUnwrittenBytes)
                        m_unwritten.clear();
                    writeMaster();
                });
                connect(m_link, &SimLink::hangUpRequested, this, &SimPtyFront::dropConnection,
                    Qt::QueuedConnection);
            }
            m_link->receive(QByteArray(buffer, int(n)));
            if (m_master < 0)
                return;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return;
        // EIO (or end of file): the last peer closed the slave.
        peerGone();
        return;
    }
}

void SimPtyFront::writeMaster()
{
    while (!m_unwritten.isEmpty() && m_master >= 0) {
        const ssize_t n = ::write(m_master, m_unwritten.constData(), size_t(m_unwritten.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            if (errno != EAGAIN)
                m_unwritten.clear();
            break;
        }
        m_unwritten.remove(0, int(n));
    }
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(!m_unwritten.isEmpty());
}

void SimPtyFront::peerGone()
{
    delete m_link;
    m_link = nullptr;
    m_unwritten.clear();
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(false);
    // The master stays readable while no peer holds the slave; wait for one to open it again.
    if (m_readNotifier)
        m_readNotifier->setEnabled(false);
    m_peerPoll.start();
}

void SimPtyFront::checkPeer()
{
    if (m_master < 0) {
        m_peerPoll.stop();
        return;
    }
    pollfd fd = { m_master, POLLIN, 0 };
    if (::poll(&fd, 1, 0) >= 0 && (fd.revents & POLLHUP))
        return;
    m_peerPoll.stop();
    m_readNotifier->setEnabled(true);
}

void SimPtyFront::dropConnection()
{
    if (m_master < 0 || m_drainPoll.isActive())
        return;
    m_machine->log(QStringLiteral("pty: hanging up %1").arg(m_slavePath));
    if (m_link)
        m_link->shutDown();
    m_draining.start();
    m_drainPoll.start();
    drain();
}

bool SimPtyFront::peerHasUnread() const
{
    // The slave's input queue is the tty's own, whoever holds it open.
    const int fd
        = ::open(m_slavePath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    int unread = 0;
    const bool known = ::ioctl(fd, FIONREAD, &unread) == 0;
    ::close(fd);
    return known && unread > 0;
}

void SimPtyFront::drain()
{
    if ((!m_unwritten.isEmpty() || peerHasUnread()) && m_draining.elapsed() < drainLimitMs)
        return;
    close();
    m_reopening = true;
    QTimer::singleShot(reopenDelayMs, this, [this] {
        if (m_reopening && m_master < 0)
            open();
        m_reopening = false;
    });
}
