#pragma once

#include "zrdeviceinterface.h"

class ZRDeviceProperty;

// "STATUS" read as a device status, the way every reader of it converts it: a number, kept as it
// is even outside the enumeration, or a status name ("Idle"); anything else reads as
// DisConnected.
int statusOf(const ZRDeviceProperty* status);
