#include "hostcontext.h"

#include "exitcode.h"
#include "machineinfo.h"
#include "parameterreader.h"
#include "readoutcome.h"

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

int HostContext::connectMachine()
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

int HostContext::connect()
{
    const int connected = connectMachine();
    return connected != ExitOk ? connected : attachCloud();
}

int HostContext::readMachineInfo()
{
    if (m_machineInfoRead)
        return ExitOk;
    ParameterReader reader(device());
    const QMetaObject::Connection cancel = QObject::connect(
        &m_interrupts, &InterruptWatcher::interrupted, &reader, &ParameterReader::cancel);
    reader.read(MachineInfo::reads(), m_options.replyTimeoutMs);
    QObject::disconnect(cancel);
    const int outcome = readOutcome(*this, reader);
    m_machineInfoRead = outcome == ExitOk;
    return outcome;
}

QList<QByteArray> HostContext::alreadyRead() const
{
    return m_machineInfoRead ? MachineInfo::reads() : QList<QByteArray>();
}

int HostContext::attachCloud()
{
    if (!m_options.session.cloud.isSet() || m_cloudTried || !device())
        return ExitOk;
    m_cloudTried = true;
    if (!m_session.startCloud()) {
        m_console.error(QStringLiteral("cloud: %1; going on without the cloud service")
                            .arg(m_session.errorString()));
        return ExitOk;
    }
    CloudAttachment* cloud = m_session.cloud();
    QObject::connect(
        cloud, &CloudAttachment::notice, [this](const QString& line) { m_console.note(line); });
    QObject::connect(cloud, &CloudAttachment::problem,
        [this](const QString& line) { m_console.error(QStringLiteral("cloud: %1").arg(line)); });
    QObject::connect(
        cloud, &CloudAttachment::result, [this](const QString& text) { m_console.print(text); });

    // The device registers with what it knows of its machine: board, firmware, machine number.
    const int info = readMachineInfo();
    if (info == ExitInterrupted || info == ExitLinkLost)
        return info;
    const int interruptsBefore = m_interrupts.count();
    const QMetaObject::Connection cancel = QObject::connect(
        &m_interrupts, &InterruptWatcher::interrupted, cloud, &CloudAttachment::cancel);
    cloud->attach(device());
    QObject::disconnect(cancel);
    return m_interrupts.count() > interruptsBefore ? ExitInterrupted : ExitOk;
}
