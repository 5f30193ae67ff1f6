#pragma once

#include "zrdeviceinterface.h"

class ZRDeviceProperty;

// "STATUS" read as a device status, the way every reader of it converts it: a number or a status
// name ("Idle"); anything else reads as DisConnected.
ZRDeviceInterface::ZRDeviceStatus statusOf(const ZRDeviceProperty* status);
