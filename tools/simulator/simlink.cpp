#include "simlink.h"

#include "simframe.h"
#include "simmachine.h"

#include <QPointer>

namespace {

// A readable form of a frame for the log: head and payload, control bytes escaped, long
// payloads cut short.
QString describe(const QByteArray& head, const QByteArray& payload)
{
    constexpr int shown = 160;
    QString text = QString::fromLatin1(head) + QLatin1Char(' ');
    for (char c : payload.left(shown)) {
        if (c >= 0x20 && c < 0x7f)
            text += QLatin1Char(c);
        else
            text += QStringLiteral("\\x%1").arg(uchar(c), 2, 16, QLatin1Char('0'));
    }
    if (payload.size() > shown)
        text += QStringLiteral("... (%1 bytes)").arg(payload.size());
    return text;
}

} // namespace

SimLink::SimLink(SimMachine* machine, const QString& name, QObject* parent)
    : QObject(parent)
    , m_machine(machine)
    , m_name(name)
    , m_faults(machine->options())
    , m_random(machine->options().seed ? machine->options().seed : 1)
{
    m_pumpTimer.setSingleShot(true);
    m_pumpTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_pumpTimer, &QTimer::timeout, this, &SimLink::pump);
    m_clock.start();
    connect(machine, &SimMachine::silenceChanged, this, [this](bool silent) {
        if (!silent)
            wake();
    });
    m_machine->attach(this);
    log(QStringLiteral("link up"));
    connect(&m_noiseTimer, &QTimer::timeout, this, &SimLink::makeNoise);
    if (m_faults.noise != SimOptions::Noise::None && m_faults.noiseAfterFrames <= 0)
        startNoise();
}

SimLink::~SimLink()
{
    shutDown();
}

void SimLink::shutDown()
{
    m_hangingUp = true;
    m_queue.clear();
    m_pumpTimer.stop();
    m_noiseTimer.stop();
    if (m_machine) {
        log(QStringLiteral("link down"));
        m_machine->detach(this);
        m_machine = nullptr;
    }
}

void SimLink::log(const QString& line)
{
    if (m_machine)
        m_machine->log(m_name + QLatin1String(": ") + line);
}

quint32 SimLink::random()
{
    // xorshift32: the same seed gives the same faults on every platform.
    m_random ^= m_random << 13;
    m_random ^= m_random >> 17;
    m_random ^= m_random << 5;
    return m_random;
}

void SimLink::receive(const QByteArray& bytes)
{
    if (m_hangingUp || !m_machine)
        return;
    if (m_machine->isSilent()) {
        if (m_unread.size() + bytes.size() <= maxUnreadBytes)
            m_unread += bytes;
        return;
    }
    m_cutter.append(bytes);
    QByteArray raw;
    while (!m_hangingUp && m_machine && !m_machine->isSilent() && m_cutter.takeFrame(&raw)) {
        ++m_framesIn;
        const SimFrame frame = SimFrame::parse(raw);
        if (m_machine->isLogging())
            log(QStringLiteral("<- ") + describe(frame.head, frame.payload));
        m_machine->handleFrame(this, frame);
        if (m_faults.dropAfterFrames > 0 && m_framesIn >= m_faults.dropAfterFrames
            && !m_hangingUp) {
            log(QStringLiteral("hanging up after %1 frames").arg(m_framesIn));
            hangUp();
        }
        if (m_faults.silentAfterFrames > 0 && m_framesIn == m_faults.silentAfterFrames && m_machine)
            m_machine->setSilent(true);
        if (m_faults.noise != SimOptions::Noise::None && m_framesIn == m_faults.noiseAfterFrames)
            startNoise();
    }
}

void SimLink::wake()
{
    QByteArray unread;
    unread.swap(m_unread);
    receive(unread);
    if (!m_pumpTimer.isActive())
        pump();
}

void SimLink::sendFrame(const QByteArray& frame)
{
    if (m_hangingUp || m_noisy)
        return;
    if (m_machine && m_machine->isLogging()) {
        const SimFrame parsed = SimFrame::parse(frame);
        log(QStringLiteral("-> ") + describe(parsed.head, parsed.payload));
    }
    QByteArray bytes = junk() + frame;
    ++m_goodOut;
    const bool withMalformed
        = m_faults.malformedEvery > 0 && m_goodOut % m_faults.malformedEvery == 0;
    if (withMalformed)
        bytes += junk() + malformed();
    enqueue(bytes, false, withMalformed ? 2 : 1);
}

