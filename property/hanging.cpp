#include "hanging.h"

#include "zrdeviceinterface.h"
#include "zrdeviceproperty.h"

#include <QCoreApplication>
#include <QEvent>
#include <QSet>
#include <QVariant>

#include <atomic>

namespace {

std::atomic<quint64> stamp { 1 };
// Whether the running application will say when it goes (a post routine is registered).
std::atomic<bool> applicationWatched { false };

// QObject announces that a dynamic property changed by sending the object an event, which an
// event filter may swallow and a subclass's event() may keep from its base. The application
// hands every event to these callbacks first, before any filter or handler sees it.
bool noteEvent(void** data)
{
    if (static_cast<const QEvent*>(data[1])->type() == QEvent::DynamicPropertyChange
        && static_cast<QObject*>(data[0])->metaObject()->inherits(
            &ZRDeviceInterface::staticMetaObject))
        catalogueChanged();
    return false;
}

// Between two applications no event is delivered at all, so nothing seen before holds after.
void applicationGone()
{
    applicationWatched = false;
    catalogueChanged();
}

// Hooked while the library is loaded: from before any thread can send an event until it goes,
// so that no event reaches a callback that is gone.
struct EventHook {
    EventHook() { hooked = QInternal::registerCallback(QInternal::EventNotifyCallback, noteEvent); }
    ~EventHook() { QInternal::unregisterCallback(QInternal::EventNotifyCallback, noteEvent); }
    bool hooked = false;
} eventHook;

} // namespace

quint64 catalogueStamp()
{
    if (!eventHook.hooked || !QCoreApplication::instance())
        return 0;
    if (!applicationWatched.load() && !applicationWatched.exchange(true)) {
        qAddPostRoutine(applicationGone);
        catalogueChanged();
    }
    return stamp.load();
}

void catalogueChanged()
{
    stamp.fetch_add(1);
}

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
