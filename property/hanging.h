#pragma once

#include <QtGlobal>

class QObject;
class ZRDeviceInterface;
class ZRDeviceProperty;

// Parameters hang on their owner, a device or a group parameter, as dynamic Qt properties named
// after the parameter and holding its address as a QMetaType::VoidStar variant. The order in
// which they are set matters: replies are offered to parameters, and a group's editors are laid
// out, in that order.

// The parameter hung on owner under name; null when the name is not set or holds no pointer.
ZRDeviceProperty* parameterOf(const QObject* owner, const char* name);

// Hangs parameter on owner without handing over ownership (a group's members).
void hangParameter(QObject* owner, const char* name, ZRDeviceProperty* parameter);

// Hangs parameter on the device that owns it. The device's groups that held a parameter it
// replaces under the same name take the new one; the replaced one lives on, unhung, until the
// device is destroyed, so that a pointer a host took earlier stays valid.
void adoptParameter(ZRDeviceInterface* device, const char* name, ZRDeviceProperty* parameter);

// Deletes every parameter hung on owner, each exactly once, and removes all of owner's dynamic
// properties.
void releaseParameters(QObject* owner);

// A stamp for what a device remembers of its catalogue (parameters looked up by name, replies
// indexed by command number). It changes whenever a dynamic property of a device is set, replaced
// or removed, and whenever a parameter is given its command numbers and kind (init), so what was
// remembered under another stamp is out of date. It is 0 where changes cannot be seen: without an
// application, QObject tells nobody that a dynamic property changed, so nothing may be remembered.
quint64 catalogueStamp();

// Called by ZRDeviceProperty::init: a parameter's command numbers or kind changed.
void catalogueChanged();
