#include "simframe.h"

namespace {

constexpr char STX = 0x02;
constexpr char ETX = 0x03;

int decimalDigits(qint64 n)
{
    int digits = 1;
    while (n >= 10) {
        n /= 10;
        ++digits;
    }
    return digits;
}

} // namespace

QByteArray SimFrame::pack(const QByteArray& head, const QByteArray& payload)
{
    // The length field counts itself, so its digit count is settled in two steps.
    const qint64 n = head.size() + 1 + payload.size() + 3;
    const qint64 length = n + decimalDigits(n + decimalDigits(n));
    QByteArray frame;
    frame.reserve(int(length));
    frame += STX;
    frame += QByteArray::number(length);
    frame += ';';
    frame += head;
    frame += ';';
    frame += payload;
    frame += ETX;
    return frame;
}

SimFrame SimFrame::parse(const QByteArray& frame)
{
    SimFrame parsed;
    if (frame.size() < 2 || frame.front() != STX || frame.back() != ETX)
        return parsed;
    const int lengthEnd = frame.indexOf(';', 1);
    if (lengthEnd < 0)
        return parsed;
    const int headEnd = frame.indexOf(';', lengthEnd + 1);
    if (headEnd < 0) {
        parsed.head = frame.mid(lengthEnd + 1, frame.size() - lengthEnd - 2);
        return parsed;
    }
    const QByteArray lengthText = frame.mid(1, lengthEnd - 1);
    bool numeric = !lengthText.isEmpty() && lengthText.size() <= 10;
    for (char c : lengthText)
        numeric = numeric && c >= '0' && c <= '9';
    parsed.lengthOk
        = numeric && lengthText.front() != '0' && lengthText.toLongLong() == frame.size();
    parsed.head = frame.mid(lengthEnd + 1, headEnd - lengthEnd - 1);
    parsed.payload = frame.mid(headEnd + 1, frame.size() - headEnd - 2);
    parsed.wellFormed = numeric;
    return parsed;
}
