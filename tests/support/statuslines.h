#pragma once

#include "zrdeviceinterface.h"

#include <QSignalSpy>
#include <QStringList>

// The status lines (DevStatus messages) a spy on a device's message signal has caught, in order.
inline QStringList statusLines(const QSignalSpy& messages)
{
    QStringList lines;
    for (const QList<QVariant>& args : messages) {
        if (qvariant_cast<ZRDeviceInterface::ZRDeviceMessage>(args.at(0))
            == ZRDeviceInterface::DevStatus)
            lines << args.at(1).toString();
    }
    return lines;
}
