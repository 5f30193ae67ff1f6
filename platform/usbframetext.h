#pragma once

#include <QByteArray>
#include <QString>

// The USB transport takes each frame as text (UsbOperate::send), and the machine must receive the
// frame's bytes exactly. The text is the frame decoded as UTF-8, a byte-order mark kept as a
// character wherever it stands; a byte that is not part of a valid UTF-8 sequence stands as the
// lone low surrogate U+DC80 + byte (U+DC80 to U+DCFF), which no valid UTF-8 decodes to. The two
// functions undo each other for every array of bytes.
QString usbFrameText(const char* bytes, int size);
QByteArray usbFrameBytes(const QString& text);
