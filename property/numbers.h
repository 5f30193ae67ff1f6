#pragma once

#include <QStringView>

// A field of a reply read as a decimal int, the way every number from the machine is read:
// blanks around it are allowed, and text that is no number, or one beyond int's range, reads as 0.
inline int numberOrZero(QStringView text)
{
    return text.toInt();
}
