#pragma once

#include <QRegularExpression>
#include <QString>
#include <QUrl>

// Where the host's cloud service is and who the machine is to it: a service given by address,
// or the project's local service started inside the host. Nothing is attached when neither is.
struct CloudOptions {
    QUrl httpBase; // resources live under it
    QString wsBase; // ending in '/': devices append their code and "/Device/"
    QString token; // sent as a bearer token; the embedded service requires it
    QString deviceCode; // empty: the machine number read from the machine
    bool embedded = false;
    int requestTimeoutMs = 5000;

    bool isSet() const { return embedded || !httpBase.isEmpty(); }

    // A device code goes into the service's addresses as it is: letters, digits, '-', '_' and
    // '.', at most 64 of them.
    static bool isValidDeviceCode(const QString& code)
    {
        static const QRegularExpression allowed(QStringLiteral("^[A-Za-z0-9._-]{1,64}$"));
        return allowed.match(code).hasMatch();
    }
};
