// The simulated machine's own frame cutter, and the faults it injects on request: output in
// pieces, junk, hang-ups, delays and malformed frames; and large cut files.

#include "simclient.h"
#include "simframe.h"
#include "simframecutter.h"
#include "simlink.h"
#include "simmachine.h"
#include "simptyfront.h"
#include "simrig.h"

#include <QtTest>

#include <memory>

using namespace simtest;

Q_DECLARE_METATYPE(SimOptions::Noise)

class tst_SimFaults : public QObject {
    Q_OBJECT
private slots:
    void cutter_data();
    void cutter();
    void cutterByteByByte();
    void cutterIsLinearInLargeFrames();
    void frameParse_data();
    void frameParse();

    void piecesReassembleToTheSameFrames();
    void piecesAreReproducible();
    void junkBetweenFrames();
    void dropAfterFrames();
    void dropMidJob();
    void delayedReplies();
    void malformedFrames();
    void silentMachine_data();
    void silentMachine();
    void noise_data();
    void noise();
    void largeCutFileOverTcp();
    void ptyHangsUpAndComesBack();

private:
    // The frames a machine with these options sends for a fixed conversation, and the client's
    // raw bytes and read count.
    struct Run {
        QList<QByteArray> frames;
        QByteArray bytes;
        int reads = 0;
    };
    Run converse(const SimOptions& options);
};

namespace {

const QList<QByteArray> conversation = {
    frame("CCMD", "1010;"),
    frame("CMD", "GET11;12;13;"),
    frame("CCMD", "2;"),
    frame("CMD", "SET28:3100;"),
    frame("CCMD", "57;"),
    frame("CMD", "GET28;29;"),
};

} // namespace

void tst_SimFaults::cutter_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QList<QByteArray>>("frames");
    QTest::addColumn<int>("pending");

    const QByteArray a = frame("CMD", "GET5;");
    const QByteArray b = frame("CCMD", "1010;");
    // clang-format off
    QTest::newRow("one frame")          << a << QList<QByteArray> { a } << 0;
    QTest::newRow("two frames")         << a + b << QList<QByteArray> { a, b } << 0;
    QTest::newRow("junk before")        << "junk" + a << QList<QByteArray> { a } << 0;
    QTest::newRow("rest waits")         << a + "\x02" "1" << QList<QByteArray> { a } << 2;
    QTest::newRow("two STX")            << "\x02" "xx" + a << QList<QByteArray> { a } << 0;
    QTest::newRow("only ETX")           << QByteArray("\x03\x03\x03") << QList<QByteArray> {} << 0;
    QTest::newRow("ETX in junk")        << "ab\x03" + a << QList<QByteArray> { a } << 0;
    QTest::newRow("empty")              << QByteArray() << QList<QByteArray> {} << 0;
    QTest::newRow("unterminated")       << QByteArray("\x02" "15;CCMD;10") << QList<QByteArray> {} << 11;
    // clang-format on
}

void tst_SimFaults::cutter()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QList<QByteArray>, frames);
    QFETCH(int, pending);
    SimFrameCutter cutter;
    cutter.append(bytes);
    QList<QByteArray> cut;
    QByteArray f;
    while (cutter.takeFrame(&f))
        cut.append(f);
    QCOMPARE(cut, frames);
    QCOMPARE(cutter.pendingBytes(), pending);
}

void tst_SimFaults::cutterByteByByte()
{
    QByteArray stream;
    for (const QByteArray& f : conversation)
        stream += "~\x03" + f;
    SimFrameCutter cutter;
    QList<QByteArray> cut;
    for (char c : stream) {
        cutter.append(QByteArray(1, c));
        QByteArray f;
        while (cutter.takeFrame(&f))
            cut.append(f);
    }
    QCOMPARE(cut, conversation);
    QCOMPARE(cutter.pendingBytes(), 0);
}

