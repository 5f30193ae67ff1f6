#include "zrcommoninterface.h"

#include "cataloguerow.h"
#include "zrdeviceproperty.h"

void ZRCommonInterface::move_157(ZRDeviceInterface* device)
{
    using T = ZRDeviceInterface;
    // clang-format off
    hangRows(device, {
        // name      label          unit value get set len kind
        { "MOVE_X", tr("X 移动"),  {}, 0,    82, 82, 1,  T::CMD },
        { "MOVE_Y", tr("Y 移动"),  {}, 0,    83, 83, 1,  T::CMD },
    });
    // clang-format on
}

namespace {

// One jog register word: bit 15 is the direction (set for positive), the low bits the speed
// step, 0 to stop. Only the sign of a request counts.
int jogWord(int direction)
{
    if (direction < 0)
        return 0x0064;
    if (direction > 0)
        return 0x8064;
    return 0;
}

} // namespace

// Both axes are written on every call, Y first, so that (0, 0) stops both.
void ZRCommonInterface::move(int first, int second)
{
    if (ZRDeviceProperty* y = property_ptr("MOVE_Y")) {
        y->setValue(QVariant(jogWord(first)));
        sendCMD(y->set_cmd_bytes());
    }
    if (ZRDeviceProperty* x = property_ptr("MOVE_X")) {
        x->setValue(QVariant(jogWord(second)));
        sendCMD(x->set_cmd_bytes());
    }
}
