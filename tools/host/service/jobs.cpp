// The machine service's jobs: how they come in, wait, run, end, and have their rest cut.

#include "service.h"

#include "cloud.h"
#include "cutfile.h"
#include "jobcheck.h"
#include "restcut.h"
#include "zrdeviceinterface.h"
#include "zrdeviceproperty.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QWebSocket>

#include <algorithm>
#include <memory>

namespace {

using JobStatus::name;

// The HP-GL kept for cutting the rest later, named by its hash beside the database; on the
// checking thread. The plan's "path" and "sha256", or the reason it could not be kept.
bool keepPlan(const QString& folder, const QByteArray& hpgl, QJsonObject* plan, QString* error)
{
    const QString sha
        = QString::fromLatin1(QCryptographicHash::hash(hpgl, QCryptographicHash::Sha256).toHex());
    const QString path = QStringLiteral("%1/%2.plt").arg(folder, sha);
    plan->insert("sha256", sha);
    plan->insert("path", path);
    if (QFileInfo(path).size() == hpgl.size())
        return true;
    QSaveFile file(path);
    if (QDir().mkpath(folder) && file.open(QIODevice::WriteOnly) && file.write(hpgl) == hpgl.size()
        && file.commit())
        return true;
    *error = QStringLiteral("the service cannot keep the cut data in %1: %2")
                 .arg(folder, file.errorString());
    return false;
}

// The HP-GL a plan kept, when it is still there as it was.
QByteArray planned(const QJsonObject& plan)
{
    QFile file(plan.value(QLatin1String("path")).toString());
    if (!file.open(QIODevice::ReadOnly) || file.size() > Carriage::maxContentBytes)
        return QByteArray();
    const QByteArray hpgl = file.readAll();
    const QString sha
        = QString::fromLatin1(QCryptographicHash::hash(hpgl, QCryptographicHash::Sha256).toHex());
    return sha == plan.value(QLatin1String("sha256")).toString() ? hpgl : QByteArray();
}

// The device's task parameter of that name; a device that has not seen a task yet gets it.
ZRDeviceProperty* taskParameter(
    ZRDeviceInterface* device, const char* name, const QVariant& initial)
{
    ZRDeviceProperty* parameter = device->property_ptr(name);
    if (!parameter) {
        parameter = new ZRDeviceProperty;
        parameter->init(initial, QString(), QString(), 0, 0, 0, ZRDeviceInterface::UnCMD, {});
        device->setProperty(name, QVariant::fromValue(static_cast<void*>(parameter)));
    }
    return parameter;
}

double number(const QJsonObject& job, const char* key)
{
    return job.value(QLatin1String(key)).toDouble();
}

// What the rest of a job's unfinished copy came to, on the thread that worked it out.
struct Unfinished {
    QString error;
    QByteArray copy; // the kept HP-GL of a whole copy
    RestCut::Rest rest;
    QJsonObject fileInfo; // the rest's
    QJsonObject plan; // the rest's, kept for cutting its own rest
};

} // namespace

