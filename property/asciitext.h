#pragma once

#include <QChar>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Frames are ASCII text in practice (cut files, replies), and for ASCII text UTF-16 and the
// 8-bit encodings differ only in width. These copy text between the two and tell whether it was
// all ASCII; when it was not, what they wrote is of no use and the caller takes the general path.

// Narrows count UTF-16 units to bytes.
inline bool narrowAscii(const QChar* from, int count, char* to)
{
    const auto* units = reinterpret_cast<const ushort*>(from);
    int i = 0;
    ushort seen = 0;
#if defined(__SSE2__)
    __m128i seenWide = _mm_setzero_si128();
    for (; i + 16 <= count; i += 16) {
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i));
        const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i + 8));
        seenWide = _mm_or_si128(seenWide, _mm_or_si128(low, high));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), _mm_packus_epi16(low, high));
    }
    const __m128i nonAscii = _mm_and_si128(seenWide, _mm_set1_epi16(short(0xff80)));
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(nonAscii, _mm_setzero_si128())) != 0xffff)
        return false;
#endif
    for (; i < count; ++i) {
        seen |= units[i];
        to[i] = char(units[i]);
    }
    return seen < 0x80;
}

// Widens count bytes to UTF-16 units.
inline bool widenAscii(const char* from, int count, QChar* to)
{
    auto* units = reinterpret_cast<ushort*>(to);
#if defined(__SSE2__)
    // Replies are a few dozen bytes: whole blocks of 16, then the last 16 again, overlapping.
    if (count >= 16) {
        const __m128i zero = _mm_setzero_si128();
        int high = 0;
        const auto widen = [&](int at) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + at));
            high |= _mm_movemask_epi8(bytes);
            _mm_storeu_si128(
                reinterpret_cast<__m128i*>(units + at), _mm_unpacklo_epi8(bytes, zero));
            _mm_storeu_si128(
                reinterpret_cast<__m128i*>(units + at + 8), _mm_unpackhi_epi8(bytes, zero));
        };
        for (int i = 0; i + 16 <= count; i += 16)
            widen(i);
        widen(count - 16);
        return high == 0;
    }
#endif
    uchar seen = 0;
    for (int i = 0; i < count; ++i) {
        seen |= uchar(from[i]);
        units[i] = uchar(from[i]);
    }
    return seen < 0x80;
}
