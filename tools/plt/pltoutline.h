#pragma once

#include <QByteArray>
#include <QPointF>
#include <QRectF>
#include <QVector>

// One straight move of the knife: cutting when penDown, travelling otherwise. Millimetres, in
// the file's own axes (y grows upwards, as plotters draw).
struct PltSegment {
    QPointF from;
    QPointF to;
    bool penDown = false;
};

// The outline of an HP-GL cut file: every move it makes, its cut extent and its path lengths.
//
// The reader knows the commands that move the knife: IN (pen up, absolute), PU and PD (pen up or
// down, then move through the listed points), PA and PR (absolute or relative coordinates, then
// move with the pen as it is). Coordinates are plotter units, 40 to the millimetre, integer or
// decimal, separated by commas or blanks; a trailing lone coordinate is ignored. Commands are two
// letters in either case; ';', a line break or the next command ends one. Every other command
// is skipped with its parameters, a label (LB) up to its terminator. Bytes that fit nowhere are
// skipped, so a damaged file yields what can be read of it. One pass, linear in the file size.
class PltOutline {
public:
    static constexpr double unitsPerMm = 40.0;

    static PltOutline fromHpgl(const QByteArray& text);

    // Moves of zero length are left out.
    const QVector<PltSegment>& segments() const { return m_segments; }
    bool isEmpty() const { return m_segments.isEmpty(); }
    int cutSegmentCount() const { return m_cutSegments; }

    // Extent of what is cut (pen-down moves only); a null rectangle when nothing is cut.
    QRectF cutBounds() const { return m_cutBounds; }
    double widthMm() const { return m_cutBounds.width(); }
    double heightMm() const { return m_cutBounds.height(); }

    double penDownLengthMm() const { return m_penDownLength; }
    double penUpLengthMm() const { return m_penUpLength; }

private:
    void moveTo(const QPointF& point, bool penDown);

    QVector<PltSegment> m_segments;
    QRectF m_cutBounds;
    QPointF m_position;
    double m_penDownLength = 0;
    double m_penUpLength = 0;
    int m_cutSegments = 0;
};
