#include "zrcommoninterface.h"

#include "cataloguerow.h"

#include <QJsonObject>

namespace {

// The pressure registers count in units of 6/19 gf, so that 600 shows as 1900 gf.
constexpr double pressureFactor = 19.0 / 6;

// The editors of both stations that hold no translated text: built once per process and shared
// by every device.
struct StationEditors {
    QJsonObject pressure { { "widget", "QSpinBox" }, { "max", 1900 }, { "min", 0 },
        { "factor", pressureFactor } };
    QJsonObject angle { { "widget", "QSpinBox" }, { "max", 360 }, { "min", -360 } };
};

const StationEditors& stationEditors()
{
    static const StationEditors editors;
    return editors;
}

} // namespace

void ZRCommonInterface::tool_space_157(ZRDeviceInterface* device)
{
    using T = ZRDeviceInterface;
    // An offset is a signed 32-bit count of 0.005 mm steps over three registers.
    static const QJsonObject offsetEditor { { "widget", "QDoubleSpinBox" }, { "factor", 0.005 },
        { "max", 1000.0 }, { "min", -1000.0 } };

    // clang-format off
    hangRows(device, {
        // name            label   unit value get set len kind
        { "TOOL_SPACE_X", tr("x"), {}, 0u,   5,  5,  3,  T::CMD, offsetEditor },
        { "TOOL_SPACE_Y", tr("y"), {}, 0u,   8,  8,  3,  T::CMD, offsetEditor },
    });
    hangGroup(device,
        { "TOOL_SPACE",   tr("工具偏移"), "(mm x mm)", QVariant(), 0, 0, 0, T::UnCMD, groupBoxEditor() },
        { "TOOL_SPACE_X", "TOOL_SPACE_Y" }, GroupEditor::AfterMembers);
    // clang-format on
}

// The combo-box index is the tool register: 0 is the drag knife, 1 the rotary knife.
void ZRCommonInterface::sp1_157(ZRDeviceInterface* device)
{
    using T = ZRDeviceInterface;
    const QString tools = QStringList { tr("  拖刀"), tr("  转刀") }.join(';');

    // clang-format off
    hangRows(device, {
        // name            label           unit      value get  set  len kind    editor
        { "SP1_TOOL",     tr("工具类型"), {},       0u,   128, 128, 1,  T::CMD, { { "widget", "QComboBox" }, { "option", tools } } },
        { "SP1_SPEED",    tr("速度"),     "(mm/s)", 0u,   1,   1,   1,  T::CMD, speedEditor() },
        { "SP1_PRESSURE", tr("压力"),     "(gf)",   0u,   2,   2,   1,  T::CMD, stationEditors().pressure },
        { "SP1_ANGLE",    tr("转刀校准"), "(°)",    0u,   131, 131, 1,  T::CMD, stationEditors().angle },
    });
    hangGroup(device,
        { "SP1",          tr("SP1"),      {},       QVariant(), 0, 0,  0,  T::UnCMD, tabsEditor() },
        { "SP1_TOOL", "SP1_SPEED", "SP1_PRESSURE", "SP1_ANGLE" }, GroupEditor::AfterMembers);
    // clang-format on
}

// Station 2 creates its tool row third but lists it first in its tab, like station 1.
void ZRCommonInterface::sp2_157(ZRDeviceInterface* device)
{
    using T = ZRDeviceInterface;
    const QString tools = QStringList { tr("拖刀"), tr("转刀") }.join(';');

    // clang-format off
    hangRows(device, {
        // name            label           unit      value get  set  len kind    editor
        { "SP2_SPEED",    tr("速度"),     "(mm/s)", 0u,   3,   3,   1,  T::CMD, speedEditor() },
        { "SP2_PRESSURE", tr("压力"),     "(gf)",   0u,   4,   4,   1,  T::CMD, stationEditors().pressure },
        { "SP2_TOOL",     tr("工具类型"), {},       0u,   129, 129, 1,  T::CMD, { { "widget", "QComboBox" }, { "option", tools } } },
        { "SP2_ANGLE",    tr("转刀校准"), "(°)",    0u,   132, 132, 1,  T::CMD, stationEditors().angle },
    });
    hangGroup(device,
        { "SP2",          tr("SP2"),      {},       QVariant(), 0, 0,  0,  T::UnCMD, tabsEditor() },
        { "SP2_TOOL", "SP2_SPEED", "SP2_PRESSURE", "SP2_ANGLE" }, GroupEditor::AfterMembers);
    // clang-format on
}
