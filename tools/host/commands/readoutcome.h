#pragma once

#include "exitcode.h"
#include "hostcontext.h"
#include "parameterreader.h"

#include <QStringList>

// What a finished read means for a command: the exit code, and a warning naming the reads that
// showed no change.
inline int readOutcome(HostContext& context, const ParameterReader& reader)
{
    if (reader.cancelled())
        return ExitInterrupted;
    if (reader.linkLost())
        return ExitLinkLost;
    QStringList unchanged;
    for (const QByteArray& name : reader.unanswered())
        unchanged.append(QString::fromLatin1(name));
    if (!unchanged.isEmpty()) {
        context.console().error(
            QStringLiteral("no change seen within %1 ms for %2: the values shown are the device's "
                           "(the machine answered what the device held, or did not answer)")
                .arg(context.options().replyTimeoutMs)
                .arg(unchanged.join(QStringLiteral(", "))));
    }
    return ExitOk;
}
