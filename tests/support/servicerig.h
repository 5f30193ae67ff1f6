#pragma once

// What the machine service's tests share: the service in this process or as zrhost serve, its
// clients on 127.0.0.1, and the simulated machine it serves.

#include "hostrig.h"
#include "remote.h"
#include "service.h"

#include <QFile>
#include <QRegularExpression>

namespace servicerig {

inline Request gasket(int copies)
{
    Request request = Request::of(Request::Job);
    request.file = QStringLiteral(ZR_SAMPLES_DIR "/gasket.plt");
    QFile file(request.file);
    file.open(QIODevice::ReadOnly);
    request.plt = file.readAll();
    request.copies = copies;
    return request;
}

inline QString url(quint16 port)
{
    return QStringLiteral("ws://127.0.0.1:%1").arg(port);
}

// A client session, connected (or failed) before it is returned.
inline std::unique_ptr<RemoteSession> client(quint16 port, const QString& token = QString())
{
    std::unique_ptr<RemoteSession> session(new RemoteSession(QUrl(url(port)), token));
    if (!session->open(hostrig::sessionOptions(MachineTarget())))
        return nullptr;
    session->connectMachine();
    [[maybe_unused]] const bool settled
        = QTest::qWaitFor([&] { return session->link() != Session::Connecting; }, 10000);
    return session;
}

inline int frames(const SimMachine& machine, const QByteArray& head)
{
    return int(std::count_if(machine.received().cbegin(), machine.received().cend(),
        [&head](const SimFrame& frame) { return frame.head == head; }));
}

// The service in this process, on a free port, serving the simulated machine.
struct Rig {
    explicit Rig(const SimOptions& machineOptions = fastMachine(2000, 20),
        ServiceOptions options = ServiceOptions())
        : machine(machineOptions)
    {
        options.session = hostrig::sessionOptions(machine.target());
        options.port = 0;
        options.database = dir.filePath(QStringLiteral("service.sqlite"));
        int code = 0;
        QString error;
        started = service.start(options, &error, &code)
            && QTest::qWaitFor([this] { return service.session()->isUp(); }, 10000);
    }

    hostrig::Machine machine;
    QTemporaryDir dir;
    MachineService service;
    bool started = false;
};

// zrhost serve as a process on a free port, with its port as it logs it; 0 when it did not start.
// memoryKb: the most address space it may take (ulimit -v), 0 for no limit.
inline quint16 serve(QProcess& process, const QStringList& arguments, qint64 memoryKb = 0)
{
    const QStringList serveArguments
        = QStringList { "serve", "--listen", "127.0.0.1:0" } + arguments;
    if (memoryKb > 0)
        process.start(QStringLiteral("sh"),
            QStringList { "-c", QStringLiteral("ulimit -v %1; exec \"$0\" \"$@\"").arg(memoryKb),
                QStringLiteral(ZRHOST_PATH) }
                + serveArguments);
    else
        process.start(QStringLiteral(ZRHOST_PATH), serveArguments);
    const QRegularExpression serving(QStringLiteral("Serving ws://127.0.0.1:(\\d+)/"));
    QString log;
    QRegularExpressionMatch match;
    [[maybe_unused]] const bool heard = QTest::qWaitFor(
        [&] {
            log += QString::fromUtf8(process.readAllStandardOutput());
            match = serving.match(log);
            return match.hasMatch() || process.state() == QProcess::NotRunning;
        },
        10000);
    return quint16(match.captured(1).toUInt());
}

} // namespace servicerig
