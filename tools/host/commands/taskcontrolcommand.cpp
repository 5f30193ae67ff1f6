#include "taskcontrolcommand.h"

#include "exitcode.h"
#include "hostcontext.h"
#include "linkstatus.h"
#include "taskreport.h"
#include "zrdeviceproperty.h"

#include <QEventLoop>
#include <QTimer>

namespace {

struct ActionText {
    const char* name;
    const char* parameter;
    const char* summary;
    int reportedStatus; // the progress status that shows the machine did it
};

// clang-format off
const ActionText actions[] = {
    { "pause",  "TASK_PAUSE",  "pause the job the machine is running",  TaskReport::Paused },
    { "resume", "TASK_RESUME", "resume the job the machine is running", TaskReport::Cutting },
    { "stop",   "TASK_STOP",   "stop the job the machine is running",   TaskReport::Stopped },
};
// clang-format on

} // namespace

TaskControlCommand::TaskControlCommand(Action action)
    : m_action(action)
{ }

QString TaskControlCommand::name() const
{
    return QString::fromLatin1(actions[m_action].name);
}

QString TaskControlCommand::summary() const
{
    return QString::fromLatin1(actions[m_action].summary);
}

QString TaskControlCommand::description() const
{
    return QStringLiteral(
        "Sends %1 to the machine (the task control register) and waits for the progress report\n"
        "that shows the job %2. It acts on a job the machine is running, started by another\n"
        "host or by \"zrhost job\" elsewhere, so it needs --ip or --usb: the embedded simulator\n"
        "of a new zrhost runs no job. During \"zrhost job\" the keys p, r and s do the same.")
        .arg(QString::fromLatin1(actions[m_action].parameter),
            m_action == Pause        ? QStringLiteral("paused")
                : m_action == Resume ? QStringLiteral("cutting again")
                                     : QStringLiteral("stopped"));
}

int TaskControlCommand::run(
    HostContext& context, const QCommandLineParser&, const QStringList& arguments)
{
    Console& console = context.console();
    if (!arguments.isEmpty()) {
        console.error(QStringLiteral("%1 takes no arguments").arg(name()));
        return ExitUsage;
    }
    if (context.isEmbedded()) {
        console.error(
            QStringLiteral("%1 acts on a job a machine is running; give its --ip or --usb "
                           "(the embedded simulator runs no job; during \"zrhost job\" press "
                           "p, r or s)")
                .arg(name()));
        return ExitUsage;
    }
    const int connected = context.connect();
    if (connected != ExitOk)
        return connected;

    ZRDeviceInterface* device = context.device();
    ZRDeviceProperty* control = device->property_ptr(actions[m_action].parameter);
    if (!control) {
        console.error(QStringLiteral("the device has no %1")
                          .arg(QString::fromLatin1(actions[m_action].parameter)));
        return ExitFailed;
    }

    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    TaskReport seen;
    bool reported = false;
    bool linkLost = false;
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(
        &context.interrupts(), &InterruptWatcher::interrupted, &loop, &QEventLoop::quit);
    QObject::connect(device, &ZRDeviceInterface::message, &loop,
        [&](ZRDeviceInterface::ZRDeviceMessage kind, const QString& text) {
            TaskReport report;
            if (kind == ZRDeviceInterface::DevStatus && LinkStatus::isDown(text)) {
                linkLost = true;
                loop.quit();
            } else if (kind == ZRDeviceInterface::DevTasK && TaskReport::parse(text, &report)
                && (report.status == actions[m_action].reportedStatus
                    || (m_action == Stop && report.isOver()))) {
                seen = report;
                reported = true;
                loop.quit();
            }
        });
    device->sendCMD(control->set_cmd_bytes());
    deadline.start(context.options().replyTimeoutMs);
    loop.exec();

    if (linkLost)
        return ExitLinkLost;
    if (context.interrupts().count() > 0)
        return ExitInterrupted;
    if (!reported) {
        console.error(
            QStringLiteral("%1 sent; no progress report showed it within %2 ms (is a job running?)")
                .arg(QString::fromLatin1(actions[m_action].parameter))
                .arg(context.options().replyTimeoutMs));
        return ExitFailed;
    }
    console.line(QStringLiteral("%1: %2, %3 %, %4 of %5 copies finished.")
                     .arg(seen.statusText(), seen.fileName)
                     .arg(seen.percent, 0, 'f', 1)
                     .arg(seen.finished)
                     .arg(seen.copies));
    return ExitOk;
}
