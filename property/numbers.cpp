#include "numbers.h"

#include <QString>

#include <limits>

namespace {

bool isBlank(char16_t c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

enum class Reading { Number, NoNumber, Unsure };

// Plain text (ASCII digits, a sign, ASCII blanks and other printable ASCII) is read here; text
// with anything else, such as other blanks or digits Unicode knows, is Unsure and left to Qt's
// reading of numbers. The magnitude stops growing once it is beyond any 32-bit number.
Reading readPlain(QStringView text, bool* negative, quint64* magnitude)
{
    const char16_t* at = text.utf16();
    const char16_t* end = at + text.size();
    const auto plainRest = [&] {
        for (; at != end; ++at) {
            if (*at < 0x20 || *at >= 0x7f)
                return Reading::Unsure;
        }
        return Reading::NoNumber;
    };
    while (at != end && isBlank(*at))
        ++at;
    *negative = false;
    if (at != end && (*at == '+' || *at == '-'))
        *negative = *at++ == '-';
    *magnitude = 0;
    const char16_t* digits = at;
    for (; at != end && *at >= '0' && *at <= '9'; ++at) {
        if (*magnitude <= std::numeric_limits<quint32>::max())
            *magnitude = *magnitude * 10 + quint64(*at - '0');
    }
    if (at == digits)
        return plainRest();
    while (at != end && isBlank(*at))
        ++at;
    return at == end ? Reading::Number : plainRest();
}

} // namespace

int numberOrZero(QStringView text)
{
    bool negative = false;
    quint64 magnitude = 0;
    switch (readPlain(text, &negative, &magnitude)) {
    case Reading::Unsure:
        return text.toInt();
    case Reading::NoNumber:
        return 0;
    case Reading::Number:
        break;
    }
    const quint64 limit = quint64(std::numeric_limits<int>::max()) + (negative ? 1 : 0);
    if (magnitude > limit)
        return 0;
    return negative ? int(-qint64(magnitude)) : int(magnitude);
}

unsigned int unsignedNumberOrZero(QStringView text)
{
    bool negative = false;
    quint64 magnitude = 0;
    switch (readPlain(text, &negative, &magnitude)) {
    case Reading::Unsure:
        return text.toUInt();
    case Reading::NoNumber:
        return 0;
    case Reading::Number:
        break;
    }
    // A sign of minus is no unsigned number, even before 0.
    if (negative || magnitude > std::numeric_limits<quint32>::max())
        return 0;
    return static_cast<unsigned int>(magnitude);
}
