#include "getcommand.h"

#include "exitcode.h"
#include "hostcontext.h"
#include "parameterlisting.h"
#include "parameterreader.h"
#include "readoutcome.h"

QString GetCommand::summary() const
{
    return QStringLiteral("read parameters from the machine and print them");
}

QString GetCommand::description() const
{
    return QStringLiteral(
        "Reads the named parameters from the machine and prints them with label, value and unit.\n"
        "A group (such as WORKAREA or SP1) is read member by member; a parameter the machine\n"
        "reports within a group (such as FIRMWARE in DEVICE_INFO) is read through the group.\n"
        "Parameters that cannot be read (no read command, or an answer the device does not\n"
        "take, as for WORK_MODE) show the device's own value. Names are those of\n"
        "\"zrhost list\"; case does not matter.");
}

int GetCommand::run(HostContext& context, const QCommandLineParser&, const QStringList& arguments)
{
    if (arguments.isEmpty()) {
        context.console().error(QStringLiteral("get needs at least one parameter name"));
        return ExitUsage;
    }
    const int opened = context.open();
    if (opened != ExitOk)
        return opened;
    QList<QByteArray> names;
    QStringList unknown;
    for (const QString& argument : arguments) {
        const QByteArray name = argument.toUpper().toLatin1();
        if (context.device()->property_ptr(name.constData()))
            names.append(name);
        else
            unknown.append(argument);
    }
    if (!unknown.isEmpty()) {
        context.console().error(QStringLiteral("no such parameter: %1 (see zrhost list)")
                                    .arg(unknown.join(QStringLiteral(", "))));
        return ExitUsage;
    }

    const int connected = context.connect();
    if (connected != ExitOk)
        return connected;
    ParameterReader reader(context.device());
    QObject::connect(
        &context.interrupts(), &InterruptWatcher::interrupted, &reader, &ParameterReader::cancel);
    reader.setAlreadyRead(context.alreadyRead());
    reader.read(names, context.options().replyTimeoutMs);
    const int outcome = readOutcome(context, reader);
    if (outcome != ExitOk)
        return outcome;
    for (const QByteArray& name : reader.localOnly())
        context.console().note(QStringLiteral(
            "%1 cannot be read from the machine: the value shown is the device's own")
                                   .arg(QString::fromLatin1(name)));
    context.console().print(ParameterListing(context.device()).named(names));
    return ExitOk;
}
