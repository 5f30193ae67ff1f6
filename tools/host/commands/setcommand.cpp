#include "setcommand.h"

#include "exitcode.h"
#include "hostcontext.h"
#include "parametertext.h"
#include "parameterwriter.h"
#include "zrdeviceproperty.h"

#include <QPair>

QString SetCommand::summary() const
{
    return QStringLiteral("write parameters to the machine and wait for its answers");
}

QString SetCommand::description() const
{
    return QStringLiteral(
        "Writes each NAME=VALUE to the machine, in order, and waits for the machine's echo or\n"
        "status. VALUE is the number the machine uses (as \"zrhost list\" shows it before the\n"
        "brackets), converted to the parameter's type: a one-register number takes 0 to 65535\n"
        "or -32768 to -1, text is taken as written. A group is set through its members.\n"
        "Every value is checked before anything is sent.");
}

int SetCommand::run(HostContext& context, const QCommandLineParser&, const QStringList& arguments)
{
    if (arguments.isEmpty()) {
        context.console().error(QStringLiteral("set needs at least one NAME=VALUE"));
        return ExitUsage;
    }
    const int opened = context.open();
    if (opened != ExitOk)
        return opened;

    // Every write is checked before the first is sent, so that a typing error sends nothing.
    ParameterWriter writer(context.device());
    QList<QPair<QByteArray, QString>> writes;
    for (const QString& argument : arguments) {
        const int equals = argument.indexOf(QLatin1Char('='));
        if (equals <= 0) {
            context.console().error(QStringLiteral("\"%1\" is not NAME=VALUE").arg(argument));
            return ExitUsage;
        }
        const QByteArray name = argument.left(equals).trimmed().toUpper().toLatin1();
        const QString text = argument.mid(equals + 1);
        if (!writer.check(name, text)) {
            context.console().error(writer.errorString());
            return ExitUsage;
        }
        writes.append({ name, text });
    }

    const int connected = context.connect();
    if (connected != ExitOk)
        return connected;
    QObject::connect(
        &context.interrupts(), &InterruptWatcher::interrupted, &writer, &ParameterWriter::cancel);
    int result = ExitOk;
    for (const auto& write : qAsConst(writes)) {
        const ParameterWriter::Outcome outcome
            = writer.write(write.first, write.second, context.options().replyTimeoutMs);
        ZRDeviceProperty* parameter = context.device()->property_ptr(write.first.constData());
        const QString shown = QStringLiteral("%1 = %2").arg(
            QString::fromLatin1(write.first), ParameterText::value(parameter));
        switch (outcome) {
        case ParameterWriter::Confirmed:
            context.console().line(QStringLiteral("%1  (confirmed)").arg(shown));
            break;
        case ParameterWriter::Sent:
            context.console().line(
                QStringLiteral("%1  (sent; the machine's answer cannot be seen)").arg(shown));
            break;
        case ParameterWriter::Stored:
            context.console().line(
                QStringLiteral("%1  (kept by the device; nothing to send)").arg(shown));
            break;
        case ParameterWriter::Refused:
            context.console().error(QStringLiteral("%1 = %2 refused by the machine (status %3)")
                                        .arg(QString::fromLatin1(write.first), write.second)
                                        .arg(writer.status()));
            result = ExitFailed;
            break;
        case ParameterWriter::NoAnswer:
            context.console().error(
                QStringLiteral("%1 = %2: no answer within %3 ms; the device keeps %4")
                    .arg(QString::fromLatin1(write.first), write.second)
                    .arg(context.options().replyTimeoutMs)
                    .arg(ParameterText::value(parameter)));
            result = ExitFailed;
            break;
        case ParameterWriter::Invalid:
            context.console().error(writer.errorString());
            return ExitUsage;
        case ParameterWriter::LinkLost:
            return ExitLinkLost;
        case ParameterWriter::Cancelled:
            return ExitInterrupted;
        }
    }
    return result;
}