void tst_SimFaults::cutterIsLinearInLargeFrames()
{
    // 32 MB of cut file in 4 KB reads, with small frames around it. Scanning the buffer again
    // on each read would not finish within the test's time.
    const QByteArray body = QByteArray("PD400,400,0,0;").repeated(32 * 1024 * 1024 / 14);
    const QByteArray big = frame("PLT", body);
    const QByteArray stream = conversation.first() + big + conversation.last();
    SimFrameCutter cutter;
    QList<QByteArray> cut;
    for (int at = 0; at < stream.size(); at += 4096) {
        cutter.append(stream.mid(at, 4096));
        QByteArray f;
        while (cutter.takeFrame(&f))
            cut.append(f);
    }
    QCOMPARE(cut.size(), 3);
    QVERIFY(cut.at(1) == big);
    QCOMPARE(SimFrame::parse(cut.at(1)).payload.size(), body.size());
    QVERIFY(SimFrame::parse(cut.at(1)).isValid());
}

void tst_SimFaults::frameParse_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("payload");
    // clang-format off
    QTest::newRow("register read")   << QByteArray("\x02" "14;CMD;GET5;\x03")     << true  << QByteArray("CMD")  << QByteArray("GET5;");
    QTest::newRow("payload with ;")  << frame("PLT", "IN;PU0,0;")                 << true  << QByteArray("PLT")  << QByteArray("IN;PU0,0;");
    QTest::newRow("empty payload")   << QByteArray("\x02" "8;CMD;\x03")          << true  << QByteArray("CMD")  << QByteArray();
    QTest::newRow("99 to 101")       << frame("C", QByteArray(93, 'x'))           << true  << QByteArray("C")    << QByteArray(93, 'x');
    QTest::newRow("length short")    << QByteArray("\x02" "13;CMD;GET5;\x03")     << false << QByteArray("CMD")  << QByteArray("GET5;");
    QTest::newRow("leading zero")    << QByteArray("\x02" "014;CMD;GET5;\x03")    << false << QByteArray("CMD")  << QByteArray("GET5;");
    QTest::newRow("no length")       << QByteArray("\x02" ";CMD;GET5;\x03")       << false << QByteArray("CMD")  << QByteArray("GET5;");
    QTest::newRow("huge length")     << QByteArray("\x02" "99999999999999;C;\x03") << false << QByteArray("C")  << QByteArray();
    QTest::newRow("one field")       << QByteArray("\x02" "7;CMD\x03")            << false << QByteArray("CMD")  << QByteArray();
    QTest::newRow("no separator")    << QByteArray("\x02\x03")                    << false << QByteArray()       << QByteArray();
    // clang-format on
}

void tst_SimFaults::frameParse()
{
    QFETCH(QByteArray, frame);
    QFETCH(bool, valid);
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, payload);
    const SimFrame parsed = SimFrame::parse(frame);
    QCOMPARE(parsed.isValid(), valid);
    QCOMPARE(parsed.head, head);
    QCOMPARE(parsed.payload, payload);
    if (valid)
        QCOMPARE(SimFrame::pack(head, payload), frame);
}

tst_SimFaults::Run tst_SimFaults::converse(const SimOptions& options)
{
    SimRig rig(options);
    Run run;
    if (!rig.connectClient())
        return run;
    for (const QByteArray& f : conversation)
        rig.client.send(f);
    [[maybe_unused]] const bool all = rig.client.waitForFrames(conversation.size());
    QTest::qWait(30);
    run.frames = rig.client.frames();
    run.bytes = rig.client.bytes();
    run.reads = rig.client.reads();
    return run;
}

void tst_SimFaults::piecesReassembleToTheSameFrames()
{
    const Run plain = converse(SimOptions());
    QCOMPARE(plain.frames.size(), conversation.size());

    SimOptions options;
    options.chunkMax = 7;
    options.seed = 42;
    const Run pieces = converse(options);
    QCOMPARE(pieces.frames, plain.frames);
    QCOMPARE(pieces.bytes, plain.bytes);
    // Pieces of at most 7 bytes with a pause between them reach the client in many reads.
    QVERIFY2(pieces.reads > plain.bytes.size() / 7 / 2, qPrintable(QString::number(pieces.reads)));
}

