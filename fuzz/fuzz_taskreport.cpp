// Arbitrary task reports from the machine, one a line, into a registered device's task record;
// then the job is closed and its work record posted. Nothing may crash or overflow, and the work
// record carries the copies the last report gave.

#include "fuzzsupport.h"
#include "zrcommoninterface.h"
#include "zrdeviceproperty.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ZRCommonInterface device;
    device.init157(&device);
    ScriptedCloud cloud;
    device.setCorvaneCloud(&cloud, QStringLiteral("ZRab12x"));
    cloud.answerNext(500, QByteArray(), true);
    cloud.answerNext(200, R"({"id":5})", true);
    device.property_ptr("TASK_FILE_INFO")
        ->setValue(QJsonObject { { "path_length", 10 }, { "heigth", 300 }, { "width", 200 } });
    device.startTask();

    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    for (const QByteArray& line : bytes.split('\n'))
        device.decode_task(QString::fromUtf8(line));
    ZRDeviceProperty* task = device.property_ptr("TASK");
    const QJsonObject record = task ? task->value().toJsonObject() : QJsonObject();
    cloud.requests.clear();
    device.stopTask();
    if (!cloud.requests.empty()) {
        const QJsonObject posted = cloud.requests.back().body;
        if (posted.value(QLatin1String("finish_copies")) != record.value(QLatin1String("Finished"))
            || posted.value(QLatin1String("task_copies"))
                != record.value(QLatin1String("TaskCopies")))
            std::abort();
    }
    return 0;
}
