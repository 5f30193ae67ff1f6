#include "shop.h"

#include "zrdevicehost.h"

#include <QRegularExpression>

#include <cmath>

namespace {

constexpr double largestSheetMm = 100000;
constexpr int mostTurns = 360;

QString number(double value)
{
    return QString::number(value, 'f', 1);
}

} // namespace

bool ShopSettings::parseRotations(const QString& text, QVector<double>* turns, QString* error)
{
    const QStringList items = text.split(QLatin1Char(','), Qt::SkipEmptyParts);
    QVector<double> read;
    for (const QString& item : items) {
        bool ok = false;
        const double degrees = item.trimmed().toDouble(&ok);
        if (!ok || !(degrees >= -360 && degrees <= 360) || read.size() >= mostTurns) {
            *error = QStringLiteral("the turns are degrees from -360 to 360, a list such as "
                                    "0,90,180,270 or one step such as 45, not \"%1\"")
                         .arg(ZRDevice::printable(text.left(80)));
            return false;
        }
        read.append(degrees);
    }
    if (read.isEmpty()) {
        *error = QStringLiteral("no turns given: a list such as 0,90,180,270 or a step such as 45");
        return false;
    }
    if (read.size() == 1) {
        const double step = std::abs(read.first());
        // A step too small to be meant would give thousands of turns to try.
        if (step > 0 && step < 1) {
            *error = QStringLiteral("a step of turns is at least 1 degree, not %1").arg(step);
            return false;
        }
        read = step == 0 || step == 360 ? QVector<double> { 0.0 } : ZRCut::rotationSteps(step);
    }
    *turns = read;
    return true;
}

bool ShopSettings::parseSheet(const QString& text, QSizeF* sheet, QString* error)
{
    static const QRegularExpression pattern(
        QStringLiteral("^\\s*([0-9.]+)\\s*[xX×]\\s*([0-9.]+)\\s*$"));
    const QRegularExpressionMatch match = pattern.match(text);
    bool wide = false;
    bool high = false;
    const double width = match.captured(1).toDouble(&wide);
    const double height = match.captured(2).toDouble(&high);
    if (!match.hasMatch() || !wide || !high || !(width > 0 && width <= largestSheetMm)
        || !(height > 0 && height <= largestSheetMm)) {
        *error = QStringLiteral("a sheet is WIDTHxHEIGHT in mm, both above 0 and at most %1, such "
                                "as 1200x600, not \"%2\"")
                     .arg(largestSheetMm)
                     .arg(ZRDevice::printable(text.left(80)));
        return false;
    }
    *sheet = QSizeF(width, height);
    return true;
}

QString ShopReport::unit() const
{
    return kind == Tiles ? QStringLiteral("tile") : QStringLiteral("sheet");
}

QString ShopReport::advanceText(int next) const
{
    return QStringLiteral("Advance the material for %1 %2 of %3")
        .arg(unit())
        .arg(next)
        .arg(count);
}

QString ShopReport::materialText() const
{
    return QStringLiteral("%1 %").arg(number(nest.materialUsedPercent));
}

QStringList ShopReport::lines() const
{
    QStringList lines;
    if (nested) {
        lines << QStringLiteral("Nested: %1 of %2 parts placed (%3 in holes) on %4 %5, %6 of the "
                                "material used, in %7 s.")
                     .arg(nest.partsPlaced)
                     .arg(nest.partsPlaced + nest.partsUnplaced)
                     .arg(nest.partsInHoles)
                     .arg(nest.sheets)
                     .arg(nest.sheets == 1 ? "sheet" : "sheets", materialText(),
                         QString::number(nest.seconds, 'f', 2));
        if (nest.partsUnplaced > 0)
            lines << QStringLiteral("%1 parts could not be placed.").arg(nest.partsUnplaced);
        lines << nest.notes;
    }
    if (kind == Tiles)
        lines << QStringLiteral("Tiled: %1 %2, each cut after the material is advanced.")
                     .arg(count)
                     .arg(count == 1 ? "tile" : "tiles");
    if (weeded)
        lines << QStringLiteral("Weeding: %1%2 lines, %3 mm.")
                     .arg(weeding.frame ? QStringLiteral("a frame and ") : QString())
                     .arg(weeding.lines)
                     .arg(number(weeding.lineLengthMm));
    if (bridged) {
        lines << QStringLiteral("Bridges: %1 on %2 contours, %3 mm left uncut.")
                     .arg(bridges.bridges)
                     .arg(bridges.contours)
                     .arg(number(bridges.removedMm));
        lines << bridges.notes;
    }
    return lines;
}
