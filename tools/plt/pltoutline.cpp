#include "pltoutline.h"

#include <hpgltext.h>

#include <QLineF>

#include <cmath>

namespace {

// Coordinates beyond this (25 km) are damage, not drawing; they would swamp every length.
constexpr double maxUnits = 1e9;

using ZRCut::Hpgl::isLetter;
using ZRCut::Hpgl::readNumber;
using ZRCut::Hpgl::upper;

} // namespace

void PltOutline::moveTo(const QPointF& point, bool penDown)
{
    const QPointF from = m_position;
    m_position = point;
    const double length = QLineF(from, point).length();
    if (length <= 0)
        return;
    m_segments.append({ from, point, penDown });
    if (!penDown) {
        m_penUpLength += length;
        return;
    }
    m_penDownLength += length;
    const QRectF extent = QRectF(from, point).normalized();
    if (m_cutSegments == 0) {
        m_cutBounds = extent;
    } else {
        m_cutBounds.setLeft(qMin(m_cutBounds.left(), extent.left()));
        m_cutBounds.setTop(qMin(m_cutBounds.top(), extent.top()));
        m_cutBounds.setRight(qMax(m_cutBounds.right(), extent.right()));
        m_cutBounds.setBottom(qMax(m_cutBounds.bottom(), extent.bottom()));
    }
    ++m_cutSegments;
}

PltOutline PltOutline::fromHpgl(const QByteArray& text)
{
    PltOutline outline;
    bool penDown = false;
    bool relative = false;
    const char* p = text.constData();
    const char* const end = p + text.size();

    while (p < end) {
        if (!isLetter(*p)) {
            ++p;
            continue;
        }
        if (p + 1 >= end || !isLetter(p[1])) {
            ++p;
            continue;
        }
        const char command[2] = { upper(p[0]), upper(p[1]) };
        p += 2;

        if (command[0] == 'L' && command[1] == 'B') {
            while (p < end && *p != '\x03' && *p != '\n')
                ++p;
            continue;
        }

        const bool moves = command[0] == 'P'
            && (command[1] == 'U' || command[1] == 'D' || command[1] == 'A' || command[1] == 'R');
        if (command[0] == 'I' && command[1] == 'N') {
            penDown = false;
            relative = false;
        } else if (moves) {
            if (command[1] == 'U')
                penDown = false;
            else if (command[1] == 'D')
                penDown = true;
            else
                relative = command[1] == 'R';
        }

        // Parameters run to the next letter, ';' or line break; only the moves use them.
        double pending = 0;
        bool havePending = false;
        while (p < end && !isLetter(*p) && *p != ';' && *p != '\n') {
            double value;
            if (!readNumber(p, end, &value)) {
                ++p;
                continue;
            }
            if (!moves)
                continue;
            if (!havePending) {
                pending = value;
                havePending = true;
                continue;
            }
            havePending = false;
            if (std::abs(pending) > maxUnits || std::abs(value) > maxUnits)
                continue;
            QPointF point(pending / unitsPerMm, value / unitsPerMm);
            if (relative)
                point += outline.m_position;
            outline.moveTo(point, penDown);
        }
    }
    return outline;
}
