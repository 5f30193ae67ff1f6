#include "session.h"

#include "zrdevicehost.h"
#include "zrdeviceproperty.h"

#include <zrcutfile.h>

#include <QFileInfo>
#include <QJsonObject>

// The session's jobs: one job sent and followed to its end, the machine's own job followed, and
// pause, resume and stop of the job the machine is running.

namespace {

// Bounds on what a machine service tells of its jobs' files.
constexpr int maxFiles = 1000;
constexpr int maxFileChars = 256;

} // namespace

void Session::control(Reply* reply)
{
    if (m_link != Up)
        return reply->finish(Result::LinkLost, notConnected);
    // The machine's state first: a machine on a job reports it within moments of the link.
    QTimer::singleShot(stateWaitMs(), reply, [this, reply] { sendControl(reply); });
}

void Session::sendControl(Reply* reply)
{
    static const char* const commands[] = { "TASK_PAUSE", "TASK_RESUME", "TASK_STOP" };
    const Request::Kind kind = reply->request().kind;
    ZRDeviceProperty* command = m_device->property_ptr(commands[kind - Request::Pause]);
    if (m_link != Up || !command)
        return reply->finish(Result::LinkLost, notConnected);
    // A paused job asked to pause (a cutting one to resume) is so already; the machine would
    // report nothing new.
    if ((kind == Request::Pause && m_state.status == TaskReport::Paused)
        || (kind == Request::Resume && m_state.status == TaskReport::Cutting)) {
        reply->m_result.last = m_state;
        reply->m_result.already = true;
        return reply->finish(Result::Done);
    }
    // Those answered or gone leave the list first, so that asking again and again cannot grow it.
    m_controls.erase(std::remove_if(m_controls.begin(), m_controls.end(),
                         [](const QPointer<Reply>& r) { return !r || r->isFinished(); }),
        m_controls.end());
    m_controls.append(reply);
    m_device->sendCMD(command->set_cmd_bytes());
    QTimer::singleShot(m_options.replyTimeoutMs, reply, [this, reply] {
        reply->finish(Result::NoAnswer,
            QStringLiteral("no progress report showed it within %1 ms (is a job running?)")
                .arg(m_options.replyTimeoutMs));
    });
}

void Session::learnFiles(const QJsonArray& jobs)
{
    // Oldest first, so that the newest job of a name the machine gave twice tells its file.
    for (int i = jobs.size() - 1; i >= 0; --i) {
        const QJsonObject job = jobs.at(i).toObject();
        const QString machineJob
            = job.value(QLatin1String("machine_job")).toString().left(maxFileChars);
        const QString file = job.value(QLatin1String("file")).toString().left(maxFileChars);
        if (machineJob.isEmpty() || file.isEmpty())
            continue;
        if (m_files.size() >= maxFiles && !m_files.contains(machineJob))
            m_files.clear();
        m_files.insert(machineJob, file);
    }
}

void Session::startJob(Reply* reply)
{
    if (m_job.reply)
        return reply->finish(Result::Busy, QStringLiteral("this host is running a job already"));
    // Bytes the machine's frames cannot carry are refused before anything is sent.
    const Request& request = reply->request();
    QString unsafe;
    if (request.follow.isEmpty()
        && (request.plt.isEmpty() || !ZRCut::checkFrameSafe(request.plt, &unsafe)))
        return reply->finish(
            Result::OutOfRange, request.plt.isEmpty() ? QStringLiteral("nothing to cut") : unsafe);
    if (m_link != Up)
        return reply->finish(Result::LinkLost, notConnected);
    if (!m_device->property_ptr("TASK_MODE") || !m_device->property_ptr("TASK_COPIES"))
        return reply->finish(Result::Refused, QStringLiteral("the device has no task parameters"));
    m_job.reply = reply;
    m_job.own = request.follow;
    m_job.sent = false;
    m_job.stopping = false;
    connect(reply, &Reply::cancelRequested, this, [this] {
        if (!m_job.sent)
            return endJob(Result::Cancelled, QStringLiteral("nothing was sent"));
        if (m_job.stopping)
            return endJob(
                Result::Cancelled, QStringLiteral("the machine has not confirmed the stop"));
        m_job.stopping = true;
        m_device->sendCMD(m_device->property_ptr("TASK_STOP")->set_cmd_bytes());
        emit notice(QStringLiteral("Stop sent to the machine."));
        m_job.deadline.start(m_options.replyTimeoutMs * 3);
    });
    // A job the machine is cutting already is followed as it reports.
    if (!request.follow.isEmpty()) {
        m_job.sent = true;
        m_job.clock.start();
        m_job.deadline.start(m_options.replyTimeoutMs * 10);
        return;
    }
    // The machine's state first: a machine cutting another job reports it within moments.
    QTimer::singleShot(stateWaitMs(), this, &Session::sendJob);
}

