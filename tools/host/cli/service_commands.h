#pragma once

#include "commands.h"

// The commands of the machine service and its clients: serve, history, queue, and a job's end as
// the service recorded it.

int runServe(Context& c);
int runHistory(Context& c);
int runQueue(Context& c);
// zrhost job --resume ID: the copies of a job the machine did not confirm, through the service.
int runRest(Context& c);

// Jobs of the service's queue or history, one to a row.
QString jobTable(const QJsonArray& jobs);

// How a job ended: copies done, the length cut and why. Through a service its record is the one
// source, the same the history shows: what the machine confirmed, and what became of the job.
// Directly, a job the machine never reported (reported false) was not cut: the error tells why.
void printJobEnd(Context& c, const Result& result, const QString& file, int copies,
    double perCopyMm, bool reported = true);
