#include "geometry.h"

#include <QFile>
#include <QFileInfo>

namespace ZRCut {

namespace {

// Files beyond this are refused rather than read into memory whole.
constexpr qint64 maxFileBytes = 512 * 1024 * 1024;

enum class Format { Svg, Dxf, Hpgl };

Format formatOf(const QString& path, const QByteArray& data)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("svg"))
        return Format::Svg;
    if (suffix == QLatin1String("dxf"))
        return Format::Dxf;
    if (suffix == QLatin1String("plt") || suffix == QLatin1String("hpgl")
        || suffix == QLatin1String("hpg") || suffix == QLatin1String("hgl"))
        return Format::Hpgl;
    const QByteArray head = data.left(512).trimmed();
    if (head.startsWith("<") || head.contains("<svg"))
        return Format::Svg;
    if (head.startsWith("0\r\nSECTION") || head.startsWith("0\nSECTION") || head.startsWith("999"))
        return Format::Dxf;
    return Format::Hpgl;
}

} // namespace

bool readFile(const QString& path, Drawing* drawing, QString* error, const ReadOptions& options)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    if (file.size() > maxFileBytes) {
        *error = QStringLiteral("%1: larger than %2 MB").arg(path).arg(maxFileBytes >> 20);
        return false;
    }
    QByteArray data = file.readAll();
    file.close();
    QString why;
    bool ok = false;
    switch (formatOf(path, data)) {
    case Format::Svg:
        ok = readSvg(data, drawing, &why, options);
        break;
    case Format::Dxf:
        ok = readDxf(data, drawing, &why, options);
        break;
    case Format::Hpgl:
        ok = readHpgl(data, drawing, &why, options);
        break;
    }
    if (!ok)
        *error = QStringLiteral("%1: %2").arg(path, why);
    return ok;
}

} // namespace ZRCut
