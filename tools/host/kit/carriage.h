#pragma once

#include "request.h"

#include <QJsonObject>

class ZRDeviceInterface;

// Requests, results and progress reports as JSON objects, the way the machine service and its
// clients carry them over a WebSocket, in one place. What comes in is checked and bounded: a
// request that does not hold together is refused with a reason; a result's texts and lists are
// cut to size.
//
//   request  {"kind": "read" | "write" | "job" | "pause" | "resume" | "stop" | "jog" | "origin" |
//             "back" | "status" | "history" | "move" | "cancel" | "rest", "names": [..],
//             "values": [..], "raw": bool, "file": name, "content_bytes": n, "file_info": {..},
//             "preview": PNG in base64, "copies": n, "x": -1..1, "y": -1..1, "by": who,
//             "job": id, "position": n, "from_contour": bool}          (only what the kind uses)
//            A job's HP-GL is not in its JSON: "content_bytes" announces it, and it follows as
//            the one binary message of exactly that size; "file_info" is what the sender figured
//            of it (see CutFile::fileInfo()), whole numbers taken as they come, bounded.
//   result   {"outcome": "done" | "stopped" | "link-lost" | "refused" | "busy" | "no-answer" |
//             "out-of-range" | "read-only" | "unknown" | "cancelled", "reason", "unanswered",
//             "refused", "local", "last": report, "already", "record", "elapsed_ms", "values", "jobs"}
//   report   {"text": the machine's report as it sent it, and its fields read: "status", "file",
//             "copies", "finished", "percent", "seconds"}; a receiver reads only the text
namespace Carriage {

// The largest HP-GL a job may carry.
constexpr int maxContentBytes = 64 * 1024 * 1024;

// The size of the HP-GL a job request announces: 1 to maxContentBytes, or 0 when it announces
// none it may.
qint64 announcedBytes(const QJsonObject& request);

// A message as it goes over the WebSocket: the object as one line of JSON text.
QString messageText(const QJsonObject& message);

QJsonObject fromRequest(const Request& request);
// False with the reason in *error when the object is no sound request.
bool toRequest(const QJsonObject& json, Request* request, QString* error);

QJsonObject fromResult(const Result& result);
Result toResult(const QJsonObject& json);

QJsonObject fromReport(const TaskReport& report);
TaskReport toReport(const QJsonObject& json);

// A job of a service's queue or history as one row of text: id, submitted (local time), file,
// copies done/ordered, status, length cut in mm, time taken, who sent it, and what became of its
// work record with the cloud service.
QStringList jobRow(const QJsonObject& job);

// The values of the named parameters and their members, as the machine's numbers.
QJsonObject valuesOf(ZRDeviceInterface* device, const QStringList& names);
// Stores such values in the device's parameters of those names, each as the type it holds.
void applyValues(ZRDeviceInterface* device, const QJsonObject& values);

} // namespace Carriage
