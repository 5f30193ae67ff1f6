#include "hanging.h"

#include "zrdeviceinterface.h"
#include "zrdeviceproperty.h"

#include <QSet>
#include <QVariant>

ZRDeviceProperty* parameterOf(const QObject* owner, const char* name)
{
    const QVariant slot = owner->property(name);
    if (slot.isNull())
        return nullptr;
    if (slot.userType() == QMetaType::VoidStar)
        return static_cast<ZRDeviceProperty*>(slot.value<void*>());
    QVariant converted = slot;
    if (!converted.convert(QMetaType::VoidStar))
        return nullptr;
    return static_cast<ZRDeviceProperty*>(converted.value<void*>());
}

void hangParameter(QObject* owner, const char* name, ZRDeviceProperty* parameter)
{
    owner->setProperty(name, QVariant::fromValue<void*>(parameter));
}

void adoptParameter(ZRDeviceInterface* device, const char* name, ZRDeviceProperty* parameter)
{
    ZRDeviceProperty* replaced = parameterOf(device, name);
    hangParameter(device, name, parameter);
    if (!replaced || replaced == parameter)
        return;
    // Groups of the device that held the replaced parameter take the new one in the same place
    // rather than keep pointing at a deleted object.
    const QList<QByteArray> names = device->dynamicPropertyNames();
    for (const QByteArray& groupName : names) {
        ZRDeviceProperty* group = parameterOf(device, groupName.constData());
        if (!group)
            continue;
        const QList<QByteArray> members = group->dynamicPropertyNames();
        for (const QByteArray& member : members) {
            if (parameterOf(group, member.constData()) == replaced)
                hangParameter(group, member.constData(), parameter);
        }
    }
    // A host may still hold the replaced parameter (property_ptr before a builder ran again): it
    // stays alive, owned by the device as a Qt child, until the device goes.
    if (!replaced->parent())
        replaced->setParent(device);
}

void releaseParameters(QObject* owner)
{
    QSet<ZRDeviceProperty*> released;
    const QList<QByteArray> names = owner->dynamicPropertyNames();
    for (const QByteArray& name : names) {
        ZRDeviceProperty* parameter = parameterOf(owner, name.constData());
        if (parameter && !released.contains(parameter)) {
            released.insert(parameter);
            delete parameter;
        }
        owner->setProperty(name.constData(), QVariant());
    }
}
