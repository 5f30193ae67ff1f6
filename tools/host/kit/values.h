#pragma once

#include "request.h"
#include "zrdeviceinterface.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

class ZRDeviceProperty;

// A device's parameters as a host shows and takes them. Limits, list items and display factors
// come from each parameter's own editor description ("WIDGET"), as the editors use them, so the
// command line and the panel agree: the shown number is the machine's times the factor, a list
// shows its item, and a register that holds a signed number shows it signed.
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

// The value as the editor shows it (display units), or the machine's number when raw.
QString shown(ZRDeviceProperty* parameter, bool raw = false);
// The value for text typed in display units (or machine units when raw), of the type the value
// has now. Invalid, with the reason in *error, when it does not fit the editor's limits or list.
QVariant fromText(ZRDeviceProperty* parameter, const QString& text, bool raw, QString* error);

// Control characters as \xNN, so that what a machine sends cannot upset a terminal.
QString printable(const QString& text);

} // namespace Values
