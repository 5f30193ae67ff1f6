#pragma once

#include "exitcode.h"
#include "hostcontext.h"
#include "parameterreader.h"

// What a finished read means for a command: the exit code, with a warning for every read that
// showed no change.
inline int readOutcome(HostContext& context, const ParameterReader& reader)
{
    if (reader.cancelled())
        return ExitInterrupted;
    if (reader.linkLost())
        return ExitLinkLost;
    for (const QByteArray& name : reader.unanswered()) {
        context.console().error(
            QStringLiteral("%1: no answer seen within %2 ms; the value shown is the device's "
                           "(a machine that answers the value the device holds looks the same)")
                .arg(QString::fromLatin1(name))
                .arg(context.options().replyTimeoutMs));
    }
    return ExitOk;
}
