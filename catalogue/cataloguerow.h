#pragma once

#include "zrdeviceinterface.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

class ZRDeviceProperty;

// One parameter of a group builder's table: its name, translated label, unit, initial value
// (the variant type decides how replies are parsed), read and write command numbers, command
// length, command kind, and its editor description ("WIDGET"; none when empty).
struct CatalogueRow {
    const char* name;
    QString label;
    QString unit;
    QVariant value;
    int getCmd;
    int setCmd;
    int length;
    ZRDeviceInterface::ZRDeviceCMDType kind;
    QJsonObject editor = {};

    // The same parameter under another board's command numbers, length and kind.
    CatalogueRow commands(int get, int set, int len, ZRDeviceInterface::ZRDeviceCMDType type) const;
};

// The editors of a group shown as a box or as tabs, shared by every builder.
const QJsonObject& groupBoxEditor();
const QJsonObject& tabsEditor();
// The editor of a cutting or lifting speed, 10 to 700 mm/s.
const QJsonObject& speedEditor();

// The row called name; the table must hold it.
const CatalogueRow& rowNamed(const QVector<CatalogueRow>& rows, const char* name);

// Creates the row's parameter, with its "WIDGET" when the row has an editor. The caller owns it.
ZRDeviceProperty* createParameter(const CatalogueRow& row);

// Creates the rows in table order and hangs each on the device, which owns them. The builders
// pass on the device a host gave them: a null device gets nothing.
void hangRows(ZRDeviceInterface* device, const QVector<CatalogueRow>& rows);

// Where a group's own "WIDGET" stands among its dynamic properties. Editors skip it when they
// walk the members, but hosts see the order, so every group keeps the one it was built with.
enum class GroupEditor { BeforeMembers, AfterMembers };

// Creates the group row's parameter, hangs the named members on it in member order (each found
// on the device, which keeps owning it; a name the device lacks is skipped), places its "WIDGET",
// and hangs the group on the device, which owns it; nothing for a null device.
void hangGroup(ZRDeviceInterface* device, const CatalogueRow& group, const QStringList& members,
    GroupEditor editor);

// Whether the parameter of this name is a command to the machine (a jog register, a task control
// button, the origin buttons) rather than a setting: its value is what the command sends.
bool isCommandParameter(const QByteArray& name);
