#pragma once

#include <zrcutfile.h>

#include <QByteArray>
#include <QString>

// The rest of a copy the machine left unfinished: the copy's planned cut (its steps as the HP-GL
// was written, in order) from the first contour the machine did not confirm to the end.
//
// The machine's percent counts pen-down path only, over the whole job: copies finished plus the
// share of the copy it is on, so the part of that copy it confirmed is
// percent/100 * copies - finished copies, times the copy's cut length (confirmedInCopy). The first
// contour whose end lies beyond that length is the first not confirmed; the knife goes down on it
// overlapMm back from the confirmed point (never before the contour's start), so that the cut
// joins what stands, and goes on with every contour after it.
namespace RestCut {

// In the plan of a job's record (see Store): the contour, from 1, an unfinished copy's rest starts
// from and how far along it (mm); and the job that cuts it, which the whole copies left after it
// wait for.
constexpr char fromContourKey[] = "from_contour";
constexpr char fromMmKey[] = "from_mm";
constexpr char afterKey[] = "after";

// How far back along the contour the rest starts, so that its cut meets the one that stands.
constexpr double overlapMm = 1.0;

// The copy's cut path (mm) the machine confirmed, of copyMm: 0 to copyMm.
double confirmedInCopy(double percent, int copies, int finished, double copyMm);

struct Rest {
    int step = -1; // the first contour not confirmed, in the cut's order from 0; -1: none is left
    double fromMm = 0; // where on it the knife goes down, along its path from its start
    double lengthMm = 0; // the rest's pen-down path
    QByteArray hpgl; // knife up to that point, then the cut on from it
};

// The rest of job after confirmedMm of its pen-down path. False only when cancelled.
bool restOf(const ZRCut::CutJob& job, double confirmedMm, double overlap, Rest* rest,
    QString* error, const ZRCut::Progress& progress = {});

} // namespace RestCut
