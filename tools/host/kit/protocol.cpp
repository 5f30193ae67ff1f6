#include "protocol.h"

#include <QCoreApplication>

namespace Protocol {

QString commandOf(const QByteArray& name)
{
    if (name == "MOVE_X" || name == "MOVE_Y")
        return QStringLiteral("jog");
    if (name == "TASK_PAUSE" || name == "TASK_RESUME" || name == "TASK_STOP")
        return QStringLiteral("pause, resume or stop");
    return QStringLiteral("origin");
}

QString clockText(qint64 seconds)
{
    return seconds < 0
        ? QStringLiteral("-:--")
        : QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

namespace {

const char* const statusWords[]
    = { QT_TRANSLATE_NOOP("Protocol", "cutting"), QT_TRANSLATE_NOOP("Protocol", "paused"),
          QT_TRANSLATE_NOOP("Protocol", "finished"), QT_TRANSLATE_NOOP("Protocol", "stopped") };
const char unknownStatus[] = QT_TRANSLATE_NOOP("Protocol", "status %1");

bool isKnown(int status)
{
    return status >= TaskReport::Cutting && status <= TaskReport::Stopped;
}

} // namespace

QString statusText(int status)
{
    return isKnown(status)
        ? QCoreApplication::translate("Protocol", statusWords[status - TaskReport::Cutting])
        : QCoreApplication::translate("Protocol", unknownStatus).arg(status);
}

QString statusName(int status)
{
    return isKnown(status) ? QLatin1String(statusWords[status - TaskReport::Cutting])
                           : QLatin1String(unknownStatus).arg(status);
}

} // namespace Protocol
