#include "jobrunner.h"

#include "linkstatus.h"
#include "zrdeviceproperty.h"

#include <QEventLoop>

JobRunner::JobRunner(ZRDeviceInterface* device, QObject* parent)
    : QObject(parent)
    , m_device(device)
{
    m_startTimer.setSingleShot(true);
    m_stopTimer.setSingleShot(true);
    connect(&m_startTimer, &QTimer::timeout, this, [this] {
        emit notice(QStringLiteral("No progress report within %1 s: stopping the task.")
                        .arg(m_startTimeoutMs / 1000.0));
        sendControl("TASK_STOP");
        end(NotStarted);
    });
    connect(&m_stopTimer, &QTimer::timeout, this, [this] {
        emit notice(
            QStringLiteral("The machine did not report the stop within %1 s; the task is closed.")
                .arg(m_stopTimeoutMs / 1000.0));
        end(Stopped);
    });
    connect(m_device, &ZRDeviceInterface::message, this, &JobRunner::onMessage);
}

bool JobRunner::start(const CutFile& file, int copies)
{
    if (m_outcome != Idle || !file.isValid() || copies < 1)
        return false;
    ZRDeviceProperty* mode = m_device->property_ptr("TASK_MODE");
    ZRDeviceProperty* taskCopies = m_device->property_ptr("TASK_COPIES");
    if (!mode || !taskCopies)
        return false;

    m_file = file;
    m_copies = copies;
    mode->setValue(0);
    taskCopies->setValue(copies);
    if (ZRDeviceProperty* info = m_device->property_ptr("TASK_FILE_INFO"))
        info->setValue(file.fileInfo());
    if (ZRDeviceProperty* preview = m_device->property_ptr("FILE_PREVIEW"))
        preview->setValue(file.previewPng());
    m_device->setPlt(file.text());

    m_outcome = Running;
    m_clock.start();
    m_startTimer.start(m_startTimeoutMs);
    m_device->startTask();
    return true;
}

JobRunner::Outcome JobRunner::waitForEnd()
{
    if (isRunning()) {
        QEventLoop loop;
        connect(this, &JobRunner::ended, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return m_outcome;
}

void JobRunner::sendControl(const char* name)
{
    if (ZRDeviceProperty* control = m_device->property_ptr(name))
        m_device->sendCMD(control->set_cmd_bytes());
}

void JobRunner::pause()
{
    if (isRunning() && !m_stopping)
        sendControl("TASK_PAUSE");
}

void JobRunner::resume()
{
    if (isRunning() && !m_stopping)
        sendControl("TASK_RESUME");
}

void JobRunner::stop()
{
    if (!isRunning())
        return;
    if (m_stopping) {
        end(Stopped);
        return;
    }
    m_stopping = true;
    m_startTimer.stop();
    sendControl("TASK_STOP");
    emit notice(QStringLiteral("Stop sent to the machine."));
    m_stopTimer.start(m_stopTimeoutMs);
}

void JobRunner::onMessage(ZRDeviceInterface::ZRDeviceMessage kind, const QString& text)
{
    if (!isRunning())
        return;
    if (kind == ZRDeviceInterface::DevStatus) {
        if (LinkStatus::isDown(text)) {
            m_linkStatus = text;
            end(LinkLost);
        }
        return;
    }
    TaskReport report;
    if (kind != ZRDeviceInterface::DevTasK || !TaskReport::parse(text, &report))
        return;

    m_startTimer.stop();
    ++m_reports;
    m_last = report;
    if (ZRDeviceProperty* task = m_device->property_ptr("TASK"))
        m_record = task->value().toJsonObject();
    emit progress(report);

    const bool allCut = report.copies > 0 && report.finished >= report.copies;
    if (report.status == TaskReport::Finished || (allCut && report.status != TaskReport::Stopped))
        end(Finished);
    else if (report.status == TaskReport::Stopped)
        end(Stopped);
}

void JobRunner::end(Outcome outcome)
{
    if (!isRunning())
        return;
    m_startTimer.stop();
    m_stopTimer.stop();
    m_elapsedMs = m_clock.elapsed();
    m_outcome = outcome;
    if (ZRDeviceProperty* task = m_device->property_ptr("TASK"))
        m_record = task->value().toJsonObject();
    // Closing the task posts the work record and resets the record; a job whose link is gone
    // may still be cutting, so it is not closed.
    if (outcome != LinkLost)
        m_device->stopTask();
    emit ended(outcome);
}

qint64 JobRunner::elapsedMs() const
{
    if (m_outcome == Idle)
        return 0;
    return m_outcome == Running ? m_clock.elapsed() : m_elapsedMs;
}

double JobRunner::cutMm() const
{
    const double perCopy = m_file.outline().penDownLengthMm();
    if (m_outcome == Finished)
        return perCopy * m_copies;
    return perCopy * m_copies * m_last.percent / 100.0;
}

QString JobRunner::summary() const
{
    QString what;
    switch (m_outcome) {
    case Finished:
        what = QStringLiteral("Job finished");
        break;
    case Stopped:
        what = QStringLiteral("Job stopped");
        break;
    case LinkLost:
        what = QStringLiteral("Link lost (%1)").arg(m_linkStatus);
        break;
    case NotStarted:
        what = QStringLiteral("Job did not start");
        break;
    case Idle:
        what = QStringLiteral("No job");
        break;
    case Running:
        what = QStringLiteral("Job running");
        break;
    }
    const double perCopy = m_file.outline().penDownLengthMm();
    // Short of the end only the reported share is known, which the machine rounds down.
    const QString cut = m_outcome == Finished ? QString() : QStringLiteral("about ");
    return QStringLiteral(
        "%1: %2 of %3 copies in %4 s (machine: %5 s cutting), %6%7 mm cut (%8 mm a copy)")
        .arg(what)
        .arg(m_last.finished)
        .arg(m_copies)
        .arg(elapsedMs() / 1000.0, 0, 'f', 1)
        .arg(m_last.seconds)
        .arg(cut)
        .arg(cutMm(), 0, 'f', 1)
        .arg(perCopy, 0, 'f', 1);
}
