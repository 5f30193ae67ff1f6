#include "zrcommoninterface.h"
#include "zrcommoninterface_p.h"

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

// The machine sends the percentage as a decimal number; it is kept truncated toward zero. The
// usual form, digits and a decimal fraction, is cut at the point; anything else is read as a
// real number. A corrupted line may carry "inf", "nan" or a huge exponent, which no int can hold.
int percentField(QStringView text)
{
    const char16_t* at = text.utf16();
    const char16_t* end = at + text.size();
    const bool negative = at != end && *at == u'-';
    at += negative;
    qint64 whole = 0;
    const char16_t* digits = at;
    for (; at != end && *at >= u'0' && *at <= u'9'; ++at)
        whole = qMin<qint64>(whole * 10 + (*at - u'0'), qint64(1) << 32);
    bool plain = at != digits;
    if (plain && at != end) {
        const bool point = *at++ == u'.';
        const char16_t* fraction = at;
        while (at != end && *at >= u'0' && *at <= u'9')
            ++at;
        plain = point && at != fraction && at == end;
    }
    if (plain) {
        whole = negative ? -whole : whole;
        return whole >= std::numeric_limits<int>::min() && whole <= std::numeric_limits<int>::max()
            ? int(whole)
            : 0;
    }
    bool ok = false;
    const double number = std::trunc(text.toDouble(&ok));
    if (!ok || !std::isfinite(number) || number < double(std::numeric_limits<int>::min())
        || number > double(std::numeric_limits<int>::max()))
        return 0;
    return int(number);
}

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

    task->setValue(task_record_of(task->value().toJsonObject(), numberOrZero(fields[1]), fields[2],
        numberOrZero(fields[3]), numberOrZero(fields[4]), percentField(fields[5])));
    emit message(DevTasK, report);
    device_task_to_cloud();
}
