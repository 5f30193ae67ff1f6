#include "infocommand.h"

#include "exitcode.h"
#include "hostcontext.h"
#include "machineinfo.h"
#include "parameterlisting.h"

QString InfoCommand::summary() const
{
    return QStringLiteral("connect and show the machine information");
}

QString InfoCommand::description() const
{
    return QStringLiteral(
        "Connects to the machine, reads its information (model, machine and board numbers,\n"
        "board version, firmware, configuration number, unique id) and prints it.");
}

int InfoCommand::readAndPrint(HostContext& context)
{
    const int outcome = context.readMachineInfo();
    if (outcome != ExitOk)
        return outcome;
    context.console().print(ParameterListing(context.device()).named(MachineInfo::shown()));
    return ExitOk;
}

int InfoCommand::run(HostContext& context, const QCommandLineParser&, const QStringList& arguments)
{
    if (!arguments.isEmpty()) {
        context.console().error(QStringLiteral("info takes no arguments"));
        return ExitUsage;
    }
    const int connected = context.connect();
    return connected != ExitOk ? connected : readAndPrint(context);
}
