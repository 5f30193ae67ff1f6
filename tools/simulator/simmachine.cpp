#include "simmachine.h"

#include "simjob.h"
#include "simlink.h"

#include <QMetaMethod>
#include <QPointer>

#include <cmath>

namespace {

// Information texts travel inside comma fields and frames.
QByteArray fieldText(const QString& text)
{
    QByteArray bytes = text.toUtf8();
    for (char& c : bytes) {
        if (c == ',' || c == ';' || c == '\x02' || c == '\x03')
            c = '-';
    }
    return bytes;
}

// A decimal integer and nothing else: an optional '-' and 1 to 9 digits.
bool parseInteger(const QByteArray& text, int* value)
{
    int at = text.startsWith('-') ? 1 : 0;
    if (text.size() <= at || text.size() - at > 9)
        return false;
    int number = 0;
    for (; at < text.size(); ++at) {
        const char c = text.at(at);
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + (c - '0');
    }
    *value = text.startsWith('-') ? -number : number;
    return true;
}

int leadingCapitals(const QByteArray& text)
{
    int n = 0;
    while (n < text.size() && text.at(n) >= 'A' && text.at(n) <= 'Z')
        ++n;
    return n;
}

// Percent as the progress report shows it: one decimal, never rounded up.
double shownPercent(double percent)
{
    return std::floor(percent * 10) / 10;
}

QByteArray oneDecimal(double value)
{
    return QByteArray::number(value, 'f', 1);
}

} // namespace

SimMachine::SimMachine(const SimOptions& options, QObject* parent)
    : QObject(parent)
    , m_options(options)
    , m_registers(defaultRegisters())
    , m_heartbeat(qBound(1, options.heartbeatSeconds, 3600))
    , m_machineNumber(fieldText(options.machineNumber))
    , m_boardNumber(fieldText(options.boardNumber))
    , m_boardVersion(fieldText(options.boardVersion))
{
    m_options.reportIntervalMs = qMax(10, m_options.reportIntervalMs);
    m_options.qrScanMs = qMax(0, m_options.qrScanMs);
    m_advanceTimer.setSingleShot(true);
    m_advanceTimer.setTimerType(Qt::PreciseTimer);
    m_qrScanTimer.setSingleShot(true);
    connect(&m_advanceTimer, &QTimer::timeout, this, &SimMachine::advance);
    connect(&m_qrScanTimer, &QTimer::timeout, this, &SimMachine::readNextQrCode);
    m_jogClock.start();
}

SimMachine::~SimMachine()
{
    // Links outliving the machine must not call back into it.
    for (SimLink* link : qAsConst(m_links))
        link->detachMachine();
}

std::array<quint16, SimMachine::registerCount> SimMachine::defaultRegisters()
{
    std::array<quint16, registerCount> r {};
    // clang-format off
    r[1] = 300;   r[2] = 120;   r[128] = 1; r[131] = 0;    // station 1: rotary knife, mm/s, pressure
    r[3] = 200;   r[4] = 90;    r[129] = 0; r[132] = 0;    // station 2: drag knife
    r[5] = 100;   r[6] = 0;     r[7] = 0;                  // tool offset x  0.5 mm (0.005 mm steps)
    r[8] = 65486; r[9] = 65535; r[10] = 0;                 // tool offset y -0.25 mm
    r[11] = 2500; r[12] = 0;    r[13] = 0;                 // camera offset x 12.5 mm
    r[14] = 63936; r[15] = 65535; r[16] = 0;               // camera offset y -8 mm
    r[24] = 10000; r[25] = 10000;                          // scale 1.0000
    r[26] = 400;                                           // pen-up speed, mm/s
    r[27] = 1;                                             // work mode: balanced
    r[28] = 3000; r[29] = 2400;                            // work area 1500 x 1200 mm (0.5 mm steps)
    r[125] = 2;                                            // no job running
    r[133] = 0;   r[134] = 0;   r[135] = 500; r[136] = 300; r[137] = 200; r[138] = 100; // feeder
    // clang-format on
    return r;
}

quint16 SimMachine::registerValue(int number) const
{
    return number >= 0 && number < registerCount ? m_registers[size_t(number)] : 0;
}

QPointF SimMachine::jogPosition() const
{
    const double seconds = m_jogClock.elapsed() / 1000.0;
    const double x = m_head.x() + m_jogDirection[0] * m_jogSpeed[0] * seconds;
    const double y = m_head.y() + m_jogDirection[1] * m_jogSpeed[1] * seconds;
    return QPointF(qBound(0.0, x, m_registers[28] / 2.0), qBound(0.0, y, m_registers[29] / 2.0));
}