void Session::sendJob()
{
    if (!m_job.reply || m_job.sent)
        return;
    if (isJobOn())
        return endJob(Result::Busy,
            QStringLiteral("the machine is busy with %1 (%2, %3 %); wait for it to end, or stop "
                           "it with zrhost stop")
                .arg(m_state.fileName, Protocol::statusText(m_state.status),
                    QString::number(m_state.percent)));
    const Request& request = m_job.reply->request();
    m_device->property_ptr("TASK_MODE")->setValue(0);
    m_device->property_ptr("TASK_COPIES")->setValue(request.copies);
    if (ZRDeviceProperty* info = m_device->property_ptr("TASK_FILE_INFO"))
        info->setValue(request.fileInfo);
    if (ZRDeviceProperty* preview = m_device->property_ptr("FILE_PREVIEW"))
        preview->setValue(request.preview);
    // The device holds the HP-GL as text from here on; the request's bytes are let go first, so
    // that a job sent by a service that holds nothing else of it is held twice, not three times.
    const QString plt = QString::fromLatin1(request.plt);
    m_job.reply->m_request.plt.clear();
    m_device->setPlt(plt);
    m_job.sent = true;
    m_job.clock.start();
    m_job.deadline.start(m_options.replyTimeoutMs * 10);
    m_device->startTask();
}

void Session::onJobReport(const TaskReport& report)
{
    if (!m_job.reply || !m_job.sent)
        return;
    if (m_job.own.isEmpty()) {
        // The first report of a job the machine had not reported before, for these copies.
        if (m_jobsSeen.contains(report.fileName) || report.finished != 0
            || report.copies != m_job.reply->request().copies)
            return endJob(Result::Busy,
                QStringLiteral("the machine went on with %1 and did not take the file")
                    .arg(report.fileName));
        m_job.own = report.fileName;
    }
    if (report.fileName != m_job.own)
        return;
    // A followed job is ours only while its reports go on from what was confirmed of it.
    const Request& request = m_job.reply->request();
    const TaskReport& before = m_job.reply->m_result.last.fileName.isEmpty()
        ? request.confirmed
        : m_job.reply->m_result.last;
    if (!request.follow.isEmpty() && !before.fileName.isEmpty() && !continues(before, report))
        return endJob(Result::NoAnswer,
            QStringLiteral("the machine reports %1 with %2 of %3 copies at %4 %, which does not "
                           "go on from %5 of %6 at %7 %: it restarted, or the job is another "
                           "host's")
                .arg(report.fileName, QString::number(report.finished),
                    QString::number(report.copies), QString::number(report.percent),
                    QString::number(before.finished), QString::number(before.copies),
                    QString::number(before.percent)));
    if (!request.file.isEmpty())
        learnFiles({ QJsonObject { { "machine_job", report.fileName },
            { "file", QFileInfo(request.file).fileName() } } });
    if (!m_job.stopping)
        m_job.deadline.stop();
    Result& result = m_job.reply->m_result;
    result.last = report;
    result.record = m_device->property_ptr("TASK")->value().toJsonObject();
    result.elapsedMs = m_job.clock.elapsed();
    emit m_job.reply->progress(report);
    if (report.status == TaskReport::Stopped)
        endJob(Result::Stopped);
    else if (report.status == TaskReport::Finished || report.allCut())
        endJob(Result::Done);
}

void Session::endJob(Result::Outcome outcome, const QString& reason)
{
    Reply* reply = m_job.reply;
    if (!reply)
        return;
    m_job.reply = nullptr;
    m_job.deadline.stop();
    disconnect(reply, &Reply::cancelRequested, this, nullptr);
    if (m_job.sent)
        reply->m_result.elapsedMs = m_job.clock.elapsed();
    // Closing the task posts the work record and resets the record: only for a job the machine
    // has ended.
    if (outcome == Result::Done || outcome == Result::Stopped)
        m_device->stopTask();
    reply->finish(outcome, reason);
}