// Jobs a previous run left: the one the machine was cutting is followed again once the link is
// up; one the machine had not confirmed is not sent again, and queued ones were never sent.
void MachineService::resume()
{
    const QJsonObject ended { { "ended_at", Store::now() } };
    for (const qint64 id : m_store.jobsIn({ name(JobStatus::Pending) })) {
        QJsonObject changes = ended;
        changes.insert("status", name(JobStatus::Cancelled));
        changes.insert("reason",
            "cancelled before it started: the service stopped while it waited in the queue; it "
            "was never sent");
        m_store.updateJob(id, changes);
    }
    for (const qint64 id : m_store.jobsIn({ name(JobStatus::Interrupted) })) {
        const QString machineJob = m_store.job(id).value(QLatin1String("machine_job")).toString();
        if (!machineJob.isEmpty())
            m_unsettled.insert(machineJob, id);
    }
    for (const qint64 id : m_store.jobsIn({ name(JobStatus::Processing) })) {
        const QJsonObject job = m_store.job(id);
        const QString machineJob = job.value(QLatin1String("machine_job")).toString();
        if (machineJob.isEmpty() || m_running.job) {
            QJsonObject changes = ended;
            changes.insert("status", name(JobStatus::Interrupted));
            changes.insert("reason",
                QStringLiteral("%1: the service stopped before the machine confirmed the job; it "
                               "is not sent again")
                    .arg(QLatin1String(JobStatus::outcomeUnknown)));
            m_store.updateJob(id, changes);
            continue;
        }
        m_running.job = id;
        m_running.machineJob = machineJob;
        m_running.following = true;
        m_running.request = Request::of(Request::Job);
        m_running.request.file = job.value(QLatin1String("file")).toString();
        m_running.request.copies = job.value(QLatin1String("copies")).toInt(1);
        const QJsonObject info = job.value(QLatin1String("file_info")).toObject();
        m_running.perCopyMm = info.value(QLatin1String("path_length")).toDouble();
        m_running.started = QDateTime::fromString(
            job.value(QLatin1String("started_at")).toString(), Qt::ISODateWithMs);
        // What the machine confirmed before the service stopped stands.
        m_running.last.fileName = machineJob;
        m_running.last.copies = m_running.request.copies;
        m_running.last.finished = job.value(QLatin1String("copies_done")).toInt();
        m_running.last.percent = number(job, "percent");
        // The device closes the task with these when it ends, for its work record.
        ZRDeviceInterface* device = m_session->device();
        if (ZRDeviceProperty* fileInfo = device->property_ptr("TASK_FILE_INFO"))
            fileInfo->setValue(info);
        taskParameter(device, "TASK_START_TIME", QDateTime())
            ->setValue(m_running.started.toLocalTime());
        emit log(QStringLiteral("Job %1 (%2) was on the machine as %3 when the service stopped: "
                                "following it once the link is up.")
                     .arg(QString::number(id), m_running.request.file, machineJob));
    }
}

void MachineService::refuse(
    QWebSocket* client, qint64 id, Result::Outcome outcome, const QString& reason)
{
    Result refused;
    refused.outcome = outcome;
    refused.reason = reason;
    answer(client, id, refused);
}

// A job's data: the binary message the oldest job request still without its data announced.
void MachineService::onBinary(QWebSocket* client, const QByteArray& data)
{
    if (!m_clients.contains(client))
        return;
    QList<Intake>& intakes = m_intake[client];
    const auto waiting = std::find_if(intakes.begin(), intakes.end(),
        [](const Intake& intake) { return intake.request.plt.isEmpty(); });
    if (waiting == intakes.end())
        return send(client,
            { { "error",
                "a binary message is a job's cut data, right after the job request that "
                "announces its size" } });
    if (data.size() != waiting->bytes) {
        const Intake refused = *waiting;
        intakes.erase(waiting);
        fitMessageSize(client);
        return refuse(client, refused.id, Result::OutOfRange,
            QStringLiteral("the job announced %1 bytes of cut data and sent %2")
                .arg(QString::number(refused.bytes), QString::number(data.size())));
    }
    waiting->request.plt = data;
    fitMessageSize(client);
    check(client);
}

// A client's oldest job with its data is checked, measured and kept on a thread of its own, one
// at a time; the job is queued after.
void MachineService::check(QWebSocket* client)
{
    QList<Intake>& intakes = m_intake[client];
    if (intakes.isEmpty() || intakes.first().checking || intakes.first().request.plt.isEmpty())
        return;
    intakes.first().checking = true;
    // The table as the machine has it now; the last one known when it cannot be asked.
    Reply* table = m_session->send(Request::of(Request::Read, { QStringLiteral("WORKAREA") }));
    const QPointer<QWebSocket> from(client);
    connect(table, &Reply::finished, this, [this, table, from] {
        table->deleteLater();
        if (from && !m_intake.value(from).isEmpty())
            measure(from);
    });
}