QPointF SimMachine::headPosition() const
{
    return m_job ? m_origin + m_job->position() : jogPosition();
}

void SimMachine::settleJog()
{
    m_head = jogPosition();
    m_jogClock.start();
}

SimMachine::JobStatus SimMachine::jobStatus() const
{
    if (!m_job)
        return Idle;
    return m_paused ? Paused : Cutting;
}

QByteArray SimMachine::jobName() const
{
    return m_job ? m_job->name() : QByteArray();
}

double SimMachine::jobPercent() const
{
    return m_job ? m_job->percent() : 0;
}

double SimMachine::cuttingSpeed() const
{
    const double speed
        = m_options.speedMmPerSecond > 0 ? m_options.speedMmPerSecond : m_registers[1];
    return qMax(1.0, speed);
}

QList<QByteArray> SimMachine::receivedHeads() const
{
    QList<QByteArray> heads;
    for (const SimFrame& frame : m_received)
        heads.append(frame.head);
    return heads;
}

void SimMachine::clearRecord()
{
    m_received.clear();
    m_counters = SimCounters();
}

void SimMachine::attach(SimLink* link)
{
    m_links.append(link);
    ++m_counters.linksOpened;
    // A link that opens during a named job hears where the job stands (a paused one reports
    // nothing else), once the link is wired to its transport.
    const QPointer<SimLink> opened(link);
    QTimer::singleShot(0, this, [this, opened] {
        if (opened && m_job && !m_job->name().isEmpty() && m_links.contains(opened))
            reply(opened, "CCMD", reportBody(m_paused ? Paused : Cutting));
    });
}

void SimMachine::detach(SimLink* link)
{
    m_links.removeAll(link);
}

void SimMachine::setSilent(bool on)
{
    if (on == m_silent)
        return;
    if (on) {
        cutUntilNow();
        m_advanceTimer.stop();
        m_qrScanFrozen = m_qrScanTimer.isActive();
        m_qrScanTimer.stop();
    }
    m_silent = on;
    log(on ? QStringLiteral("silent: reading and answering nothing")
           : QStringLiteral("awake again"));
    if (!on && m_job && !m_paused) {
        if (!m_job->waitingForData()) {
            m_sinceAdvance.start();
            scheduleAdvance();
        } else if (m_qrScanFrozen) {
            m_qrScanTimer.start(m_options.qrScanMs);
        }
    }
    emit silenceChanged(on);
}

void SimMachine::restart()
{
    const QList<SimLink*> links = m_links;
    for (SimLink* link : links)
        link->hangUp();
    m_advanceTimer.stop();
    m_qrScanTimer.stop();
    m_job.reset();
    m_qrData.clear();
    m_paused = false;
    m_silent = false;
    m_pendingCopies = 1;
    m_fileCounter = 0;
    m_qrCounter = 0;
    m_cuttingMs = 0;
    m_head = m_origin;
    log(QStringLiteral("restarted: no job, file jobs numbered from 1 again"));
}

void SimMachine::log(const QString& line)
{
    emit logLine(line);
}

bool SimMachine::isLogging() const
{
    return isSignalConnected(QMetaMethod::fromSignal(&SimMachine::logLine));
}

// Like every payload on this link, a reply body ends with ';': the device reads the fields
// between the separators, and without it the ETX would stick to the last field.
static QByteArray terminated(const QByteArray& payload)
{
    return payload.endsWith(';') ? payload : payload + ';';
}

void SimMachine::reply(SimLink* to, const QByteArray& head, const QByteArray& payload)
{
    if (m_silent)
        return;
    ++m_counters.framesSent;
    to->sendFrame(SimFrame::pack(head, terminated(payload)));
}

void SimMachine::broadcast(const QByteArray& head, const QByteArray& payload)
{
    if (m_silent)
        return;
    ++m_counters.framesSent;
    const QByteArray frame = SimFrame::pack(head, terminated(payload));
    const QList<SimLink*> links = m_links;
    for (SimLink* link : links)
        link->sendFrame(frame);
}

void SimMachine::handleFrame(SimLink* from, const SimFrame& frame)
{
    ++m_counters.framesReceived;
    m_received.append(frame);
    if (m_received.size() > recordLimit)
        m_received.removeFirst();
    emit frameReceived(frame);

    if (!frame.isValid()) {
        ++m_counters.framesRejected;
        log(frame.wellFormed ? QStringLiteral("ignored: the length field is wrong")
                             : QStringLiteral("ignored: not a frame"));
        return;
    }
    if (frame.head == "CMD")
        handleRegisters(from, frame.payload);
    else if (frame.head == "CCMD")
        handleCommand(from, frame.payload);
    else if (frame.head == "PLT" || frame.head == "PPLT")
        handleFile(frame.payload);
    else if (frame.head == "QR_PLT")
        handleQrData(frame.payload);
    else
        log(QStringLiteral("ignored: unknown head"));
}

