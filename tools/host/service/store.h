#pragma once

#include "jobstatus.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QLockFile>
#include <QSqlDatabase>
#include <QString>

#include <memory>

// The service's records in one SQLite file: every job it was given, from the moment it was
// submitted to its end, and the work records on their way to the cloud service (the outbox).
// Every change is committed before the call returns, so a service killed at any moment finds
// what it knew when it starts again. The schema carries its version; opening a file of an older
// version brings it up to date step by step, and a file of a newer program is refused.
//
// A job is a JSON object, the same one `zrhost history --json` prints: "id", "file" (the user's
// file name), "bytes", "copies", "placement" (object), "submitted_by", "submitted_at",
// "started_at", "ended_at" (UTC, ISO 8601), "status" (pending, held, processing, stopped,
// cancelled, aborted, completed, interrupted: see JobStatus), "reason" (why it is in that state;
// an interrupted job's starts with "outcome unknown"), "machine_job" (the machine's name of it),
// "cut_mm", "copies_done", "percent" (what the machine confirmed: these only grow), "file_info"
// (object), "plan" (object: what cutting the rest needs: "path" and "sha256" of the HP-GL as sent,
// "copies", and for the rest of an unfinished copy "from_contour" and "from_mm" where it starts,
// or for the whole copies after it "after", the job they wait for: see RestCut), "rest_of" (the
// job it cuts the rest of), and from the outbox "work_record" (object), "cloud_answer",
// "cloud_delivered_at" and "cloud_parked_at" (when the service refused it for good).
// Schema 1 called the states queued, sending, cutting, paused, finished, stopped, failed,
// cancelled and lost; opening such a file renames them.
//
// A database belongs to one service at a time: the service holds a lock file beside it (which
// names its process and host, and which a later service takes over once that process is gone).
// A file is checked when it is opened: a damaged one, an empty one, or another program's SQLite
// file is refused rather than taken for an empty history or written into.
class Store {
public:
    static constexpr int schemaVersion = 3;

    // Serve: the service's own, locked, created and brought up to date; Read: a look into an
    // existing file that changes nothing in it.
    enum class Access { Serve, Read };

    Store();
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // The time now as the store keeps times: UTC, ISO 8601 with milliseconds.
    static QString now();

    // The file under the user's data folder that the service uses unless told otherwise.
    static QString defaultPath();

    // Opens (and for serving creates) the database file; false with the reason in *error.
    bool open(const QString& path, QString* error, Access access = Access::Serve);
    QString path() const { return m_db.databaseName(); }
    // The database's own name, made once when it is created; it names its work records to the
    // cloud service.
    QString databaseId() const;
    // What the last query that failed said; empty when none has.
    QString lastError() const { return m_error; }
    // Where the HP-GL of jobs is kept for cutting their rest: beside the database.
    QString planFolder() const;

    // A new job from the given keys; its id, or 0 when it could not be stored.
    qint64 addJob(const QJsonObject& job);
    // Sets the given keys of job id; keys that are not columns are ignored. The confirmed figures
    // ("copies_done", "cut_mm", "percent") never shrink, and a job in a final state keeps its
    // status and reason.
    bool updateJob(qint64 id, const QJsonObject& changes);
    QJsonObject job(qint64 id) const;
    // The newest jobs first, at most limit of them.
    QJsonArray jobs(int limit = 1000) const;
    // Jobs in one of these states, oldest first.
    QList<qint64> jobsIn(const QStringList& states) const;
    // The jobs that cut the rest of job id, oldest first.
    QList<qint64> restsOf(qint64 id) const;

    // The job's kept HP-GL is let go: once every copy is cut, its rest is nothing; the file goes
    // when no other job that may want its rest holds it.
    void dropPlan(qint64 id);

    struct Record {
        qint64 id = 0;
        qint64 jobId = 0;
        QJsonObject body;
        int attempts = 0;
        QDateTime next; // not before this
    };
    // Puts a work record in the outbox; its id, or 0 when it could not be stored.
    qint64 addRecord(qint64 jobId, const QJsonObject& body);
    // Records not yet taken by the cloud service nor parked, oldest first; at most limit of them
    // when it is not negative.
    QList<Record> pendingRecords(int limit = -1) const;
    // The copies the job's work records have counted so far.
    int copiesRecorded(qint64 jobId) const;
    // One delivery attempt and the service's answer: taken, or to be tried again at next.
    bool recordAnswered(qint64 id, bool taken, const QString& answer, const QDateTime& next);
    // The service refused the record for good: it stays, with the answer, but is not sent again.
    bool recordParked(qint64 id, const QString& answer);

private:
    bool check(const QString& path, Access access, QString* error);
    bool migrate(QString* error);
    bool run(QSqlQuery& query) const;

    QSqlDatabase m_db;
    std::unique_ptr<QLockFile> m_lock;
    mutable QString m_error;
};
