#pragma once

#include "zrdevicehost.h"

// The fields of a progress report, read once for the device's "TASK" record and for the host:
// false when the text holds fewer than nine fields. *recordPercent is the percentage as the record
// keeps it, truncated. The leading number is not looked at (the dispatch has read it).
bool readTaskFields(const QString& text, ZRDevice::TaskReport* report, int* recordPercent);