void SimMachine::handleRegisters(SimLink* from, const QByteArray& payload)
{
    if (!payload.endsWith(';'))
        return;
    const QList<QByteArray> items = payload.left(payload.size() - 1).split(';');
    const QByteArray verb = items.first().left(leadingCapitals(items.first()));

    if (verb == "NUM") {
        int copies = 0;
        const QByteArray item = items.first();
        if (items.size() == 1 && item.startsWith("NUM:") && parseInteger(item.mid(4), &copies)
            && copies >= 1)
            m_pendingCopies = qMin(copies, maxCopies);
        return;
    }
    if (verb != "GET" && verb != "SET")
        return;

    QByteArray out;
    QList<QPair<int, quint16>> written;
    for (const QByteArray& item : items) {
        const int name = leadingCapitals(item);
        if (name != 0 && item.left(name) != verb)
            continue;
        const QByteArray rest = item.mid(name);
        const int colon = rest.indexOf(':');
        int number = -1;
        if (!parseInteger(verb == "GET" ? rest : rest.left(colon), &number) || number < 0
            || number >= registerCount)
            continue;
        if (verb == "GET") {
            out += "GET" + QByteArray::number(number) + ':'
                + QByteArray::number(m_registers[size_t(number)]) + ';';
            continue;
        }
        int value = 0;
        if (colon < 0 || !parseInteger(rest.mid(colon + 1), &value) || value < -32768
            || value > 65535)
            continue;
        const quint16 word = quint16(quint32(value)); // negatives as two's complement
        m_registers[size_t(number)] = word;
        written.append({ number, word });
        out += "SET" + QByteArray::number(number) + ':' + QByteArray::number(word) + ';';
    }
    if (!out.isEmpty())
        reply(from, "CMD", out);
    for (const auto& write : qAsConst(written))
        applyRegister(write.first, write.second);
}

void SimMachine::applyRegister(int number, quint16 value)
{
    switch (number) {
    case 125:
        if (value == 0)
            pauseJob();
        else if (value == 1)
            resumeJob();
        else if (value == 2 && m_job) {
            cutUntilNow();
            endJob(Stopped);
        }
        break;
    case 82:
    case 83:
        if (m_job)
            log(QStringLiteral("jog refused: a job is on"));
        else
            jog(number == 82 ? 0 : 1, value);
        break;
    case 87:
    case 93:
        if (m_job) {
            log(QStringLiteral("origin refused: a job is on"));
            break;
        }
        settleJog();
        if (number == 87) {
            m_origin = m_head;
        } else {
            m_jogDirection[0] = m_jogDirection[1] = 0;
            m_head = m_origin;
        }
        break;
    default:
        break;
    }
}

void SimMachine::jog(int axis, quint16 command)
{
    settleJog();
    const int speed = command & 0x7fff;
    m_jogSpeed[axis] = speed;
    m_jogDirection[axis] = speed == 0 ? 0 : (command & 0x8000 ? 1 : -1);
}