void SimLink::hangUp()
{
    if (m_hangingUp)
        return;
    if (m_machine)
        m_machine->countDrop();
    enqueue(QByteArray(), true);
    m_hangingUp = true;
}

QByteArray SimLink::junk()
{
    if (m_faults.junkMax <= 0)
        return QByteArray();
    QByteArray bytes(1 + int(random() % quint32(m_faults.junkMax)), Qt::Uninitialized);
    // Never an STX, so junk cannot open a frame; an ETX now and then is fair game.
    for (char& c : bytes) {
        c = char(random() & 0xff);
        if (c == '\x02')
            c = '?';
    }
    return bytes;
}

void SimLink::startNoise()
{
    log(m_faults.noise == SimOptions::Noise::Garbage
            ? QStringLiteral("~> garbage from now on")
            : QStringLiteral("~> a frame without end from now on"));
    m_noisy = true;
    m_queue.clear();
    m_sentOfFront = 0;
    m_noiseTimer.start(noiseTickMs);
}

void SimLink::makeNoise()
{
    if (m_hangingUp || (m_machine && m_machine->isSilent()))
        return;
    QByteArray bytes(
        qMax(1, m_faults.noiseBytesPerSecond / (1000 / noiseTickMs)), Qt::Uninitialized);
    if (m_faults.noise == SimOptions::Noise::Garbage) {
        for (char& c : bytes)
            c = char(random() & 0xff);
    } else {
        for (int i = 0; i < bytes.size(); ++i)
            bytes[i] = "0123456789,."[(m_noiseSent + i) % 12];
        if (m_noiseSent == 0)
            bytes.prepend("\x02"
                          "99999;CCMD;66,1,");
    }
    m_noiseSent += bytes.size();
    if (m_machine)
        m_machine->countNoise(bytes.size());
    emit bytesOut(bytes);
}

QByteArray SimLink::malformed()
{
    switch (m_malformedKind++ % 4) {
    case 0:
        log(QStringLiteral("~> malformed: too short"));
        return QByteArray("\x02"
                          "7;CMD\x03");
    case 1:
        log(QStringLiteral("~> malformed: unknown head"));
        return SimFrame::pack("XCMD", "GET28:1;");
    case 2:
        log(QStringLiteral("~> malformed: no ';' before ETX"));
        return SimFrame::pack("CMD", "GET28:1");
    default:
        log(QStringLiteral("~> malformed: register number not a number"));
        return SimFrame::pack("CMD", "GETxx:1;");
    }
}

void SimLink::enqueue(const QByteArray& bytes, bool hangUp, int frames)
{
    if (m_hangingUp)
        return;
    m_queue.push_back(
        { bytes, m_clock.elapsed() + (hangUp ? 0 : m_faults.replyDelayMs), hangUp, frames });
    if (!m_pumpTimer.isActive())
        pump();
}

void SimLink::pump()
{
    QPointer<SimLink> self(this);
    while (!m_queue.empty() && !(m_machine && m_machine->isSilent())) {
        const qint64 wait = m_queue.front().dueMs - m_clock.elapsed();
        if (wait > 0) {
            m_pumpTimer.start(int(wait));
            return;
        }
        if (m_queue.front().hangUp) {
            m_queue.clear();
            emit hangUpRequested();
            return;
        }
        const QByteArray& bytes = m_queue.front().bytes;
        QByteArray piece;
        if (m_faults.chunkMax <= 0) {
            piece = bytes;
            m_sentOfFront = bytes.size();
        } else {
            piece = bytes.mid(m_sentOfFront, 1 + int(random() % quint32(m_faults.chunkMax)));
            m_sentOfFront += piece.size();
        }
        if (m_sentOfFront >= bytes.size()) {
            if (m_machine)
                m_machine->countWritten(m_queue.front().frames);
            m_queue.pop_front();
            m_sentOfFront = 0;
        }
        emit bytesOut(piece);
        if (!self)
            return;
        if (m_faults.chunkMax > 0 && m_faults.chunkGapMs > 0 && !m_queue.empty()) {
            m_pumpTimer.start(qMax(0, m_faults.chunkGapMs));
            return;
        }
    }
}
