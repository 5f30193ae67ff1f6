#pragma once

#include <QString>
#include <QStringList>

// How the simulated machine behaves, and which faults it injects on its links. The defaults give
// a well-behaved ZR-TX4150V.
struct SimOptions {
    // The machine.
    int heartbeatSeconds = 2; // the period its heartbeat reply asks for
    double speedMmPerSecond = 0; // cutting speed; 0 follows station 1's speed register (1)
    int reportIntervalMs = 500; // between progress reports while cutting
    int qrScanMs = 300; // from a QR-code task (or a finished copy) to the next code read
    QStringList qrNames; // the QR-code texts read, in turn; empty: "qr-0001.plt", ...
    QString machineNumber = QStringLiteral("TX4150V-000128");
    QString boardNumber = QStringLiteral("ZB157-2308-0415");
    QString boardVersion = QStringLiteral("V1.57");
    QString firmware = QStringLiteral("1.5.7");
    QString configNumber = QStringLiteral("CFG-4150-03");
    QString uniqueId = QStringLiteral("5A52B7C40E19F263");

    // Faults, per link unless said otherwise. Every random choice comes from seed, so a run can
    // be repeated byte for byte.
    quint32 seed = 1;
    int chunkMax = 0; // > 0: write output in random pieces of 1 to chunkMax bytes
    int chunkGapMs = 1; // pause between pieces, so the peer reads them apart; 0 writes them at once
    int junkMax = 0; // > 0: 1 to junkMax random bytes before each frame
    int dropAfterFrames = 0; // > 0: hang up once this many frames came in on the link
    double dropAtPercent = -1; // >= 0: hang up every link once a job reaches this percent
    // >= 0: the machine restarts once a job reaches this percent (SimMachine::restart), once.
    double restartAtPercent = -1;
    int replyDelayMs = 0; // every frame leaves this long after it was made
    int malformedEvery = 0; // > 0: a malformed frame after every this many good ones
    // A machine that hangs while its connection stays up: it reads nothing, answers nothing and
    // its job stands still, as if its controller had stopped (SimMachine::setSilent).
    int silentAfterFrames = 0; // > 0: the machine goes silent once a link received this many
    double silentAtPercent = -1; // >= 0: the machine goes silent once a job reaches this percent
    // A machine that babbles: once a link received noiseAfterFrames frames (0: from the start),
    // the link sends noise instead of the machine's frames, noiseBytesPerSecond without end.
    enum class Noise {
        None,
        Unterminated, // one STX and a frame's beginning, then bytes that never hold an ETX
        Garbage, // random bytes, STX and ETX among them
    };
    Noise noise = Noise::None;
    int noiseAfterFrames = 0;
    int noiseBytesPerSecond = 1024 * 1024;
};
