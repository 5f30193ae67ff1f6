#include "numbers.h"

#include <QString>

#include <cmath>
#include <limits>

namespace {

bool isBlank(char16_t c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Beyond the range of every number read here: text that holds no number, and text that is not
// plain. A plain qint64 comes back in a register, where an optional one would go through memory
// on every call.
constexpr qint64 noNumber = std::numeric_limits<qint64>::max();
constexpr qint64 notPlain = std::numeric_limits<qint64>::min();

// Plain text (ASCII digits, a sign, ASCII blanks and other printable ASCII) is read here, to
// noNumber when it is no number; text with anything else, such as other blanks or digits Unicode
// knows, is left to Qt's reading of numbers (notPlain). The magnitude stops growing once it is
// beyond any 32-bit number.
qint64 readPlain(QStringView text)
{
    const char16_t* at = text.utf16();
    const char16_t* end = at + text.size();
    // The usual field: a few digits and nothing else.
    if (text.size() > 0 && text.size() <= 9) {
        qint64 number = 0;
        const char16_t* digit = at;
        for (; digit != end && *digit >= '0' && *digit <= '9'; ++digit)
            number = number * 10 + (*digit - '0');
        if (digit == end)
            return number;
    }
    const auto plainRest = [&]() -> qint64 {
        for (; at != end; ++at) {
            if (*at < 0x20 || *at >= 0x7f)
                return notPlain;
        }
        return noNumber;
    };
    while (at != end && isBlank(*at))
        ++at;
    bool negative = false;
    if (at != end && (*at == '+' || *at == '-'))
        negative = *at++ == '-';
    qint64 magnitude = 0;
    const char16_t* digits = at;
    for (; at != end && *at >= '0' && *at <= '9'; ++at) {
        if (magnitude <= std::numeric_limits<quint32>::max())
            magnitude = magnitude * 10 + (*at - '0');
    }
    if (at == digits)
        return plainRest();
    while (at != end && isBlank(*at))
        ++at;
    if (at != end)
        return plainRest();
    return negative ? -magnitude : magnitude;
}

} // namespace

int numberOrZero(QStringView text)
{
    const qint64 number = readPlain(text);
    if (number == notPlain)
        return text.toInt();
    return number >= std::numeric_limits<int>::min() && number <= std::numeric_limits<int>::max()
        ? int(number)
        : 0;
}

unsigned int unsignedNumberOrZero(QStringView text)
{
    const qint64 number = readPlain(text);
    if (number == notPlain)
        return text.toUInt();
    return number >= 0 && number <= std::numeric_limits<quint32>::max()
        ? static_cast<unsigned int>(number)
        : 0;
}

// The machine sends the percentage as a decimal number; it is kept truncated toward zero. The
// usual form, digits and a decimal fraction, is cut at the point; anything else is read as a
// real number. A corrupted line may carry "inf", "nan" or a huge exponent, which no int can hold.
int percentOrZero(QStringView text)
{
    const char16_t* at = text.utf16();
    const char16_t* end = at + text.size();
    const bool negative = at != end && *at == u'-';
    at += negative;
    qint64 whole = 0;
    const char16_t* digits = at;
    for (; at != end && *at >= u'0' && *at <= u'9'; ++at)
        whole = qMin<qint64>(whole * 10 + (*at - u'0'), qint64(1) << 32);
    bool plain = at != digits;
    if (plain && at != end) {
        const bool point = *at++ == u'.';
        const char16_t* fraction = at;
        while (at != end && *at >= u'0' && *at <= u'9')
            ++at;
        plain = point && at != fraction && at == end;
    }
    if (plain) {
        whole = negative ? -whole : whole;
        return whole >= std::numeric_limits<int>::min() && whole <= std::numeric_limits<int>::max()
            ? int(whole)
            : 0;
    }
    bool ok = false;
    const double number = std::trunc(text.toDouble(&ok));
    if (!ok || !std::isfinite(number) || number < double(std::numeric_limits<int>::min())
        || number > double(std::numeric_limits<int>::max()))
        return 0;
    return int(number);
}
