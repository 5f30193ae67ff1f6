#pragma once

#include "cloudservice.h"
#include "corvanecloud.h"
#include "hanging.h"
#include "testdevice.h"
#include "zrdeviceproperty.h"

#include <QJsonObject>

#include <memory>

// A device carrying the settings group, with its cloud members open to the tests.
class CloudDevice : public TestDevice {
public:
    explicit CloudDevice(bool withSettings = true)
        : TestDevice(nullptr)
    {
        if (withSettings)
            init157(this);
    }
    using ZRCommonInterface::last_remote_text;

    // Hangs a string parameter such as "PCB_ID", as the information group would.
    void hangText(const char* name, const QString& value)
    {
        auto* parameter = new ZRDeviceProperty;
        parameter->init(value, QString::fromLatin1(name), QString(), 0, 0, 1, CCMD, {});
        adoptParameter(this, name, parameter);
    }

    QJsonObject mirror() { return property_ptr("DEVICE_CLOUD")->value().toJsonObject(); }
};

// Keeps the device's diagnostic lines (its registration's, say) out of a test's output; every other
// message goes on to the handler installed before.
inline void dropDebugLines()
{
    static QtMessageHandler before = nullptr;
    before = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext& context, const QString& text) {
            if (type != QtDebugMsg)
                before(type, context, text);
        });
}

// Starts the local cloud service on free ports and a client of it; false when the service cannot
// listen (its errorString() tells why).
inline bool startLocalCloud(
    std::unique_ptr<CloudService>& service, std::unique_ptr<CorvaneCloud>& client)
{
    service = std::make_unique<CloudService>();
    if (!service->listen())
        return false;
    client = std::make_unique<CorvaneCloud>(service->httpBase(), service->wsBase());
    return true;
}
