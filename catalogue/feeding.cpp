#include "zrcommoninterface.h"

#include "cataloguerow.h"

#include <QJsonObject>

// The feeder's registers 133 to 138. No model builds this group by itself; a host adds it with
// feed_157 on a device whose machine has a feeder.
void ZRCommonInterface::feed_157(ZRDeviceInterface* device)
{
    using T = ZRDeviceInterface;
    // The combo-box index is the register value.
    const QString onOff = QStringList { tr("   关"), tr("   开") }.join(';');
    const QString feedModes = QStringList { tr("   同步送料"), tr("   异步送料") }.join(';');

    // clang-format off
    hangRows(device, {
        // name           label               unit    value get  set  len kind    editor
        { "AUTO_FEED",   tr("自动送料"),     {},     0u,   134, 134, 1,  T::CMD, { { "widget", "QComboBox" }, { "option", onOff } } },
        { "FEED_MODEL",  tr("送料模式"),     {},     0u,   133, 133, 1,  T::CMD, { { "widget", "QComboBox" }, { "option", feedModes } } },
        { "FEED_LENGTH", tr("送料距离"),     "mm",   0u,   135, 135, 1,  T::CMD, { { "widget", "QSpinBox" } } },
        { "FEED_CENTER", tr("横梁中心距离"), "mm",   0u,   136, 136, 1,  T::CMD, { { "widget", "QSpinBox" } } },
        { "FAN_DELAY",   tr("气泵延时"),     "ms",   0u,   137, 137, 1,  T::CMD, { { "widget", "QSpinBox" }, { "max", 10000.0 }, { "min", 0 } } },
        { "FEED_SPEED",  tr("送料速度"),     "mm/s", 0u,   138, 138, 1,  T::CMD, { { "widget", "QSpinBox" } } },
    });
    hangGroup(device,
        { "FEED",        tr("送料"),         {},     QVariant(), 0, 0, 0, T::UnCMD, tabsEditor() },
        { "AUTO_FEED", "FEED_MODEL", "FEED_LENGTH", "FEED_CENTER", "FEED_SPEED", "FAN_DELAY" },
        GroupEditor::AfterMembers);
    // clang-format on
}
