#include "cutpreview.h"

#include "pltoutline.h"

#include <QPainter>
#include <QVector>

#include <cmath>

namespace CutPreview {

QImage render(const PltOutline& outline, int longSide)
{
    const QRectF bounds = outline.cutBounds();
    const int room = longSide - 2 * margin;
    if (outline.cutSegmentCount() == 0 || room < 1)
        return {};

    // A straight cut has no extent across it; it still gets its line of pixels.
    const double extent = qMax(bounds.width(), bounds.height());
    const double scale = extent > 0 ? room / extent : 1.0;
    // Rounded up, but not for the last bits of a sum of millimetres.
    const auto side = [&](double mm) {
        return qBound(1, int(std::ceil(mm * scale - 1e-6)), room) + 2 * margin;
    };
    QImage image(side(bounds.width()), side(bounds.height()), QImage::Format_RGB32);
    image.fill(Qt::white);

    const double top = bounds.y() + bounds.height();
    const auto pixel = [&](const QPointF& mm) {
        return QPointF(margin + (mm.x() - bounds.x()) * scale, margin + (top - mm.y()) * scale);
    };
    QVector<QLineF> strokes;
    strokes.reserve(outline.cutSegmentCount());
    for (const PltSegment& segment : outline.segments()) {
        if (segment.penDown)
            strokes.append(QLineF(pixel(segment.from), pixel(segment.to)));
    }

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0x20, 0x20, 0x20), 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawLines(strokes);
    painter.end();
    return image;
}

} // namespace CutPreview
