#include "hostcontext.h"

#include "exitcode.h"

HostContext::HostContext(const HostOptions& options)
    : m_options(options)
    , m_console(options.quiet, options.verbose)
{
    QObject::connect(&m_session, &HostSession::linkLost, [this](const QString& line) {
        m_console.error(QStringLiteral("the link to the machine went down: %1").arg(line));
    });
}

bool HostContext::isEmbedded() const
{
    return m_options.session.target.kind == MachineTarget::Embedded;
}

int HostContext::open()
{
    if (m_session.device())
        return ExitOk;
    if (!m_session.open(m_options.session)) {
        m_console.error(
            QStringLiteral("cannot load the device plugin: %1").arg(m_session.errorString()));
        return ExitNoPlugin;
    }
    m_console.detail(QStringLiteral("plugin %1").arg(m_session.plugin().fileName()));
    return ExitOk;
}

int HostContext::connect()
{
    const int opened = open();
    if (opened != ExitOk)
        return opened;
    if (m_session.connector()->isConnected())
        return ExitOk;
    const QMetaObject::Connection cancel = QObject::connect(&m_interrupts,
        &InterruptWatcher::interrupted, m_session.connector(), &MachineConnector::cancel);
    const bool connected = m_session.connectMachine();
    QObject::disconnect(cancel);
    if (!connected) {
        if (m_interrupts.count() > 0)
            return ExitInterrupted;
        m_console.error(
            QStringLiteral("cannot reach the machine: %1").arg(m_session.errorString()));
        return ExitNoMachine;
    }
    if (m_options.verbose && m_session.embedded()) {
        QObject::connect(
            m_session.embedded()->machine(), &SimMachine::logLine, [this](const QString& line) {
                m_console.detail(QStringLiteral("simulator: %1").arg(line));
            });
    }
    m_console.note(QStringLiteral("Connected to %1.").arg(m_session.machineName()));
    return ExitOk;
}