void MachineService::measure(QWebSocket* client)
{
    auto* work = new CutWork(this);
    auto checked = std::make_shared<Checked>();
    const Request request = m_intake.value(client).first().request;
    const QString folder = m_store.planFolder();
    const QSizeF table = CutMachine::of(m_session->device(), 1).workArea;
    work->start([request, checked, folder, table](const ZRCut::Progress&, QString*) {
        // Whatever the sender says of its file, the data is checked as the machine would take it.
        // The sender's figures of it are taken (bounded); the HP-GL is read and measured only when
        // it sent none.
        checked->fileInfo = request.fileInfo;
        if (!JobCheck::job(request.plt, request.copies, table, &checked->error))
            return false;
        if (checked->fileInfo.isEmpty()) {
            CutFile file;
            if (!file.readWritten(request.file, request.plt, &checked->error))
                return false;
            checked->fileInfo = file.fileInfo();
        }
        checked->perCopyMm = checked->fileInfo.value(QLatin1String("path_length")).toDouble();
        checked->plan.insert("copies", request.copies);
        return keepPlan(folder, request.plt, &checked->plan, &checked->error);
    });
    const QPointer<QWebSocket> from(client);
    connect(work, &CutWork::finished, this, [this, work, checked, from] {
        work->deleteLater();
        if (!from || m_intake.value(from).isEmpty())
            return;
        const Intake intake = m_intake[from].takeFirst();
        if (!checked->error.isEmpty())
            refuse(from, intake.id, Result::OutOfRange, checked->error);
        else
            submit(from, intake, *checked);
        check(from);
    });
}

void MachineService::submit(QWebSocket* client, const Intake& intake, const Checked& checked)
{
    Request queued = intake.request;
    queued.fileInfo = checked.fileInfo;
    if (m_queue.size() >= maxQueuedJobs)
        return refuse(client, intake.id, Result::Refused,
            QStringLiteral("the queue is full (%1 jobs)").arg(maxQueuedJobs));
    QJsonObject record { { "file", queued.file }, { "bytes", queued.plt.size() },
        { "copies", queued.copies }, { "placement", QJsonObject {} }, { "submitted_by", queued.by },
        { "submitted_at", Store::now() }, { "status", name(JobStatus::Pending) },
        { "reason", "waiting in the queue" }, { "file_info", queued.fileInfo },
        { "plan", checked.plan } };
    if (intake.restOf > 0)
        record.insert("rest_of", double(intake.restOf));
    const qint64 job = m_store.addJob(record);
    if (job == 0)
        return refuse(client, intake.id, Result::Refused,
            QStringLiteral("the service cannot store the job (see its log)"));
    if (const auto open = m_clients.find(client); open != m_clients.end())
        ++open->open;
    // The queue holds no cut data: it is read back from where the check kept it.
    queued.plt.clear();
    m_queue.append({ job, queued, client, intake.id, checked.perCopyMm });
    const int ahead = m_queue.size() - 1 + (m_running.job ? 1 : 0);
    send(client,
        { { "id", double(intake.id) }, { "job", double(job) },
            { "notice",
                ahead == 0 ? QStringLiteral("Job %1 accepted by the service.").arg(job)
                           : QStringLiteral("Job %1 queued; %2 ahead of it.")
                                 .arg(QString::number(job), QString::number(ahead)) } });
    // After the client has heard which job is its own.
    jobChanged(job, {});
    startNextJob();
}

