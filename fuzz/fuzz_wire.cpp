// Arbitrary bytes from the machine's side, fed into a complete ZR-TX4150V device the way the
// transports deliver them; then every parameter builds its commands from whatever the bytes left
// in it, and the task is closed. Nothing the machine sends may crash or hang the device.

#include "fuzzsupport.h"
#include "zrcommoninterface.h"
#include "zrdeviceproperty.h"

#include <QPluginLoader>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace {

ZRDeviceInterface* factory = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    startQuietApplication(argc, argv);
    static QPluginLoader loader(QStringLiteral(ZRTX4150V_PLUGIN));
    factory = qobject_cast<ZRDeviceInterface*>(loader.instance());
    if (!factory)
        qFatal("cannot load %s: %s", ZRTX4150V_PLUGIN, qPrintable(loader.errorString()));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    std::unique_ptr<ZRDeviceInterface> device(factory->initInstance());
    auto* core = qobject_cast<ZRCommonInterface*>(device.get());

    // The first byte chooses how the rest is split into reads: the cutter must not care.
    const int readSize = 1 + data[0] % 64;
    const auto* bytes = reinterpret_cast<const char*>(data + 1);
    const int total = int(size - 1);
    for (int at = 0; at < total; at += readSize)
        core->slot_usb_read(QByteArray(bytes + at, qMin(readSize, total - at)));

    for (const QByteArray& name : device->dynamicPropertyNames()) {
        if (ZRDeviceProperty* parameter = device->property_ptr(name.constData())) {
            parameter->get_cmd_bytes();
            parameter->set_cmd_bytes();
        }
    }
    device->move(1, -1);
    device->stopTask();
    return 0;
}
