#pragma once

// What the host's tests share: zrhost run as a process, the simulated machine on a free port,
// and a kit session connected to a machine.

#include "cutfile.h"
#include "session.h"
#include "simrig.h"

#include <QProcess>
#include <QTest>

#include <memory>

namespace hostrig {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs zrhost to its end while this process's event loop goes on, so that a machine or service
// here keeps answering it. stdinPath, when given, is its standard input (a terminal, say).
inline Run zrhost(
    const QStringList& arguments, int timeoutMs = 30000, const QString& stdinPath = QString())
{
    QProcess process;
    if (!stdinPath.isEmpty())
        process.setStandardInputFile(stdinPath);
    process.start(QStringLiteral(ZRHOST_PATH), arguments);
    Run run;
    if (!process.waitForStarted(5000))
        return run;
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, timeoutMs)) {
        process.kill();
        process.waitForFinished();
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// The simulated machine as the host's tests reach it.
struct Machine : SimRig {
    explicit Machine(const SimOptions& options = fastMachine())
        : SimRig(options)
    { }
    MachineTarget target(bool usb = false)
    {
        if (usb && !pty.isOpen())
            pty.open();
        return usb ? MachineTarget::usb(pty.slavePath())
                   : MachineTarget::tcp(QStringLiteral("127.0.0.1"), tcp.port());
    }
    QStringList at() const
    {
        return { "--ip", "127.0.0.1", "--port", QString::number(tcp.port()) };
    }
};

// Another host's job of copies, cutting on the machine: the rig's client sent it.
inline bool otherHostsJob(Machine& machine, int copies)
{
    if (!machine.connectClient())
        return false;
    machine.client.send("CMD", "NUM:" + QByteArray::number(copies) + ';');
    machine.client.send("PLT", simtest::square(100));
    return QTest::qWaitFor([&] { return machine.sim.jobStatus() == SimMachine::Cutting; }, 5000);
}

inline SessionOptions sessionOptions(const MachineTarget& target)
{
    SessionOptions options;
    options.pluginDir = QStringLiteral(ZR_PLUGIN_DIR);
    options.target = target;
    options.connectTimeoutMs = 5000;
    return options;
}

// A session with the plugin, connected to the target (an unconnected one when it is the
// embedded default and connect is false).
inline std::unique_ptr<Session> session(const SessionOptions& options, bool connect = true)
{
    std::unique_ptr<Session> session(new Session);
    if (!session->open(options))
        return nullptr;
    if (connect) {
        session->connectMachine();
        [[maybe_unused]] const bool settled
            = QTest::qWaitFor([&] { return session->link() != Session::Connecting; }, 10000);
    }
    return session;
}

// The file read, planned and written as a job does it; why it is not, in *error (or a warning).
inline CutFile prepared(const QString& path, const CutSettings& settings = {},
    const CutMachine& machine = {}, QString* error = nullptr)
{
    CutFile file;
    QString why;
    const bool ok = file.read(path, &why) && file.plan(settings, machine, &why) && file.write(&why);
    if (error)
        *error = why;
    else if (!ok)
        qWarning() << why;
    return file;
}

// The sample gasket as a job sends it, prepared once.
inline const CutFile& gasket()
{
    static const CutFile file = prepared(QStringLiteral(ZR_SAMPLES_DIR "/gasket.plt"));
    return file;
}

// Sends the request and waits for its end.
inline const Result& ask(Session& session, const Request& request, int timeoutMs = 15000)
{
    Reply* reply = session.send(request);
    [[maybe_unused]] const bool ended
        = QTest::qWaitFor([reply] { return reply->isFinished(); }, timeoutMs);
    return reply->result();
}

} // namespace hostrig
