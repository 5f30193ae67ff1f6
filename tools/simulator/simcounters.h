#pragma once

#include <QtGlobal>

// What the simulated machine has seen and done since it started (or since its record was
// cleared).
struct SimCounters {
    int framesReceived = 0;
    int framesRejected = 0; // malformed, or the length field lied
    int framesSent = 0; // good frames; junk and injected malformed frames are not counted
    int framesWritten = 0; // frames that left on a link, good and malformed, once per link
    int linksOpened = 0;
    int linksDropped = 0; // hang-ups the machine chose (injected faults)
    qint64 noiseBytes = 0; // sent instead of frames (injected faults)
    int jobsStarted = 0;
    int jobsFinished = 0;
    int jobsStopped = 0;
    int copiesCut = 0;
    double pathCutMm = 0; // pen-down path cut
};