// The copies of an ended job the machine did not confirm, as a new job from the HP-GL it kept.
void MachineService::cutRest(QWebSocket* client, qint64 id, const Request& request)
{
    const QJsonObject job = m_store.job(request.job);
    const QString status = job.value(QLatin1String("status")).toString();
    const int left = job.value(QLatin1String("copies")).toInt()
        - job.value(QLatin1String("copies_done")).toInt();
    if (job.isEmpty())
        return refuse(client, id, Result::Unknown,
            QStringLiteral("there is no job %1 in the history").arg(request.job));
    if (!JobStatus::hasRest(job))
        return refuse(client, id, Result::Refused,
            QStringLiteral("job %1 is %2 with %3 of %4 copies confirmed: there is no rest to cut")
                .arg(QString::number(request.job), status,
                    QString::number(job.value(QLatin1String("copies_done")).toInt()),
                    QString::number(job.value(QLatin1String("copies")).toInt())));
    // A rest taken up already is that job's to resume: the copies would be cut twice. One
    // cancelled before it started cut nothing, and leaves the rest as it was.
    for (const qint64 rest : m_store.restsOf(request.job)) {
        const QJsonObject taken = m_store.job(rest);
        if (taken.value(QLatin1String("status")).toString() != JobStatus::name(JobStatus::Cancelled)
            || taken.value(QLatin1String("copies_done")).toInt() > 0)
            return refuse(client, id, Result::Refused,
                QStringLiteral("the rest of job %1 is job %2 (%3): resume that one")
                    .arg(QString::number(request.job), QString::number(rest),
                        JobStatus::text(taken.value(QLatin1String("status")).toString())));
    }
    if (request.fromContour)
        return cutUnfinished(client, id, request, job);
    const QByteArray hpgl = planned(job.value(QLatin1String("plan")).toObject());
    if (hpgl.isEmpty())
        return refuse(client, id, Result::Refused,
            QStringLiteral("the cut data of job %1 is no longer kept as it was sent")
                .arg(request.job));
    Intake intake;
    intake.id = id;
    intake.request = Request::of(Request::Job);
    intake.request.file = job.value(QLatin1String("file")).toString();
    intake.request.copies = left;
    intake.request.by = request.by;
    intake.request.plt = hpgl;
    intake.request.fileInfo = job.value(QLatin1String("file_info")).toObject();
    intake.bytes = hpgl.size();
    intake.restOf = request.job;
    m_intake[client].append(intake);
    check(client);
}

