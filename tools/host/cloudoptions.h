#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QUrl>

class QCommandLineParser;

// Where the host's cloud service is and who the machine is to it: a service given by address
// (--cloud, --cloud-ws), or the project's local service started inside the host
// (--cloud-embedded). Nothing is attached when neither is given.
struct CloudOptions {
    static constexpr int defaultRequestTimeoutMs = 5000;

    QUrl httpBase; // --cloud: resources live under it
    QString wsBase; // --cloud-ws, ending in '/': devices append their code and "/Device/"
    QString token; // --cloud-token: sent as a bearer token; the embedded service requires it
    QString deviceCode; // --device-code; empty: the machine number read from the machine
    bool embedded = false; // --cloud-embedded
    int requestTimeoutMs = defaultRequestTimeoutMs; // --cloud-timeout

    bool isSet() const { return embedded || !httpBase.isEmpty(); }

    static QList<QCommandLineOption> options();
    // False, with the reason in *error, when a value does not fit or an option lacks the
    // service it is for.
    static bool read(const QCommandLineParser& parser, CloudOptions* options, QString* error);

    // A device code goes into the service's addresses as it is: letters, digits, '-', '_' and
    // '.', at most 64 of them.
    static bool isValidDeviceCode(const QString& code);
};
