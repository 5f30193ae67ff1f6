#pragma once

#include <QString>

// The device's status lines about its link (message(DevStatus, ...)).
namespace LinkStatus {

inline bool isUp(const QString& line)
{
    return line == QLatin1String("TCP CONNECTED.") || line == QLatin1String("USB CONNECTED.");
}

inline bool isDown(const QString& line)
{
    return line == QLatin1String("TCP DISCONNECTED.") || line == QLatin1String("USB DISCONNECTED.")
        || line == QLatin1String("USB ERROR.");
}

} // namespace LinkStatus
