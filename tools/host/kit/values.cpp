#include "values.h"

#include "zrdevicehost.h"
#include "zrdeviceproperty.h"

#include <functional>

namespace {

// The zrhost command that sends a command parameter ("jog", "origin").
QString commandOf(const QByteArray& name)
{
    if (name == "MOVE_X" || name == "MOVE_Y")
        return QStringLiteral("jog");
    if (name == "TASK_PAUSE" || name == "TASK_RESUME" || name == "TASK_STOP")
        return QStringLiteral("pause, resume or stop");
    return QStringLiteral("origin");
}

} // namespace

namespace Values {

QList<QByteArray> names(ZRDeviceInterface* device)
{
    QList<QByteArray> result;
    for (const QByteArray& name : device->dynamicPropertyNames()) {
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
    for (const QByteArray& entry : parameter->dynamicPropertyNames()) {
        ZRDeviceProperty* member = device->property_ptr(entry.constData());
        if (member && member != parameter && parameter->property_ptr(entry.constData()) == member)
            result.append(entry);
    }
    return result;
}

QByteArray groupOf(ZRDeviceInterface* device, const QByteArray& name, bool reading)
{
    for (const QByteArray& group : names(device)) {
        if ((!reading || !device->property_ptr(group.constData())->get_cmd_bytes().isEmpty())
            && members(device, group).contains(name))
            return group;
    }
    return {};
}

QList<Entry> tree(
    ZRDeviceInterface* device, const QList<QByteArray>& names, QList<QByteArray>* shown)
{
    QList<QByteArray> seen;
    QList<QByteArray>& done = shown ? *shown : seen;
    QList<Entry> entries;
    std::function<void(const QByteArray&, int)> add = [&](const QByteArray& name, int depth) {
        if (done.contains(name) || !device->property_ptr(name.constData()))
            return;
        done.append(name);
        entries.append({ name, depth });
        for (const QByteArray& member : members(device, name))
            add(member, depth + 1);
    };
    for (const QByteArray& name : names)
        add(name, 0);
    return entries;
}

QList<QByteArray> latin1(const QStringList& names)
{
    QList<QByteArray> result;
    for (const QString& name : names)
        result.append(name.toLatin1());
    return result;
}

Result::Outcome checkWrite(ZRDeviceInterface* device, const QByteArray& name, const QString& text,
    bool raw, QVariant* value, QString* error)
{
    ZRDeviceProperty* parameter = device->property_ptr(name.constData());
    const ZRDevice::Editor editor = ZRDevice::Editor::of(parameter, name);
    const QString shownName = QString::fromLatin1(name);
    const QList<QByteArray> parts = members(device, name);
    if (editor.isCommand) {
        *error = QStringLiteral("%1 is a command to the machine, not a setting: use zrhost %2")
                     .arg(shownName, commandOf(name));
        return Result::Refused;
    }
    if (!parts.isEmpty() && !editor.writable) {
        *error = QStringLiteral("%1 is a group: set its members (%2)")
                     .arg(shownName, QString::fromLatin1(parts.join(", ")));
        return Result::Refused;
    }
    if (!editor.writable) {
        *error
            = QStringLiteral("%1 is read-only: the machine takes no value for it").arg(shownName);
        return Result::ReadOnly;
    }
    QString why;
    *value = editor.value(text, parameter->value(), raw, &why);
    if (value->isValid())
        return Result::Done;
    *error = QStringLiteral("%1: %2").arg(shownName, why);
    return Result::OutOfRange;
}

QString shown(ZRDeviceInterface* device, const QByteArray& name, bool raw)
{
    const ZRDeviceProperty* parameter = device->property_ptr(name.constData());
    return ZRDevice::Editor::of(parameter, name).text(parameter->value(), raw);
}

} // namespace Values