void tst_SimFaults::piecesAreReproducible()
{
    // What the link writes, piece by piece, for one seed.
    const auto pieces = [](quint32 seed) {
        SimOptions options;
        options.chunkMax = 5;
        options.chunkGapMs = 0;
        options.junkMax = 3;
        options.seed = seed;
        SimMachine machine(options);
        SimLink link(&machine, "test");
        QList<QByteArray> written;
        QObject::connect(
            &link, &SimLink::bytesOut, [&](const QByteArray& bytes) { written.append(bytes); });
        for (const QByteArray& f : conversation)
            link.receive(f);
        [[maybe_unused]] const bool all = QTest::qWaitFor(
            [&] { return cutFrames(written.join()).size() >= conversation.size(); }, 3000);
        return written;
    };
    const QList<QByteArray> first = pieces(7);
    QVERIFY(first.size() > conversation.size());
    for (const QByteArray& piece : first)
        QVERIFY(piece.size() >= 1 && piece.size() <= 5);
    QCOMPARE(pieces(7), first);
    QVERIFY(pieces(8) != first);
}

void tst_SimFaults::junkBetweenFrames()
{
    const Run plain = converse(SimOptions());
    SimOptions options;
    options.junkMax = 16;
    options.seed = 3;
    const Run junk = converse(options);
    QCOMPARE(junk.frames, plain.frames);
    QVERIFY(junk.bytes.size() >= plain.bytes.size() + conversation.size());
    // Every frame has junk in front of it.
    QByteArray rest = junk.bytes;
    for (const QByteArray& f : plain.frames) {
        const int at = rest.indexOf(f);
        QVERIFY(at >= 1);
        QVERIFY(!rest.left(at).contains('\x02'));
        rest = rest.mid(at + f.size());
    }
}

void tst_SimFaults::dropAfterFrames()
{
    SimOptions options;
    options.dropAfterFrames = 3;
    SimRig rig(options);
    QVERIFY(rig.connectClient());
    for (int i = 0; i < 5; ++i)
        rig.client.send("CCMD", "1010;");
    QVERIFY(rig.client.waitForClose());
    // The third frame is answered before the link goes.
    QCOMPARE(rig.client.frames(),
        QList<QByteArray>({ frame("CCMD", "1010,0,2;"), frame("CCMD", "1010,0,2;"),
            frame("CCMD", "1010,0,2;") }));
    QCOMPARE(rig.sim.counters().framesReceived, 3);
    QCOMPARE(rig.sim.counters().linksDropped, 1);

    // A new link counts afresh.
    QVERIFY(rig.client.connectTo(rig.tcp.port()));
    rig.client.send("CMD", "GET28;");
    rig.client.send("CMD", "GET29;");
    QVERIFY(rig.client.waitForFrames(2));
    QVERIFY(!rig.client.isClosed());
    rig.client.send("CMD", "GET24;");
    QVERIFY(rig.client.waitForClose());
    QCOMPARE(rig.client.frames().size(), 3);
    QCOMPARE(rig.sim.counters().linksDropped, 2);
}

void tst_SimFaults::dropMidJob()
{
    SimOptions options;
    options.dropAtPercent = 50;
    options.speedMmPerSecond = 1000;
    options.reportIntervalMs = 20;
    SimRig rig(options);
    QVERIFY(rig.connectClient());
    rig.client.send("PLT", square(100)); // 400 mm: 0.4 s
    QVERIFY(rig.client.waitForClose());
    const QList<QList<QByteArray>> before = reports(rig.client.frames());
    QVERIFY(!before.isEmpty());
    const double droppedAt = before.last().at(5).toDouble();
    QVERIFY2(droppedAt >= 50 && droppedAt < 100, before.last().join(',').constData());
    for (int i = 0; i + 1 < before.size(); ++i)
        QVERIFY(before.at(i).at(5).toDouble() < 50);
    QCOMPARE(rig.sim.counters().linksDropped, 1);

    // The machine cuts on; a host that reconnects hears the rest, and is not dropped again.
    QCOMPARE(rig.sim.jobStatus(), SimMachine::Cutting);
    QVERIFY(rig.client.connectTo(rig.tcp.port()));
    const QByteArray last = rig.client.waitForPayload("66,3,");
    QVERIFY(!last.isEmpty());
    QVERIFY(!rig.client.isClosed());
    QCOMPARE(bodyOf(last).split(',').mid(1, 5),
        QList<QByteArray>({ "3", "job-0001.plt", "1", "1", "100.0" }));
    QCOMPARE(rig.sim.counters().copiesCut, 1);
    QCOMPARE(rig.sim.counters().linksDropped, 1);
}

