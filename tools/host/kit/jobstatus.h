#pragma once

#include "request.h"

#include <QJsonObject>
#include <QString>

// What became of a job a machine service was given, as its history keeps it: one of these states,
// always with a reason text beside it. The words are the store's, the JSON's and `zrhost
// history`'s; text() gives them in the user's language.
//
//   pending      waiting in the service's queue; nothing sent to the machine
//   held         kept by the service, not to be sent until released (a plan kept for later)
//   processing   sent; the machine is cutting it (or was, as last confirmed)
//   stopped      the machine confirmed a stop; copies and length are what it confirmed
//   cancelled    taken back before anything was sent: it never started
//   aborted      refused or failed before the machine took it (a busy machine, a bad file)
//   completed    the machine reported every copy cut
//   interrupted  nobody saw its end (the link, the machine or the service went away while it
//                ran): the copies and length are the last confirmed, and the outcome is unknown
//                until the machine reports it
namespace JobStatus {

enum State { Pending, Held, Processing, Stopped, Cancelled, Aborted, Completed, Interrupted };

// The state's word, as stored and carried.
QString name(State state);
// The word in the user's language (context "JobStatus").
QString text(const QString& name);
// The state of that word in *state; false for no state's word.
bool named(const QString& name, State* state);
// Over for good: nothing the machine reports changes it any more.
bool isFinal(const QString& name);
// Whether the job ended with copies the machine did not confirm, which can be cut later as the
// rest of it (zrhost job --resume): stopped, interrupted, cancelled or aborted short of its copies.
bool hasRest(const QJsonObject& job);
// The state a job ends in with this outcome; a job whose end nobody saw is interrupted.
State ofOutcome(Result::Outcome outcome, bool endUnseen);

// The reason of an interrupted job, and the start of any longer reason given for one.
extern const char outcomeUnknown[];

} // namespace JobStatus
