#include "listcommand.h"

#include "exitcode.h"
#include "hostcontext.h"
#include "parameterlisting.h"
#include "parameterreader.h"
#include "readoutcome.h"

#include <QCommandLineParser>

QString ListCommand::summary() const
{
    return QStringLiteral("print the parameters with labels, values and units");
}

QString ListCommand::description() const
{
    return QStringLiteral(
        "Prints every parameter of a device built by the plugin: the system parameters and the\n"
        "user parameters first, each group with its members beneath it, then all the others.\n"
        "Labels are in the system language. The value is the number the machine uses; where\n"
        "the parameter's editor shows it scaled or as a list item, that follows in brackets.\n"
        "Without --read nothing is connected and the values are the device's defaults.");
}

QList<QCommandLineOption> ListCommand::options() const
{
    return {
        { "read", "Connect first and read the system and user parameters from the machine." },
        { "commands", "Add the command that reads and writes each parameter (kind get/set)." },
        { "full", "Do not shorten long values." },
    };
}

int ListCommand::run(
    HostContext& context, const QCommandLineParser& parser, const QStringList& arguments)
{
    if (!arguments.isEmpty()) {
        context.console().error(QStringLiteral("list takes no arguments"));
        return ExitUsage;
    }
    const int opened = parser.isSet("read") ? context.connect() : context.open();
    if (opened != ExitOk)
        return opened;
    ZRDeviceInterface* device = context.device();

    if (parser.isSet("read")) {
        QList<QByteArray> names;
        for (const QString& name : device->sysProperty() + device->userProperty())
            names.append(name.toLatin1());
        ParameterReader reader(device);
        QObject::connect(&context.interrupts(), &InterruptWatcher::interrupted, &reader,
            &ParameterReader::cancel);
        reader.setAlreadyRead(context.alreadyRead());
        reader.read(names, context.options().replyTimeoutMs);
        const int outcome = readOutcome(context, reader);
        if (outcome != ExitOk)
            return outcome;
    }

    ParameterListing listing(device);
    listing.setShowCommands(parser.isSet("commands"));
    listing.setMaxValueWidth(parser.isSet("full") ? 0 : 40);
    context.console().print(listing.everything());
    return ExitOk;
}
