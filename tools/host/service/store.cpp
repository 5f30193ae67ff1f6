#include "store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStandardPaths>
#include <QVariant>

#include <atomic>

namespace {

// Each step brings the schema from the version before it to its own; steps are never changed
// once released, only added.
const QList<QStringList> migrations {
    {
        QStringLiteral(
            "CREATE TABLE jobs (id INTEGER PRIMARY KEY AUTOINCREMENT, file TEXT NOT NULL, "
            "bytes INTEGER, copies INTEGER, placement TEXT, submitted_by TEXT, "
            "submitted_at TEXT, started_at TEXT, ended_at TEXT, status TEXT NOT NULL, "
            "machine_job TEXT, cut_mm REAL, copies_done INTEGER, percent REAL, "
            "reason TEXT, file_info TEXT)"),
        QStringLiteral("CREATE INDEX jobs_status ON jobs (status)"),
        QStringLiteral("CREATE TABLE outbox (id INTEGER PRIMARY KEY AUTOINCREMENT, job_id INTEGER, "
                       "body TEXT NOT NULL, created_at TEXT, attempts INTEGER NOT NULL DEFAULT 0, "
                       "last_answer TEXT, next_attempt_at TEXT, delivered_at TEXT)"),
        QStringLiteral("CREATE INDEX outbox_pending ON outbox (delivered_at, id)"),
        QStringLiteral("CREATE INDEX outbox_job ON outbox (job_id)"),
    },
    {
        // The states of the print-queue model, each with a reason.
        QStringLiteral("UPDATE jobs SET status = CASE status WHEN 'queued' THEN 'pending' "
                       "WHEN 'sending' THEN 'processing' WHEN 'cutting' THEN 'processing' "
                       "WHEN 'paused' THEN 'processing' WHEN 'finished' THEN 'completed' "
                       "WHEN 'failed' THEN 'aborted' WHEN 'lost' THEN 'interrupted' "
                       "ELSE status END"),
        QStringLiteral("UPDATE jobs SET reason = 'outcome unknown' || COALESCE(': ' || "
                       "NULLIF(reason, ''), '') WHERE status = 'interrupted'"),
        QStringLiteral("UPDATE jobs SET reason = CASE status WHEN 'pending' THEN 'waiting in the "
                       "queue' WHEN 'processing' THEN 'sent to the machine' WHEN 'completed' "
                       "THEN 'every copy cut' WHEN 'stopped' THEN 'stopped on the machine' "
                       "WHEN 'cancelled' THEN 'cancelled before it started' ELSE 'not cut' END "
                       "WHERE reason IS NULL OR reason = ''"),
        QStringLiteral("ALTER TABLE jobs ADD COLUMN plan TEXT"),
        QStringLiteral("ALTER TABLE jobs ADD COLUMN rest_of INTEGER"),
    },
    {
        // The database's name for its work records at the cloud service, and records the
        // service refused for good.
        QStringLiteral("CREATE TABLE meta (key TEXT PRIMARY KEY, value TEXT)"),
        QStringLiteral("INSERT INTO meta VALUES ('database_id', lower(hex(randomblob(16))))"),
        QStringLiteral("ALTER TABLE outbox ADD COLUMN parked_at TEXT"),
    },
};

// The tables every version of the schema has.
const QStringList ownTables { "jobs", "outbox" };

const QStringList jobColumns { "file", "bytes", "copies", "placement", "submitted_by",
    "submitted_at", "started_at", "ended_at", "status", "machine_job", "cut_mm", "copies_done",
    "percent", "reason", "file_info", "plan", "rest_of" };
const QStringList jsonColumns { "placement", "file_info", "work_record", "plan" };
// What the machine confirmed only grows: a later, emptier report does not take it back.
const QStringList growing { "cut_mm", "copies_done", "percent" };

QVariant toColumn(const QJsonValue& value)
{
    if (value.isObject())
        return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
    return value.isNull() || value.isUndefined() ? QVariant() : value.toVariant();
}

// The rows of a job query as job objects.
QJsonArray rowsOf(QSqlQuery& query)
{
    QJsonArray jobs;
    const QSqlRecord record = query.record();
    QStringList names;
    for (int i = 0; i < record.count(); ++i)
        names.append(record.fieldName(i));
    while (query.next()) {
        QJsonObject job;
        for (int i = 0; i < names.size(); ++i) {
            const QVariant value = query.value(i);
            if (jsonColumns.contains(names.at(i)))
                job.insert(names.at(i), QJsonDocument::fromJson(value.toByteArray()).object());
            else
                job.insert(
                    names.at(i), value.isNull() ? QJsonValue() : QJsonValue::fromVariant(value));
        }
        jobs.append(job);
    }
    return jobs;
}

// The states that are over, as an SQL list.
QString finalStates()
{
    QStringList names;
    for (int state = 0; state <= JobStatus::Interrupted; ++state) {
        const QString name = JobStatus::name(JobStatus::State(state));
        if (JobStatus::isFinal(name))
            names.append(QLatin1Char('\'') + name + QLatin1Char('\''));
    }
    return names.join(QLatin1Char(','));
}

const char jobSelect[]
    = "SELECT j.*, o.body AS work_record, o.last_answer AS cloud_answer, o.delivered_at AS "
      "cloud_delivered_at, o.parked_at AS cloud_parked_at FROM jobs j LEFT JOIN outbox o ON o.id = (SELECT MAX(id) FROM outbox "
      "WHERE job_id = j.id) ";

} // namespace

