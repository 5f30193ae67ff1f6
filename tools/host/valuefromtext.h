#pragma once

#include <QString>
#include <QVariant>

class ZRDeviceProperty;

// The value a parameter should hold for text typed by a user, of the type its value has now,
// since that type decides how the parameter builds its command and reads the machine's answer.
//
// Numbers must parse whole and fit. A register command carries 16-bit words: a one-register
// number takes 0 to 65535, or -32768 to -1 as the word's two's complement; a number over two
// registers takes any 32-bit value, negative ones as their two's complement. Text, lists (comma
// separated), JSON objects, bytes, date-times (ISO 8601) and booleans are taken as written.
// Returns an invalid QVariant, with *error set, when the text does not fit.
QVariant valueFromText(ZRDeviceProperty* parameter, const QString& text, QString* error);