void tst_SimFaults::silentMachine_data()
{
    QTest::addColumn<int>("afterFrames");
    QTest::addColumn<double>("atPercent");
    QTest::newRow("told to") << 0 << -1.0;
    QTest::newRow("after frames") << 2 << -1.0;
    QTest::newRow("at percent") << 0 << 30.0;
}

// A machine that hangs with its connection up reads and answers nothing and stops cutting until
// it wakes; then it answers what waited and cuts on from where it stood.
void tst_SimFaults::silentMachine()
{
    QFETCH(int, afterFrames);
    QFETCH(double, atPercent);
    SimOptions options;
    options.silentAfterFrames = afterFrames;
    options.silentAtPercent = atPercent;
    options.speedMmPerSecond = 1000;
    options.reportIntervalMs = 20;
    SimRig rig(options);
    QVERIFY(rig.connectClient());
    rig.client.send("CMD", "NUM:1;");
    rig.client.send("PLT", square(100)); // 400 mm: 0.4 s
    QVERIFY(!rig.client.waitForPayload("66,1,").isEmpty());
    if (afterFrames == 0 && atPercent < 0)
        rig.sim.setSilent(true);
    QTRY_VERIFY(rig.sim.isSilent());

    const int framesIn = rig.sim.counters().framesReceived;
    const double percent = rig.sim.jobPercent();
    rig.client.clear();
    rig.client.send("CCMD", "1010;");
    QTest::qWait(600);
    QVERIFY(rig.client.frames().isEmpty());
    QVERIFY(!rig.client.isClosed());
    QCOMPARE(rig.sim.counters().framesReceived, framesIn);
    QCOMPARE(rig.sim.jobPercent(), percent);
    QCOMPARE(rig.sim.jobStatus(), SimMachine::Cutting);

    rig.sim.setSilent(false);
    QVERIFY(!rig.client.waitForPayload("1010,0,").isEmpty());
    QVERIFY(!rig.client.waitForPayload("66,3,").isEmpty());
    QCOMPARE(rig.sim.counters().framesReceived, framesIn + 1);
    QCOMPARE(rig.sim.counters().copiesCut, 1);
    QVERIFY(!rig.sim.isSilent());
}

void tst_SimFaults::noise_data()
{
    QTest::addColumn<SimOptions::Noise>("kind");
    QTest::addColumn<int>("after");
    QTest::newRow("unterminated") << SimOptions::Noise::Unterminated << 1;
    QTest::newRow("garbage") << SimOptions::Noise::Garbage << 1;
    QTest::newRow("unterminated from the start") << SimOptions::Noise::Unterminated << 0;
}

// From the start, or after its first answer, the machine babbles at the rate asked and answers
// nothing more.
void tst_SimFaults::noise()
{
    QFETCH(SimOptions::Noise, kind);
    QFETCH(int, after);
    SimOptions options;
    options.noise = kind;
    options.noiseAfterFrames = after;
    options.noiseBytesPerSecond = 200000;
    SimRig rig(options);
    QVERIFY(rig.connectClient());
    rig.client.send("CCMD", "1010;");
    QByteArray answer;
    if (after == 1) {
        QVERIFY(rig.client.waitForFrames(1));
        answer = rig.client.frames().first();
        QCOMPARE(bodyOf(answer), QByteArray("1010,0,2"));
    }
    rig.client.send("CCMD", "2;");
    QVERIFY(QTest::qWaitFor([&] { return rig.client.bytes().size() > 60000; }, 30000));
    const QByteArray noise
        = rig.client.bytes().mid(rig.client.bytes().indexOf(answer) + answer.size());
    QCOMPARE(rig.sim.counters().framesReceived, 2);
    QVERIFY(!noise.contains("2,0,ZR-TX4150V"));
    if (kind == SimOptions::Noise::Unterminated) {
        QCOMPARE(noise.count('\x02'), 1);
        QCOMPARE(noise.count('\x03'), 0);
        QVERIFY(noise.startsWith('\x02'));
    } else {
        QVERIFY(noise.count('\x02') > 0 && noise.count('\x03') > 0);
    }
}

