#include "monitorcommand.h"

#include "exitcode.h"
#include "hostcontext.h"
#include "parametertext.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QEventLoop>
#include <QMetaEnum>
#include <QTimer>

QString MonitorCommand::summary() const
{
    return QStringLiteral("print the device's messages until Ctrl-C");
}

QString MonitorCommand::description() const
{
    return QStringLiteral(
        "Connects and prints every message the device sends its host, with the time: link\n"
        "status lines (DevStatus), task progress reports (DevTasK) and QR-code texts (Qrcode).\n"
        "Ends with Ctrl-C, after --seconds, or when the link goes down. Progress reports come\n"
        "from a machine running a job, so this is for a machine given by --ip or --usb.");
}

QList<QCommandLineOption> MonitorCommand::options() const
{
    return { { "seconds", "Stop after this many seconds.", "seconds" } };
}

int MonitorCommand::run(
    HostContext& context, const QCommandLineParser& parser, const QStringList& arguments)
{
    Console& console = context.console();
    if (!arguments.isEmpty()) {
        console.error(QStringLiteral("monitor takes no arguments"));
        return ExitUsage;
    }
    double seconds = 0;
    if (parser.isSet("seconds")) {
        bool ok = false;
        seconds = parser.value("seconds").toDouble(&ok);
        if (!ok || !(seconds > 0 && seconds <= 86400 * 365)) {
            console.error(QStringLiteral("--seconds wants a positive number, not \"%1\"")
                              .arg(parser.value("seconds")));
            return ExitUsage;
        }
    }
    const int opened = context.open();
    if (opened != ExitOk)
        return opened;

    // Listening starts before connecting, so that the link's own status line is shown.
    bool linkLost = false;
    QEventLoop loop;
    const QMetaEnum kinds = QMetaEnum::fromType<ZRDeviceInterface::ZRDeviceMessage>();
    QObject::connect(context.device(), &ZRDeviceInterface::message, &loop,
        [&](ZRDeviceInterface::ZRDeviceMessage kind, const QString& text) {
            console.line(QStringLiteral("%1  %2  %3")
                             .arg(QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz")))
                             .arg(QString::fromLatin1(kinds.valueToKey(kind)), -9)
                             .arg(ParameterText::printable(text)));
        });
    QObject::connect(&context.session(), &HostSession::linkLost, &loop, [&] {
        linkLost = true;
        loop.quit();
    });
    const int connected = context.connect();
    if (connected != ExitOk)
        return connected;
    console.note(QStringLiteral("Monitoring; Ctrl-C ends."));

    QObject::connect(
        &context.interrupts(), &InterruptWatcher::interrupted, &loop, &QEventLoop::quit);
    if (seconds > 0)
        QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    return linkLost ? ExitLinkLost : ExitOk;
}
