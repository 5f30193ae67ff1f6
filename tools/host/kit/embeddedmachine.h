#pragma once

#include "machinetarget.h"
#include "simmachine.h"
#include "simptyfront.h"
#include "simtcpfront.h"

#include <QObject>
#include <QString>

#include <memory>

// The project's simulated ZR-TX4150V, run inside the host process so that the host works without
// a machine. It is served on 127.0.0.1 on a free TCP port and, on request, on a pseudo-terminal
// whose slave path plays the machine's USB port. The device reaches it exactly as it reaches a
// real machine.
class EmbeddedMachine : public QObject {
    Q_OBJECT
public:
    explicit EmbeddedMachine(const SimOptions& options = SimOptions(), QObject* parent = nullptr);
    ~EmbeddedMachine() override;

    bool listenTcp();
    bool openPty();
    QString errorString() const { return m_error; }

    // The TCP front once it listens; otherwise the pseudo-terminal.
    MachineTarget target() const;

    SimMachine* machine() const { return m_machine.get(); }
    SimTcpFront* tcpFront() const { return m_tcp.get(); }
    SimPtyFront* ptyFront() const { return m_pty.get(); }

private:
    std::unique_ptr<SimMachine> m_machine;
    std::unique_ptr<SimTcpFront> m_tcp;
    std::unique_ptr<SimPtyFront> m_pty;
    QString m_error;
};
