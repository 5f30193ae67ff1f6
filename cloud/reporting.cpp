#include "zrcommoninterface.h"

#include "corvanecloud.h"
#include "remotereports.h"
#include "zrdeviceproperty.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QWebSocket>

#include <cmath>
#include <limits>

namespace {

int integerValueOf(ZRDeviceProperty* parameter)
{
    return parameter ? parameter->value().toInt() : 0;
}

// The task file's path length, rounded to the nearest integer: a length measured along curves is
// rarely a whole number. Beyond int's range it saturates; what is no number reads as 0.
int pathLengthOf(const QJsonValue& value)
{
    const double rounded = std::round(value.toDouble());
    if (std::isnan(rounded))
        return 0;
    return int(
        qBound<double>(std::numeric_limits<int>::min(), rounded, std::numeric_limits<int>::max()));
}

} // namespace

void ZRCommonInterface::device_task_to_cloud()
{
    if (!web_socket)
        return;
    ZRDeviceProperty* task = property_ptr("TASK");
    if (!task || !RemoteReports::of(this, web_socket)->maySend())
        return;

    // The preview goes into this message only; the task record itself never carries it.
    QJsonObject runtime = task->value().toJsonObject();
    if (ZRDeviceProperty* preview = property_ptr("FILE_PREVIEW")) {
        const QByteArray bytes = preview->value().toByteArray();
        runtime.insert(QStringLiteral("FilePreview"),
            bytes.isEmpty() ? QJsonValue(QJsonValue::Null)
                            : QJsonValue(QString::fromLatin1(bytes.toBase64())));
    }

    const QJsonObject report {
        { QStringLiteral("actions"), QJsonArray { QStringLiteral("Runtime") } },
        { QStringLiteral("message"), QJsonObject { { QStringLiteral("Runtime"), runtime } } },
        { QStringLiteral("sender"), QStringLiteral("Device") },
    };
    // A socket that is not connected drops the text; nothing is queued for later.
    web_socket->sendTextMessage(
        QString::fromUtf8(QJsonDocument(report).toJson(QJsonDocument::Compact)));
}

void ZRCommonInterface::device_task_record_to_cloud()
{
    // A work record needs a registered device and a job that finished at least one copy of a
    // known file.
    if (!property_ptr("DEVICE_CLOUD"))
        return;
    if (cloud_device.value(QLatin1String("id")).toInt(-1) == -1)
        return;
    ZRDeviceProperty* task = property_ptr("TASK");
    if (!task)
        return;
    const QJsonObject record = task->value().toJsonObject();
    const QJsonValue taskCopies = record.value(QLatin1String("TaskCopies"));
    const QJsonValue finished = record.value(QLatin1String("Finished"));
    if (taskCopies.toInt() == 0 || finished.toInt() == 0)
        return;
    ZRDeviceProperty* fileInfo = property_ptr("TASK_FILE_INFO");
    if (!fileInfo)
        return;
    const QJsonObject file = fileInfo->value().toJsonObject();
    const int pathLength = pathLengthOf(file.value(QLatin1String("path_length")));
    if (pathLength == 0)
        return;
    ZRDeviceProperty* startTime = property_ptr("TASK_START_TIME");
    if (!startTime)
        return;

    const int height = file.value(QLatin1String("heigth")).toInt();
    const int width = file.value(QLatin1String("width")).toInt();
    // The service stores the area in 32 bits; an absurd file size wraps instead of overflowing.
    const int pageArea = int(quint32(height) * quint32(width));
    // A start time that is missing (null) or ahead of the clock gives no negative duration.
    const qint64 taskTime
        = qMax<qint64>(0, startTime->value().toDateTime().secsTo(QDateTime::currentDateTime()));

    QJsonObject body;
    body.insert(QStringLiteral("end_time"),
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzzz")));
    body.insert(QStringLiteral("task_time"), taskTime);
    body.insert(QStringLiteral("softwareType"), 3);
    body.insert(QStringLiteral("task_copies"), taskCopies);
    body.insert(QStringLiteral("finish_copies"), finished);
    body.insert(QStringLiteral("device"), cloud_device.value(QLatin1String("id")));
    body.insert(QStringLiteral("page_area"), pageArea);
    body.insert(QStringLiteral("page_size"), QStringLiteral("%1x%2").arg(height).arg(width));
    body.insert(QStringLiteral("path_length"), pathLength);
    body.insert(QStringLiteral("task_model"), integerValueOf(property_ptr("TASK_MODE")));
    body.insert(QStringLiteral("work_model"), integerValueOf(property_ptr("WORK_MODE")));
    cloud_device_workrecord(body);
}

void ZRCommonInterface::cloud_device_workrecord(QJsonObject body)
{
    if (!corvane_cloud)
        return;
    corvane_cloud->customRequest(QStringLiteral("device_work_records"), "POST", body, nullptr);
}

void ZRCommonInterface::device_info_to_cloud() { }
