#include "jogcommand.h"

#include "exitcode.h"
#include "hostcontext.h"
#include "linkstatus.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace {

// +1, -1, or 0 when the word names no direction.
int direction(const QString& word)
{
    const QString w = word.toLower();
    if (w == QLatin1String("+") || w == QLatin1String("positive") || w == QLatin1String("pos"))
        return 1;
    if (w == QLatin1String("-") || w == QLatin1String("negative") || w == QLatin1String("neg"))
        return -1;
    return 0;
}

QString position(const QPointF& mm)
{
    return QStringLiteral("(%1, %2) mm").arg(mm.x(), 0, 'f', 1).arg(mm.y(), 0, 'f', 1);
}

} // namespace

QString JogCommand::summary() const
{
    return QStringLiteral("move the head along x or y for a moment");
}

QString JogCommand::description() const
{
    return QStringLiteral(
        "Moves the head along one axis in the given direction (+ or -) for --ms milliseconds,\n"
        "then stops both axes. Ctrl-C stops at once. A machine that is cutting does not jog.");
}

QList<QCommandLineOption> JogCommand::options() const
{
    return { { "ms", "How long to move, in milliseconds (default 500, at most 10000).", "ms",
        "500" } };
}

int JogCommand::run(
    HostContext& context, const QCommandLineParser& parser, const QStringList& arguments)
{
    Console& console = context.console();
    const QString axis = arguments.value(0).toLower();
    const int sign = direction(arguments.value(1));
    if (arguments.size() != 2 || (axis != QLatin1String("x") && axis != QLatin1String("y"))
        || sign == 0) {
        console.error(QStringLiteral("jog wants an axis (x or y) and a direction (+ or -)"));
        return ExitUsage;
    }
    bool ok = false;
    const int ms = parser.value("ms").toInt(&ok);
    if (!ok || ms < 1 || ms > maxMs) {
        console.error(QStringLiteral("--ms wants a number from 1 to %1, not \"%2\"")
                          .arg(maxMs)
                          .arg(parser.value("ms")));
        return ExitUsage;
    }
    const int connected = context.connect();
    if (connected != ExitOk)
        return connected;

    ZRDeviceInterface* device = context.device();
    const SimMachine* simulated
        = context.session().embedded() ? context.session().embedded()->machine() : nullptr;
    const QPointF before = simulated ? simulated->headPosition() : QPointF();

    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    bool linkLost = false;
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(
        &context.interrupts(), &InterruptWatcher::interrupted, &loop, &QEventLoop::quit);
    QObject::connect(device, &ZRDeviceInterface::message, &loop,
        [&](ZRDeviceInterface::ZRDeviceMessage kind, const QString& text) {
            if (kind == ZRDeviceInterface::DevStatus && LinkStatus::isDown(text)) {
                linkLost = true;
                loop.quit();
            }
        });
    // The first argument drives Y, the second X.
    if (axis == QLatin1String("y"))
        device->move(sign, 0);
    else
        device->move(0, sign);
    QElapsedTimer moving;
    moving.start();
    timer.start(ms);
    loop.exec();
    device->move(0, 0);
    const qint64 moved = moving.elapsed();

    if (linkLost) {
        console.error(QStringLiteral("the stop could not be sent: check the machine"));
        return ExitLinkLost;
    }
    const bool interrupted = context.interrupts().count() > 0;
    console.line(QStringLiteral("Jogged %1 %2 for %3 ms%4.")
                     .arg(axis, sign > 0 ? QStringLiteral("+") : QStringLiteral("-"))
                     .arg(interrupted ? qMin(moved, qint64(ms)) : qint64(ms))
                     .arg(interrupted ? QStringLiteral(" (stopped early)") : QString()));
    if (simulated) {
        // The stop reaches the embedded machine through the event loop, like any frame.
        QTimer::singleShot(50, &loop, &QEventLoop::quit);
        loop.exec();
        console.line(QStringLiteral("Simulated head: %1 -> %2.")
                         .arg(position(before), position(simulated->headPosition())));
    }
    return interrupted ? ExitInterrupted : ExitOk;
}
