#include "geometry.h"

#include <QPainter>

namespace ZRCut {

namespace {

constexpr int margin = 4;
// Points closer than this to the last one drawn (pixels) add nothing the eye can see.
constexpr double finestStep = 0.5;

} // namespace

QImage renderPreview(const CutJob& job, const QSize& size, const PreviewOptions& options)
{
    QRectF area = options.area.isEmpty() ? job.bounds : options.area;
    const double roomX = size.width() - 2 * margin, roomY = size.height() - 2 * margin;
    if (roomX < 1 || roomY < 1 || area.isNull())
        return {};
    // A straight cut has no extent across it; it still gets its line of pixels.
    const double extent = qMax(area.width(), area.height());
    area.setWidth(qMax(area.width(), extent * 1e-3));
    area.setHeight(qMax(area.height(), extent * 1e-3));
    const double scale = qMin(roomX / area.width(), roomY / area.height());
    const double left = margin + (roomX - area.width() * scale) / 2;
    const double bottom = size.height() - margin - (roomY - area.height() * scale) / 2;
    const auto pixel = [&](const QPointF& mm) {
        return QPointF(
            left + (mm.x() - area.left()) * scale, bottom - (mm.y() - area.top()) * scale);
    };

    QImage image(size, QImage::Format_RGB32);
    image.fill(options.background);
    QPainter painter(&image);
    // Crisp hairlines: the fast path, and a picture at any scale shows each cut one full pixel
    // wide.
    QPen cut(options.cut, 1.0);
    cut.setCosmetic(true);
    painter.setPen(cut);
    ProgressTracker tracker(options.progress, job.steps.size());
    QVector<QLineF> travel;
    travel.reserve(options.showTravel ? job.steps.size() : 0);
    QPointF position = pixel(QPointF(0, 0));
    QPolygonF line;
    for (int i = 0; i < job.steps.size(); ++i) {
        if ((i & 63) == 0 && !tracker.step(i))
            return {};
        const QVector<QPointF> points = job.path(i);
        line.clear();
        line.append(pixel(points.first()));
        for (int k = 1; k < points.size(); ++k) {
            const QPointF next = pixel(points.at(k));
            if (k + 1 == points.size() || distance(line.last(), next) >= finestStep)
                line.append(next);
        }
        painter.drawPolyline(line);
        if (options.showTravel)
            travel.append(QLineF(position, line.first()));
        position = line.last();
    }
    QPen travelPen(options.travel, 1.0, Qt::DashLine);
    travelPen.setCosmetic(true);
    painter.setPen(travelPen);
    painter.drawLines(travel);
    painter.end();
    tracker.step(job.steps.size());
    return image;
}

} // namespace ZRCut
