#include "zrcommoninterface.h"

#include "cataloguerow.h"

#include <QJsonObject>

void ZRCommonInterface::info_157(ZRDeviceInterface* device)
{
    using T = ZRDeviceInterface;
    static const QJsonObject lineEdit { { "widget", "QLineEdit" } };
    static const QJsonObject label { { "widget", "QLabel" } };
    // The machine answers read 2 with these fields in this order; the group hands field i to the
    // member named by entry i.
    const QStringList infoFields { "DEVICE_MODEL", "DEVICE_ID", "PCB_ID", "PCB_VERSION", "FIRMWARE",
        "DEVICE_CONFIG_NO" };

    // clang-format off
    hangRows(device, {
        // name                label              unit value                             get set len kind
        { "FIRMWARE",         tr("固件版本"),    {}, QString(),                        0,  0,  1,  T::CCMD,  lineEdit },
        { "DEVICE_ID",        tr("机器编号"),    {}, QString(),                        0,  44, 1,  T::CCMD,  lineEdit },
        { "PCB_ID",           tr("PCB编号"),     {}, QString(),                        0,  46, 1,  T::CCMD,  lineEdit },
        { "PCB_VERSION",      tr("PCB版本"),     {}, QString(),                        0,  48, 1,  T::CCMD,  lineEdit },
        { "DEVICE_CONFIG_NO", tr("配置号"),      {}, QString(),                        0,  0,  0,  T::UnCMD, label },
        { "DEVICE_UNIQUE_ID", tr("Unique ID"),   {}, QString(),                        57, 0,  1,  T::CCMD,  label },
        { "DEVICE_MODEL",     tr("型号"),        {}, QStringLiteral("ZR-MB2620V"),     0,  0,  0,  T::UnCMD, label },
    });
    hangGroup(device,
        { "DEVICE_INFO",      tr("机器信息"),    {}, infoFields,                       2,  0,  1,  T::CCMD },
        infoFields, GroupEditor::AfterMembers);
    // clang-format on
}

// On the 437 board each field is read by its own command, the write number plus one.
void ZRCommonInterface::info_437(ZRDeviceInterface* device)
{
    using T = ZRDeviceInterface;
    static const QJsonObject lineEdit { { "widget", "QLineEdit" } };

    // clang-format off
    hangRows(device, {
        // name           label           unit value      get set len kind
        { "FIRMWARE",    tr("固件版本"), {}, QString(), 51, 0,  1,  T::CCMD, lineEdit },
        { "DEVICE_ID",   tr("机器编号"), {}, QString(), 45, 44, 1,  T::CCMD, lineEdit },
        { "PCB_ID",      tr("PCB编号"),  {}, QString(), 47, 46, 1,  T::CCMD, lineEdit },
        { "PCB_VERSION", tr("PCB版本"),  {}, QString(), 49, 48, 1,  T::CCMD, lineEdit },
    });
    // clang-format on
}
