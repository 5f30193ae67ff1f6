#pragma once

#include "zrdevicehost.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>

using ZRDevice::TaskReport;

// What the host says of the machine's work: times as clock text, and the machine's job states as
// words.
namespace Protocol {

// A time as "1:05" (minutes and seconds), or "-:--" when below 0 (unknown).
QString clockText(qint64 seconds);

// The machine's job state as a word in the user's language: "cutting", "paused", "finished",
// "stopped", or "status 7"; statusName() gives the same word untranslated, for JSON.
QString statusText(int status);
QString statusName(int status);

// A job as a person reads it: the user's file with the machine's name of it beside it
// ("gasket.svg (machine: job-0016.plt)"), or the machine's name alone while the file is unknown.
// Both are shown as they are, control characters escaped.
QString jobText(const QString& file, const QString& machineJob);

// A progress report as a person reads it, with the job as jobText() gives it:
// "31.4 %  copy 1/2  0:12 left  cutting  gasket.svg (machine: job-0016.plt)". The copy is the one
// being cut, or the last one once all are done.
QString reportText(const TaskReport& report, const QString& job);

} // namespace Protocol

// One thing a host asks of the machine, as plain values.
// Whether a report can be the job an earlier one told of: the same name and copies, and progress
// that never goes back. A machine that restarted numbers its jobs from 1 again, and another
// host's job under a name once ours starts from nothing.
inline bool continues(const TaskReport& before, const TaskReport& now)
{
    return now.fileName == before.fileName && now.copies == before.copies
        && now.finished >= before.finished && now.seconds >= before.seconds
        && (now.finished > before.finished || now.percent >= before.percent);
}

struct Request {
    enum Kind {
        Read,
        Write,
        Job,
        Pause,
        Resume,
        Stop,
        Jog,
        Origin,
        BackToOrigin,
        Status, // the machine's state (and through a service its job and queue)
        History, // through a service: the jobs it has been given, newest first
        MoveQueued, // through a service: a queued job to another place in the queue
        CancelQueued, // through a service: a queued job out of the queue
        Rest, // through a service: cut the copies of a job (job) that were not confirmed
    };

    Kind kind = Read;
    QStringList names; // Read, Write
    QStringList values; // Write: one text per name, in display units unless raw
    bool raw = false; // Write: the values are the machine's numbers
    QString file; // Job: the cut file's name
    QByteArray plt; // Job: the HP-GL to cut, as the machine takes it
    QJsonObject fileInfo; // Job: what the device is told of the file ("TASK_FILE_INFO")
    QByteArray preview; // Job: its picture, PNG ("FILE_PREVIEW")
    int copies = 1; // Job
    int x = 0; // Jog: -1, 0 or +1 for each axis; both 0 stop
    int y = 0;
    QString follow; // Job: follow the machine's job of this name, sending nothing
    TaskReport confirmed; // Job with follow: what the machine last confirmed of it
    QString by; // who asks, as a service records it
    qint64 job = 0; // MoveQueued, CancelQueued, Rest: the job's id
    bool fromContour = false; // Rest: the unfinished copy too, from its first contour not confirmed
    int position = 1; // MoveQueued: 1 is the head of the queue

    static Request of(Kind kind, const QStringList& names = QStringList())
    {
        Request request;
        request.kind = kind;
        request.names = names;
        return request;
    }
};

// How a command of the host ends, as the README's table tells.
enum ExitCode {
    ExitOk = 0,
    ExitFailed = 1, // the machine refused, did not answer, is busy, or ended the job unfinished
    ExitUsage = 2, // bad command line, unknown parameter, value that does not fit, bad cut file
    ExitNoPlugin = 3,
    ExitNoMachine = 4, // the machine (or the service) could not be reached
    ExitLinkLost = 5,
    ExitInterrupted = 130, // Ctrl-C
};

// How a request ended, as plain values.
struct Result {
    enum Outcome {
        Done,
        Stopped, // Job: the machine confirmed the stop
        LinkLost, // the link went down, or the machine went silent past the bound
        Refused, // the machine said no, or cannot do it now
        Busy, // the machine is running another job
        NoAnswer, // nothing within the time-out
        OutOfRange, // a value does not fit, or a cut file that cannot be cut
        ReadOnly, // a value the machine takes nothing for
        Unknown, // no such parameter
        Cancelled,
    };

    // What each outcome is called and means, in one table (request.cpp): its name in JSON, the
    // exit code a command ends with, and the words a job ends with (untranslated; translate them
    // in the context "Result"). What a job that ends with it is in a service's history, JobStatus
    // tells.
    struct Facts {
        const char* name;
        int exitCode;
        const char* jobEnd;
    };
    static const Facts& facts(Outcome outcome);
    // The outcome of that JSON name in *outcome; false for a name there is none of.
    static bool named(const QString& name, Outcome* outcome);

    Outcome outcome = Done;
    QString reason; // for the user, when not Done
    QStringList unanswered; // Read, Write: names without an answer
    QStringList refused; // Write: names the machine said no to
    QStringList local; // Read: names the machine cannot be asked for; Write: sent unconfirmed
    TaskReport last; // Job and task control: the machine's last report of the job
    bool already = false; // Pause, Resume: the job was paused (cutting) before it was asked
    QJsonObject record; // Job: the task record as the last report left it
    qint64 elapsedMs = 0;
    QJsonObject values; // Read, Write: the values after it, as the machine's numbers, by name
    QJsonArray jobs; // History, and Status through a service (the job on, then the queue)

    // Job: the length cut of copies of perCopyMm each, all of them once done, else the share the
    // last report gives.
    double cutMm(double perCopyMm, int copies) const
    {
        return perCopyMm * copies * (outcome == Done ? 1.0 : last.percent / 100.0);
    }
};

// The one answer to one request: it ends exactly once with finished(), and a job reports its
// progress on the way. The session owns it until it has finished; then the caller does (delete
// it, or let it go with deleteLater()).
class Reply : public QObject {
    Q_OBJECT
public:
    const Request& request() const { return m_request; }
    const Result& result() const { return m_result; }
    bool isFinished() const { return m_finished; }
    // A job: asks the machine to stop, and ends once it has confirmed (a second call ends the
    // wait at once, the stop unconfirmed). Anything else ends at once as Cancelled; what was sent
    // stays sent.
    void cancel();

signals:
    void progress(const TaskReport& report);
    void finished();
    void cancelRequested();

private:
    friend class Session;
    friend class RemoteSession;
    Reply(const Request& request, QObject* session)
        : QObject(session)
        , m_request(request)
    { }
    void finish(Result::Outcome outcome, const QString& reason = QString());

    Request m_request;
    Result m_result;
    bool m_finished = false;
    bool m_internal = false; // the session's own: the greeting, asked before the link counts as up
};