// The rest of a job's unfinished copy from the first contour the machine did not confirm, worked
// out on a thread of its own from the HP-GL the service kept: it is the client's job, and the
// whole copies left follow it as one more job of nobody's, which waits for it to be cut to the
// end (or is cancelled with it).
void MachineService::cutUnfinished(
    QWebSocket* client, qint64 id, const Request& request, const QJsonObject& job)
{
    if (const auto open = m_clients.find(client); open != m_clients.end())
        ++open->open;
    auto* work = new CutWork(this);
    auto found = std::make_shared<Unfinished>();
    const QString folder = m_store.planFolder();
    work->start([job, found, folder](const ZRCut::Progress& progress, QString*) {
        found->copy = planned(job.value(QLatin1String("plan")).toObject());
        const QString file = job.value(QLatin1String("file")).toString();
        CutFile copy;
        if (found->copy.isEmpty()) {
            found->error = QStringLiteral("the cut data of job %1 is no longer kept as it was sent")
                               .arg(job.value(QLatin1String("id")).toInt());
            return false;
        }
        if (!copy.readWritten(file, found->copy, &found->error))
            return false;
        const double confirmed = RestCut::confirmedInCopy(number(job, "percent"),
            job.value(QLatin1String("copies")).toInt(),
            job.value(QLatin1String("copies_done")).toInt(), copy.job().cutLengthMm);
        if (!RestCut::restOf(
                copy.job(), confirmed, RestCut::overlapMm, &found->rest, &found->error, progress))
            return false;
        if (found->rest.step < 0)
            return true;
        CutFile rest;
        if (!rest.readWritten(file, found->rest.hpgl, &found->error))
            return false;
        found->fileInfo = rest.fileInfo();
        return keepPlan(folder, found->rest.hpgl, &found->plan, &found->error);
    });
    const QPointer<QWebSocket> from(client);
    const QString by = request.by;
    connect(work, &CutWork::finished, this, [this, work, found, from, id, job, by] {
        work->deleteLater();
        if (!from)
            return;
        release(from);
        const qint64 of = job.value(QLatin1String("id")).toVariant().toLongLong();
        const int whole = job.value(QLatin1String("copies")).toInt()
            - job.value(QLatin1String("copies_done")).toInt() - 1;
        if (!found->error.isEmpty())
            return refuse(from, id, Result::Refused, found->error);
        Intake intake;
        intake.id = id;
        intake.request = Request::of(Request::Job);
        intake.request.file = job.value(QLatin1String("file")).toString();
        intake.request.by = by;
        intake.request.fileInfo = job.value(QLatin1String("file_info")).toObject();
        intake.restOf = of;
        if (found->rest.step < 0) {
            // The machine's percent confirms the copy it was on: the whole copies are the rest.
            if (whole < 1)
                return refuse(from, id, Result::Refused,
                    QStringLiteral("the machine confirmed all of job %1: there is no rest to cut")
                        .arg(of));
            intake.request.copies = whole;
            intake.request.plt = found->copy;
            intake.bytes = found->copy.size();
            m_intake[from].append(intake);
            return check(from);
        }
        if (whole >= 1 && m_queue.size() + 2 > maxQueuedJobs)
            return refuse(from, id, Result::Refused,
                QStringLiteral("the queue has no room for the rest of job %1 and the whole copies "
                               "after it")
                    .arg(of));
        Intake copies = intake;
        copies.id = 0;
        copies.request.copies = whole;
        copies.request.plt = found->copy;
        intake.request.plt = found->rest.hpgl;
        intake.request.fileInfo = found->fileInfo;
        Checked checked;
        checked.fileInfo = found->fileInfo;
        checked.perCopyMm = found->fileInfo.value(QLatin1String("path_length")).toDouble();
        checked.plan = found->plan;
        checked.plan.insert("copies", 1);
        checked.plan.insert(RestCut::fromContourKey, found->rest.step + 1);
        checked.plan.insert(RestCut::fromMmKey, found->rest.fromMm);
        submit(from, intake, checked);
        qint64 after = m_running.client == from && m_running.id == id ? m_running.job : 0;
        for (const Queued& queued : qAsConst(m_queue))
            after = queued.client == from && queued.id == id ? queued.job : after;
        if (whole < 1 || after == 0)
            return;
        Checked kept;
        kept.fileInfo = copies.request.fileInfo;
        kept.perCopyMm = kept.fileInfo.value(QLatin1String("path_length")).toDouble();
        kept.plan = job.value(QLatin1String("plan")).toObject();
        kept.plan.insert("copies", whole);
        kept.plan.insert(RestCut::afterKey, double(after));
        submit(nullptr, copies, kept);
        send(from,
            { { "id", double(id) },
                { "notice",
                    QStringLiteral("Job %1 cuts the %2 whole copies left of job %3 once job %4 "
                                   "has cut the unfinished one to its end.")
                        .arg(QString::number(m_queue.last().job), QString::number(whole),
                            QString::number(of), QString::number(after)) } });
    });
}

// The whole copies left that waited for this job to cut an unfinished copy to its end.
void MachineService::unqueueAfter(qint64 job)
{
    for (int i = m_queue.size() - 1; i >= 0; --i) {
        const QJsonObject plan
            = m_store.job(m_queue.at(i).job).value(QLatin1String("plan")).toObject();
        if (plan.value(QLatin1String(RestCut::afterKey)).toDouble() == double(job))
            unqueue(i,
                QStringLiteral("job %1, the rest of the unfinished copy before it, was not cut to "
                               "its end")
                    .arg(job));
    }
}

