#pragma once

#include "hanging.h"
#include "testdevice.h"
#include "zrdeviceproperty.h"

#include <QJsonObject>

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