Store::Store()
{
    static std::atomic_int count { 0 };
    m_db = QSqlDatabase::addDatabase(
        QStringLiteral("QSQLITE"), QStringLiteral("zrhost-store-%1").arg(++count));
}

Store::~Store()
{
    const QString name = m_db.connectionName();
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(name);
}

QString Store::now()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
}

QString Store::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
        + QStringLiteral("/service.sqlite");
}

bool Store::open(const QString& path, QString* error, Access access)
{
    const QFileInfo file(path);
    const QString name = file.absoluteFilePath();
    if (access == Access::Serve) {
        if (!QDir().mkpath(file.absolutePath())) {
            *error = QStringLiteral("cannot create the folder %1").arg(file.absolutePath());
            return false;
        }
        m_lock.reset(new QLockFile(name + QStringLiteral(".lock")));
        m_lock->setStaleLockTime(0); // held as long as its process lives
        if (!m_lock->tryLock(0)) {
            qint64 pid = 0;
            QString host, program;
            *error = m_lock->getLockInfo(&pid, &host, &program)
                ? QStringLiteral("the database %1 is held by process %2 (%3 on %4); one service "
                                 "at a time")
                      .arg(name, QString::number(pid), program, host)
                : QStringLiteral("cannot lock the database %1 (%2.lock)").arg(name, name);
            m_lock.reset();
            return false;
        }
    } else {
        m_db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    }
    if (file.exists() && file.size() == 0) {
        *error = QStringLiteral("%1 is empty, not a database of this service; move it away to "
                                "start a new one")
                     .arg(name);
        return false;
    }
    m_db.setDatabaseName(name);
    if (!m_db.open()) {
        *error = QStringLiteral("cannot open the database %1: %2").arg(name, m_db.lastError().text());
        return false;
    }
    if (!check(name, access, error))
        return false;
    if (access == Access::Read)
        return true;
    // Every commit reaches the disk before the service goes on; the log lets a reader look in
    // while the service writes.
    QSqlQuery pragma(m_db);
    pragma.exec(QStringLiteral("PRAGMA journal_mode = WAL"));
    pragma.exec(QStringLiteral("PRAGMA synchronous = FULL"));
    pragma.exec(QStringLiteral("PRAGMA busy_timeout = 5000"));
    return migrate(error);
}