void MachineService::cancel(QWebSocket* client, qint64 id)
{
    for (int i = 0; i < m_queue.size(); ++i) {
        if (m_queue.at(i).client == client && m_queue.at(i).id == id)
            return unqueue(i, QStringLiteral("cancelled by its client"));
    }
    if (m_running.client != client || m_running.id != id)
        return;
    if (m_running.reply)
        m_running.reply->cancel();
    else
        dropFollowed(QStringLiteral("cancelled by its client"));
}

void MachineService::dropFollowed(const QString& reason)
{
    if (!m_running.job || m_running.reply)
        return;
    Result dropped;
    dropped.outcome = Result::Cancelled;
    dropped.reason = QStringLiteral("%1 while the machine could not be reached").arg(reason);
    onJobEnded(dropped);
}

void MachineService::relink()
{
    tell(QStringLiteral("%1 answers nothing with its link up: closing the link and opening it "
                        "again.")
             .arg(m_session->target().describe()));
    // The device goes with the link: the cloud service registers its successor.
    m_cloudStarted = false;
    m_session->closeLink({ "WORKAREA_X", "WORKAREA_Y" });
    m_session->connectTo(m_session->target());
}

void MachineService::unqueue(int index, const QString& reason)
{
    const Queued queued = m_queue.takeAt(index);
    const QString why = QStringLiteral("cancelled before it started: %1").arg(reason);
    jobChanged(queued.job,
        { { "status", name(JobStatus::Cancelled) }, { "ended_at", Store::now() },
            { "reason", why } });
    if (!queued.client)
        return;
    release(queued.client);
    Result cancelled;
    cancelled.outcome = Result::Cancelled;
    cancelled.reason = QStringLiteral("job %1 was %2").arg(QString::number(queued.job), why);
    cancelled.jobs = { m_store.job(queued.job) };
    answer(queued.client, queued.id, cancelled);
}

QJsonArray MachineService::queueJobs() const
{
    QJsonArray jobs;
    if (m_running.job)
        jobs.append(m_store.job(m_running.job));
    for (const Queued& queued : m_queue)
        jobs.append(m_store.job(queued.job));
    return jobs;
}

void MachineService::startNextJob()
{
    if (m_running.job || m_queue.isEmpty() || !m_session->isUp() || m_session->isJobOn())
        return;
    // The machine has had time to report a job of another host.
    if (const int waitMs = m_session->stateWaitMs())
        return QTimer::singleShot(waitMs, this, &MachineService::startNextJob);
    const Queued next = m_queue.takeFirst();
    Running job;
    static_cast<Queued&>(job) = next;
    job.started = QDateTime::currentDateTimeUtc();
    jobChanged(job.job,
        { { "status", name(JobStatus::Processing) }, { "reason", "sent to the machine" },
            { "started_at", job.started.toString(Qt::ISODateWithMs) } });
    Request request = next.request;
    request.plt = planned(m_store.job(job.job).value(QLatin1String("plan")).toObject());
    runJob(job, request);
}

void MachineService::runJob(Running job, const Request& request)
{
    m_running = job;
    Reply* reply = m_session->send(request);
    m_running.reply = reply;
    connect(reply, &Reply::progress, this, &MachineService::onJobProgress);
    connect(reply, &Reply::finished, this, [this, reply] {
        reply->deleteLater();
        if (reply == m_running.reply)
            onJobEnded(reply->result());
    });
}

