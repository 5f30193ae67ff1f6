#include "carriage.h"

#include "jobcheck.h"

#include "jobstatus.h"
#include "restcut.h"
#include "values.h"
#include "zrdeviceinterface.h"
#include "zrdeviceproperty.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <cmath>

namespace Carriage {

namespace {

const char* const kinds[] = { "read", "write", "job", "pause", "resume", "stop", "jog", "origin",
    "back", "status", "history", "move", "cancel", "rest" };

constexpr int maxNames = 1024;
constexpr int maxText = 4096;
// A report is one of the machine's frames, which the device bounds.
constexpr int maxReportChars = 64 * 1024;
constexpr int maxJobs = 10000;
constexpr int maxPreviewBytes = 1024 * 1024;

// At most maxNames strings of at most maxText characters each.
QStringList strings(const QJsonValue& value)
{
    QStringList list;
    const QJsonArray items = value.toArray();
    for (int i = 0; i < items.size() && i < maxNames; ++i)
        list.append(items.at(i).toString().left(maxText));
    return list;
}

qint64 whole(const QJsonObject& json, const char* key, qint64 fallback = 0)
{
    const QJsonValue value = json.value(QLatin1String(key));
    return value.isDouble() ? qint64(qBound(-1e15, value.toDouble(), 1e15)) : fallback;
}

// A short text for the user, shown as it is: control characters escaped.
QString shortText(const QJsonValue& value, int max = 256)
{
    return ZRDevice::printable(value.toString().left(max));
}

// What a job's sender figured of its HP-GL (CutFile::fileInfo()): the known numbers, each whole
// and 0 to 10^9; none without a path length of a millimetre or more (a sender that has not
// measured its file says 0), so that the receiver measures the HP-GL itself.
QJsonObject figuresOf(const QJsonObject& json, const QString& file, qint64 bytes)
{
    const QJsonObject info = json.value(QLatin1String("file_info")).toObject();
    if (whole(info, "path_length") < 1)
        return QJsonObject();
    QJsonObject figures { { "name", file }, { "bytes", double(bytes) } };
    for (const char* key : { "width", "heigth", "path_length", "travel_length" })
        figures.insert(
            QLatin1String(key), double(qBound(qint64(0), whole(info, key), qint64(1e9))));
    return figures;
}

// The bytes of a Base64 text of at most max bytes; false when it is longer or not Base64.
bool base64(const QJsonObject& json, const char* key, int max, QByteArray* bytes)
{
    const QByteArray text = json.value(QLatin1String(key)).toString().toLatin1();
    if (text.size() > (max / 3 + 1) * 4)
        return false;
    auto decoded = QByteArray::fromBase64Encoding(text);
    *bytes = decoded ? std::move(decoded.decoded) : QByteArray();
    return bool(decoded);
}

bool fail(QString* error, const QString& text)
{
    *error = text;
    return false;
}

} // namespace

qint64 announcedBytes(const QJsonObject& request)
{
    const qint64 bytes = whole(request, "content_bytes");
    return bytes >= 1 && bytes <= maxContentBytes ? bytes : 0;
}

QString messageText(const QJsonObject& message)
{
    return QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact));
}

QJsonObject fromRequest(const Request& request)
{
    QJsonObject json { { "kind", QLatin1String(kinds[request.kind]) } };
    if (!request.names.isEmpty())
        json.insert("names", QJsonArray::fromStringList(request.names));
    if (!request.values.isEmpty())
        json.insert("values", QJsonArray::fromStringList(request.values));
    if (request.raw)
        json.insert("raw", true);
    if (request.kind == Request::Job) {
        json.insert("file", QFileInfo(request.file).fileName());
        json.insert("copies", request.copies);
        json.insert("content_bytes", double(request.plt.size()));
        if (!request.fileInfo.isEmpty())
            json.insert("file_info", request.fileInfo);
        if (!request.preview.isEmpty())
            json.insert("preview", QString::fromLatin1(request.preview.toBase64()));
    }
    if (request.kind == Request::Jog) {
        json.insert("x", request.x);
        json.insert("y", request.y);
    }
    if (!request.by.isEmpty())
        json.insert("by", request.by);
    if (request.kind == Request::MoveQueued || request.kind == Request::CancelQueued
        || request.kind == Request::Rest)
        json.insert("job", double(request.job));
    if (request.kind == Request::MoveQueued)
        json.insert("position", request.position);
    if (request.fromContour)
        json.insert("from_contour", true);
    return json;
}

