#pragma once

#include "zrdeviceinterface.h"
#include "zrdeviceproperty.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QRandomGenerator>
#include <QString>
#include <QTest>

// Large frames whose bytes a transport could get wrong where it cuts them: a byte-order mark,
// multi-byte characters and bytes that are no UTF-8 at all, standing across each boundary of the
// 256 KiB slices a cut file is written in, at every offset; and a frame of random bytes. Each
// row is a name and the frames, sent in order.
inline QList<QPair<QString, QList<QByteArray>>> awkwardFrames()
{
    constexpr int slice = 256 * 1024;
    const QList<QPair<QString, QByteArray>> pieces {
        { "byte-order mark", "\xef\xbb\xbf" },
        { "two-, three- and four-byte characters", "\xc3\xa9\xe4\xba\x8c\xf0\x9f\x98\x80" },
        { "bytes that are no UTF-8",
            "\xff\x80\xbf\xc3\xe4\xba\xed\xa0\x80\xf4\x90\x80\x80\xc0\xaf" },
    };
    QList<QPair<QString, QList<QByteArray>>> rows;
    ZRDeviceProperty packer;
    const QByteArray head = packer.pack(QString(), QStringLiteral("PLT"));
    for (const auto& [name, piece] : pieces) {
        QList<QByteArray> frames;
        for (int offset = -piece.size(); offset <= 0; ++offset) {
            // A frame of two slices and a bit, the piece across both boundaries.
            QByteArray frame(2 * slice + 1000, 'D');
            for (int boundary : { slice, 2 * slice })
                frame.replace(boundary + offset, piece.size(), piece);
            frame[0] = '\x02';
            frame[frame.size() - 1] = '\x03';
            frames << frame << head;
        }
        rows.append({ name, frames });
    }

    // The machine never checks a cut file's text; any byte but the frame's own may stand in it.
    QRandomGenerator random(4150);
    QByteArray noise(600 * 1000, '\0');
    for (char& byte : noise) {
        byte = char(random.bounded(256));
        if (byte == '\x02' || byte == '\x03')
            byte = '\xff';
    }
    noise[0] = '\x02';
    noise[noise.size() - 1] = '\x03';
    rows.append({ QStringLiteral("random bytes"), { noise, head } });

    // A job whose file holds U+FEFF where the second slice of its frame begins.
    QString file(600 * 1000, QLatin1Char('D'));
    file[262132] = QChar(0xFEFF);
    rows.append({ QStringLiteral("job with U+FEFF at a slice's start"),
        { packer.pack(file, QStringLiteral("PLT")), packer.pack("SET125:2;", "CMD") } });
    return rows;
}

// The awkward frames as a data-driven test's rows, one column "frames".
inline void awkwardFrameRows()
{
    QTest::addColumn<QList<QByteArray>>("frames");
    for (const auto& [name, frames] : awkwardFrames())
        QTest::newRow(qPrintable(name)) << frames;
}

// Hands the device each frame to send; the bytes the machine must receive.
inline QByteArray sendAll(ZRDeviceInterface& device, const QList<QByteArray>& frames)
{
    QByteArray expected;
    for (const QByteArray& frame : frames) {
        device.sendCMD(frame);
        expected += frame;
    }
    return expected;
}