// A file that is damaged, or that is some other program's, is refused before anything is read
// from it or written into it.
bool Store::check(const QString& path, Access access, QString* error)
{
    QSqlQuery query(m_db);
    if (access == Access::Read)
        query.exec(QStringLiteral("PRAGMA busy_timeout = 5000"));
    QStringList found;
    if (!query.exec(QStringLiteral("PRAGMA quick_check"))) {
        *error = QStringLiteral("%1 is not a database this service can read: %2")
                     .arg(path, query.lastError().text());
        return false;
    }
    while (query.next() && found.size() < 5)
        found.append(query.value(0).toString());
    if (found != QStringList { QStringLiteral("ok") }) {
        *error = QStringLiteral("the database %1 is damaged (%2); move it away, or restore a copy")
                     .arg(path, found.join(QStringLiteral("; ")).left(400));
        return false;
    }
    query.exec(QStringLiteral("PRAGMA user_version"));
    const int version = query.next() ? query.value(0).toInt() : 0;
    query.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'"));
    QStringList tables;
    while (query.next())
        tables.append(query.value(0).toString());
    const bool fresh = version == 0 && tables.isEmpty();
    bool ours = version > 0;
    for (const QString& table : ownTables)
        ours = ours && tables.contains(table);
    if (fresh ? access == Access::Read : !ours) {
        *error = fresh ? QStringLiteral("%1 holds no jobs: it is an empty database").arg(path)
                       : QStringLiteral("%1 is not a database of this service (another program's "
                                        "file?); it is left as it is")
                             .arg(path);
        return false;
    }
    if (version > schemaVersion) {
        *error = QStringLiteral("%1 was written by a newer zrhost (schema %2; this one knows %3)")
                     .arg(path, QString::number(version), QString::number(schemaVersion));
        return false;
    }
    if (access == Access::Read && !fresh && version != schemaVersion) {
        *error = QStringLiteral("%1 has schema %2, this zrhost reads schema %3; let a zrhost serve "
                                "of this version open it first")
                     .arg(path, QString::number(version), QString::number(schemaVersion));
        return false;
    }
    return true;
}

QString Store::planFolder() const
{
    return QFileInfo(path()).absolutePath() + QStringLiteral("/plans");
}

void Store::dropPlan(qint64 id)
{
    const QJsonObject plan = job(id).value(QLatin1String("plan")).toObject();
    const QString sha = plan.value(QLatin1String("sha256")).toString();
    if (sha.isEmpty())
        return;
    // What the plan tells of the job itself (where a rest started) stays with it.
    QJsonObject kept = plan;
    kept.remove(QLatin1String("path"));
    kept.remove(QLatin1String("sha256"));
    updateJob(id, { { "plan", kept } });
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT COUNT(*) FROM jobs WHERE plan LIKE ?"));
    query.addBindValue(QStringLiteral("%\"%1\"%").arg(sha));
    if (run(query) && query.next() && query.value(0).toInt() == 0)
        QFile::remove(QStringLiteral("%1/%2.plt").arg(planFolder(), sha));
}

bool Store::run(QSqlQuery& query) const
{
    if (query.exec())
        return true;
    m_error = query.lastError().text();
    qWarning("zrhost: database: %s", qPrintable(m_error));
    return false;
}

QString Store::databaseId() const
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT value FROM meta WHERE key = 'database_id'"));
    return run(query) && query.next() ? query.value(0).toString() : QString();
}

bool Store::migrate(QString* error)
{
    QSqlQuery query(m_db);
    query.exec(QStringLiteral("PRAGMA user_version"));
    const int version = query.next() ? query.value(0).toInt() : -1;
    if (version < 0) {
        *error = QStringLiteral("%1 is not a database: %2").arg(path(), query.lastError().text());
        return false;
    }
    for (int step = version; step < migrations.size(); ++step) {
        m_db.transaction();
        bool ok = true;
        for (const QString& statement : migrations.at(step))
            ok = ok && query.exec(statement);
        ok = ok && query.exec(QStringLiteral("PRAGMA user_version = %1").arg(step + 1));
        if (!ok) {
            *error = QStringLiteral("cannot bring %1 to schema %2: %3")
                         .arg(path(), QString::number(step + 1), query.lastError().text());
            m_db.rollback();
            return false;
        }
        m_db.commit();
    }
    return true;
}

qint64 Store::addJob(const QJsonObject& job)
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("INSERT INTO jobs (file, status) VALUES (?, ?)"));
    query.addBindValue(job.value(QLatin1String("file")).toString());
    query.addBindValue(
        job.value(QLatin1String("status")).toString(JobStatus::name(JobStatus::Pending)));
    if (!run(query))
        return 0;
    const qint64 id = query.lastInsertId().toLongLong();
    return updateJob(id, job) ? id : 0;
}

bool Store::updateJob(qint64 id, const QJsonObject& changes)
{
    QStringList sets;
    QVariantList values;
    for (auto it = changes.begin(); it != changes.end(); ++it) {
        if (!jobColumns.contains(it.key()))
            continue;
        if (growing.contains(it.key()))
            sets.append(QStringLiteral("%1 = MAX(COALESCE(%1, 0), ?)").arg(it.key()));
        else if (it.key() == QLatin1String("status") || it.key() == QLatin1String("reason"))
            // A job whose end is known keeps it, and the reason that goes with it.
            sets.append(QStringLiteral("%1 = CASE WHEN status IN (%2) THEN %1 ELSE ? END")
                            .arg(it.key(), finalStates()));
        else
            sets.append(it.key() + QStringLiteral(" = ?"));
        values.append(toColumn(it.value()));
    }
    if (sets.isEmpty())
        return true;
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("UPDATE jobs SET %1 WHERE id = ?").arg(sets.join(", ")));
    for (const QVariant& value : qAsConst(values))
        query.addBindValue(value);
    query.addBindValue(id);
    return run(query);
}

