#pragma once

#include <QString>

// Where the machine is: the simulator the host runs itself, a machine on the network, or one on
// a USB port (its character device).
struct MachineTarget {
    enum Kind { Embedded, Tcp, Usb };

    Kind kind = Embedded;
    QString address; // Tcp: IP address or host name
    quint16 port = 9100; // Tcp
    QString usbPath; // Usb

    static MachineTarget tcp(const QString& address, quint16 port)
    {
        MachineTarget target;
        target.kind = Tcp;
        target.address = address;
        target.port = port;
        return target;
    }
    static MachineTarget usb(const QString& path)
    {
        MachineTarget target;
        target.kind = Usb;
        target.usbPath = path;
        return target;
    }

    // "192.168.1.20:9100", "USB /dev/ttyACM0" or "the embedded simulator".
    QString describe() const
    {
        switch (kind) {
        case Tcp:
            return QStringLiteral("%1:%2").arg(address).arg(port);
        case Usb:
            return QStringLiteral("USB %1").arg(usbPath);
        case Embedded:
            break;
        }
        return QStringLiteral("the embedded simulator");
    }
};
