#include "parametertree.h"

#include "zrdeviceproperty.h"

namespace ParameterTree {

QList<QByteArray> names(ZRDeviceInterface* device)
{
    QList<QByteArray> result;
    const QList<QByteArray> all = device->dynamicPropertyNames();
    for (const QByteArray& name : all) {
        if (device->property_ptr(name.constData()))
            result.append(name);
    }
    return result;
}

QList<QByteArray> members(ZRDeviceInterface* device, const QByteArray& group)
{
    QList<QByteArray> result;
    ZRDeviceProperty* parameter = device->property_ptr(group.constData());
    if (!parameter)
        return result;
    const QList<QByteArray> entries = parameter->dynamicPropertyNames();
    for (const QByteArray& entry : entries) {
        ZRDeviceProperty* member = device->property_ptr(entry.constData());
        if (member && member != parameter && parameter->property_ptr(entry.constData()) == member)
            result.append(entry);
    }
    return result;
}

bool isMember(ZRDeviceInterface* device, const QByteArray& name)
{
    const QList<QByteArray> all = names(device);
    for (const QByteArray& group : all) {
        if (members(device, group).contains(name))
            return true;
    }
    return false;
}

QByteArray readingGroup(ZRDeviceInterface* device, const QByteArray& name)
{
    const QList<QByteArray> all = names(device);
    for (const QByteArray& group : all) {
        ZRDeviceProperty* parameter = device->property_ptr(group.constData());
        if (!parameter->get_cmd_bytes().isEmpty() && members(device, group).contains(name))
            return group;
    }
    return {};
}

} // namespace ParameterTree
