#include "zrcommoninterface.h"

#include "cataloguerow.h"

// The jog registers move() writes (protocol/jogging.cpp). Neither has an editor.
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
