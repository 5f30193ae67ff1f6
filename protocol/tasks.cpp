#include "zrcommoninterface.h"

#include "hanging.h"
#include "numbers.h"
#include "replyframe.h"
#include "zrdeviceproperty.h"

#include <QDateTime>
#include <QJsonObject>

#include <cmath>
#include <limits>

namespace {

const QLatin1String statusKey("Status");
const QLatin1String fileNameKey("FileName");
const QLatin1String taskCopiesKey("TaskCopies");
const QLatin1String finishedKey("Finished");
const QLatin1String percentKey("Percent");

// The machine sends the percentage as a decimal number; it is kept truncated toward zero. A
// corrupted line may carry "inf", "nan" or a huge exponent, which no int can hold.
int percentField(QStringView text)
{
    bool ok = false;
    const double number = std::trunc(text.toDouble(&ok));
    if (!ok || !std::isfinite(number) || number < double(std::numeric_limits<int>::min())
        || number > double(std::numeric_limits<int>::max()))
        return 0;
    return int(number);
}

// The task record with the five task keys replaced and every other key kept. It is built afresh
// rather than edited in place: replacing a string in a QJsonObject taken out of a QVariant keeps
// the old text in its storage, and a long job replaces "FileName" thousands of times.
QJsonObject taskRecord(const QJsonObject& previous, int status, const QString& fileName,
    int taskCopies, int finished, int percent)
{
    QJsonObject record;
    // Usually the record holds the task keys alone, and nothing else is to be kept.
    const bool onlyTaskKeys = previous.size() == 5 && previous.contains(statusKey)
        && previous.contains(fileNameKey) && previous.contains(taskCopiesKey)
        && previous.contains(finishedKey) && previous.contains(percentKey);
    for (auto it = previous.constBegin(); !onlyTaskKeys && it != previous.constEnd(); ++it) {
        const QString key = it.key();
        if (key != statusKey && key != fileNameKey && key != taskCopiesKey && key != finishedKey
            && key != percentKey)
            record.insert(key, it.value());
    }
    record.insert(statusKey, status);
    record.insert(fileNameKey, fileName);
    record.insert(taskCopiesKey, taskCopies);
    record.insert(finishedKey, finished);
    record.insert(percentKey, percent);
    return record;
}

} // namespace

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
        task->setValue(taskRecord(task->value().toJsonObject(), 0, QString(), 0, 0, 100));
}

void ZRCommonInterface::decode_task(QString report)
{
    ZRDeviceProperty* task = property_ptr("TASK");
    if (!task) {
        task = new ZRDeviceProperty;
        task->init(QJsonObject(), tr("当前任务"), QString(), 0, 0, 0, UnCMD, {});
        adoptParameter(this, "TASK", task);
    }

    // 66, status, file name, copies ordered, copies finished, percent, and three fields that
    // must be there but are not read.
    QStringView fields[6];
    qsizetype from = 0;
    for (int i = 0; i < 9; ++i) {
        const qsizetype comma = ReplyFrame::find(report, u',', from);
        if (comma < 0 && i < 8)
            return;
        if (i < 6)
            fields[i] = QStringView(report).mid(from, comma - from);
        from = comma + 1;
    }

    task->setValue(
        taskRecord(task->value().toJsonObject(), numberOrZero(fields[1]), fields[2].toString(),
            numberOrZero(fields[3]), numberOrZero(fields[4]), percentField(fields[5])));
    emit message(DevTasK, report);
    device_task_to_cloud();
}
