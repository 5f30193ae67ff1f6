#pragma once

#include <QString>

// One progress report of the machine, as the device passes it on in message(DevTasK, text):
// "66,<status>,<file>,<copies>,<finished>,<percent>,<seconds>,<x>,<y>".
struct TaskReport {
    // The machine's task status codes.
    enum Status { Cutting = 1, Paused = 2, Finished = 3, Stopped = 4 };

    int status = 0;
    QString fileName;
    int copies = 0; // ordered
    int finished = 0; // done
    double percent = 0; // of the whole job, 0 to 100
    int seconds = 0; // of cutting, as the machine counts them

    // False for a text that is not a progress report (fewer than nine fields, or not 66).
    // Numbers that do not parse read as 0, as the device reads them; the percentage is kept
    // within 0 to 100.
    static bool parse(const QString& text, TaskReport* report);

    bool isOver() const { return status == Finished || status == Stopped; }
    // "cutting", "paused", "finished", "stopped" or "status 7".
    QString statusText() const;
};