bool toRequest(const QJsonObject& json, Request* request, QString* error)
{
    const QString kind = json.value(QLatin1String("kind")).toString();
    const auto found = std::find(std::begin(kinds), std::end(kinds), kind);
    if (found == std::end(kinds))
        return fail(error, QStringLiteral("there is no request \"%1\"").arg(shortText(kind, 40)));
    *request = Request::of(Request::Kind(found - std::begin(kinds)));
    static const QRegularExpression parameterName(QStringLiteral("^[A-Z0-9_]{1,64}$"));
    const QJsonArray names = json.value(QLatin1String("names")).toArray();
    if (names.size() > maxNames)
        return fail(error, QStringLiteral("more than %1 names").arg(maxNames));
    for (const QJsonValue& name : names) {
        const QString upper = name.toString().toUpper();
        if (!parameterName.match(upper).hasMatch())
            return fail(
                error, QStringLiteral("\"%1\" is no parameter name").arg(shortText(name, 64)));
        request->names.append(upper);
    }
    request->values = strings(json.value(QLatin1String("values")));
    if (request->kind == Request::Write && request->values.size() != request->names.size())
        return fail(error, QStringLiteral("a write wants one value for each name"));
    request->raw = json.value(QLatin1String("raw")).toBool();
    request->by = shortText(json.value(QLatin1String("by")), 64);
    if (request->kind == Request::Job) {
        request->file = QFileInfo(shortText(json.value(QLatin1String("file")))).fileName();
        const QJsonValue copies = json.value(QLatin1String("copies"));
        // A whole number, not a text that looks like one.
        const double count = copies.isUndefined() ? 1 : copies.toDouble(-1);
        const QString wrong
            = JobCheck::copies(count == std::floor(count) ? qint64(qBound(-1.0, count, 1e6)) : -1);
        if (announcedBytes(json) == 0)
            return fail(error,
                QStringLiteral("a job announces its HP-GL (content_bytes), at most %1 MB, and "
                               "sends it as one binary message")
                    .arg(maxContentBytes >> 20));
        // The picture is only shown and passed on; one that is not a PNG is left out.
        if (!base64(json, "preview", maxPreviewBytes, &request->preview)
            || !request->preview.startsWith("\x89PNG"))
            request->preview.clear();
        if (request->file.isEmpty())
            request->file = QStringLiteral("job.plt");
        request->fileInfo = figuresOf(json, request->file, announcedBytes(json));
        if (!wrong.isEmpty())
            return fail(error, wrong);
        request->copies = int(count);
    }
    request->x = int(whole(json, "x"));
    request->y = int(whole(json, "y"));
    if (qAbs(request->x) > 1 || qAbs(request->y) > 1)
        return fail(error, QStringLiteral("a jog moves each axis by -1, 0 or +1"));
    request->job = whole(json, "job");
    request->fromContour = json.value(QLatin1String("from_contour")).toBool();
    request->position = int(qBound(qint64(1), whole(json, "position", 1), qint64(maxJobs)));
    return true;
}

QJsonObject fromResult(const Result& result)
{
    QJsonObject json { { "outcome", QLatin1String(Result::facts(result.outcome).name) } };
    const auto add = [&json](const char* key, const QStringList& list) {
        if (!list.isEmpty())
            json.insert(QLatin1String(key), QJsonArray::fromStringList(list));
    };
    if (!result.reason.isEmpty())
        json.insert("reason", result.reason);
    add("unanswered", result.unanswered);
    add("refused", result.refused);
    add("local", result.local);
    if (result.last.status != 0 || !result.last.fileName.isEmpty())
        json.insert("last", fromReport(result.last));
    if (result.already)
        json.insert("already", true);
    if (!result.record.isEmpty())
        json.insert("record", result.record);
    if (result.elapsedMs != 0)
        json.insert("elapsed_ms", double(result.elapsedMs));
    if (!result.values.isEmpty())
        json.insert("values", result.values);
    if (!result.jobs.isEmpty())
        json.insert("jobs", result.jobs);
    return json;
}

