#pragma once

#include "simcounters.h"
#include "simframe.h"
#include "simoptions.h"

#include <zrcutfile.h>

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointF>
#include <QTimer>

#include <array>
#include <memory>

class SimJob;
class SimLink;

// The simulated ZR-TX4150V: its registers, its information texts, its knife head and the job it
// is cutting. It knows frames, not transports: each SimLink cuts one connection's bytes into
// frames and hands them here; replies go back to the link a frame came from, and what the
// machine says unasked (progress, QR-code reads) goes to every open link.
//
// What it answers (payloads; a trailing ';' ends every CMD and CCMD payload it accepts):
//
// clang-format off
//   in (head; payload)              out (head; payload)                 what happens
//   CMD;  GET28;                    CMD;  GET28:3000;                   register read, 16-bit words
//   CMD;  GET11;12;13;              CMD;  GET11:v;GET12:v;GET13:v;      several registers
//   CMD;  SET28:3000;               CMD;  SET28:3000;                   stored and echoed
//   CMD;  SET11:a;12:b;13:c;        CMD;  SET11:a;SET12:b;SET13:c;      -32768..65535 stored as a word
//   CMD;  NUM:2;                    (none)                              copies of the next file
//   PLT;  <HP-GL>   (or PPLT)       CCMD; 66,1,job-0001.plt,2,0,0.0,0,x,y; file job starts
//   CCMD; 1010;   /  1010,<s>;      CCMD; 1010,0,<s>;                   heartbeat (period 1..3600 s)
//   CCMD; 2;                        CCMD; 2,0,ZR-TX4150V,<machine no>,<board no>,<board ver>,<fw>,<config>;
//   CCMD; 44,<text>; (46, 48)       CCMD; 44,0;  (44,1; refused)        machine no, board no, board ver
//   CCMD; 57;                       CCMD; 57,0,<unique id>;
//   CCMD; 67,0;                     CCMD; 67,0;  (67,1; refused)        factory settings (not while cutting)
//   CCMD; 54,<copies>;              CCMD; 55,<qr text>;                 QR-code job: one read per copy
//   QR_PLT; <HP-GL>                 CCMD; 66,...;                       cuts the copy the code named
//   CMD;  SET125:0|1|2;             CMD;  SET125:n;  + CCMD 66 report   pause, resume, stop the job
//   CMD;  SET82:v; SET83:v;         CMD;  SET82:v;                      jog X/Y: bit 15 +, low bits mm/s, 0 stops
//   CMD;  SET87:1; SET93:1;         CMD;  SET87:1;                      set origin here / go back to origin
//   anything else                   (none)                              ignored
// clang-format on
//
// Every reply payload ends with ';'.
//
// Progress report: 66,<status>,<file>,<copies>,<finished>,<percent>,<seconds>,<x>,<y> with the
// status 1 cutting, 2 paused, 3 finished, 4 stopped; percent of the whole job with one decimal,
// never rounded up; seconds of cutting (pauses excluded); x and y the knife in machine
// millimetres (origin + file position). One report when the job starts, one per report interval
// while cutting, one on pause and on resume, and a last one when it finishes or stops; a link
// that opens during a job is told the job's report at once. The pace is the pen-down path
// length over the cutting speed.
//
// A file job takes the copies of the last NUM (1 without one) and is named job-NNNN.plt from a
// counter. A cut file that arrives while a job runs is ignored. A QR-code job reads a code,
// reports its text, waits for the QR_PLT data, cuts it and reads the next code; QR_PLT data
// that comes early waits its turn, and QR_PLT without a QR-code job is a one-copy file job.
// While a job is on, jogging and origin moves are echoed but not acted on, and factory settings
// are refused.
class SimMachine : public QObject {
    Q_OBJECT
public:
    enum JobStatus { Idle = 0, Cutting = 1, Paused = 2, Finished = 3, Stopped = 4 };
    Q_ENUM(JobStatus)

    static constexpr int registerCount = 256;
    static constexpr int maxCopies = 9999;

    explicit SimMachine(const SimOptions& options = SimOptions(), QObject* parent = nullptr);
    ~SimMachine() override;

    const SimOptions& options() const { return m_options; }
    QByteArray model() const { return QByteArrayLiteral("ZR-TX4150V"); }

