#include "request.h"

#include <QCoreApplication>

#include <iterator>

namespace {

const char* const statusWords[]
    = { QT_TRANSLATE_NOOP("Protocol", "cutting"), QT_TRANSLATE_NOOP("Protocol", "paused"),
          QT_TRANSLATE_NOOP("Protocol", "finished"), QT_TRANSLATE_NOOP("Protocol", "stopped") };
const char unknownStatus[] = QT_TRANSLATE_NOOP("Protocol", "status %1");

bool isKnown(int status)
{
    return status >= TaskReport::Cutting && status <= TaskReport::Stopped;
}

// In the order of Result::Outcome.
const Result::Facts outcomeFacts[] = {
    { "done", ExitOk, QT_TRANSLATE_NOOP("Result", "Job finished") },
    { "stopped", ExitOk, QT_TRANSLATE_NOOP("Result", "Job stopped") },
    { "link-lost", ExitLinkLost, QT_TRANSLATE_NOOP("Result", "Link lost") },
    { "refused", ExitFailed, QT_TRANSLATE_NOOP("Result", "Job refused") },
    { "busy", ExitFailed, QT_TRANSLATE_NOOP("Result", "Job not started") },
    { "no-answer", ExitFailed, QT_TRANSLATE_NOOP("Result", "No answer") },
    { "out-of-range", ExitUsage, QT_TRANSLATE_NOOP("Result", "Not cut") },
    { "read-only", ExitUsage, QT_TRANSLATE_NOOP("Result", "Not cut") },
    { "unknown", ExitUsage, QT_TRANSLATE_NOOP("Result", "Not cut") },
    { "cancelled", ExitInterrupted, QT_TRANSLATE_NOOP("Result", "Job cancelled") },
};
static_assert(std::size(outcomeFacts) == Result::Cancelled + 1, "one row per outcome");

} // namespace

const Result::Facts& Result::facts(Outcome outcome)
{
    return outcomeFacts[outcome];
}

bool Result::named(const QString& name, Outcome* outcome)
{
    for (int i = 0; i < int(std::size(outcomeFacts)); ++i) {
        if (name == QLatin1String(outcomeFacts[i].name)) {
            *outcome = Outcome(i);
            return true;
        }
    }
    return false;
}

QString Protocol::clockText(qint64 seconds)
{
    return seconds < 0
        ? QStringLiteral("-:--")
        : QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString Protocol::statusText(int status)
{
    return isKnown(status)
        ? QCoreApplication::translate("Protocol", statusWords[status - TaskReport::Cutting])
        : QCoreApplication::translate("Protocol", unknownStatus).arg(status);
}

QString Protocol::jobText(const QString& file, const QString& machineJob)
{
    return file.isEmpty() || file == machineJob
        ? ZRDevice::printable(machineJob)
        : QCoreApplication::translate("Protocol", "%1 (machine: %2)")
              .arg(ZRDevice::printable(file), ZRDevice::printable(machineJob));
}

QString Protocol::reportText(const TaskReport& report, const QString& job)
{
    const qint64 copy
        = qMin(qint64(report.finished) + (report.status == TaskReport::Finished ? 0 : 1),
            qint64(qMax(report.copies, 1)));
    return QCoreApplication::translate("Protocol", "%1 %  copy %2/%3  %4 left  %5  %6")
        .arg(QStringLiteral("%1").arg(report.percent, 5, 'f', 1), QString::number(copy),
            QString::number(report.copies), clockText(report.secondsLeft()),
            statusText(report.status), job);
}

QString Protocol::statusName(int status)
{
    return isKnown(status) ? QLatin1String(statusWords[status - TaskReport::Cutting])
                           : QLatin1String(unknownStatus).arg(status);
}
