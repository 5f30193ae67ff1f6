#pragma once

#include <QString>

// What a host can rely on from the device's link and reply handling.
namespace LinkStatus {

// The device's status lines about its link (message(DevStatus, ...)).
inline bool isUp(const QString& line)
{
    return line == QLatin1String("TCP CONNECTED.") || line == QLatin1String("USB CONNECTED.");
}

inline bool isDown(const QString& line)
{
    return line == QLatin1String("TCP DISCONNECTED.") || line == QLatin1String("USB DISCONNECTED.")
        || line == QLatin1String("USB ERROR.");
}

// Command numbers whose answers the device never stores: cut quality (27) and task control
// (125), which several parameters write with fixed values.
inline bool answerIsDropped(int number)
{
    return number == 27 || number == 125;
}

} // namespace LinkStatus