    quint16 registerValue(int number) const;
    static std::array<quint16, registerCount> defaultRegisters();
    int heartbeatSeconds() const { return m_heartbeat; }
    QByteArray machineNumber() const { return m_machineNumber; }
    QByteArray boardNumber() const { return m_boardNumber; }
    QByteArray boardVersion() const { return m_boardVersion; }

    // Machine millimetres; the origin is where jobs start.
    QPointF headPosition() const;
    QPointF origin() const { return m_origin; }

    JobStatus jobStatus() const;
    QByteArray jobName() const;
    double jobPercent() const;
    double cuttingSpeed() const;

    // Every frame received, oldest first (the newest recordLimit of them).
    static constexpr int recordLimit = 100000;
    const QList<SimFrame>& received() const { return m_received; }
    QList<QByteArray> receivedHeads() const;
    const SimCounters& counters() const { return m_counters; }
    void clearRecord();

    // A silent machine has hung with its links up: what comes in waits unread, nothing goes out
    // and its job stands still. Ending the silence carries on where it stopped, as a stopped
    // process that is continued would.
    bool isSilent() const { return m_silent; }
    void setSilent(bool on);

    // Switched off and on again: every link hangs up, the job is gone without a word and file
    // jobs are numbered from 1 again; the registers, kept in the controller's memory, stay.
    void restart();

    // For the links: a frame they cut, their coming and going, and their log lines.
    void handleFrame(SimLink* from, const SimFrame& frame);
    void attach(SimLink* link);
    void detach(SimLink* link);
    void countDrop() { ++m_counters.linksDropped; }
    void countNoise(int bytes) { m_counters.noiseBytes += bytes; }
    void countWritten(int frames) { m_counters.framesWritten += frames; }
    void log(const QString& line);
    bool isLogging() const;

signals:
    void frameReceived(const SimFrame& frame);
    void jobStarted(const QByteArray& name);
    void jobEnded(const QByteArray& name, int status);
    void logLine(const QString& line);
    void silenceChanged(bool silent);

private:
    // The cut file's drawing; an empty one, and a log line, when it cannot be read.
    ZRCut::Drawing readCutFile(const QByteArray& data);
    void handleRegisters(SimLink* from, const QByteArray& payload);
    void handleCommand(SimLink* from, const QByteArray& payload);
    void handleFile(const QByteArray& payload);
    void handleQrData(const QByteArray& payload);
    void reply(SimLink* to, const QByteArray& head, const QByteArray& payload);
    void broadcast(const QByteArray& head, const QByteArray& payload);

    void applyRegister(int number, quint16 value);
    void jog(int axis, quint16 command);
    QPointF jogPosition() const;
    void settleJog();

    void startFileJob(const QByteArray& cutFile, int copies);
    void startQrJob(int copies);
    void readNextQrCode();
    void loadQueuedQrData();
    void beginCutting();
    void cutUntilNow();
    void advance();
    void scheduleAdvance();
    void pauseJob();
    void resumeJob();
    void endJob(JobStatus status);
    void report(JobStatus status);
    QByteArray reportBody(JobStatus status) const; // the report of the job on
    QByteArray nextQrName();

    SimOptions m_options;
    std::array<quint16, registerCount> m_registers;
    int m_heartbeat;
    QByteArray m_machineNumber;
    QByteArray m_boardNumber;
    QByteArray m_boardVersion;

    QPointF m_head;
    QPointF m_origin;
    int m_jogDirection[2] = { 0, 0 };
    double m_jogSpeed[2] = { 0, 0 };
    QElapsedTimer m_jogClock;

    int m_pendingCopies = 1;
    int m_fileCounter = 0;
    int m_qrCounter = 0;
    std::unique_ptr<SimJob> m_job;
    bool m_paused = false;
    bool m_dropDone = false;
    bool m_restartDone = false; // restartAtPercent has struck
    bool m_silenceDone = false; // silentAtPercent has struck for this job
    bool m_silent = false;
    bool m_qrScanFrozen = false; // a code read was due when the machine went silent
    qint64 m_cuttingMs = 0;
    QElapsedTimer m_sinceAdvance;
    QTimer m_advanceTimer;
    QTimer m_qrScanTimer;
    bool m_qrCodeRead = false; // the current copy's code has been reported
    QList<QByteArray> m_qrData;

    QList<SimLink*> m_links;
    QList<SimFrame> m_received;
    SimCounters m_counters;
};
