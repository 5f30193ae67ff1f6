#include "zrdeviceproperty.h"

#include "hanging.h"

ZRDeviceProperty::ZRDeviceProperty(QObject* parent)
    : QObject(parent)
{ }

ZRDeviceProperty::ZRDeviceProperty(const ZRDeviceProperty& other)
    : QObject(nullptr)
    , m_value(other.m_value)
    , m_previous(other.m_previous)
    , m_getCmd(other.m_getCmd)
    , m_setCmd(other.m_setCmd)
    , m_length(other.m_length)
    , m_label(other.m_label)
    , m_unit(other.m_unit)
    , m_type(other.m_type)
{ }

ZRDeviceProperty::~ZRDeviceProperty() = default;

bool ZRDeviceProperty::init(QVariant value, QString label, QString unit, int getCmd, int setCmd,
    int length, ZRDeviceInterface::ZRDeviceCMDType cmdType, QStringList param)
{
    m_value = value;
    m_previous = value;
    m_getCmd = getCmd;
    m_setCmd = setCmd;
    m_length = length;
    m_type = cmdType;
    m_label = label;
    m_unit = unit;
    m_param = param;
    catalogueChanged();
    return true;
}

const QVariant& ZRDeviceProperty::value() const
{
    return m_value;
}

void ZRDeviceProperty::setValue(const QVariant& v)
{
    if (v == m_previous) {
        m_value = v;
        return;
    }
    if (v == m_value)
        return;
    m_previous.swap(m_value);
    m_value = v;
    emit valueChanged();
}

QString ZRDeviceProperty::label()
{
    return m_label;
}

QString ZRDeviceProperty::uint()
{
    return m_unit;
}

QStringList ZRDeviceProperty::param()
{
    return m_param;
}

int ZRDeviceProperty::cmd_len()
{
    return m_length;
}

ZRDeviceInterface::ZRDeviceCMDType ZRDeviceProperty::cmd_type()
{
    return m_type;
}

int ZRDeviceProperty::get_cmd_int()
{
    return m_getCmd;
}

int ZRDeviceProperty::set_cmd_int()
{
    return m_setCmd;
}

void ZRDeviceProperty::ret_Status(int ret)
{
    emit retStatus(ret);
}

ZRDeviceProperty* ZRDeviceProperty::property_ptr(const char* name) const
{
    return parameterOf(this, name);
}
