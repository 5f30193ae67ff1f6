#pragma once

#include <QStringView>

// A field of a reply read as a decimal number, the way every number from the machine is read:
// blanks around it are allowed, and text that is no number, or one beyond the type's range, reads
// as 0.
int numberOrZero(QStringView text);
unsigned int unsignedNumberOrZero(QStringView text);
// The machine's percentage: a decimal number truncated toward zero; one that is not finite, or
// beyond int's range, reads as 0.
int percentOrZero(QStringView text);