void MachineService::onJobProgress(const TaskReport& report)
{
    const TaskReport before = m_running.last;
    m_running.last = report;
    if (m_running.client) {
        send(m_running.client,
            { { "id", double(m_running.id) }, { "progress", Carriage::fromReport(report) } });
        m_progressClient = m_running.client;
        m_progressText = report.text;
    }
    QJsonObject changes;
    if (m_running.machineJob != report.fileName) {
        m_running.machineJob = report.fileName;
        changes.insert("machine_job", report.fileName);
    }
    if (report.status != before.status && report.isRunning())
        changes.insert(
            "reason", report.status == TaskReport::Paused ? "paused on the machine" : "cutting");
    if (report.finished != before.finished || !changes.isEmpty()
        || int(report.percent) != int(before.percent)) {
        changes.insert("copies_done", double(report.finished));
        changes.insert("percent", report.percent);
        changes.insert(
            "cut_mm", m_running.perCopyMm * m_running.request.copies * report.percent / 100);
        jobChanged(m_running.job, changes);
    }
}

void MachineService::onJobEnded(const Result& result)
{
    Running job = m_running;
    // Lost while the link is up: the machine hangs. Its job ends here, its client hears it, and
    // the link is opened again; a report of the job that comes later settles it.
    const bool hung = result.outcome == Result::LinkLost && m_session->isUp();
    if (result.outcome == Result::LinkLost && !job.machineJob.isEmpty() && !hung) {
        m_running.reply = nullptr;
        m_running.following = true;
        return tell(QStringLiteral("Job %1 (%2): %3; the machine may go on cutting, and the job "
                                   "is followed again once the link is back.")
                        .arg(QString::number(job.job), job.request.file, result.reason));
    }
    m_running = Running();
    Result told = result;
    told.elapsedMs = job.started.msecsTo(QDateTime::currentDateTimeUtc());
    // The machine took the job and nobody saw it end: a stop it did not confirm, a followed job
    // it says no more of, a link lost before it named the job.
    const bool taken = !job.machineJob.isEmpty() || job.last.status != 0;
    const bool unseen = (result.outcome == Result::Cancelled && taken)
        || (result.outcome == Result::NoAnswer && job.following)
        || result.outcome == Result::LinkLost;
    const JobStatus::State end = JobStatus::ofOutcome(result.outcome, unseen);
    const TaskReport& last = result.last.fileName.isEmpty() ? job.last : result.last;
    const bool finished = end == JobStatus::Completed;
    QString reason = result.reason;
    if (end == JobStatus::Interrupted)
        reason = QStringLiteral("%1: %2%3")
                     .arg(QLatin1String(JobStatus::outcomeUnknown), result.reason,
                         taken ? QString() : QStringLiteral("; it is not sent again"));
    else if (finished)
        reason = QStringLiteral("every copy cut");
    else if (end == JobStatus::Stopped)
        reason = QStringLiteral("stopped on the machine");
    else if (end == JobStatus::Cancelled)
        reason = QStringLiteral("cancelled before it started: %1").arg(result.reason);
    const bool stored = jobChanged(job.job,
        { { "status", name(end) }, { "ended_at", Store::now() }, { "reason", reason },
            { "copies_done", double(finished ? job.request.copies : last.finished) },
            { "percent", finished ? 100.0 : last.percent },
            { "cut_mm",
                job.perCopyMm * job.request.copies * (finished ? 1.0 : last.percent / 100) } });
    const QJsonObject record = m_store.job(job.job);
    if (end == JobStatus::Interrupted && !job.machineJob.isEmpty())
        m_unsettled.insert(job.machineJob, job.job);
    // A registered device posted the record of a job the machine ended when it closed the task.
    if (end == JobStatus::Interrupted
        || (m_session->cloud() && !m_session->cloud()->isRegistered()))
        postConfirmed(job.job, record.value(QLatin1String("copies_done")).toInt());
    if (finished)
        m_store.dropPlan(job.job);
    else
        unqueueAfter(job.job);
    // The end the machine told, and that the history does not have it.
    if (!stored)
        reason += QStringLiteral("; the history could not store this end (%1) and still shows the "
                                 "job as %2")
                      .arg(m_store.lastError(), record.value(QLatin1String("status")).toString());
    told.reason = reason;
    told.jobs = { record };
    tell(QStringLiteral("Job %1 (%2%3): %4, %5.")
             .arg(QString::number(job.job), job.request.file,
                 job.machineJob.isEmpty() ? QString() : QStringLiteral(", ") + job.machineJob,
                 name(end), reason));
    if (job.client) {
        release(job.client);
        answer(job.client, job.id, told);
    }
    if (hung)
        return relink();
    startNextJob();
}

