#include "geometry.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace ZRCut {

namespace {

// Files beyond this are refused rather than read into memory whole.
constexpr qint64 maxFileBytes = 512 * 1024 * 1024;

enum class Format { Svg, Dxf, Hpgl, Unknown };

// Kinds of files that are no cut file, by how they begin.
const struct {
    const char* magic;
    int length;
    const char* kind;
} otherKinds[] = { { "\x89PNG", 4, "a PNG picture" }, { "\xff\xd8\xff", 3, "a JPEG picture" },
    { "GIF8", 4, "a GIF picture" }, { "%PDF", 4, "a PDF document" },
    { "PK\x03\x04", 4, "a ZIP archive" }, { "\x7f" "ELF", 4, "a program" },
    { "II*\x00", 4, "a TIFF picture" }, { "MM\x00*", 4, "a TIFF picture" },
    { "RIFF", 4, "a RIFF file" }, { "%!PS", 4, "a PostScript document" } };

bool isHpglSuffix(const QString& suffix)
{
    return suffix == QLatin1String("plt") || suffix == QLatin1String("hpgl")
        || suffix == QLatin1String("hpg") || suffix == QLatin1String("hgl")
        || suffix == QLatin1String("hp") || suffix == QLatin1String("hpgl2");
}

// Whether the data begins as HP-GL does: an instruction a plotter knows, after whatever bytes
// (escape sequences, a stray ETX, PJL lines) stand before it.
bool beginsLikeHpgl(const QByteArray& head)
{
    static const char* const known[] = { "IN", "DF", "PU", "PD", "PA", "PR", "SP", "IP", "SC", "CI",
        "LB", "VS", "IW", "RO", "PS", "BP", "SI", "DI", "LT", "PW", "WU", "PG", "EA", "ER", "AA",
        "AR", "CO", "DT", "SR", "FS", "NP" };
    int i = 0;
    while (i + 1 < head.size()) {
        const char c = head.at(i);
        if (c == '@' && head.mid(i, 4) == "@PJL") {
            const int eol = head.indexOf('\n', i);
            i = eol < 0 ? head.size() : eol + 1;
        } else if (c == '\x1b') {
            i += 2;
            while (i < head.size() && !QChar::isLetter(uchar(head.at(i))))
                ++i;
            ++i;
        } else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
            const QByteArray mnemonic = head.mid(i, 2).toUpper();
            return std::any_of(std::begin(known), std::end(known),
                [&](const char* k) { return mnemonic == k; });
        } else {
            ++i;
        }
    }
    return false;
}

// The reader by the file's content; its extension only where the content is open to doubt.
Format formatOf(const QString& path, const QByteArray& data, QString* kind)
{
    for (const auto& other : otherKinds) {
        if (data.startsWith(QByteArray::fromRawData(other.magic, other.length))) {
            *kind = QLatin1String(other.kind);
            return Format::Unknown;
        }
    }
    const QByteArray head = data.left(4096);
    const QByteArray trimmed = head.trimmed();
    if (trimmed.startsWith("<") || trimmed.startsWith("\xef\xbb\xbf<"))
        return Format::Svg;
    const QList<QByteArray> lines = head.split('\n');
    const QByteArray first = lines.value(0).trimmed();
    if ((first == "0" || first == "999") && lines.size() > 1)
        return Format::Dxf;
    if (head.startsWith("AutoCAD Binary DXF"))
        return Format::Dxf;
    if (beginsLikeHpgl(head))
        return Format::Hpgl;
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("svg"))
        return Format::Svg;
    if (suffix == QLatin1String("dxf"))
        return Format::Dxf;
    if (isHpglSuffix(suffix))
        return Format::Hpgl;
    *kind = QStringLiteral("neither SVG, DXF nor HP-GL");
    return Format::Unknown;
}

} // namespace

QStringList fileSuffixes()
{
    return { QStringLiteral("svg"), QStringLiteral("dxf"), QStringLiteral("plt"),
        QStringLiteral("hpgl"), QStringLiteral("hpg"), QStringLiteral("hgl"), QStringLiteral("hp"),
        QStringLiteral("hpgl2") };
}

bool readFile(const QString& path, Drawing* drawing, QString* error, const ReadOptions& options)
{
    // A pipe or a device would keep the read waiting, or never end.
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        *error = QStringLiteral("%1: not a regular file").arg(path);
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    if (file.size() > maxFileBytes) {
        *error = QStringLiteral("%1: larger than %2 MB").arg(path).arg(maxFileBytes >> 20);
        return false;
    }
    QString why;
    const bool ok = guarded(
        [&] {
            const QByteArray data = file.readAll();
            file.close();
            QString kind;
            switch (formatOf(path, data, &kind)) {
            case Format::Svg:
                return readSvg(data, drawing, &why, options);
            case Format::Dxf:
                return readDxf(data, drawing, &why, options);
            case Format::Hpgl:
                return readHpgl(data, drawing, &why, options);
            case Format::Unknown:
                break;
            }
            why = QStringLiteral("not a cut file: it is %1").arg(kind);
            return false;
        },
        &why);
    if (!ok)
        *error = QStringLiteral("%1: %2").arg(path, why);
    return ok;
}

} // namespace ZRCut
