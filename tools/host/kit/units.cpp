#include "units.h"

#include "zrdevicehost.h"

#include <QRegularExpression>

#include <cmath>

namespace {

// A length typed beyond this is a slip of the keyboard, not a cut.
constexpr double maxMm = 1e6;

struct Named {
    const char* word;
    double mm;
};
const Named units[] = { { "mm", 1 }, { "cm", 10 }, { "m", 1000 }, { "in", Units::mmPerInch },
    { "inch", Units::mmPerInch }, { "inches", Units::mmPerInch }, { "\"", Units::mmPerInch },
    { "ft", 12 * Units::mmPerInch } };

} // namespace

namespace Units {

bool fromName(const QString& name, Unit* unit)
{
    if (name != QLatin1String("mm") && name != QLatin1String("inch"))
        return false;
    *unit = name == QLatin1String("mm") ? Mm : Inch;
    return true;
}

QString symbol(Unit unit, bool perSecond)
{
    return QLatin1String(unit == Mm ? "mm" : "in") + QLatin1String(perSecond ? "/s" : "");
}

bool isLength(const QString& unitText, bool* perSecond)
{
    QString bare = unitText.trimmed();
    if (bare.startsWith(QLatin1Char('(')) && bare.endsWith(QLatin1Char(')')))
        bare = bare.mid(1, bare.size() - 2).trimmed();
    if (perSecond)
        *perSecond = bare == QLatin1String("mm/s");
    return bare == QLatin1String("mm") || bare == QLatin1String("mm/s");
}

bool parse(const QString& text, Unit unit, bool perSecond, double* mm, QString* error)
{
    static const QRegularExpression form(QStringLiteral(
        R"(^\s*([-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?)\s*([A-Za-z"]*)\s*(/\s*s)?\s*$)"));
    const QRegularExpressionMatch match = form.match(text);
    const QString shown = ZRDevice::printable(text.trimmed());
    if (!match.hasMatch()) {
        *error = QStringLiteral("\"%1\" is not a number").arg(shown);
        return false;
    }
    const QString word = match.captured(2).toLower();
    double scale = unit == Mm ? 1 : mmPerInch;
    if (!word.isEmpty()) {
        scale = 0;
        for (const Named& named : units)
            scale = word == QLatin1String(named.word) ? named.mm : scale;
    }
    if (scale == 0) {
        *error = QStringLiteral("\"%1\" is no unit of length here: mm, cm, m, in (or \"), ft")
                     .arg(ZRDevice::printable(match.captured(2)));
        return false;
    }
    if (!match.captured(3).isEmpty() && (!perSecond || word.isEmpty())) {
        *error = perSecond ? QStringLiteral("\"%1\": a unit goes before /s (250mm/s)").arg(shown)
                           : QStringLiteral("\"%1\" is a speed, and a length is wanted").arg(shown);
        return false;
    }
    const double value = match.captured(1).toDouble() * scale;
    if (!std::isfinite(value) || std::abs(value) > maxMm) {
        *error = QStringLiteral("\"%1\" is beyond %2")
                     .arg(shown, Units::text(maxMm, unit, perSecond, 0));
        return false;
    }
    *mm = value;
    return true;
}

QString number(double mm, Unit unit, int mmDecimals)
{
    return unit == Mm ? QString::number(mm, 'f', mmDecimals)
                      : QString::number(mm / mmPerInch, 'f', mmDecimals + 2);
}

QString text(double mm, Unit unit, bool perSecond, int mmDecimals)
{
    return number(mm, unit, mmDecimals) + QLatin1Char(' ') + symbol(unit, perSecond);
}

} // namespace Units