// An interrupted job the machine reports after all: what it confirms now stands, and its end
// when it tells one.
void MachineService::settleLate(const TaskReport& report)
{
    const qint64 id = m_unsettled.value(report.fileName);
    if (id == 0 || (m_running.job == id))
        return;
    const QJsonObject before = m_store.job(id);
    TaskReport confirmed;
    confirmed.fileName = report.fileName;
    confirmed.copies = before.value(QLatin1String("copies")).toInt();
    confirmed.finished = before.value(QLatin1String("copies_done")).toInt();
    confirmed.percent = number(before, "percent");
    if (!continues(confirmed, report))
        return;
    const double perCopy = before.value(QLatin1String("file_info"))
                               .toObject()
                               .value(QLatin1String("path_length"))
                               .toDouble();
    const int copies = before.value(QLatin1String("copies")).toInt();
    const bool finished = report.status == TaskReport::Finished || report.allCut();
    QJsonObject changes { { "copies_done", double(finished ? copies : report.finished) },
        { "percent", finished ? 100.0 : report.percent },
        { "cut_mm", perCopy * copies * (finished ? 1.0 : report.percent / 100) } };
    if (finished || report.status == TaskReport::Stopped) {
        m_unsettled.remove(report.fileName);
        changes.insert("status", name(finished ? JobStatus::Completed : JobStatus::Stopped));
        changes.insert("reason",
            finished ? QStringLiteral("every copy cut, as the machine reported later")
                     : QStringLiteral("stopped on the machine, as it reported later"));
    }
    jobChanged(id, changes);
    if (finished || report.status == TaskReport::Stopped)
        postConfirmed(id, m_store.job(id).value(QLatin1String("copies_done")).toInt());
}

// A work record for the copies of a job the machine confirmed and no record has counted yet. A
// registered device posts it; one that is not yet registered posts none, so the service makes it
// from the history, and it waits in the outbox for the registration.
void MachineService::postConfirmed(qint64 job, int copies)
{
    ZRDeviceInterface* device = m_session->device();
    const int uncounted = copies - m_store.copiesRecorded(job);
    if (!m_session->cloud() || uncounted < 1)
        return;
    const QJsonObject record = m_store.job(job);
    if (!m_session->cloud()->isRegistered()) {
        const auto mode = [device](const char* name) {
            const ZRDeviceProperty* parameter = device->property_ptr(name);
            return parameter ? parameter->value().toInt() : 0;
        };
        m_outbox->add(
            job, Outbox::recordOf(record, uncounted, mode("TASK_MODE"), mode("WORK_MODE")));
        return;
    }
    if (ZRDeviceProperty* fileInfo = device->property_ptr("TASK_FILE_INFO"))
        fileInfo->setValue(record.value(QLatin1String("file_info")).toObject());
    taskParameter(device, "TASK_START_TIME", QDateTime())
        ->setValue(QDateTime::fromString(
            record.value(QLatin1String("started_at")).toString(), Qt::ISODateWithMs)
                       .toLocalTime());
    taskParameter(device, "TASK", QJsonObject())
        ->setValue(QJsonObject { { "Status", TaskReport::Finished },
            { "FileName", record.value(QLatin1String("machine_job")).toString() },
            { "TaskCopies", record.value(QLatin1String("copies")).toInt() },
            { "Finished", uncounted }, { "Percent", 100 } });
    m_recordFor = job;
    device->stopTask();
    m_recordFor = 0;
}
