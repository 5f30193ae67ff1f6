#pragma once

#include "request.h"
#include "units.h"
#include "zrdeviceinterface.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

class ZRDeviceProperty;

// A device's parameters as a host lists, shows and takes them. How a value reads as text and how
// text becomes a value is the SDK's (ZRDevice::Editor), so every surface agrees.
namespace Values {

// Every parameter of the device, in the order the device created them.
QList<QByteArray> names(ZRDeviceInterface* device);
// A group's members in member order; empty for a plain parameter.
QList<QByteArray> members(ZRDeviceInterface* device, const QByteArray& group);
// The group name is a member of (one with a read command of its own, when reading: "DEVICE_INFO"
// for "FIRMWARE"); empty when there is none.
QByteArray groupOf(ZRDeviceInterface* device, const QByteArray& name, bool reading = false);
// names with their members beneath them, each once (and none of shown), with its depth.
struct Entry {
    QByteArray name;
    int depth;
};
QList<Entry> tree(
    ZRDeviceInterface* device, const QList<QByteArray>& names, QList<QByteArray>* shown = nullptr);
QList<QByteArray> latin1(const QStringList& names);

// Whether text can be written through "set" to name, one of the device's parameters (Done), and
// the value it makes; else Refused (not a setting), ReadOnly or OutOfRange, the reason in *error.
Result::Outcome checkWrite(ZRDeviceInterface* device, const QByteArray& name, const QString& text,
    bool raw, QVariant* value, QString* error);

// The named parameter's value as a person reads it, in its editor's units (the machine's number
// when raw), by the SDK's one rule (ZRDevice::Editor); a length or speed in mm in unit.
QString shown(ZRDeviceInterface* device, const QByteArray& name, bool raw = false,
    Units::Unit unit = Units::Mm);
// The unit shown after that value: the parameter's own, or unit's for a length or speed; empty
// when raw.
QString unitOf(ZRDeviceInterface* device, const QByteArray& name, bool raw, Units::Unit unit);

// What a person typed for name as its editor takes it (checkWrite() then checks it): a length or
// speed in unit or in the unit it names ("250mm/s", "10 in") as a number in mm, a choice by its
// words ("drag" for "Drag knife") as its number. False with the reason in *error, naming the
// choices and the nearest one for a word that is none of them.
bool typed(ZRDeviceInterface* device, const QByteArray& name, const QString& text, Units::Unit unit,
    QString* typed, QString* error);

// The candidate nearest to word by edit distance when it is near enough to be a typing slip
// (case ignored); empty when none is.
QString nearest(const QString& word, const QStringList& candidates);
// "no such parameter: NAME (see zrhost list)", with the nearest name as a suggestion.
QString unknownText(ZRDeviceInterface* device, const QString& name);

} // namespace Values
