#include "simjob.h"

#include <QLineF>

SimJob::SimJob(Kind kind, const QByteArray& name, int copies)
    : m_kind(kind)
    , m_name(name)
    , m_copies(qMax(1, copies))
{ }

void SimJob::load(const ZRCut::Drawing& drawing)
{
    // Contours in the drawing's order, a travel move to the start of each.
    m_segments.clear();
    m_length = 0;
    QPointF position;
    for (const ZRCut::Contour& contour : drawing.contours) {
        m_segments.append({ position, contour.points.first(), false });
        position = contour.points.first();
        QVector<QPointF> points = contour.points;
        if (contour.closed)
            points.append(points.first());
        for (const QPointF& point : qAsConst(points).mid(1)) {
            m_segments.append({ position, point, true });
            m_length += QLineF(position, point).length();
            position = point;
        }
    }
    m_loaded = true;
    m_segment = 0;
    m_along = 0;
    m_cutInCopy = 0;
}

double SimJob::cut(double mm)
{
    double done = 0;
    while (m_loaded && !isDone()) {
        while (m_segment < m_segments.size()) {
            const Segment& segment = m_segments.at(m_segment);
            if (!segment.penDown) {
                m_position = segment.to;
                m_along = 0;
                ++m_segment;
                continue;
            }
            const double length = QLineF(segment.from, segment.to).length();
            const double rest = length - m_along;
            const double left = mm - done;
            if (left < rest) {
                m_along += left;
                m_cutInCopy += left;
                m_position = segment.from + (segment.to - segment.from) * (m_along / length);
                return mm;
            }
            done += rest;
            m_cutInCopy += rest;
            m_along = 0;
            m_position = segment.to;
            ++m_segment;
        }
        ++m_finished;
        m_segment = 0;
        m_along = 0;
        m_cutInCopy = 0;
        if (m_kind == QrCode)
            m_loaded = false;
    }
    return done;
}

double SimJob::remainingInCopyMm() const
{
    if (!m_loaded || isDone())
        return 0;
    return qMax(0.0, m_length - m_cutInCopy);
}

double SimJob::percent() const
{
    const double length = m_length;
    double copyShare = 0;
    if (m_loaded && !isDone() && length > 0)
        copyShare = qBound(0.0, m_cutInCopy / length, 1.0);
    return qBound(0.0, (m_finished + copyShare) * 100.0 / m_copies, 100.0);
}
