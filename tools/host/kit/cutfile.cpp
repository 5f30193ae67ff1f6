#include "cutfile.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QVector>

#include <cmath>

namespace {

int wholeMm(double mm)
{
    return int(std::lround(mm));
}

} // namespace

CutFile CutFile::read(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return {};
    }
    if (file.size() > maxBytes) {
        *error = QStringLiteral("%1 is larger than %2 MB").arg(path).arg(maxBytes >> 20);
        return {};
    }
    CutFile cut = fromData(QFileInfo(path).fileName(), file.readAll());
    if (!cut.isValid())
        *error = QStringLiteral("%1 holds nothing to cut (no pen-down move)").arg(path);
    return cut;
}

CutFile CutFile::fromData(const QString& name, const QByteArray& data)
{
    CutFile cut;
    cut.m_name = name;
    cut.m_data = data;
    cut.m_outline = PltOutline::fromHpgl(data);
    return cut;
}

QJsonObject CutFile::fileInfo() const
{
    return QJsonObject {
        { QStringLiteral("name"), m_name },
        { QStringLiteral("bytes"), m_data.size() },
        { QStringLiteral("width"), wholeMm(m_outline.widthMm()) },
        { QStringLiteral("heigth"), wholeMm(m_outline.heightMm()) },
        { QStringLiteral("path_length"), wholeMm(m_outline.penDownLengthMm()) },
        { QStringLiteral("travel_length"), wholeMm(m_outline.penUpLengthMm()) },
    };
}

QImage CutFile::preview(int longSide) const
{
    constexpr int margin = 4;
    const QRectF bounds = m_outline.cutBounds();
    const int room = longSide - 2 * margin;
    if (m_outline.cutSegmentCount() == 0 || room < 1)
        return {};
    // A straight cut has no extent across it; it still gets its line of pixels.
    const double extent = qMax(bounds.width(), bounds.height());
    const double scale = extent > 0 ? room / extent : 1.0;
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
    for (const PltSegment& segment : m_outline.segments()) {
        if (segment.penDown)
            strokes.append(QLineF(pixel(segment.from), pixel(segment.to)));
    }
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0x20, 0x20, 0x20), 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawLines(strokes);
    return image;
}

QByteArray CutFile::previewPng(int longSide) const
{
    const QImage image = preview(longSide);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}
