#pragma once

#include "zrdevicehost.h"

// The fields of a progress report the device keeps in its "TASK" record, read once for the record
// and for the host: false when the text holds fewer than nine fields. The leading number is not
// looked at (the dispatch has read it).
bool readTaskFields(const QString& text, ZRDevice::TaskReport* report);