void SimMachine::handleCommand(SimLink* from, const QByteArray& payload)
{
    if (!payload.endsWith(';'))
        return;
    const QList<QByteArray> fields = payload.left(payload.size() - 1).split(',');
    int number = 0;
    if (!parseInteger(fields.first(), &number))
        return;
    const QByteArray head = "CCMD";
    const QByteArray key = QByteArray::number(number);

    switch (number) {
    case 1010: {
        int seconds = 0;
        if (fields.size() == 2 && parseInteger(fields.at(1), &seconds) && seconds >= 1
            && seconds <= 3600)
            m_heartbeat = seconds;
        else if (fields.size() != 1)
            return;
        reply(from, head, "1010,0," + QByteArray::number(m_heartbeat));
        return;
    }
    case 2:
        if (fields.size() == 1)
            reply(from, head,
                "2,0," + model() + ',' + m_machineNumber + ',' + m_boardNumber + ','
                    + m_boardVersion + ',' + fieldText(m_options.firmware) + ','
                    + fieldText(m_options.configNumber));
        return;
    case 44:
    case 46:
    case 48: {
        if (fields.size() < 2)
            return;
        const QByteArray text = fields.at(1);
        const bool fits = fields.size() == 2 && text.size() <= 64 && !text.contains(';');
        if (fits) {
            QByteArray& stored = number == 44 ? m_machineNumber
                : number == 46                ? m_boardNumber
                                              : m_boardVersion;
            stored = text;
        }
        reply(from, head, key + (fits ? ",0" : ",1"));
        return;
    }
    case 57:
        if (fields.size() == 1)
            reply(from, head, "57,0," + fieldText(m_options.uniqueId));
        return;
    case 67:
        if (fields.size() != 2)
            return;
        if (fields.at(1) != "0" || m_job) {
            reply(from, head, "67,1");
            return;
        }
        m_registers = defaultRegisters();
        m_heartbeat = qBound(1, m_options.heartbeatSeconds, 3600);
        settleJog();
        m_jogDirection[0] = m_jogDirection[1] = 0;
        m_origin = QPointF();
        reply(from, head, "67,0");
        return;
    case 54: {
        int copies = 0;
        if (fields.size() != 2 || !parseInteger(fields.at(1), &copies) || copies < 1)
            return;
        if (m_job) {
            log(QStringLiteral("QR-code job refused: a job is on"));
            return;
        }
        startQrJob(qMin(copies, maxCopies));
        return;
    }
    default:
        return;
    }
}

void SimMachine::handleFile(const QByteArray& payload)
{
    if (m_job) {
        log(QStringLiteral("cut file ignored: a job is on"));
        return;
    }
    startFileJob(payload, m_pendingCopies);
    m_pendingCopies = 1;
}

void SimMachine::handleQrData(const QByteArray& payload)
{
    if (!m_job) {
        startFileJob(payload, 1);
        return;
    }
    if (m_job->kind() != SimJob::QrCode) {
        log(QStringLiteral("QR-code data ignored: a file job is on"));
        return;
    }
    // One waiting file per copy still to cut is all a job can use.
    if (m_qrData.size() >= m_job->copies() - m_job->finished()) {
        log(QStringLiteral("QR-code data ignored: every copy has its data"));
        return;
    }
    m_qrData.append(payload);
    loadQueuedQrData();
}

ZRCut::Drawing SimMachine::readCutFile(const QByteArray& data)
{
    ZRCut::Drawing drawing;
    QString error;
    if (!ZRCut::readHpgl(data, &drawing, &error))
        log(QStringLiteral("cut file not read: ") + error);
    return drawing;
}

void SimMachine::startFileJob(const QByteArray& cutFile, int copies)
{
    const QByteArray name
        = "job-" + QByteArray::number(++m_fileCounter).rightJustified(4, '0') + ".plt";
    settleJog();
    m_jogDirection[0] = m_jogDirection[1] = 0;
    m_job.reset(new SimJob(SimJob::File, name, copies));
    m_job->load(readCutFile(cutFile));
    m_paused = false;
    m_dropDone = false;
    m_silenceDone = false;
    m_cuttingMs = 0;
    ++m_counters.jobsStarted;
    log(QStringLiteral("job %1: %2 copies, %3 mm to cut")
            .arg(QString::fromLatin1(name))
            .arg(m_job->copies())
            .arg(m_job->lengthMm(), 0, 'f', 1));
    emit jobStarted(name);
    beginCutting();
}

void SimMachine::startQrJob(int copies)
{
    settleJog();
    m_jogDirection[0] = m_jogDirection[1] = 0;
    m_job.reset(new SimJob(SimJob::QrCode, QByteArray(), copies));
    m_paused = false;
    m_dropDone = false;
    m_silenceDone = false;
    m_cuttingMs = 0;
    m_qrCodeRead = false;
    m_qrData.clear();
    ++m_counters.jobsStarted;
    log(QStringLiteral("QR-code job: %1 copies").arg(copies));
    emit jobStarted(QByteArray());
    m_qrScanTimer.start(m_options.qrScanMs);
}

QByteArray SimMachine::nextQrName()
{
    ++m_qrCounter;
    const QStringList& names = m_options.qrNames;
    if (!names.isEmpty())
        return fieldText(names.at((m_qrCounter - 1) % names.size()));
    return "qr-" + QByteArray::number(m_qrCounter).rightJustified(4, '0') + ".plt";
}

void SimMachine::readNextQrCode()
{
    if (!m_job || m_job->kind() != SimJob::QrCode || m_paused)
        return;
    m_job->setName(nextQrName());
    m_qrCodeRead = true;
    broadcast("CCMD", "55," + m_job->name());
    loadQueuedQrData();
}

