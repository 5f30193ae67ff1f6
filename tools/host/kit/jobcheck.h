#pragma once

#include <QByteArray>
#include <QRectF>
#include <QSizeF>
#include <QString>

// What a job must be before anything of it reaches the machine: asked by the command line before
// it sends, and by the machine service of every job a client gives it, whatever the client says
// of its file.
namespace JobCheck {

constexpr int mostCopies = 9999;

// Copies from 1 to mostCopies; the reason when not, empty when they are.
QString copies(qint64 count);

// The bounds pass: the extent of every point of plain HP-GL (IN, SP, PU, PD, PA, PR), in plotter
// units, and whether there is any; false when the data holds anything else, or a number that is
// none, and the data is to be read in full.
bool plainExtent(const QByteArray& hpgl, QRectF* extent, bool* any);

// Every check of the cut data as the machine would take it: bytes its frames carry, the copies,
// and every point the knife goes to (plotter units from the table's lower-left corner) on a
// table of this size in mm. IN, SP, PU, PD, PA and PR are followed by a bounds pass; data with
// other instructions is read and measured as the machine draws it.
bool job(const QByteArray& hpgl, int copies, const QSizeF& table, QString* error);

} // namespace JobCheck
