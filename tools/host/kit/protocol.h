#pragma once

#include "zrdevicehost.h"

#include <QByteArray>
#include <QString>

using ZRDevice::TaskReport;

// What the host says of the machine's work, each in one place: the command that sends each of the
// device's command parameters, times as clock text, and the machine's job states as words.
namespace Protocol {

// The zrhost command that sends a command parameter ("jog", "origin").
QString commandOf(const QByteArray& name);

// A time as "1:05" (minutes and seconds), or "-:--" when below 0 (unknown).
QString clockText(qint64 seconds);

// The machine's job state as a word in the user's language: "cutting", "paused", "finished",
// "stopped", or "status 7"; statusName() gives the same word untranslated, for JSON.
QString statusText(int status);
QString statusName(int status);

// The time left of the machine's job, as clockText() writes it.
inline QString timeLeft(const TaskReport& report)
{
    return clockText(report.secondsLeft());
}

} // namespace Protocol