void SimMachine::loadQueuedQrData()
{
    if (!m_job || !m_job->waitingForData() || !m_qrCodeRead || m_paused || m_qrData.isEmpty())
        return;
    m_job->load(readCutFile(m_qrData.takeFirst()));
    beginCutting();
}

void SimMachine::beginCutting()
{
    m_sinceAdvance.start();
    advance();
}

void SimMachine::cutUntilNow()
{
    if (!m_job || m_paused || m_job->waitingForData() || !m_sinceAdvance.isValid())
        return;
    const qint64 ms = m_sinceAdvance.restart();
    m_cuttingMs += ms;
    const int finishedBefore = m_job->finished();
    m_counters.pathCutMm += m_job->cut(cuttingSpeed() * double(ms) / 1000.0);
    m_counters.copiesCut += m_job->finished() - finishedBefore;
}

void SimMachine::advance()
{
    if (!m_job || m_paused || m_job->waitingForData())
        return;
    cutUntilNow();
    if (m_job->isDone()) {
        endJob(Finished);
        return;
    }
    report(Cutting);
    if (!m_job)
        return;
    if (m_job->waitingForData()) {
        m_qrCodeRead = false;
        m_qrScanTimer.start(m_options.qrScanMs);
    } else {
        scheduleAdvance();
    }
    if (m_options.silentAtPercent >= 0 && !m_silenceDone
        && shownPercent(m_job->percent()) >= m_options.silentAtPercent) {
        m_silenceDone = true;
        setSilent(true);
    }
}

void SimMachine::scheduleAdvance()
{
    if (m_silent)
        return;
    // The last step of a copy is timed to its end, so the pace follows the path exactly.
    const double ms = std::ceil(m_job->remainingInCopyMm() / cuttingSpeed() * 1000.0);
    m_advanceTimer.start(int(qBound(1.0, ms, double(m_options.reportIntervalMs))));
}

void SimMachine::pauseJob()
{
    if (!m_job || m_paused)
        return;
    cutUntilNow();
    if (m_job->isDone()) {
        endJob(Finished);
        return;
    }
    m_advanceTimer.stop();
    m_qrScanTimer.stop();
    m_paused = true;
    report(Paused);
}

void SimMachine::resumeJob()
{
    if (!m_job || !m_paused)
        return;
    m_paused = false;
    report(Cutting);
    if (!m_job)
        return;
    if (m_job->waitingForData()) {
        if (m_qrCodeRead)
            loadQueuedQrData();
        else
            m_qrScanTimer.start(m_options.qrScanMs);
        return;
    }
    m_sinceAdvance.start();
    scheduleAdvance();
}

void SimMachine::endJob(JobStatus status)
{
    m_advanceTimer.stop();
    m_qrScanTimer.stop();
    m_paused = false;
    report(status);
    if (!m_job)
        return;
    m_head = m_origin + m_job->position();
    m_jogClock.start();
    const QByteArray name = m_job->name();
    m_job.reset();
    m_qrData.clear();
    if (status == Finished)
        ++m_counters.jobsFinished;
    else
        ++m_counters.jobsStopped;
    log(QStringLiteral("job %1 %2")
            .arg(QString::fromLatin1(name), status == Finished ? "finished" : "stopped"));
    emit jobEnded(name, status);
}

QByteArray SimMachine::reportBody(JobStatus status) const
{
    const double percent = status == Finished ? 100.0 : shownPercent(m_job->percent());
    const QPointF at = m_origin + m_job->position();
    return "66," + QByteArray::number(int(status)) + ',' + m_job->name() + ','
        + QByteArray::number(m_job->copies()) + ',' + QByteArray::number(m_job->finished()) + ','
        + oneDecimal(percent) + ',' + QByteArray::number(m_cuttingMs / 1000) + ','
        + oneDecimal(at.x()) + ',' + oneDecimal(at.y());
}

void SimMachine::report(JobStatus status)
{
    if (!m_job)
        return;
    const double percent = status == Finished ? 100.0 : shownPercent(m_job->percent());
    broadcast("CCMD", reportBody(status));

    if (m_options.dropAtPercent >= 0 && !m_dropDone && percent >= m_options.dropAtPercent) {
        m_dropDone = true;
        log(QStringLiteral("dropping every link at %1 %").arg(percent, 0, 'f', 1));
        const QList<SimLink*> links = m_links;
        for (SimLink* link : links)
            link->hangUp();
    }
    if (m_options.restartAtPercent >= 0 && !m_restartDone && percent >= m_options.restartAtPercent) {
        m_restartDone = true;
        restart();
    }
}
