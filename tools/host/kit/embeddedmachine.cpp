#include "embeddedmachine.h"

EmbeddedMachine::EmbeddedMachine(const SimOptions& options, QObject* parent)
    : QObject(parent)
    , m_machine(new SimMachine(options))
{ }

// The fronts hold links into the machine, so they go first.
EmbeddedMachine::~EmbeddedMachine()
{
    m_pty.reset();
    m_tcp.reset();
}

bool EmbeddedMachine::listenTcp()
{
    if (!m_tcp)
        m_tcp.reset(new SimTcpFront(m_machine.get()));
    if (m_tcp->port() != 0)
        return true;
    if (m_tcp->listen(QHostAddress::LocalHost, 0))
        return true;
    m_error
        = QStringLiteral("the simulator cannot listen on 127.0.0.1: %1").arg(m_tcp->errorString());
    return false;
}

bool EmbeddedMachine::openPty()
{
    if (!m_pty)
        m_pty.reset(new SimPtyFront(m_machine.get()));
    if (m_pty->isOpen() || m_pty->open())
        return true;
    m_error = QStringLiteral("the simulator cannot open a pseudo-terminal: %1")
                  .arg(m_pty->errorString());
    return false;
}

MachineTarget EmbeddedMachine::target() const
{
    if (m_tcp && m_tcp->port() != 0)
        return MachineTarget::tcp(QStringLiteral("127.0.0.1"), m_tcp->port());
    if (m_pty && m_pty->isOpen())
        return MachineTarget::usb(m_pty->slavePath());
    return MachineTarget();
}
