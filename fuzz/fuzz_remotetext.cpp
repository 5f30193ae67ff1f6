// Arbitrary texts on the remote channel, one a line, as the service's prompts; a line that starts
// with "66," is a task report from the machine instead. The device answers within its pace with
// runtime reports built from whatever the reports left in its task record; nothing may crash.

#include "fuzzsupport.h"
#include "zrcommoninterface.h"
#include "zrdeviceproperty.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ZRCommonInterface device;
    device.init157(&device);
    device.property_ptr("FILE_PREVIEW")->setValue(QByteArray("\x89PNG"));
    device.connect_websocket(); // no client: the socket is made but not opened
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    for (const QByteArray& line : bytes.split('\n')) {
        const QString text = QString::fromUtf8(line);
        if (line.startsWith("66,"))
            device.decode_task(text);
        else
            device.slot_websocket_text_received(text);
    }
    QCoreApplication::processEvents();
    return 0;
}
