#include "jobstatus.h"

#include <QCoreApplication>

#include <iterator>

namespace JobStatus {

namespace {

// In the order of State.
const char* const words[] = { QT_TRANSLATE_NOOP("JobStatus", "pending"),
    QT_TRANSLATE_NOOP("JobStatus", "held"), QT_TRANSLATE_NOOP("JobStatus", "processing"),
    QT_TRANSLATE_NOOP("JobStatus", "stopped"), QT_TRANSLATE_NOOP("JobStatus", "cancelled"),
    QT_TRANSLATE_NOOP("JobStatus", "aborted"), QT_TRANSLATE_NOOP("JobStatus", "completed"),
    QT_TRANSLATE_NOOP("JobStatus", "interrupted") };
static_assert(std::size(words) == Interrupted + 1, "one word per state");

} // namespace

const char outcomeUnknown[] = "outcome unknown";

QString name(State state)
{
    return QLatin1String(words[state]);
}

QString text(const QString& name)
{
    State state;
    return named(name, &state) ? QCoreApplication::translate("JobStatus", words[state]) : name;
}

bool named(const QString& name, State* state)
{
    for (int i = 0; i < int(std::size(words)); ++i) {
        if (name == QLatin1String(words[i])) {
            *state = State(i);
            return true;
        }
    }
    return false;
}

bool isFinal(const QString& name)
{
    State state;
    return named(name, &state) && state != Pending && state != Held && state != Processing
        && state != Interrupted;
}

bool hasRest(const QJsonObject& job)
{
    State state = Pending;
    named(job.value(QLatin1String("status")).toString(), &state);
    return (state == Stopped || state == Interrupted || state == Cancelled || state == Aborted)
        && job.value(QLatin1String("copies_done")).toInt()
        < job.value(QLatin1String("copies")).toInt();
}

State ofOutcome(Result::Outcome outcome, bool endUnseen)
{
    switch (outcome) {
    case Result::Done:
        return Completed;
    case Result::Stopped:
        return Stopped;
    case Result::Cancelled:
        return endUnseen ? Interrupted : Cancelled;
    case Result::LinkLost:
        return Interrupted;
    case Result::NoAnswer:
        return endUnseen ? Interrupted : Aborted;
    default:
        return Aborted;
    }
}

} // namespace JobStatus
