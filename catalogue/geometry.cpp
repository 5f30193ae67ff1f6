#include "zrcommoninterface.h"

#include "cataloguerow.h"

#include <QJsonObject>

// Each group is one editor row with the X field first. On the 157 board the members hold machine
// steps (the editor shows value × factor) and the groups send nothing themselves; on the 437 board
// the members hold plain millimetres and scale numbers, and a CCMD group sends them together.

void ZRCommonInterface::camera_offset_157(ZRDeviceInterface* device)
{
    using T = ZRDeviceInterface;
    static const QJsonObject offsetEditor { { "widget", "QDoubleSpinBox" }, { "factor", 0.005 },
        { "min", -1000.0 }, { "max", 1000.0 } };

    // An offset is a signed 32-bit count of 0.005 mm steps over three registers.
    // clang-format off
    hangRows(device, {
        // name               label   unit value  get set len kind
        { "CAMERA_OFFSET_X", tr("x"), {}, 0u,    11, 11, 3,  T::CMD, offsetEditor },
        { "CAMERA_OFFSET_Y", tr("y"), {}, 0u,    14, 14, 3,  T::CMD, offsetEditor },
    });
    hangGroup(device,
        { "CAMERA_OFFSET",   tr("摄像头偏移"), "(mm x mm)", QVariant(), 0, 0, 0, T::UnCMD, groupBoxEditor() },
        { "CAMERA_OFFSET_X", "CAMERA_OFFSET_Y" }, GroupEditor::AfterMembers);
    hangRows(device, {
        { "FACTORY_SET",     tr("出厂设置"),   {},          0,          0, 67, 1, T::CCMD },
    });
    // clang-format on
}

void ZRCommonInterface::scale_157(ZRDeviceInterface* device)
{
    using T = ZRDeviceInterface;
    static const QJsonObject scaleEditor { { "widget", "QLineEdit" }, { "factor", 0.0001 } };

    // clang-format off
    hangRows(device, {
        // name       label   unit value get set len kind
        { "SCALE_X", tr("x"), {}, 0u,   24, 24, 1,  T::CMD, scaleEditor },
        { "SCALE_Y", tr("y"), {}, 0u,   25, 25, 1,  T::CMD, scaleEditor },
    });
    hangGroup(device,
        { "SCALE",   tr("缩放"), {}, QVariant(), 0, 0, 0, T::UnCMD, groupBoxEditor() },
        { "SCALE_X", "SCALE_Y" }, GroupEditor::BeforeMembers);
    // clang-format on
}

void ZRCommonInterface::work_area_157(ZRDeviceInterface* device)
{
    using T = ZRDeviceInterface;
    static const QJsonObject sizeEditor { { "widget", "QLineEdit" }, { "factor", 0.5 } };

    // clang-format off
    hangRows(device, {
        // name          label   unit value get set len kind
        { "WORKAREA_X", tr("x"), {}, 0u,   28, 28, 1,  T::CMD, sizeEditor },
        { "WORKAREA_Y", tr("y"), {}, 0u,   29, 29, 1,  T::CMD, sizeEditor },
    });
    hangGroup(device,
        { "WORKAREA",   tr("幅宽"), "(mm x mm)", QVariant(), 0, 0, 0, T::UnCMD, groupBoxEditor() },
        { "WORKAREA_X", "WORKAREA_Y" }, GroupEditor::BeforeMembers);
    // clang-format on
}

void ZRCommonInterface::camera_offset_437(ZRDeviceInterface* device)
{
    using T = ZRDeviceInterface;
    static const QJsonObject offsetEditor { { "widget", "QDoubleSpinBox" }, { "min", -1000.0 },
        { "max", 1000.0 } };
    const QStringList members { "CAMERA_OFFSET_X", "CAMERA_OFFSET_Y" };

    // clang-format off
    hangRows(device, {
        // name               label   unit value get set len kind
        { "CAMERA_OFFSET_X", tr("x"), {}, 0.0,  0,  0,  0,  T::UnCMD, offsetEditor },
        { "CAMERA_OFFSET_Y", tr("y"), {}, 0.0,  0,  0,  0,  T::UnCMD, offsetEditor },
    });
    hangGroup(device,
        { "CAMERA_OFFSET",   tr("摄像头偏移"), "(mm x mm)", members, 16, 15, 1, T::CCMD, groupBoxEditor() },
        members, GroupEditor::AfterMembers);
    // clang-format on
}

void ZRCommonInterface::scale_437(ZRDeviceInterface* device)
{
    using T = ZRDeviceInterface;
    static const QJsonObject scaleEditor { { "widget", "QDoubleSpinBox" }, { "min", 0 },
        { "max", 200 } };

    // clang-format off
    hangRows(device, {
        // name       label   unit value get set len kind
        { "SCALE_X", tr("x"), {}, 1.0,  61, 20, 1,  T::CCMD, scaleEditor },
        { "SCALE_Y", tr("y"), {}, 1.0,  62, 21, 1,  T::CCMD, scaleEditor },
    });
    hangGroup(device,
        { "SCALE",   tr("缩放"), {}, QVariant(), 0, 0, 0, T::UnCMD, groupBoxEditor() },
        { "SCALE_X", "SCALE_Y" }, GroupEditor::BeforeMembers);
    // clang-format on
}

void ZRCommonInterface::work_area_437(ZRDeviceInterface* device)
{
    using T = ZRDeviceInterface;
    static const QJsonObject sizeEditor { { "widget", "QDoubleSpinBox" }, { "min", 10 },
        { "max", 10000 } };
    const QStringList members { "WORKAREA_X", "WORKAREA_Y" };

    // clang-format off
    hangRows(device, {
        // name          label   unit value get set len kind
        { "WORKAREA_X", tr("x"), {}, 0.0,  0,  0,  0,  T::UnCMD, sizeEditor },
        { "WORKAREA_Y", tr("y"), {}, 0.0,  0,  0,  0,  T::UnCMD, sizeEditor },
    });
    hangGroup(device,
        { "WORKAREA",   tr("幅宽"), "(mm x mm)", members, 63, 22, 1, T::CCMD, groupBoxEditor() },
        members, GroupEditor::BeforeMembers);
    // clang-format on
}