QJsonObject Store::job(qint64 id) const
{
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    query.prepare(QLatin1String(jobSelect) + QStringLiteral("WHERE j.id = ?"));
    query.addBindValue(id);
    return run(query) ? rowsOf(query).at(0).toObject() : QJsonObject();
}

QJsonArray Store::jobs(int limit) const
{
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    query.prepare(QLatin1String(jobSelect) + QStringLiteral("ORDER BY j.id DESC LIMIT ?"));
    query.addBindValue(limit);
    return run(query) ? rowsOf(query) : QJsonArray();
}

QList<qint64> Store::jobsIn(const QStringList& states) const
{
    QSqlQuery query(m_db);
    QStringList marks;
    for (int i = 0; i < states.size(); ++i)
        marks.append(QStringLiteral("?"));
    query.prepare(QStringLiteral("SELECT id FROM jobs WHERE status IN (%1) ORDER BY id")
                      .arg(marks.join(QLatin1Char(','))));
    for (const QString& state : states)
        query.addBindValue(state);
    QList<qint64> ids;
    for (bool ok = run(query); ok && query.next();)
        ids.append(query.value(0).toLongLong());
    return ids;
}

QList<qint64> Store::restsOf(qint64 id) const
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT id FROM jobs WHERE rest_of = ? ORDER BY id"));
    query.addBindValue(id);
    QList<qint64> ids;
    for (bool ok = run(query); ok && query.next();)
        ids.append(query.value(0).toLongLong());
    return ids;
}

qint64 Store::addRecord(qint64 jobId, const QJsonObject& body)
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("INSERT INTO outbox (job_id, body, created_at, next_attempt_at) "
                                 "VALUES (?, ?, ?, ?)"));
    query.addBindValue(jobId > 0 ? QVariant(jobId) : QVariant());
    query.addBindValue(toColumn(body));
    const QString created = now();
    query.addBindValue(created);
    query.addBindValue(created);
    return run(query) ? query.lastInsertId().toLongLong() : 0;
}

QList<Store::Record> Store::pendingRecords(int limit) const
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT id, job_id, body, attempts, next_attempt_at FROM outbox "
                                 "WHERE delivered_at IS NULL AND parked_at IS NULL ORDER BY id LIMIT ?"));
    query.addBindValue(limit);
    QList<Record> records;
    for (bool ok = run(query); ok && query.next();) {
        records.append({ query.value(0).toLongLong(), query.value(1).toLongLong(),
            QJsonDocument::fromJson(query.value(2).toByteArray()).object(), query.value(3).toInt(),
            QDateTime::fromString(query.value(4).toString(), Qt::ISODateWithMs) });
    }
    return records;
}

int Store::copiesRecorded(qint64 jobId) const
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT body FROM outbox WHERE job_id = ?"));
    query.addBindValue(jobId);
    int copies = 0;
    for (bool ok = run(query); ok && query.next();)
        copies += QJsonDocument::fromJson(query.value(0).toByteArray())
                      .object()
                      .value(QLatin1String("finish_copies"))
                      .toInt();
    return copies;
}

bool Store::recordAnswered(qint64 id, bool taken, const QString& answer, const QDateTime& next)
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("UPDATE outbox SET attempts = attempts + 1, last_answer = ?, "
                                 "next_attempt_at = ?, delivered_at = ? WHERE id = ?"));
    query.addBindValue(answer);
    query.addBindValue(next.toUTC().toString(Qt::ISODateWithMs));
    query.addBindValue(taken ? QVariant(now()) : QVariant());
    query.addBindValue(id);
    return run(query);
}

bool Store::recordParked(qint64 id, const QString& answer)
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral(
        "UPDATE outbox SET attempts = attempts + 1, last_answer = ?, parked_at = ? WHERE id = ?"));
    query.addBindValue(answer);
    query.addBindValue(now());
    query.addBindValue(id);
    return run(query);
}
