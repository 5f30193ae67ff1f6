#pragma once

#include "cutfile.h"
#include "taskreport.h"
#include "zrdeviceinterface.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTimer>

// Runs one cutting job through a connected device, as a host does: fills the task parameters
// (file task, copies, the file's description and preview), hands the cut data over, starts the
// task, follows the machine's progress reports, and closes the task with stopTask() when the
// machine reports the job finished or stopped.
//
// A stop asks the machine first (TASK_STOP) and closes the task when the machine reports the job
// stopped, or after the stop time-out; a second stop closes it at once. When the link goes down
// the job is left as it is: the machine may still be cutting, and the task record stays as the
// last report left it. A machine that sends no progress report within the start time-out is
// told to stop, since a job nobody can follow should not run.
class JobRunner : public QObject {
    Q_OBJECT
public:
    enum Outcome { Idle, Running, Finished, Stopped, LinkLost, NotStarted };
    Q_ENUM(Outcome)

    static constexpr int defaultStartTimeoutMs = 10000;
    static constexpr int defaultStopTimeoutMs = 3000;

    // The device is the caller's, connected, and must outlive the runner.
    explicit JobRunner(ZRDeviceInterface* device, QObject* parent = nullptr);

    void setStartTimeoutMs(int ms) { m_startTimeoutMs = ms; }
    void setStopTimeoutMs(int ms) { m_stopTimeoutMs = ms; }

    // Starts the job. False, with nothing sent, when the file is not valid, copies is below 1
    // or the device lacks the task parameters.
    bool start(const CutFile& file, int copies);
    // Runs the event loop until the job is over.
    Outcome waitForEnd();

    void pause();
    void resume();
    void stop();

    bool isRunning() const { return m_outcome == Running; }
    Outcome outcome() const { return m_outcome; }
    bool stopRequested() const { return m_stopping; }
    const CutFile& file() const { return m_file; }
    int copies() const { return m_copies; }
    int reportCount() const { return m_reports; }
    TaskReport lastReport() const { return m_last; }
    // The task record ("TASK") as the last report left it, before stopTask() reset it.
    QJsonObject record() const { return m_record; }
    // The device's status line that reported the link lost.
    QString linkStatus() const { return m_linkStatus; }
    qint64 elapsedMs() const;
    // Millimetres of cutting path done: every copy's path once finished, otherwise the share
    // the machine last reported.
    double cutMm() const;
    // "Job finished: 2 of 2 copies in 8.6 s (machine: 8 s cutting), 1274.1 mm cut (637.1 mm a
    // copy)"; the first words tell the outcome.
    QString summary() const;

signals:
    void progress(const TaskReport& report);
    // Something the user should know that is not progress: a stop sent, a time-out.
    void notice(const QString& line);
    void ended(JobRunner::Outcome outcome);

private:
    void onMessage(ZRDeviceInterface::ZRDeviceMessage kind, const QString& text);
    void sendControl(const char* name);
    void end(Outcome outcome);

    ZRDeviceInterface* m_device;
    CutFile m_file;
    int m_copies = 0;
    bool m_stopping = false;
    Outcome m_outcome = Idle;
    int m_reports = 0;
    TaskReport m_last;
    QJsonObject m_record;
    QString m_linkStatus;
    QElapsedTimer m_clock;
    qint64 m_elapsedMs = 0;
    QTimer m_startTimer;
    QTimer m_stopTimer;
    int m_startTimeoutMs = defaultStartTimeoutMs;
    int m_stopTimeoutMs = defaultStopTimeoutMs;
};
