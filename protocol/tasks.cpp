#include "zrcommoninterface.h"
#include "zrcommoninterface_p.h"

#include "hanging.h"
#include "numbers.h"
#include "replyframe.h"
#include "taskfields.h"
#include "zrdeviceproperty.h"

#include <QDateTime>
#include <QJsonObject>

#include <cmath>

namespace {

const QLatin1String statusKey("Status");
const QLatin1String fileNameKey("FileName");
const QLatin1String taskCopiesKey("TaskCopies");
const QLatin1String finishedKey("Finished");
const QLatin1String percentKey("Percent");

// The five task keys alone, in the order a QJsonObject keeps its keys, and where each value
// stands in it.
enum TaskKeyAt { FileNameAt, FinishedAt, PercentAt, StatusAt, TaskCopiesAt };

const QJsonObject& taskKeysAlone()
{
    static const QJsonObject keys { { fileNameKey, QString() }, { finishedKey, 0 },
        { percentKey, 0 }, { statusKey, 0 }, { taskCopiesKey, 0 } };
    return keys;
}

bool holdsTaskKeysAlone(const QJsonObject& record)
{
    return record.size() == 5 && record.contains(fileNameKey) && record.contains(finishedKey)
        && record.contains(percentKey) && record.contains(statusKey)
        && record.contains(taskCopiesKey);
}

} // namespace

bool readTaskFields(const QString& text, ZRDevice::TaskReport* report, int* recordPercent)
{
    // 66, status, file name, copies ordered, copies finished, percent, seconds, and two fields
    // that must be there but are not read.
    QStringView fields[7];
    qsizetype from = 0;
    for (int i = 0; i < 9; ++i) {
        const qsizetype comma = ReplyFrame::find(text, u',', from);
        if (comma < 0 && i < 8)
            return false;
        if (i < 7)
            fields[i] = QStringView(text).mid(from, comma - from);
        from = comma + 1;
    }
    report->status = numberOrZero(fields[1]);
    report->fileName = fields[2].toString();
    report->copies = numberOrZero(fields[3]);
    report->finished = numberOrZero(fields[4]);
    // The record keeps the percentage truncated; the host gets it whole, within 0 to 100, and 0
    // wherever the record reads 0 for want of a number.
    *recordPercent = percentOrZero(fields[5]);
    bool ok = false;
    const double percent = fields[5].toDouble(&ok);
    report->percent = ok && std::isfinite(percent) && std::abs(std::trunc(percent)) < 2147483648.0
        ? qBound(0.0, percent, 100.0)
        : 0.0;
    report->seconds = numberOrZero(fields[6]);
    report->text = text;
    return true;
}

// The task record with the five task keys replaced and every other key kept. Replacing a string
// in a QJsonObject taken out of a QVariant keeps the old text in its storage, and a long job
// reports thousands of times: so the record is the last one with its numbers replaced while the
// file name stays (numbers take no storage), and a copy of the five keys with all values set
// when the file changes. A record with other keys is built afresh.
QJsonObject ZRCommonInterface::task_record_of(const QJsonObject& previous, int status,
    QStringView fileName, int taskCopies, int finished, int percent)
{
    QJsonObject record;
    QJsonObject& last = d->task_record;
    const bool lastOwn = !last.isEmpty() && previous == last;
    if (lastOwn && fileName == d->task_file_name) {
        record = previous;
    } else if (lastOwn || previous.isEmpty() || holdsTaskKeysAlone(previous)) {
        record = taskKeysAlone();
        d->task_file_name = fileName.toString();
        (record.begin() + FileNameAt).value() = d->task_file_name;
    } else {
        for (auto it = previous.constBegin(); it != previous.constEnd(); ++it) {
            const QString key = it.key();
            if (key != statusKey && key != fileNameKey && key != taskCopiesKey && key != finishedKey
                && key != percentKey)
                record.insert(key, it.value());
        }
        record.insert(statusKey, status);
        record.insert(fileNameKey, fileName.toString());
        record.insert(taskCopiesKey, taskCopies);
        record.insert(finishedKey, finished);
        record.insert(percentKey, percent);
        last = QJsonObject();
        return record;
    }
    const QJsonObject::iterator values = record.begin();
    (values + FinishedAt).value() = finished;
    (values + PercentAt).value() = percent;
    (values + StatusAt).value() = status;
    (values + TaskCopiesAt).value() = taskCopies;
    last = record;
    return record;
}

void ZRCommonInterface::startTask()
{
    const ZRDeviceProperty* taskMode = property_ptr("TASK_MODE");
    const int mode = taskMode ? taskMode->value().toInt() : 0;

    if (mode == 0) {
        const ZRDeviceProperty* copies = property_ptr("TASK_COPIES");
        if (!copies)
            return;
        sendCMD(copies->set_cmd_bytes());
        const ZRDeviceProperty* plt = property_ptr("TASK_PLT");
        if (!plt)
            return;
        sendCMD(plt->set_cmd_bytes());
    } else if (mode == 1) {
        const ZRDeviceProperty* copies = property_ptr("QRCODE_COPIES");
        if (!copies)
            return;
        sendCMD(copies->set_cmd_bytes());
    }

    ZRDeviceProperty* startTime = property_ptr("TASK_START_TIME");
    if (!startTime) {
        startTime = new ZRDeviceProperty;
        startTime->init(QDateTime::currentDateTime(), QString(), QString(), 0, 0, 0, UnCMD, {});
        adoptParameter(this, "TASK_START_TIME", startTime);
    }
    startTime->setValue(QDateTime::currentDateTime());
}

void ZRCommonInterface::stopTask()
{
    // The work record describes the job that is ending, so it goes out before anything is reset.
    device_task_record_to_cloud();

    if (ZRDeviceProperty* startTime = property_ptr("TASK_START_TIME"))
        startTime->setValue(QDateTime());
    if (ZRDeviceProperty* task = property_ptr("TASK"))
        task->setValue(task_record_of(task->value().toJsonObject(), 0, {}, 0, 0, 100));
}

void ZRCommonInterface::decode_task(QString report)
{
    ZRDeviceProperty* task = property_ptr("TASK");
    if (!task) {
        task = new ZRDeviceProperty;
        task->init(QJsonObject(), tr("当前任务"), QString(), 0, 0, 0, UnCMD, {});
        adoptParameter(this, "TASK", task);
    }

    ZRDevice::TaskReport read;
    int percent = 0;
    if (!readTaskFields(report, &read, &percent))
        return;
    task->setValue(task_record_of(task->value().toJsonObject(), read.status, read.fileName,
        read.copies, read.finished, percent));
    emit message(DevTasK, report);
    device_task_to_cloud();
}
