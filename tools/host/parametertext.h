#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class ZRDeviceProperty;

// A parameter as text for a terminal: label, value and unit.
//
// The value is the number the machine uses. Where the parameter's editor shows something else,
// that follows in brackets: the number times the editor's display factor ("3000 (×0.5 = 1500)"),
// or the chosen item of a list ("1 (平衡)").
namespace ParameterText {

// Control characters written as \xNN, so that what the machine sends cannot upset the terminal.
QString printable(const QString& text);

QString label(ZRDeviceProperty* parameter);
QString unit(ZRDeviceProperty* parameter);
QString value(ZRDeviceProperty* parameter);
// The commands that read and write it, such as "CMD 28/28" or "CCMD 2/-"; "-" when none.
QString command(ZRDeviceProperty* parameter);

// The cells name, label, value and unit (and command, when asked for), the name indented by
// two blanks per level of grouping.
QStringList cells(
    const QByteArray& name, ZRDeviceProperty* parameter, int depth = 0, bool withCommand = false);

} // namespace ParameterText
