#pragma once

#include <QByteArray>

// Cuts the byte stream of one link into frames the way the device does: a frame ends at the
// first ETX and starts at the last STX before it; bytes between frames are dropped.
//
// Each byte is looked at once and consumed bytes are released in amortised linear time, so a
// cut file of many megabytes arriving in small reads costs no more than its size.
class SimFrameCutter {
public:
    // Unterminated bytes beyond this are dropped: no cut file comes near it.
    static constexpr int maxPendingBytes = 256 * 1024 * 1024;

    void append(const QByteArray& bytes);
    // Takes the next complete frame, STX through ETX; false when none is complete yet.
    bool takeFrame(QByteArray* frame);
    int pendingBytes() const { return m_buffer.size() - m_start; }
    void clear();

private:
    void compact();

    QByteArray m_buffer;
    int m_start = 0; // first byte not yet consumed
    int m_scanned = 0; // bytes before this have been searched for ETX
    int m_lastStx = -1; // last STX seen in [m_start, m_scanned)
};
