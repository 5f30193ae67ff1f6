#pragma once

#include "zrdeviceinterface.h"

#include <QByteArray>
#include <QList>

class ZRDeviceProperty;

// How a device's parameters hang together. A group parameter carries its members as dynamic
// properties named like them; a name counts as a member only when the device hangs the same
// object under that name, which leaves out the group's editor entries ("WIDGET", "UI_CTRL").
namespace ParameterTree {

// Every parameter of the device, in the order the device created them.
QList<QByteArray> names(ZRDeviceInterface* device);
// The group's members in member order; empty for a plain parameter.
QList<QByteArray> members(ZRDeviceInterface* device, const QByteArray& group);
// True when some group of the device lists name among its members.
bool isMember(ZRDeviceInterface* device, const QByteArray& name);
// The first group that lists name and reads all its members with one command of its own (such
// as "DEVICE_INFO"); empty when there is none.
QByteArray readingGroup(ZRDeviceInterface* device, const QByteArray& name);

} // namespace ParameterTree
