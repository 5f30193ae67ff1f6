#include "cutfile.h"

#include "cutpreview.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImage>

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

QByteArray CutFile::previewPng(int longSide) const
{
    const QImage image = CutPreview::render(m_outline, longSide);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}
