#include "usbframetext.h"

#include <QTextCodec>

namespace {

constexpr char16_t escapeBase = 0xDC00;

// The length of the valid UTF-8 sequence at the start of [at, end), and its code point; 0 when
// the bytes there are not one (a stray continuation byte, a sequence cut short, an overlong form,
// a surrogate or a code point past U+10FFFF).
int sequence(const uchar* at, const uchar* end, char32_t* code)
{
    const uchar lead = *at;
    int length = 0;
    char32_t least = 0;
    if (lead < 0x80) {
        *code = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, least = 0x80, *code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, least = 0x800, *code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, least = 0x10000, *code = lead & 0x07;
    } else {
        return 0;
    }
    if (end - at < length)
        return 0;
    for (int i = 1; i < length; ++i) {
        if ((at[i] & 0xC0) != 0x80)
            return 0;
        *code = (*code << 6) | (at[i] & 0x3F);
    }
    if (*code < least || *code > 0x10FFFF || (*code >= 0xD800 && *code <= 0xDFFF))
        return 0;
    return length;
}

bool isEscape(const QChar* at, const QChar* begin)
{
    const char16_t unit = at->unicode();
    return unit >= escapeBase + 0x80 && unit <= escapeBase + 0xFF
        && (at == begin || !at[-1].isHighSurrogate());
}

} // namespace

QString usbFrameText(const char* bytes, int size)
{
    // A frame is almost always valid UTF-8, decoded at Qt's own speed.
    static QTextCodec* const utf8 = QTextCodec::codecForName("UTF-8");
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    QString text = utf8->toUnicode(bytes, size, &state);
    if (state.invalidChars == 0 && state.remainingChars == 0)
        return text;

    text.clear();
    text.reserve(size);
    const auto* at = reinterpret_cast<const uchar*>(bytes);
    const uchar* const end = at + size;
    while (at < end) {
        char32_t code = 0;
        const int length = sequence(at, end, &code);
        if (length == 0) {
            text += QChar(escapeBase + *at++);
            continue;
        }
        if (QChar::requiresSurrogates(code)) {
            text += QChar(QChar::highSurrogate(code));
            text += QChar(QChar::lowSurrogate(code));
        } else {
            text += QChar(char16_t(code));
        }
        at += length;
    }
    return text;
}

QByteArray usbFrameBytes(const QString& text)
{
    const QChar* const begin = text.constData();
    const QChar* const end = begin + text.size();
    const QChar* escape = begin;
    while (escape != end && !isEscape(escape, begin))
        ++escape;
    if (escape == end)
        return text.toUtf8();

    QByteArray bytes;
    bytes.reserve(text.size());
    for (const QChar* from = begin;;) {
        bytes += QStringView(from, escape).toUtf8();
        if (escape == end)
            return bytes;
        bytes += char(escape->unicode() - escapeBase);
        from = ++escape;
        while (escape != end && !isEscape(escape, begin))
            ++escape;
    }
}
