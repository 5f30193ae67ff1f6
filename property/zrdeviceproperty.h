#pragma once

#include "zrdeviceinterface.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

class QWidget;

// One machine parameter, command button or group of parameters.
//
// The value always holds the number the machine uses; only the editors apply a display factor.
// The command type, the two command numbers, the command length and the parameter list decide
// every frame the parameter builds and every reply it accepts.
//
// Dynamic properties of a parameter: "WIDGET" (a QJsonObject describing its editor), "UI_CTRL"
// (the editor widget once built, as void*) and, for a group, one void* entry per member in member
// order. A parameter never owns its members or its editor.
class ZRDeviceProperty : public QObject {
    Q_OBJECT
    Q_PROPERTY(QVariant value READ value WRITE setValue NOTIFY valueChanged)
public:
    explicit ZRDeviceProperty(QObject* parent = nullptr);
    // Copies the value, the previous value, numbers, texts and type; not the parameter list and
    // not the dynamic properties.
    ZRDeviceProperty(const ZRDeviceProperty& other);
    ~ZRDeviceProperty() override;

    bool init(QVariant value, QString label, QString unit, int getCmd, int setCmd, int length,
        ZRDeviceInterface::ZRDeviceCMDType cmdType, QStringList param);

    const QVariant& value() const;
    // Stores v; emits valueChanged() unless v equals the current value or the value held before
    // the last signalled change (a change back is stored silently).
    void setValue(const QVariant& v);

    QString label();
    QString uint(); // the unit text
    QStringList param();
    int cmd_len();
    ZRDeviceInterface::ZRDeviceCMDType cmd_type();
    int get_cmd_int();
    int set_cmd_int();

    void ret_Status(int ret);

    // The member hung on this parameter under name, or null.
    ZRDeviceProperty* property_ptr(const char* name) const;

    // Complete frames reading the value from and writing it to the machine; empty when the
    // parameter has no command in that direction.
    QByteArray get_cmd_bytes() const;
    QByteArray set_cmd_bytes() const;
    // Apply the value fields of one reply. Neither emits a signal nor touches the previous value.
    void set_decode(QStringList values);
    void set_decode(QString text);

    // Wraps head and payload into one frame: STX, total length, ';', head, ';', payload, ETX.
    QByteArray pack(QString payload, QString head) const;

    // Editors: build the row into parent's layout, show the value, store the edited value.
    void create_ui_ctrl(QWidget* parent, QString name, bool showUnit);
    void to_ui_ctrl();
    void from_ui_ctrl();

signals:
    void valueChanged();
    void retStatus(int ret);
    // A reply of the machine was applied to this parameter: its value stored, or its status told
    // with retStatus(). A group's reply is applied to the group. Emitted after the value is in.
    void answered();

private:
    QVariant m_value;
    QVariant m_previous;
    int m_getCmd = 0;
    int m_setCmd = 0;
    int m_length = 0;
    QString m_label;
    QString m_unit;
    ZRDeviceInterface::ZRDeviceCMDType m_type = ZRDeviceInterface::UnCMD;
    QStringList m_param;
};