void tst_SimFaults::delayedReplies()
{
    SimOptions options;
    options.replyDelayMs = 150;
    SimRig rig(options);
    QVERIFY(rig.connectClient());
    QElapsedTimer clock;
    clock.start();
    rig.client.send("CCMD", "1010;");
    rig.client.send("CMD", "GET28;");
    QVERIFY(rig.client.waitForFrames(2));
    // Held back, never sooner; how much later a loaded machine delivers them does not matter.
    QVERIFY2(clock.elapsed() >= 140, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(rig.client.frames(),
        QList<QByteArray>({ frame("CCMD", "1010,0,2;"), frame("CMD", "GET28:3000;") }));
}

void tst_SimFaults::malformedFrames()
{
    SimOptions options;
    options.malformedEvery = 1;
    const Run run = converse(options);
    // Each good frame is followed by a malformed one, the four kinds in turn.
    const QList<QByteArray> expected = {
        QByteArray("\x02"
                   "7;CMD\x03"),
        frame("XCMD", "GET28:1;"),
        frame("CMD", "GET28:1"),
        frame("CMD", "GETxx:1;"),
    };
    const Run plain = converse(SimOptions());
    QCOMPARE(run.frames.size(), 2 * conversation.size());
    for (int i = 0; i < conversation.size(); ++i) {
        QCOMPARE(run.frames.at(2 * i), plain.frames.at(i));
        QCOMPARE(run.frames.at(2 * i + 1), expected.at(i % 4));
    }

    options.malformedEvery = 3;
    const Run sparse = converse(options);
    QCOMPARE(sparse.frames.size(), conversation.size() + 2);
    QCOMPARE(sparse.frames.at(3), expected.at(0));
    QCOMPARE(sparse.frames.at(7), expected.at(1));
}

void tst_SimFaults::largeCutFileOverTcp()
{
    // About 8 MB of HP-GL: 1.2 million moves of 10 mm.
    QByteArray file = "IN;PU0,0;";
    file.reserve(9 * 1024 * 1024);
    for (int i = 0; i < 600000; ++i)
        file += "PD400,0;PD0,0;";
    file += "PU0,0;";
    SimOptions options;
    options.speedMmPerSecond = 1e8;
    options.reportIntervalMs = 50;
    SimRig rig(options);
    QVERIFY(rig.connectClient());
    rig.client.send("CMD", "NUM:2;");
    rig.client.send("PLT", file);
    QVERIFY(!rig.client.waitForPayload("66,3,", 60000).isEmpty());
    QCOMPARE(rig.sim.received().last().payload.size(), file.size());
    QCOMPARE(rig.sim.counters().copiesCut, 2);
    QVERIFY(qAbs(rig.sim.counters().pathCutMm - 2 * 12e6) < 1);
}

void tst_SimFaults::ptyHangsUpAndComesBack()
{
    SimOptions options;
    options.dropAfterFrames = 1;
    SimMachine machine(options);
    SimPtyFront pty(&machine);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath("machine-tty");
    pty.setLinkPath(link);
    QVERIFY2(pty.open(), qPrintable(pty.errorString()));
    QCOMPARE(QFileInfo(link).symLinkTarget(), pty.slavePath());
    QSignalSpy reopened(&pty, &SimPtyFront::slavePathChanged);

    for (int round = 0; round < 2; ++round) {
        const int fd = openRawTty(link);
        QVERIFY(fd >= 0);
        QVERIFY(writeTty(fd, frame("CCMD", "1010;") + frame("CMD", "GET28;")));
        // The answer to the frame that ends the link is read before the hang-up.
        bool hungUp = false;
        QCOMPARE(readTty(fd, 1, &hungUp), frame("CCMD", "1010,0,2;"));
        QVERIFY(hungUp);
        ::close(fd);
        QVERIFY(reopened.wait(3000));
        QCOMPARE(QFileInfo(link).symLinkTarget(), pty.slavePath());
    }
    QCOMPARE(machine.counters().linksDropped, 2);
    QCOMPARE(machine.counters().framesReceived, 2);

    // A regular file in the way is never replaced.
    QFile blocker(dir.filePath("file"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.write("keep");
    blocker.close();
    pty.setLinkPath(blocker.fileName());
    QVERIFY(blocker.open(QIODevice::ReadOnly));
    QCOMPARE(blocker.readAll(), QByteArray("keep"));
}

QTEST_GUILESS_MAIN(tst_SimFaults)
#include "tst_simfaults.moc"
