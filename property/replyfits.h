#pragma once

#include <QStringList>

class ZRDeviceProperty;

// Whether set_decode(values) applies these reply values to the parameter: one value always; a
// CMD parameter two or more; a CCMD group any; a plain CCMD parameter its parameter list
// repeated, then the value.
bool replyFits(ZRDeviceProperty& parameter, const QStringList& values);
