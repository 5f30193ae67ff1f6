#include "simframecutter.h"

#include <cstring>

void SimFrameCutter::append(const QByteArray& bytes)
{
    if (qint64(pendingBytes()) + bytes.size() > maxPendingBytes)
        clear();
    m_buffer += bytes;
}

bool SimFrameCutter::takeFrame(QByteArray* frame)
{
    const char* data = m_buffer.constData();
    const int size = m_buffer.size();
    while (m_scanned < size) {
        const void* etx = std::memchr(data + m_scanned, 0x03, size_t(size - m_scanned));
        const int stop = etx ? int(static_cast<const char*>(etx) - data) : size;
        if (const void* stx = memrchr(data + m_scanned, 0x02, size_t(stop - m_scanned)))
            m_lastStx = int(static_cast<const char*>(stx) - data);
        if (!etx) {
            m_scanned = size;
            break;
        }
        const int start = m_lastStx;
        m_start = m_scanned = stop + 1;
        m_lastStx = -1;
        if (start >= 0) {
            *frame = m_buffer.mid(start, stop - start + 1);
            compact();
            return true;
        }
    }
    compact();
    return false;
}

void SimFrameCutter::clear()
{
    m_buffer.clear();
    m_start = m_scanned = 0;
    m_lastStx = -1;
}

void SimFrameCutter::compact()
{
    // Moving the tail only once the consumed head outweighs it keeps the cost linear overall.
    if (m_start == 0 || m_start < pendingBytes())
        return;
    m_buffer.remove(0, m_start);
    m_scanned -= m_start;
    if (m_lastStx >= 0)
        m_lastStx -= m_start;
    m_start = 0;
}
