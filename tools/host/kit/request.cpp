#include "request.h"

#include <iterator>

namespace {

// In the order of Result::Outcome.
const Result::Facts outcomeFacts[] = {
    { "done", ExitOk, "finished", QT_TRANSLATE_NOOP("Result", "Job finished") },
    { "stopped", ExitOk, "stopped", QT_TRANSLATE_NOOP("Result", "Job stopped") },
    { "link-lost", ExitLinkLost, "lost", QT_TRANSLATE_NOOP("Result", "Link lost") },
    { "refused", ExitFailed, "failed", QT_TRANSLATE_NOOP("Result", "Job refused") },
    { "busy", ExitFailed, "failed", QT_TRANSLATE_NOOP("Result", "Job not started") },
    { "no-answer", ExitFailed, "failed", QT_TRANSLATE_NOOP("Result", "No answer") },
    { "out-of-range", ExitUsage, "failed", QT_TRANSLATE_NOOP("Result", "Not cut") },
    { "read-only", ExitUsage, "failed", QT_TRANSLATE_NOOP("Result", "Not cut") },
    { "unknown", ExitUsage, "failed", QT_TRANSLATE_NOOP("Result", "Not cut") },
    { "cancelled", ExitInterrupted, "cancelled", QT_TRANSLATE_NOOP("Result", "Job cancelled") },
};
static_assert(std::size(outcomeFacts) == Result::Cancelled + 1, "one row per outcome");

} // namespace

const Result::Facts& Result::facts(Outcome outcome)
{
    return outcomeFacts[outcome];
}

Result::Outcome Result::named(const QString& name, bool* known)
{
    for (int i = 0; i < int(std::size(outcomeFacts)); ++i) {
        if (name == QLatin1String(outcomeFacts[i].name)) {
            if (known)
                *known = true;
            return Outcome(i);
        }
    }
    if (known)
        *known = false;
    return Refused;
}
