// Arbitrary answers of the cloud service into the three registration handlers (model query,
// lookup, creation): any status, whole or cut short, any body. Then the device closes a finished
// job. Nothing may crash, the record may only ever hold ids above 0, and a work record goes out
// only under a device id the service gave.

#include "fuzzsupport.h"
#include "zrcommoninterface.h"
#include "zrdeviceproperty.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const int statuses[] = { 0, 200, 200, 201, 404, 404, 409, 500 };
    ZRCommonInterface device;
    device.init157(&device);
    ScriptedCloud cloud;
    device.setCorvaneCloud(&cloud, QStringLiteral("ZRab12x"));

    // Each answer: a byte with the status (low three bits) and whether the reply came whole
    // (high bit clear), a byte with the body's length in fours, then the body.
    size_t at = 0;
    for (int answers = 0; at + 2 <= size && answers < 16; ++answers) {
        const int status = statuses[data[at] & 7];
        const bool whole = !(data[at] & 0x80);
        const size_t length = qMin<size_t>(size - at - 2, size_t(data[at + 1]) * 4);
        const QByteArray body(reinterpret_cast<const char*>(data + at + 2), int(length));
        at += 2 + length;
        if (!cloud.answerNext(status, body, whole))
            break;
    }

    const QJsonObject record = device.property_ptr("DEVICE_CLOUD")->value().toJsonObject();
    for (const char* key : { "id", "device_model" }) {
        if (record.contains(QLatin1String(key)) && record.value(QLatin1String(key)).toInt() <= 0)
            std::abort();
    }
    cloud.requests.clear();
    device.property_ptr("TASK_FILE_INFO")->setValue(QJsonObject { { "path_length", 10 } });
    device.startTask();
    device.decode_task(QStringLiteral("66,3,a.plt,1,1,100,0,0,0"));
    device.stopTask();
    const bool posted = !cloud.requests.empty()
        && cloud.requests.back().path == QLatin1String("device_work_records");
    if (posted != record.contains(QLatin1String("id")))
        std::abort();
    return 0;
}
