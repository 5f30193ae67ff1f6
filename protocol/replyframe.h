#pragma once

#include "zrdeviceinterface.h"

#include <QStringView>

#include <algorithm>

// A frame from the machine read in place, without cutting it into strings: field 1 names its
// kind, fields 2 on are its body. Field 0 (STX and length) is never read.
struct ReplyFrame {
    explicit ReplyFrame(QStringView frame)
    {
        const qsizetype first = find(frame, u';', 0);
        const qsizetype second = first < 0 ? -1 : find(frame, u';', first + 1);
        if (second < 0)
            return;
        complete = true;
        const QStringView head = frame.mid(first + 1, second - first - 1);
        if (isHead(head, u"CMD"))
            kind = ZRDeviceInterface::CMD;
        else if (isHead(head, u"CCMD"))
            kind = ZRDeviceInterface::CCMD;
        body = frame.mid(second + 1);
    }

    // Where c stands in text from index from on, or -1. Replies are short: a plain loop beats a
    // call into the string library.
    static qsizetype find(QStringView text, char16_t c, qsizetype from)
    {
        const char16_t* units = text.utf16();
        for (qsizetype i = from; i < text.size(); ++i) {
            if (units[i] == c)
                return i;
        }
        return -1;
    }

    template <qsizetype N> static bool isHead(QStringView text, const char16_t (&head)[N])
    {
        return text.size() == N - 1 && std::equal(head, head + N - 1, text.utf16());
    }

    // Field 2: a CCMD reply's comma text, or a CMD reply's first item.
    QStringView field2() const
    {
        const qsizetype end = find(body, u';', 0);
        return end < 0 ? body : body.left(end);
    }

    bool complete = false; // three fields at least
    ZRDeviceInterface::ZRDeviceCMDType kind = ZRDeviceInterface::UnCMD; // UnCMD: of no interest
    QStringView body;
};
