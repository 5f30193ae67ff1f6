#pragma once

#include <QString>

// Lengths as a person types and reads them: in mm or in inches, as the settings' units (or
// --units) say. Everything is kept and sent in mm; only the text a person sees or types is in
// the chosen unit. A typed length may name its own unit ("250mm/s", "10 in", "0.5 ft", "3\"").
namespace Units {

enum Unit { Mm, Inch };

// "mm" or "inch" (as the settings file and --units take them); false for any other word.
bool fromName(const QString& name, Unit* unit);
// "mm" or "in", with "/s" for a speed.
QString symbol(Unit unit, bool perSecond = false);

// Whether a parameter's unit text ("mm", "mm/s", "(mm/s)") is a length or a speed in mm, and
// which of the two.
bool isLength(const QString& unitText, bool* perSecond = nullptr);

// The typed text as mm (mm/s for a speed): a number with an optional unit after it — mm, cm, m,
// in, inch, inches, ", ft — and "/s" after a speed's unit; a bare number is in unit. False with
// the reason in *error for no number, an unknown unit, a speed's "/s" on a length or a length
// beyond a kilometre.
bool parse(const QString& text, Unit unit, bool perSecond, double* mm, QString* error);

// mm as a number in unit: mm with decimals as given, inches with two more (0.1 mm reads as 0.004
// in).
QString number(double mm, Unit unit, int mmDecimals = 1);
// number() with the unit after it: "250.0 mm/s", "9.84 in/s".
QString text(double mm, Unit unit, bool perSecond = false, int mmDecimals = 1);

constexpr double mmPerInch = 25.4;

} // namespace Units
