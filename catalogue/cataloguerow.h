#pragma once

#include "zrdeviceinterface.h"

#include <QJsonObject>
#include <QString>
#include <QVariant>

#include <initializer_list>

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
};

// Creates the row's parameter, with its "WIDGET" when the row has an editor. The caller owns it.
ZRDeviceProperty* createParameter(const CatalogueRow& row);

// Creates the rows in table order and hangs each on the device, which owns them.
void hangRows(ZRDeviceInterface* device, std::initializer_list<CatalogueRow> rows);
