#include "zrcommoninterface.h"

#include "zrdeviceproperty.h"

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
