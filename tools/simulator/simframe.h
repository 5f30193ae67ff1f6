#pragma once

#include <QByteArray>

// One frame of the machine link: 0x02, the decimal total length, ';', head, ';', payload, 0x03.
// The length counts every byte of the frame, its own digits included.
struct SimFrame {
    QByteArray head;
    QByteArray payload;
    // The length field names the frame's exact size.
    bool lengthOk = false;
    // Length, head and payload are each where they belong.
    bool wellFormed = false;

    bool isValid() const { return wellFormed && lengthOk; }

    static QByteArray pack(const QByteArray& head, const QByteArray& payload);
    // frame runs from its STX through its ETX, as the cutter hands it over.
    static SimFrame parse(const QByteArray& frame);
};
