#pragma once

#include <QByteArray>
#include <QList>

// The machine information a host shows: model, numbers, firmware and unique identifier. The
// machine sends most of it in one reply ("DEVICE_INFO"), the unique identifier in another.
namespace MachineInfo {

// What to read: the composite information and the unique identifier.
inline QList<QByteArray> reads()
{
    return { QByteArrayLiteral("DEVICE_INFO"), QByteArrayLiteral("DEVICE_UNIQUE_ID") };
}

// What to show, in this order.
inline QList<QByteArray> shown()
{
    return { QByteArrayLiteral("DEVICE_MODEL_NAME"), QByteArrayLiteral("DEVICE_MODEL"),
        QByteArrayLiteral("DEVICE_ID"), QByteArrayLiteral("PCB_ID"),
        QByteArrayLiteral("PCB_VERSION"), QByteArrayLiteral("FIRMWARE"),
        QByteArrayLiteral("DEVICE_CONFIG_NO"), QByteArrayLiteral("DEVICE_UNIQUE_ID") };
}

} // namespace MachineInfo