Result toResult(const QJsonObject& json)
{
    Result result;
    result.reason = shortText(json.value(QLatin1String("reason")), maxText);
    if (!Result::named(json.value(QLatin1String("outcome")).toString(), &result.outcome)) {
        result.outcome = Result::Refused;
        result.reason = QStringLiteral("the service answered something unknown");
    }
    result.unanswered = strings(json.value(QLatin1String("unanswered")));
    result.refused = strings(json.value(QLatin1String("refused")));
    result.local = strings(json.value(QLatin1String("local")));
    result.last = toReport(json.value(QLatin1String("last")).toObject());
    result.already = json.value(QLatin1String("already")).toBool();
    result.record = json.value(QLatin1String("record")).toObject();
    result.elapsedMs = whole(json, "elapsed_ms");
    result.values = json.value(QLatin1String("values")).toObject();
    const QJsonArray jobs = json.value(QLatin1String("jobs")).toArray();
    for (int i = 0; i < jobs.size() && i < maxJobs; ++i)
        result.jobs.append(jobs.at(i).toObject());
    return result;
}

QJsonObject fromReport(const TaskReport& report)
{
    return { { "text", report.text }, { "status", report.status }, { "file", report.fileName },
        { "copies", report.copies }, { "finished", report.finished }, { "percent", report.percent },
        { "seconds", report.seconds } };
}

TaskReport toReport(const QJsonObject& json)
{
    // Read from the machine's own text, the one way every report is read.
    TaskReport report;
    TaskReport::parse(json.value(QLatin1String("text")).toString().left(maxReportChars), &report);
    return report;
}

QStringList jobRow(const QJsonObject& job)
{
    const auto text = [&job](const char* key) {
        return ZRDevice::printable(job.value(QLatin1String(key)).toVariant().toString().left(200));
    };
    const auto time = [&text](const char* key) {
        return QDateTime::fromString(text(key), Qt::ISODateWithMs).toLocalTime();
    };
    const qint64 took = time("started_at").secsTo(time("ended_at"));
    const QString cloud = job.value(QLatin1String("work_record")).toObject().isEmpty()
        ? QStringLiteral("-")
        : !text("cloud_delivered_at").isEmpty()
        ? QStringLiteral("taken")
        : QStringLiteral("waiting: ") + text("cloud_answer");
    const qint64 restOf = whole(job, "rest_of");
    const qint64 fromContour
        = whole(job.value(QLatin1String("plan")).toObject(), RestCut::fromContourKey);
    const QString rest = fromContour > 0
        ? QStringLiteral(" (rest of #%1 from contour %2)")
              .arg(QString::number(restOf), QString::number(fromContour))
        : QStringLiteral(" (rest of #%1)").arg(restOf);
    return { text("id"), time("submitted_at").toString(QStringLiteral("yyyy-MM-dd hh:mm")),
        restOf > 0 ? text("file") + rest : text("file"),
        QStringLiteral("%1/%2").arg(
            QString::number(job.value(QLatin1String("copies_done")).toInt()), text("copies")),
        JobStatus::text(text("status")),
        QString::number(job.value(QLatin1String("cut_mm")).toDouble(), 'f', 0),
        took > 0 ? Protocol::clockText(took) : QStringLiteral("-"), text("submitted_by"), cloud };
}

QJsonObject valuesOf(ZRDeviceInterface* device, const QStringList& names)
{
    QJsonObject values;
    for (const Values::Entry& entry : Values::tree(device, Values::latin1(names))) {
        const QVariant value = device->property_ptr(entry.name.constData())->value();
        static const QList<int> carried { QMetaType::Int, QMetaType::UInt, QMetaType::LongLong,
            QMetaType::Double, QMetaType::Bool, QMetaType::QString, QMetaType::QJsonObject };
        if (carried.contains(value.userType()))
            values.insert(QString::fromLatin1(entry.name), QJsonValue::fromVariant(value));
    }
    return values;
}

void applyValues(ZRDeviceInterface* device, const QJsonObject& values)
{
    for (auto it = values.begin(); it != values.end(); ++it) {
        ZRDeviceProperty* parameter = device->property_ptr(it.key().toLatin1().constData());
        if (!parameter)
            continue;
        const int type = parameter->value().userType();
        QVariant value = it.value().toVariant();
        if (type == QMetaType::QJsonObject && it.value().isObject())
            parameter->setValue(it.value().toObject());
        else if (type != QMetaType::QJsonObject && !it.value().isObject() && value.convert(type))
            parameter->setValue(value);
    }
}

} // namespace Carriage
